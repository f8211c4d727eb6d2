// Whole-file reading and replacing for the INI engine.
//
// Every failure leaves the system's code for it as the calling thread's last error
// (GetLastError on Windows, errno elsewhere), also after the clean-up that follows it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace corvane::console::config {

// An open file: the handle or descriptor, closed when the object goes.
class File;

// Writes one chunk; true when every byte was written.
using ChunkWriter = bool (*)(File& file, const void* data, std::size_t size);

// The plain ChunkWriter.
bool WriteChunk(File& file, const void* data, std::size_t size);

// The last error: GetLastError() on Windows, errno elsewhere.
int LastError();

// Sets the last error to the system's code for memory running out.
void SetOutOfMemoryError();

// Reads the whole file in binary. False when it cannot be opened or a read fails; `out` is
// then left as it was.
bool ReadWholeFile(const char* path, std::string& out);

// Replaces the file at `path` by `bytes`: they are written to a new file beside it, flushed to
// the disk, and moved over the old one in one step, so a crash, a power cut or a full disk at
// any point leaves the old contents or the new, never a mix. The new file is created under a
// random name that must not exist yet, so nothing is ever written through a file that another
// user placed there. When the old file cannot be replaced that way (on Windows, another
// program holds it open without delete sharing), its contents are overwritten in place
// instead, after reading them: should that write fail, they are written back. False when the
// new contents could not be stored; the old file then holds its old contents (unless even
// writing them back failed) and no temporary file remains. `writer` stands in for
// WriteChunk (tests use it to fail part-way); `guard` adds the rules below.
struct ReplaceGuard;
bool ReplaceFileContents(const char* path, const std::string& bytes, ChunkWriter writer = nullptr,
                         const ReplaceGuard* guard = nullptr);

// What a replacement of a file that holds secrets asks beyond the defaults. Windows only; other
// systems ignore it.
struct ReplaceGuard {
    // The SECURITY_ATTRIBUTES the new file is created with, so that it never exists without
    // them and the move brings them along; null: the folder's inherited rights.
    void* security = nullptr;
    // Asked with the handle of the existing file before its contents are overwritten in place;
    // false (with the last error set) leaves the file untouched and fails the replacement.
    std::function<bool(void* handle)> mayWriteInPlace;
};

// Whether `name` (a file name without its folder) has the form ReplaceFileContents gives the
// temporary file it creates beside `path`: "~" and as many lower-case hex digits as it uses
// for that folder.
bool IsTemporaryName(const char* path, const std::string& name);

} // namespace corvane::console::config
