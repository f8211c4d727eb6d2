#include "console/config/IniFile.h"

#include "console/config/AtomicFile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

using namespace corvane::console;

const char* const CIniFile::kNoteKeyName = "[note]";

namespace {

const char kLineEnd[] = "\r\n";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// [begin, end) without white space at either end.
void Trim(const char*& begin, const char*& end) {
    while (begin < end && IsSpace(*begin)) {
        ++begin;
    }
    while (end > begin && IsSpace(end[-1])) {
        --end;
    }
}

// "[" at position 0 and the first "]" at position 2 or later. Returns the position of that
// "]", or 0 when the line is no header.
std::size_t HeaderEnd(const char* line, std::size_t size) {
    if (size < 3 || line[0] != '[') {
        return 0;
    }
    const void* close = std::memchr(line + 1, ']', size - 1);
    if (close == nullptr) {
        return 0;
    }
    const std::size_t pos = static_cast<const char*>(close) - line;
    return pos >= 2 ? pos : 0;
}

// The line starting at `line`: sets `lineEnd` past its last byte (a CR before the LF is no
// part of it) and returns where the next line starts.
const char* SplitLine(const char* line, const char* end, const char*& lineEnd) {
    const char* newline = static_cast<const char*>(std::memchr(line, '\n', end - line));
    if (newline == nullptr) {
        lineEnd = end;
        return end;
    }
    lineEnd = newline > line && newline[-1] == '\r' ? newline - 1 : newline;
    return newline + 1;
}

bool HasLineBreak(const char* text) {
    return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

// Names that read back as written: a key name not empty and without "]", a value name
// without "=" and not starting or ending in white space; neither holds a line break.
bool ReadsBack(const char* keyname, const char* valuename) {
    if (keyname == nullptr || valuename == nullptr || *keyname == '\0' ||
        std::strpbrk(keyname, "]\r\n") != nullptr || std::strpbrk(valuename, "=\r\n") != nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(valuename);
    return length == 0 || (!IsSpace(valuename[0]) && !IsSpace(valuename[length - 1]));
}

std::time_t SystemClock() {
    return std::time(nullptr);
}

std::string StampDate(std::time_t now) {
    std::tm local{};
#ifdef _WIN32
    const bool ok = localtime_s(&local, &now) == 0;
#else
    const bool ok = localtime_r(&now, &local) != nullptr;
#endif
    char buffer[128];
    if (!ok || std::strftime(buffer, sizeof buffer, "%A, %B %d, %Y", &local) == 0) {
        return std::string();
    }
    return buffer;
}

void AppendIdent(std::string& out, const CIniFile::s_ident& ident) {
    if (ident.comment) {
        out += ident.name;
    } else {
        // A pair whose text would read back as a section header is written with a leading
        // blank, which keeps it a pair.
        const std::size_t start = out.size();
        out += ident.name;
        out += " = ";
        out += ident.value;
        if (HeaderEnd(out.data() + start, out.size() - start) != 0) {
            out.insert(start, 1, ' ');
        }
    }
    out += kLineEnd;
}

} // namespace

CIniFile::CIniFile() : m_path{}, m_clock(SystemClock) {
    Reset();
}

CIniFile::~CIniFile() = default;

void CIniFile::Reset() {
    m_keys.clear();
    m_texts.clear();
    m_keys.emplace_back();
    m_keys.back().name = kNoteKeyName;
}

std::string_view CIniFile::Keep(std::string text) {
    m_texts.push_back(std::make_unique<std::string>(std::move(text)));
    return *m_texts.back();
}

void CIniFile::SetPath(const char* path) {
    std::size_t i = 0;
    for (; path != nullptr && path[i] != '\0' && i < kMaxPath; ++i) {
        m_path[i] = path[i];
    }
    m_path[i] = '\0';
}

bool CIniFile::ReadFile() {
    if (m_path[0] == '\0') {
        return false;
    }
    try {
        std::string data;
        if (!config::ReadWholeFile(m_path, data)) {
            return false;
        }
        Parse(std::move(data));
    } catch (const std::bad_alloc&) {
        config::SetOutOfMemoryError();
        return false;
    }
    return true;
}

void CIniFile::Parse(const char* data, std::size_t size) {
    Parse(std::string(data, size));
}

void CIniFile::Parse(std::string contents) {
    // The lines point into the file's bytes, kept whole.
    std::vector<std::unique_ptr<std::string>> texts;
    texts.push_back(std::make_unique<std::string>(std::move(contents)));
    const char* const data = texts.back()->data();
    const char* const end = data + texts.back()->size();

    // A key's lines gather in `lines`, which grows once to the longest key, and move to the
    // key in one allocation of their final size when the key ends: a large file then neither
    // copies every key's list as it grows nor leaves the heap strewn with the blocks outgrown.
    std::vector<s_key> keys;
    std::vector<s_ident> lines;
    keys.emplace_back();
    keys.back().name = kNoteKeyName;

    for (const char* line = data; line < end;) {
        const char* lineEnd = nullptr;
        const char* next = SplitLine(line, end, lineEnd);
        const std::size_t length = static_cast<std::size_t>(lineEnd - line);

        if (const std::size_t close = HeaderEnd(line, length)) {
            keys.back().idents.assign(lines.begin(), lines.end());
            lines.clear();
            keys.emplace_back();
            keys.back().name = std::string_view(line + 1, close - 1);
        } else {
            const void* equals = std::memchr(line, '=', length);
            s_ident& ident = lines.emplace_back();
            if (equals == nullptr || equals == line) {
                ident.name = std::string_view(line, length);
                ident.comment = 1;
            } else {
                const char* nameBegin = line;
                const char* nameEnd = static_cast<const char*>(equals);
                const char* valueBegin = nameEnd + 1;
                const char* valueEnd = lineEnd;
                Trim(nameBegin, nameEnd);
                Trim(valueBegin, valueEnd);
                ident.name = std::string_view(nameBegin, nameEnd - nameBegin);
                ident.value = std::string_view(valueBegin, valueEnd - valueBegin);
            }
        }
        line = next;
    }
    keys.back().idents.assign(lines.begin(), lines.end());
    m_keys.swap(keys);
    m_texts.swap(texts);
}

bool CIniFile::WriteFile(const char* path, const config::ReplaceGuard* guard) const {
    std::string bytes;
    try {
        bytes = Serialize();
    } catch (const std::bad_alloc&) {
        config::SetOutOfMemoryError();
        return false;
    }
    return config::ReplaceFileContents(path != nullptr ? path : m_path, bytes, nullptr, guard);
}

std::string CIniFile::Serialize() const {
    std::string out;
    std::size_t estimate = 64;
    for (const s_key& key : m_keys) {
        estimate += key.name.size() + 8;
        for (const s_ident& ident : key.idents) {
            estimate += ident.name.size() + ident.value.size() + 6;
        }
    }
    out.reserve(estimate);

    const s_key& note = m_keys.front();
    if (note.idents.empty()) {
        out += "// write by ";
        out += StampDate(m_clock());
        out += kLineEnd;
    } else {
        for (const s_ident& ident : note.idents) {
            AppendIdent(out, ident);
        }
    }

    for (std::size_t k = 1; k < m_keys.size(); ++k) {
        const s_key& key = m_keys[k];
        out += '[';
        out += key.name;
        out += ']';
        out += kLineEnd;
        // One blank line closes every key, unless its last line is already a blank one: a
        // file written here reads back and writes again to the same bytes.
        bool lastWasBlank = false;
        for (const s_ident& ident : key.idents) {
            AppendIdent(out, ident);
            lastWasBlank = ident.comment && ident.name.empty();
        }
        if (!lastWasBlank) {
            out += kLineEnd;
        }
    }
    return out;
}

int CIniFile::FindKey(const char* keyname) const {
    if (keyname == nullptr) {
        return -1;
    }
    for (std::size_t k = 1; k < m_keys.size(); ++k) {
        if (m_keys[k].name == keyname) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

int CIniFile::FindValue(int keyindex, const char* valuename) const {
    return FindLine(keyindex, valuename, false);
}

// Value lookups see pairs only (`pairsOnly`): a comment line holds no value, and setting one on
// it would report success for a value that is never written.
int CIniFile::FindLine(int keyindex, const char* valuename, bool pairsOnly) const {
    if (keyindex < 1 || static_cast<std::size_t>(keyindex) >= m_keys.size() ||
        valuename == nullptr) {
        return -1;
    }
    const std::vector<s_ident>& idents = m_keys[keyindex].idents;
    for (std::size_t v = 0; v < idents.size(); ++v) {
        if (!(pairsOnly && idents[v].comment) && idents[v].name == valuename) {
            return static_cast<int>(v);
        }
    }
    return -1;
}

const CIniFile::s_ident* CIniFile::Find(const char* keyname, const char* valuename) const {
    const int k = FindKey(keyname);
    const int v = FindLine(k, valuename, true);
    return v < 0 ? nullptr : &m_keys[k].idents[v];
}

std::string CIniFile::GetValue(const char* keyname, const char* valuename) const {
    const s_ident* ident = Find(keyname, valuename);
    return ident != nullptr ? std::string(ident->value) : std::string();
}

bool CIniFile::GetValue(const char* keyname, const char* valuename, std::string& out) const {
    const s_ident* ident = Find(keyname, valuename);
    if (ident == nullptr) {
        return false;
    }
    std::string_view value = ident->value;
    while (!value.empty() && IsSpace(value.front())) {
        value.remove_prefix(1);
    }
    out.assign(value.data(), value.size());
    return !out.empty();
}

bool CIniFile::SetValue(const char* keyname, const char* valuename, const char* value,
                        bool create) {
    if (!ReadsBack(keyname, valuename) || HasLineBreak(value)) {
        return false;
    }
    if (value == nullptr) {
        value = "";
    }
    const int k = FindKey(keyname);
    const int v = FindLine(k, valuename, true);
    if (v >= 0) {
        m_keys[k].idents[v].value = Keep(value);
        return true;
    }
    if (!create) {
        return false;
    }
    s_ident ident;
    ident.name = Keep(valuename);
    ident.value = Keep(value);
    if (k < 0) {
        s_key key;
        key.name = Keep(keyname);
        key.idents.push_back(std::move(ident));
        m_keys.push_back(std::move(key));
    } else {
        m_keys[k].idents.push_back(std::move(ident));
    }
    return true;
}

int CIniFile::GetValueI(const char* keyname, const char* valuename) const {
    const std::string value = GetValue(keyname, valuename);
    if (value.empty()) {
        return 0;
    }
    const long n = std::strtol(value.c_str(), nullptr, 10);
    return n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n);
}

unsigned long CIniFile::GetValueUL(const char* keyname, const char* valuename) const {
    const std::string value = GetValue(keyname, valuename);
    if (value.empty()) {
        return 0;
    }
    // 32 bits on every platform, as the 32-bit strtoul gives them: a magnitude past 32 bits
    // saturates, a negative one is taken modulo 2^32 ("-5" gives 4294967291).
    const char* text = value.c_str();
    while (IsSpace(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    if (*text < '0' || *text > '9') {
        return 0;
    }
    const unsigned long long n = std::strtoull(text, nullptr, 10);
    if (n > 0xFFFFFFFFull) {
        return 0xFFFFFFFFul;
    }
    return static_cast<unsigned long>((negative ? 0x100000000ull - n : n) & 0xFFFFFFFFull);
}

double CIniFile::GetValueF(const char* keyname, const char* valuename) const {
    const std::string value = GetValue(keyname, valuename);
    return value.empty() ? 0.0 : std::strtod(value.c_str(), nullptr);
}

bool CIniFile::GetValueB(const char* keyname, const char* valuename) const {
    std::string value = GetValue(keyname, valuename);
    for (char& c : value) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return value == "true" || value == "yes" || value == "ok";
}

bool CIniFile::GetValueBinary(const char* keyname, const char* valuename, unsigned char* bytes,
                              std::size_t& count) const {
    std::string value;
    if (!GetValue(keyname, valuename, value)) {
        return false;
    }
    std::size_t stored = 0;
    for (std::size_t p = 0; p + 4 <= value.size() && stored < count; p += 5) {
        if (value[p] != '0' || value[p + 1] != 'x') {
            return false;
        }
        const char digits[3] = {value[p + 2], value[p + 3], '\0'};
        bytes[stored++] = static_cast<unsigned char>(std::strtoul(digits, nullptr, 16));
    }
    count = stored;
    return true;
}

bool CIniFile::SetValueI(const char* keyname, const char* valuename, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return SetValue(keyname, valuename, text, true);
}

bool CIniFile::SetValueUL(const char* keyname, const char* valuename, unsigned long value,
                          bool create) {
    char text[24];
    std::snprintf(text, sizeof text, "%lu", value);
    return SetValue(keyname, valuename, text, create);
}

bool CIniFile::SetValueF(const char* keyname, const char* valuename, double value, bool create) {
    const int length = std::snprintf(nullptr, 0, "%f", value);
    if (length < 0) {
        return false;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(&text[0], text.size(), "%f", value);
    text.resize(static_cast<std::size_t>(length));
    return SetValue(keyname, valuename, text.c_str(), create);
}

bool CIniFile::SetValueB(const char* keyname, const char* valuename, bool value, bool create) {
    return SetValue(keyname, valuename, value ? "true" : "false", create);
}

bool CIniFile::SetValueBinary(const char* keyname, const char* valuename,
                              const unsigned char* bytes, std::size_t count, bool create) {
    std::string text;
    text.reserve(count * 5);
    for (std::size_t i = 0; i < count; ++i) {
        char group[8];
        std::snprintf(group, sizeof group, "0x%02x ", bytes[i]);
        text += group;
    }
    return SetValue(keyname, valuename, text.c_str(), create);
}

std::string CIniFile::GetKeyName(int n) const {
    if (n < 0 || static_cast<std::size_t>(n) + 1 >= m_keys.size()) {
        return std::string();
    }
    return std::string(m_keys[n + 1].name);
}

std::string CIniFile::GetValueName(int keyindex, int valueindex) const {
    if (keyindex < 0 || static_cast<std::size_t>(keyindex) >= m_keys.size() || valueindex < 0 ||
        static_cast<std::size_t>(valueindex) >= m_keys[keyindex].idents.size()) {
        return std::string();
    }
    return std::string(m_keys[keyindex].idents[valueindex].name);
}

std::string CIniFile::GetValueAt(int keyindex, int valueindex) const {
    if (keyindex < 0 || static_cast<std::size_t>(keyindex) >= m_keys.size() || valueindex < 0 ||
        static_cast<std::size_t>(valueindex) >= m_keys[keyindex].idents.size()) {
        return std::string();
    }
    return std::string(m_keys[keyindex].idents[valueindex].value);
}

int CIniFile::GetNumValues(const char* keyname) const {
    const int k = FindKey(keyname);
    return k < 0 ? -1 : static_cast<int>(m_keys[k].idents.size());
}

bool CIniFile::DeleteKey(const char* keyname) {
    const int k = FindKey(keyname);
    if (k < 0) {
        return false;
    }
    m_keys.erase(m_keys.begin() + k);
    return true;
}
