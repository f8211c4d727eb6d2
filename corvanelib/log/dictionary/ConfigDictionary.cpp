#include "corvanelib/log/dictionary/ConfigDictionary.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace corvanelib {

namespace {

// Lines are read in pieces of at most kLineBuffer - 1 bytes.
constexpr int kLineBuffer = 65535;
// Lookup names are lower-cased into a fixed buffer and cut at this many bytes.
constexpr std::size_t kNameBuffer = 100;
constexpr std::size_t kMaxNameLength = 96;
constexpr std::size_t kPathCompareLength = 255;

bool IsSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

char ToLowerAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Lower-cases at most kMaxNameLength bytes of `name` into `buffer`; returns the key length.
std::uint32_t LookupKey(const char* name, std::size_t length,
                        char (&buffer)[kNameBuffer]) noexcept {
    if (length > kMaxNameLength) {
        length = kMaxNameLength;
    }
    for (std::size_t i = 0; i < length; ++i) {
        buffer[i] = ToLowerAscii(name[i]);
    }
    buffer[length] = '\0';
    return static_cast<std::uint32_t>(length);
}

// A name's lookup key and its hash in one pass over the name, for the lookups of readers.
struct LookupName {
    char text[kNameBuffer];
    std::uint32_t length;
    std::uint32_t hash;

    explicit LookupName(const char* name) noexcept : length(0), hash(0) {
        for (; length < kMaxNameLength && name[length] != '\0'; ++length) {
            const char c = ToLowerAscii(name[length]);
            text[length] = c;
            // The ELF hash step, as ElfHash does it, over the lower-cased byte.
            hash = (hash << 4) + static_cast<std::uint32_t>(static_cast<signed char>(c));
            const std::uint32_t g = hash & 0xF0000000u;
            if (g != 0) {
                hash = hash ^ (g >> 24) ^ g;
            }
        }
        text[length] = '\0';
    }

    void* In(const ConfigHashTable& table) const noexcept {
        const ConfigHashEntry* entry = table.hash == &ElfHash
                                           ? table.FindEntryHashed(text, length, hash)
                                           : table.FindEntry(text, length);
        return entry != nullptr ? entry->value : nullptr;
    }
};

bool SamePath(const char* a, const char* b) noexcept {
    for (std::size_t i = 0; i < kPathCompareLength; ++i) {
        const char ca = ToLowerAscii(a[i]);
        if (ca != ToLowerAscii(b[i])) {
            return false;
        }
        if (ca == '\0') {
            return true;
        }
    }
    return true;
}

// Low 32 bits of the file's modification time in seconds; 0 when its status cannot be read.
std::uint32_t ModifiedTime(const char* file) noexcept {
#ifdef _WIN32
    struct _stat64 status;
    if (_stat64(file, &status) != 0) {
        return 0;
    }
#else
    struct stat status;
    if (stat(file, &status) != 0) {
        return 0;
    }
#endif
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(status.st_mtime));
}

// Owners of the loader's stream and line buffer.
struct StreamCloser {
    void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};
struct BlockFreer {
    void operator()(void* block) const noexcept { std::free(block); }
};
using UniqueStream = std::unique_ptr<std::FILE, StreamCloser>;
using UniqueBlock = std::unique_ptr<char, BlockFreer>;

char* CopyText(const char* text, std::size_t length) noexcept {
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

// Text that grows by appending; used for the comment lines waiting for their section.
class PendingText {
public:
    PendingText() = default;
    PendingText(const PendingText&) = delete;
    PendingText& operator=(const PendingText&) = delete;
    ~PendingText() { std::free(m_text); }

    bool Empty() const noexcept { return m_length == 0; }
    const char* Text() const noexcept { return m_text; }
    std::size_t Length() const noexcept { return m_length; }
    void Reset() noexcept { m_length = 0; }

    // A line that cannot be stored is dropped from the comment; the load goes on.
    void Append(const char* text, std::size_t length) noexcept {
        if (m_length + length + 1 > m_capacity) {
            std::size_t capacity = m_capacity != 0 ? m_capacity * 2 : 256;
            while (capacity < m_length + length + 1) {
                capacity *= 2;
            }
            auto* grown = static_cast<char*>(std::realloc(m_text, capacity));
            if (grown == nullptr) {
                return;
            }
            m_text = grown;
            m_capacity = capacity;
        }
        std::memcpy(m_text + m_length, text, length);
        m_length += length;
        m_text[m_length] = '\0';
    }

private:
    char* m_text = nullptr;
    std::size_t m_length = 0;
    std::size_t m_capacity = 0;
};

// Attaches the pending comment lines to `*comment`. A section that is opened a second time
// further down the file keeps the comments of both places.
void AttachComment(char*& comment, const PendingText& pending) noexcept {
    if (comment == nullptr) {
        comment = CopyText(pending.Text(), pending.Length());
        return;
    }
    const std::size_t oldLength = std::strlen(comment);
    auto* joined = static_cast<char*>(std::realloc(comment, oldLength + pending.Length() + 1));
    if (joined == nullptr) {
        return;
    }
    std::memcpy(joined + oldLength, pending.Text(), pending.Length() + 1);
    comment = joined;
}

void* Take(const ConfigDictionary& dictionary, std::size_t bytes) noexcept {
    return dictionary.allocator != nullptr ? dictionary.allocator->Allocate(bytes)
                                           : std::malloc(bytes);
}

void Give(const ConfigDictionary& dictionary, void* block) noexcept {
    if (dictionary.allocator == nullptr) {
        std::free(block);
    }
}

ConfigSection* FindOrCreateSection(ConfigDictionary& dictionary, const char* name,
                                   std::size_t length) noexcept {
    if (!dictionary.sections.IsCreated() &&
        dictionary.sections.Create(ConfigDictionary::kSectionBuckets, nullptr, nullptr,
                                   dictionary.allocator) != kHashOk) {
        return nullptr;
    }
    char key[kNameBuffer];
    const std::uint32_t keyLength = LookupKey(name, length, key);
    if (auto* found = static_cast<ConfigSection*>(dictionary.sections.Lookup(key, keyLength))) {
        return found;
    }
    void* block = Take(dictionary, sizeof(ConfigSection));
    if (block == nullptr) {
        return nullptr;
    }
    auto* section = new (block) ConfigSection{};
    if (dictionary.sections.Insert(key, keyLength, section) != kHashOk) {
        Give(dictionary, section);
        return nullptr;
    }
    section->name = CopyText(name, length);
    return section->name != nullptr ? section : nullptr;
}

// `line` starts after the leading white space. A line that is not an entry, or whose key the
// section already holds, is skipped; false when the entry or the section's key table cannot be
// allocated.
bool ReadEntry(ConfigDictionary& dictionary, ConfigSection& section, const char* line) noexcept {
    const char* equals = std::strchr(line, '=');
    if (equals == nullptr || equals == line) {
        return true;
    }
    std::size_t keyLength = static_cast<std::size_t>(equals - line);
    if (line[keyLength - 1] == ' ') {
        --keyLength;
    }
    const char* value = equals + 1;
    if (*value == ' ') {
        ++value;
    }
    std::size_t valueLength = 0;
    if (*value != '\r' && *value != '\n') {
        valueLength = std::strlen(value);
        while (valueLength > 0 &&
               (value[valueLength - 1] == '\r' || value[valueLength - 1] == '\n')) {
            --valueLength;
        }
    }

    auto* entry = static_cast<ConfigKeyEntry*>(
        Take(dictionary, sizeof(ConfigKeyEntry) + keyLength + 3 + valueLength + 1));
    if (entry == nullptr) {
        return false;
    }
    char* text = reinterpret_cast<char*>(entry + 1);
    std::memcpy(text, line, keyLength);
    std::memcpy(text + keyLength, " = ", 3);
    std::memcpy(text + keyLength + 3, value, valueLength);
    text[keyLength + 3 + valueLength] = '\0';
    entry->value = text + keyLength + 3;

    if (!section.keys.IsCreated() && section.keys.Create(dictionary.keyTableHint, nullptr, nullptr,
                                                         dictionary.allocator) != kHashOk) {
        Give(dictionary, entry);
        return false;
    }
    char key[kNameBuffer];
    const std::uint32_t lookupLength = LookupKey(line, keyLength, key);
    const int inserted = section.keys.Insert(key, lookupLength, entry);
    if (inserted != kHashOk) {
        Give(dictionary, entry);
        return inserted != kHashNoMemory;
    }
    if (section.keys.count > dictionary.keyTableHint) {
        const std::uint32_t cap = ConfigDictionary::kMaxInitialKeyBuckets;
        dictionary.keyTableHint = section.keys.count < cap ? section.keys.count : cap;
    }
    return true;
}

int Load(ConfigDictionary& dictionary, const char* file) noexcept {
    std::size_t length = 0;
    while (length < ConfigDictionary::kMaxPathLength && file[length] != '\0') {
        dictionary.path[length] = file[length];
        ++length;
    }
    dictionary.path[length] = '\0';

    const UniqueStream stream(std::fopen(file, "r"));
    if (!stream) {
        return kLoadCannotOpen;
    }
    const UniqueBlock buffer(static_cast<char*>(std::malloc(kLineBuffer)));
    if (!buffer) {
        return kLoadCannotOpen;
    }
    char* const line = buffer.get();

    PendingText pending;
    ConfigSection* current = nullptr;
    int result = kLoadOk;
    while (std::fgets(line, kLineBuffer, stream.get()) != nullptr) {
        if (dictionary.stopLoading != nullptr && dictionary.stopLoading(dictionary.stopContext)) {
            result = kLoadStopped;
            break;
        }
        const char* p = line;
        while (IsSpace(*p)) {
            ++p;
        }
        if (*p == ';' || *p == '#') {
            pending.Append(line, std::strlen(line));
        } else if (*p == '[') {
            const char* name = p + 1;
            const char* end = name;
            for (;; ++end) {
                if (*end == '\0') {
                    break;
                }
                if (*end == ']' && (end[1] == '\r' || end[1] == '\n')) {
                    break;
                }
            }
            if (!pending.Empty()) {
                AttachComment(current != nullptr ? current->comment : dictionary.headerComment,
                              pending);
                pending.Reset();
            }
            current = FindOrCreateSection(dictionary, name, static_cast<std::size_t>(end - name));
            if (current == nullptr) {
                result = kLoadNoSection;
                break;
            }
        } else if (current != nullptr && !ReadEntry(dictionary, *current, p)) {
            result = kLoadNoMemory;
            break;
        }
    }
    if (result == kLoadOk) {
        dictionary.modifiedTime = ModifiedTime(file);
    }
    return result;
}

void FreeKeyEntry(void* entry) noexcept {
    std::free(entry);
}

} // namespace

ConfigDictionary::ConfigDictionary() noexcept
    : path{}, modifiedTime(0), dirty(0), headerComment(nullptr), sections{},
      keyTableHint(kInitialKeyBuckets), allocator(nullptr), stopLoading(nullptr),
      stopContext(nullptr) {}

ConfigDictionary::ConfigDictionary(const char* file) noexcept : ConfigDictionary() {
    if (file != nullptr) {
        LoadIfChanged(*this, file);
    }
}

ConfigDictionary::~ConfigDictionary() {
    Clear(*this);
}

int LoadIfChanged(ConfigDictionary& dictionary, const char* file) noexcept {
    if ((file == nullptr || SamePath(file, dictionary.path)) && dictionary.modifiedTime != 0) {
        const std::uint32_t now = ModifiedTime(dictionary.path);
        if (now != 0 && now == dictionary.modifiedTime) {
            return kLoadOk;
        }
    }
    // The caller may pass the dictionary's own path buffer, which is about to be zeroed.
    char target[ConfigDictionary::kPathCapacity];
    const char* source = file != nullptr ? file : dictionary.path;
    const bool longPath = std::strlen(source) >= sizeof(target);
    if (!longPath) {
        std::strcpy(target, source);
    }
    Clear(dictionary);
    if (file == nullptr && target[0] == '\0') {
        return kLoadCannotOpen;
    }
    std::memset(dictionary.path, 0, sizeof(dictionary.path));
    dictionary.modifiedTime = 0;
    dictionary.dirty = 0;
    return Load(dictionary, longPath ? file : target);
}

ConfigSection* FindSection(const ConfigDictionary& dictionary, const char* name) noexcept {
    if (name == nullptr) {
        return nullptr;
    }
    return static_cast<ConfigSection*>(LookupName(name).In(dictionary.sections));
}

ConfigKeyEntry* FindEntry(const ConfigSection* section, const char* key) noexcept {
    if (section == nullptr || key == nullptr) {
        return nullptr;
    }
    return static_cast<ConfigKeyEntry*>(LookupName(key).In(section->keys));
}

namespace {
void CopyBounded(char* destination, int capacity, const char* text) noexcept {
    const std::size_t room = static_cast<std::size_t>(capacity) - 1;
    std::size_t length = 0;
    while (length < room && text[length] != '\0') {
        ++length;
    }
    std::memcpy(destination, text, length);
    destination[length] = '\0';
}
} // namespace

const char* GetString(const ConfigDictionary& dictionary, const char* section, const char* key,
                      char* destination, int capacity, const char* defaultValue) noexcept {
    static const char kEmpty[] = "";
    const bool canCopy = destination != nullptr && capacity >= 1;
    const ConfigKeyEntry* entry = FindEntry(FindSection(dictionary, section), key);
    if (entry != nullptr) {
        if (!canCopy) {
            return entry->value;
        }
        CopyBounded(destination, capacity, entry->value);
        return destination;
    }
    if (canCopy && defaultValue != nullptr) {
        CopyBounded(destination, capacity, defaultValue);
    }
    return kEmpty;
}

std::vector<std::string> ListKeys(const ConfigDictionary& dictionary, const char* section) {
    std::vector<std::string> keys;
    const ConfigSection* found = FindSection(dictionary, section);
    if (found == nullptr) {
        return keys;
    }
    keys.reserve(found->keys.count);
    for (const ConfigHashEntry* e = found->keys.first; e != nullptr; e = e->nextInOrder) {
        keys.emplace_back(reinterpret_cast<const char*>(e->Key()), e->length);
    }
    return keys;
}

void Clear(ConfigDictionary& dictionary) noexcept {
    const bool ownBlocks = dictionary.allocator == nullptr;
    for (ConfigHashEntry* e = dictionary.sections.first; e != nullptr; e = e->nextInOrder) {
        auto* section = static_cast<ConfigSection*>(e->value);
        std::free(section->name);
        std::free(section->comment);
        section->keys.Destroy(ownBlocks ? &FreeKeyEntry : nullptr);
        if (ownBlocks) {
            std::free(section);
        }
    }
    dictionary.sections.Destroy();
    if (dictionary.allocator != nullptr) {
        dictionary.allocator->Release();
    }
    std::free(dictionary.headerComment);
    dictionary.headerComment = nullptr;
    dictionary.modifiedTime = 0;
    dictionary.dirty = 1;
}

} // namespace corvanelib
