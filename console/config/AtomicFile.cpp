#include "console/config/AtomicFile.h"

#include "corvanelib/Win32/LastError.h"

#include <cerrno>
#include <cstdio>
#include <new>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvane::console::config {

class File {
public:
#ifdef _WIN32
    using Native = HANDLE;
    static Native None() {
        return INVALID_HANDLE_VALUE;
    }
#else
    using Native = int;
    static Native None() {
        return -1;
    }
#endif
    explicit File(Native native = None()) : m_native(native) {}
    ~File() {
        Close();
    }
    File(File&& other) noexcept : m_native(other.m_native) {
        other.m_native = None();
    }
    File& operator=(File&&) = delete;

    bool IsOpen() const {
        return m_native != None();
    }
    Native Get() const {
        return m_native;
    }
    // False when closing reports an error (a write that failed late).
    bool Close() {
        if (m_native == None()) {
            return true;
        }
#ifdef _WIN32
        const bool closed = CloseHandle(m_native) != FALSE;
#else
        const bool closed = close(m_native) == 0;
#endif
        m_native = None();
        return closed;
    }

private:
    Native m_native;
};

int LastError() {
#ifdef _WIN32
    return static_cast<int>(GetLastError());
#else
    return errno;
#endif
}

namespace {

constexpr std::size_t kChunk = 1 << 16;
// The longest path the system's 8-bit file functions take (MAX_PATH less its terminator).
constexpr std::size_t kMaxPathLength = 259;
constexpr int kTemporaryTries = 100;

// The system's codes for memory running out and for a file without a name.
#ifdef _WIN32
constexpr int kNoMemoryError = ERROR_NOT_ENOUGH_MEMORY;
constexpr int kNoNameError = ERROR_INVALID_NAME;
#else
constexpr int kNoMemoryError = ENOMEM;
constexpr int kNoNameError = ENOENT;
#endif

void SetLastErrorCode(int code) {
#ifdef _WIN32
    SetLastError(static_cast<DWORD>(code));
#else
    errno = code;
#endif
}

enum class Open { Read, WriteExisting, CreateNew };

// `security` (SECURITY_ATTRIBUTES, Windows only) applies to a file that is created. A file
// opened for writing may also have its security read, to judge it before writing.
File OpenFile(const char* path, Open mode, void* security = nullptr) {
#ifdef _WIN32
    const DWORD access = mode == Open::Read ? GENERIC_READ : GENERIC_WRITE | READ_CONTROL;
    const DWORD share =
        mode == Open::CreateNew ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return File(CreateFileA(path, access, share, static_cast<SECURITY_ATTRIBUTES*>(security),
                            mode == Open::CreateNew ? CREATE_NEW : OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
#else
    const int flags = mode == Open::Read ? O_RDONLY
                      : mode == Open::CreateNew ? O_WRONLY | O_CREAT | O_EXCL
                                                : O_WRONLY;
    (void)security;
    return File(open(path, flags | O_CLOEXEC, 0666));
#endif
}

// Reads at most `size` bytes; the number read, 0 at the end, -1 on failure.
long ReadSome(File& file, char* data, std::size_t size) {
#ifdef _WIN32
    DWORD got = 0;
    const DWORD want = size < kChunk ? static_cast<DWORD>(size) : static_cast<DWORD>(kChunk);
    return ReadFile(file.Get(), data, want, &got, nullptr) != FALSE ? static_cast<long>(got) : -1;
#else
    for (;;) {
        const ssize_t got = read(file.Get(), data, size < kChunk ? size : kChunk);
        if (got >= 0 || errno != EINTR) {
            return static_cast<long>(got);
        }
    }
#endif
}

// Writes every byte from the file's start on, cuts the file there and asks the system to put
// the data on the disk.
bool WriteWhole(File& file, const std::string& bytes, ChunkWriter writer) {
#ifdef _WIN32
    if (SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        return false;
    }
#else
    if (lseek(file.Get(), 0, SEEK_SET) != 0) {
        return false;
    }
#endif
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t n = bytes.size() - done < kChunk ? bytes.size() - done : kChunk;
        if (!writer(file, bytes.data() + done, n)) {
            return false;
        }
        done += n;
    }
#ifdef _WIN32
    return SetEndOfFile(file.Get()) != FALSE && FlushFileBuffers(file.Get()) != FALSE;
#else
    return ftruncate(file.Get(), static_cast<off_t>(bytes.size())) == 0 && fsync(file.Get()) == 0;
#endif
}

bool FillRandom(unsigned char* bytes, std::size_t size) {
#ifdef _WIN32
    const NTSTATUS status =
        BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (!BCRYPT_SUCCESS(status)) {
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    return true;
#else
    return getentropy(bytes, size) == 0;
#endif
}

// The folder part of `path` followed by "~": the start of every temporary name beside it. The
// result is the number of hex digits that follow: up to 16, fewer when the folder's path
// leaves less room, never fewer than 4 (a folder's path too long for the system then fails the
// creation).
std::size_t TemporaryStem(const char* path, std::string& stem) {
    stem = path;
#ifdef _WIN32
    const std::size_t slash = stem.find_last_of("\\/:");
#else
    const std::size_t slash = stem.find_last_of('/');
#endif
    stem.resize(slash == std::string::npos ? 0 : slash + 1);
    stem += '~';
    const std::size_t room = stem.size() < kMaxPathLength ? kMaxPathLength - stem.size() : 0;
    return room > 16 ? 16 : room < 4 ? 4 : room;
}

// Creates a new, empty file beside `path` under a random name that did not exist before.
File CreateTemporary(const char* path, std::string& name, void* security) {
    const std::size_t digits = TemporaryStem(path, name);
    const std::size_t start = name.size();
    for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
        unsigned char random[8];
        if (!FillRandom(random, sizeof random)) {
            break;
        }
        name.resize(start);
        for (std::size_t i = 0; i < digits; ++i) {
            name += "0123456789abcdef"[(random[i / 2] >> (i % 2 * 4)) & 0xF];
        }
        File file = OpenFile(name.c_str(), Open::CreateNew, security);
#ifdef _WIN32
        const bool taken =
            GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
#else
        const bool taken = errno == EEXIST;
#endif
        if (file.IsOpen() || !taken) {
            return file;
        }
    }
    return File();
}

bool RemoveFile(const std::string& path) {
#ifdef _WIN32
    return DeleteFileA(path.c_str()) != FALSE;
#else
    return unlink(path.c_str()) == 0;
#endif
}

bool MoveOver(const std::string& from, const char* to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           FALSE;
#else
    if (std::rename(from.c_str(), to) != 0) {
        return false;
    }
    // Make the new directory entry itself durable.
    std::string dir(to);
    const std::size_t slash = dir.find_last_of('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash + 1);
    File folder(open(dir.c_str(), O_RDONLY | O_CLOEXEC));
    if (folder.IsOpen()) {
        fsync(folder.Get());
    }
    return true;
#endif
}

bool Exists(const char* path) {
#ifdef _WIN32
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat status;
    return stat(path, &status) == 0;
#endif
}

} // namespace

bool WriteChunk(File& file, const void* data, std::size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
#ifdef _WIN32
        DWORD put = 0;
        if (WriteFile(file.Get(), at, static_cast<DWORD>(size), &put, nullptr) == FALSE) {
            return false;
        }
#else
        const ssize_t put = write(file.Get(), at, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
#endif
        at += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

void SetOutOfMemoryError() {
    SetLastErrorCode(kNoMemoryError);
}

bool ReadWholeFile(const char* path, std::string& out) {
    File file = OpenFile(path, Open::Read);
    if (!file.IsOpen()) {
        return false;
    }
    try {
        // Read straight into the string, with room for the size the file reports (only a
        // hint: a device reports nonsense) and one byte more, so that the read finding the
        // end needs no growth.
        std::string data;
        std::size_t size = 0;
#ifdef _WIN32
        LARGE_INTEGER reported{};
        if (GetFileSizeEx(file.Get(), &reported) && reported.QuadPart < (1 << 30)) {
            data.resize(static_cast<std::size_t>(reported.QuadPart) + 1);
        }
#else
        struct stat status;
        if (fstat(file.Get(), &status) == 0 && status.st_size < (1 << 30)) {
            data.resize(static_cast<std::size_t>(status.st_size) + 1);
        }
#endif
        for (;;) {
            if (size == data.size()) {
                data.resize(size + kChunk);
            }
            const long n = ReadSome(file, &data[size], data.size() - size);
            if (n < 0) {
                return false;
            }
            if (n == 0) {
                break;
            }
            size += static_cast<std::size_t>(n);
        }
        data.resize(size);
        out.swap(data);
    } catch (const std::bad_alloc&) {
        SetOutOfMemoryError();
        return false;
    }
    return true;
}

bool IsTemporaryName(const char* path, const std::string& name) {
    std::string stem;
    const std::size_t digits = TemporaryStem(path, stem);
    if (name.size() != digits + 1 || name[0] != '~') {
        return false;
    }
    return name.find_first_not_of("0123456789abcdef", 1) == std::string::npos;
}

bool ReplaceFileContents(const char* path, const std::string& bytes, ChunkWriter writer,
                         const ReplaceGuard* guard) {
    if (path == nullptr || *path == '\0') {
        SetLastErrorCode(kNoNameError);
        return false;
    }
    if (writer == nullptr) {
        writer = WriteChunk;
    }
    std::string temporary;
    File file = CreateTemporary(path, temporary, guard != nullptr ? guard->security : nullptr);
    if (!file.IsOpen()) {
        return false;
    }
    const bool written = WriteWhole(file, bytes, writer) && file.Close();
    if (written && MoveOver(temporary, path)) {
        return true;
    }
    {
        const corvanelib::LastErrorKeeper kept;
        file.Close();
        RemoveFile(temporary);
        if (!written || !Exists(path)) {
            return false;
        }
    }
    // The old file exists but could not be replaced: overwrite it where it stands, and put
    // its old contents back if the new ones cannot be written whole.
    std::string old;
    if (!ReadWholeFile(path, old)) {
        return false;
    }
    File inPlace = OpenFile(path, Open::WriteExisting);
    if (!inPlace.IsOpen()) {
        return false;
    }
#ifdef _WIN32
    if (guard != nullptr && guard->mayWriteInPlace && !guard->mayWriteInPlace(inPlace.Get())) {
        return false;
    }
#endif
    if (WriteWhole(inPlace, bytes, writer) && inPlace.Close()) {
        return true;
    }
    const corvanelib::LastErrorKeeper kept;
    WriteWhole(inPlace, old, WriteChunk);
    return false;
}

} // namespace corvane::console::config
