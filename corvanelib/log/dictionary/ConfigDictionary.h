// In-memory image of an INI-style file in 8-bit text: sections of "key = value" lines, looked
// up case-insensitively (ASCII letters only) with names, values and comments kept as the file
// writes them. A dictionary notices cheaply whether its file changed since the last load.
//
// Line rules of the loader:
//  - lines are read in pieces of at most 65,534 bytes; a longer line is handled piece by piece;
//  - leading white space is skipped; ";" or "#" starts a comment line, "[" a section header,
//    anything else inside a section is an entry "key=value" (lines before the first header,
//    lines without "=" and lines starting with "=" are ignored);
//  - a header's name runs to the first "]" directly followed by the line end, else to the end
//    of the line, so "[a] ;x" names the section "a] ;x" with its line end, and a header on a
//    last line without line end keeps its "]";
//  - around "=", one space is dropped on each side, no more; the value loses its line end
//    but keeps other trailing white space;
//  - the first occurrence of a key in a section wins; later ones are skipped;
//  - comment lines attach to the section above them (before any header: the header comment);
//    comment lines after the last section's entries are dropped.
// Names agree when their first 96 bytes agree after lower-casing.
#pragma once

#include "corvanelib/log/dictionary/BlockAllocator.h"
#include "corvanelib/log/dictionary/ConfigHashTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvanelib {

// One "key = value" line: the value pointer points into the text that follows the record in
// the same block, just after "= ". It lives as long as the entry.
struct ConfigKeyEntry {
    const char* value;

    // "key = value" with the key as written.
    const char* Text() const noexcept { return reinterpret_cast<const char*>(this + 1); }
};

struct ConfigSection {
    char* name;           // as first written between the brackets
    ConfigHashTable keys; // lower-cased key -> ConfigKeyEntry*; created with the first key
    char* comment;        // comment lines that followed this section's entries, or null
};

struct ConfigDictionary {
    static constexpr std::size_t kPathCapacity = 256;
    static constexpr std::size_t kMaxPathLength = 254;
    static constexpr std::uint32_t kSectionBuckets = 50;
    static constexpr std::uint32_t kInitialKeyBuckets = 10;
    // A key table starts with at most this many buckets and grows with its own keys, so a file
    // with one large section followed by many small ones costs memory in proportion to its size.
    static constexpr std::uint32_t kMaxInitialKeyBuckets = 53;

    char path[kPathCapacity];
    // Low 32 bits of the file's modification time right after the last load; 0 when unknown,
    // which makes the next LoadIfChanged reload.
    std::uint32_t modifiedTime;
    unsigned char dirty;
    char* headerComment;
    ConfigHashTable sections; // lower-cased name -> ConfigSection*
    // Bucket request for new key tables: the largest key count seen, at least 10 and at most
    // kMaxInitialKeyBuckets.
    std::uint32_t keyTableHint;
    // When attached (not owned; it must outlive the dictionary), sections and entries come from
    // it and Clear releases all of its chunks, so one allocator serves one dictionary.
    BlockAllocator* allocator;
    // When set, asked with `stopContext` before each line a load reads; a true answer ends the
    // load with kLoadStopped. Lets the owner of a long load give it up.
    bool (*stopLoading)(void* context);
    void* stopContext;

    ConfigDictionary() noexcept;
    // Loads `file` at once (LoadIfChanged, whose result is not kept); look the sections up
    // with FindSection for the outcome.
    explicit ConfigDictionary(const char* file) noexcept;
    // Clears: a dictionary owns its sections, entries and comments.
    ~ConfigDictionary();
    ConfigDictionary(const ConfigDictionary&) = delete;
    ConfigDictionary& operator=(const ConfigDictionary&) = delete;
};

// Results of LoadIfChanged.
constexpr int kLoadOk = 0;
constexpr int kLoadCannotOpen = -1;
constexpr int kLoadNoSection = -2;
constexpr int kLoadNoMemory = -3;
constexpr int kLoadStopped = -4;

// Loads `file` unless it is the file already loaded (same path, case-insensitively) and its
// modification time has not moved. A null `file` checks and reloads the stored path.
// 0 when current or loaded; -1 when the file cannot be opened (the dictionary is then empty
// and holds the new path); -2 when a section could not be created; -3 when a section's key
// table or an entry could not be stored for lack of memory (no line is dropped silently);
// -4 when stopLoading asked to stop. After a failure the dictionary holds what was read before
// it, and the next LoadIfChanged reads the file again.
int LoadIfChanged(ConfigDictionary& dictionary, const char* file) noexcept;

ConfigSection* FindSection(const ConfigDictionary& dictionary, const char* name) noexcept;
ConfigKeyEntry* FindEntry(const ConfigSection* section, const char* key) noexcept;

// The value of `key` in `section`.
//  - Found: with a destination of capacity >= 1, at most capacity - 1 bytes copied and
//    terminated, and the destination returned; otherwise the stored text itself.
//  - Missing: the destination (capacity >= 1) receives the default; without a default it is
//    left as it was. The result is the empty string constant, never the destination, so a
//    caller can tell a found value from a defaulted one.
const char* GetString(const ConfigDictionary& dictionary, const char* section, const char* key,
                      char* destination, int capacity, const char* defaultValue) noexcept;

// The keys of `section` in file order, each in its lower-cased lookup form (at most 96 bytes);
// empty when the section is missing or has no keys.
std::vector<std::string> ListKeys(const ConfigDictionary& dictionary, const char* section);

// Drops every section, entry and comment and the section table; releases the attached
// allocator's chunks; sets the dirty flag. The path stays; the stored modification time is
// forgotten, so the next LoadIfChanged reads the file again instead of calling the emptied
// dictionary current.
void Clear(ConfigDictionary& dictionary) noexcept;

} // namespace corvanelib
