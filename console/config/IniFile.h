// CIniFile: the console's engine for INI files in 8-bit text.
//
// The whole file is held in memory as an ordered list of keys (sections), each with its
// lines in file order: name/value pairs, and every other line kept verbatim as a comment
// line. A file can be read, changed value by value and written back whole with its comments,
// blank lines and order preserved. Key and value names compare case-sensitively, byte for
// byte. Line ends are CRLF in the files written, on every platform; reading takes CRLF or LF.
//
// Index 0 of the key list always holds the note key "[note]": the lines that stand before
// the first section header. It is never found by name. When it holds no lines, writing puts
// the stamp line "// write by <date>" at the head of the file; when it holds lines, every one
// of them is written back as it was read, so nothing above the first header is ever lost and
// a file keeps the stamp of its first writing.
//
// A CIniFile is used by one thread at a time and keeps no file open between operations. It
// lives as long as one load or one save: the texts it holds point into the file's bytes read
// at once, and every text set since is kept until the object goes (a replaced value's old
// text included), which spares one allocation per line.
#pragma once

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::console::config {
struct ReplaceGuard;
}

class CIniFile {
public:
    // One line of a key: a pair (name and value trimmed of white space at both ends, the
    // value may itself contain "="), or a comment line (the whole line as name, empty value).
    // The texts belong to the CIniFile that holds the line.
    struct s_ident {
        std::string_view name;
        std::string_view value;
        unsigned char comment = 0;
    };

    // One key: the section name exactly as it stood between the brackets, and its lines.
    struct s_key {
        std::string_view name;
        std::vector<s_ident> idents;
    };

    // Gives the time whose local date goes into the stamp line.
    using Clock = std::time_t (*)();

    static constexpr std::size_t kMaxPath = 255;
    static const char* const kNoteKeyName; // "[note]"

    CIniFile();
    virtual ~CIniFile();
    CIniFile(CIniFile&&) = default;
    CIniFile& operator=(CIniFile&&) = default;

    // Copies at most the first 255 characters of `path`.
    void SetPath(const char* path);
    const char* GetPath() const { return m_path; }

    // Replaces the held image by the file named by the path. False when the file cannot be
    // opened or read; the held image is then left exactly as it was. On failure the last
    // error (errno outside Windows) holds the system's code for it.
    bool ReadFile();

    // Writes the held image to `path`, or to the engine's own path when `path` is null. The
    // file is replaced as a whole: readers see the old contents or the new, never a part.
    // False when it could not be written, with the last error as for ReadFile; an existing
    // file is then left untouched. `guard` adds the rules of a file that holds secrets.
    bool WriteFile(const char* path = nullptr,
                   const corvane::console::config::ReplaceGuard* guard = nullptr) const;

    // The bytes WriteFile would put into the file.
    std::string Serialize() const;

    // Parses `size` bytes as a file's contents, replacing the held image.
    void Parse(const char* data, std::size_t size);
    void Parse(std::string data);

    // Index of the first key from 1 on named `keyname`; -1 when none (always for the note).
    int FindKey(const char* keyname) const;
    // Index within key `keyindex` of the first line named `valuename` (a comment line by its
    // whole text); -1 when none or when `keyindex` is the note key or out of range.
    int FindValue(int keyindex, const char* valuename) const;

    // The value, or the empty string when the key or the value is missing.
    std::string GetValue(const char* keyname, const char* valuename) const;
    // Copies the value, trimmed at its left end, into `out`; true when that is not empty.
    // Missing key or value: false and `out` untouched.
    bool GetValue(const char* keyname, const char* valuename, std::string& out) const;

    // Replaces the first matching value in place, or with `create` appends the pair after the
    // key's last line (appending the key first when it is missing). False when something is
    // missing and `create` is false, and for texts that could not be read back as they were
    // set: any holding a line break, an empty key name or one holding "]", a value name
    // holding "=" or starting or ending in white space. The value lookups (GetValue, SetValue and
    // the typed ones) match pairs only, never a comment line.
    bool SetValue(const char* keyname, const char* valuename, const char* value,
                  bool create = true);

    int GetValueI(const char* keyname, const char* valuename) const;
    unsigned long GetValueUL(const char* keyname, const char* valuename) const;
    double GetValueF(const char* keyname, const char* valuename) const;
    // True for "true", "yes" or "ok" in any case.
    bool GetValueB(const char* keyname, const char* valuename) const;
    // Reads a value written by SetValueBinary ("0x01 0xab "). `count` gives the room in
    // `bytes` and receives the number of bytes stored. False when the value is missing or
    // a group does not start with "0x" (then `count` is unchanged).
    bool GetValueBinary(const char* keyname, const char* valuename, unsigned char* bytes,
                        std::size_t& count) const;

    bool SetValueI(const char* keyname, const char* valuename, int value); // always creates
    bool SetValueUL(const char* keyname, const char* valuename, unsigned long value,
                    bool create = true);
    bool SetValueF(const char* keyname, const char* valuename, double value, bool create = true);
    bool SetValueB(const char* keyname, const char* valuename, bool value, bool create = true);
    bool SetValueBinary(const char* keyname, const char* valuename, const unsigned char* bytes,
                        std::size_t count, bool create = true);

    // Navigation. GetKeyName counts the sections from 0 and never names the note key; the
    // other two take raw indices (0 is the note key). Out-of-range indices give "".
    std::string GetKeyName(int n) const;
    std::string GetValueName(int keyindex, int valueindex) const;
    std::string GetValueAt(int keyindex, int valueindex) const;
    // Number of lines of the key, comment lines included; -1 when it is missing.
    int GetNumValues(const char* keyname) const;
    bool DeleteKey(const char* keyname);

    int GetNumKeys() const { return static_cast<int>(m_keys.size()) - 1; }
    const std::vector<s_key>& Keys() const { return m_keys; }

    // The stamp date comes from `clock` (the system time by default).
    void SetClock(Clock clock) { m_clock = clock; }

private:
    // FindValue's search; with `pairsOnly` it passes over comment lines.
    int FindLine(int keyindex, const char* valuename, bool pairsOnly) const;
    const s_ident* Find(const char* keyname, const char* valuename) const;
    void Reset();
    // Keeps `text` for the object's life and returns a view of it.
    std::string_view Keep(std::string text);

    std::vector<s_key> m_keys;
    std::vector<std::unique_ptr<std::string>> m_texts; // each allocated once, never moved
    char m_path[kMaxPath + 1];
    Clock m_clock;
};
