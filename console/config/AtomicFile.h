// Whole-file reading and replacing for the INI engine.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace inifile {

// Writes one chunk; returns the number of bytes written, like fwrite.
using ChunkWriter = std::size_t (*)(const void* data, std::size_t size, std::FILE* file);

// Reads the whole file in binary. False when it cannot be opened or a read fails; `out` is
// then left as it was.
bool ReadWholeFile(const char* path, std::string& out);

// Replaces the file at `path` by `bytes`: they are written to a new file beside it, flushed to
// the disk, and moved over the old one in one step, so a crash, a power cut or a full disk at
// any point leaves the old contents or the new, never a mix. When the old file cannot be
// replaced that way (on Windows, another program holds it open without delete sharing), its
// contents are overwritten in place instead, as a plain write would do. False when nothing
// could be written; the old file is then untouched and no temporary file remains. `writer`
// stands in for fwrite (tests use it to fail part-way).
bool ReplaceFileContents(const char* path, const std::string& bytes, ChunkWriter writer = nullptr);

} // namespace inifile
