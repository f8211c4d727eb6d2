#include "AtomicFile.h"

#include <atomic>
#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace inifile {
namespace {

constexpr std::size_t kChunk = 1 << 16;

std::size_t PlainWrite(const void* data, std::size_t size, std::FILE* file) {
    return std::fwrite(data, 1, size, file);
}

// Writes every byte, flushes the C buffers and asks the system to put the data on the disk.
bool WriteAll(std::FILE* file, const std::string& bytes, ChunkWriter writer) {
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t n = bytes.size() - done < kChunk ? bytes.size() - done : kChunk;
        if (writer(bytes.data() + done, n, file) != n) {
            return false;
        }
        done += n;
    }
    if (std::fflush(file) != 0) {
        return false;
    }
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

std::string TemporaryName(const char* path) {
    static std::atomic<unsigned> counter{0};
#ifdef _WIN32
    const long pid = _getpid();
#else
    const long pid = static_cast<long>(getpid());
#endif
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld-%u.tmp", pid, counter.fetch_add(1));
    return std::string(path) + suffix;
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
    const int fd = open(dir.c_str(), O_RDONLY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    return true;
#endif
}

bool FileExists(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return errno != ENOENT;
    }
    std::fclose(file);
    return true;
}

} // namespace

bool ReadWholeFile(const char* path, std::string& out) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    // Read straight into the string: at the size the file reports (only a hint: a directory
    // or a device reports nonsense), then on in chunks until the end.
    std::string data;
    std::size_t size = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long reported = std::ftell(file);
        if (reported > 0 && static_cast<unsigned long>(reported) < (1ul << 30)) {
            data.resize(static_cast<std::size_t>(reported));
        }
        std::rewind(file);
    }
    for (;;) {
        if (size == data.size()) {
            // Full: grow only if the file goes on (it usually ends here).
            char probe;
            if (std::fread(&probe, 1, 1, file) != 1) {
                break;
            }
            data.resize(size + kChunk);
            data[size++] = probe;
        }
        const std::size_t room = data.size() - size;
        const std::size_t n = std::fread(&data[size], 1, room, file);
        size += n;
        if (n < room) {
            break;
        }
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        return false;
    }
    data.resize(size);
    out.swap(data);
    return true;
}

bool ReplaceFileContents(const char* path, const std::string& bytes, ChunkWriter writer) {
    if (path == nullptr || *path == '\0') {
        return false;
    }
    if (writer == nullptr) {
        writer = PlainWrite;
    }
    const std::string temporary = TemporaryName(path);
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = WriteAll(file, bytes, writer);
    const bool closed = std::fclose(file) == 0;
    if (written && closed && MoveOver(temporary, path)) {
        return true;
    }
    std::remove(temporary.c_str());
    if (!written || !closed || !FileExists(path)) {
        return false;
    }
    // The old file exists but could not be replaced: overwrite it where it stands.
    file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool inPlace = WriteAll(file, bytes, writer);
    return std::fclose(file) == 0 && inPlace;
}

} // namespace inifile
