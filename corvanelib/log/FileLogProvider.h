// The log file and the critical-record file.
//
// Each record is one line: the UTF-16 record converted to the Chinese Simplified code page (936),
// characters it lacks written as "?", followed by CR LF. The file stays open, shared with every
// other opener for reading and writing; each record goes to the current end of the file and is
// handed to the system before Write returns.
//
// The file restarts empty, without keeping older files, once a counter passes 20,971,520 bytes:
// the counter starts from the file's size when the provider opens it and adds two bytes per
// character of each record (not the encoded size, not the line end). The record that crosses the
// limit is the first line of the emptied file. When the file cannot be emptied then (another
// program holds it, say), records go on to the old file and every further record tries again.
//
// A line feed inside a record is written as CR LF, as every line end of the file is.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "corvanelib/log/LogProvider.h"
#include "corvanelib/Win32/Synchronization/Lock.h"
#include "corvanelib/Win32/UniqueHandle.h"

namespace corvanelib {

class FileLogProvider : public LogProvider {
public:
    static const DWORD kRestartBytes = 20971520;
    static const UINT kCodePage = 936;

    FileLogProvider() = default;
    ~FileLogProvider() override;

    // Opens the configuration's log file (LogConfig::GetLogPath): appends to an existing file,
    // whose size counts toward the limit, and creates a missing one. -1 without a configuration;
    // 1 when the file's attributes cannot be read for another reason than its absence (no file
    // is opened then). An open that fails is not reported: Write then fails each record.
    int Init(LogConfig* configuration) override;
    // Writes `text` up to its NUL as one line; `length` feeds the size counter. -1 before Init,
    // and -1 when the record could not be written (no open file, or the write failed); the
    // provider stays usable, and the next record tries again.
    int Write(const wchar_t* text, int length) override;
    int LockedWrite(const wchar_t* text, int length, int reserved) override;
    void Close() override;
    int IsUnavailable() override { return 0; }

protected:
    // Opens `path` as described for Init.
    int Open(LogConfig* configuration, const std::wstring& path);

private:
    bool WriteLine(const wchar_t* text);

    UniqueFileHandle m_file;
    Mutex m_mutex; // taken by LockedWrite only: the log object serialises Write with its own lock
    DWORD m_counted = 0;
    std::wstring m_path;
    std::string m_line; // the record's bytes as written, reused for every record
};

// The critical-record file: the log file's path followed by ".crit". The log object copies the
// records of levels 0 and 1 here.
class CritFileLogProvider : public FileLogProvider {
public:
    CritFileLogProvider() = default;
    ~CritFileLogProvider() override;

    int Init(LogConfig* configuration) override;
};

} // namespace corvanelib
