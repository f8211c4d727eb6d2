// A chained hash table with prime bucket counts, keyed by byte strings of explicit length,
// holding one machine word per key. Entries also form a list in insertion order, which every
// walk follows, so a table rebuilt or written out keeps the order its keys came in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvanelib {

class BlockAllocator;

// Results of the table operations that report a status.
enum ConfigHashResult : int {
    kHashOk = 0,
    kHashNotFound = -1,
    kHashNoTable = -137,      // insert into a table that was never created
    kHashDuplicate = -153,    // the key is present (and the match function does not tell apart)
    kHashNoMemory = -161,     // no block for the entry
    kHashLookupNoTable = -201 // lookup or remove in a table that was never created
};

using ConfigHashFunction = std::uint32_t (*)(const void* key, std::uint32_t length);
// Called for a stored entry whose key equals the one asked for: 0 accepts the entry, anything
// else rejects it. `cookie` is the new value on insert and the caller's cookie on lookup.
using ConfigMatchFunction = int (*)(const void* key, void* storedValue, void* cookie);
using ConfigValueDestructor = void (*)(void* value);

// The ELF hash, each key byte taken as a signed 8-bit value (bytes above 0x7F subtract).
std::uint32_t ElfHash(const void* key, std::uint32_t length) noexcept;

struct ConfigHashEntry {
    std::uint32_t hash;
    std::uint32_t length;
    void* value;
    ConfigHashEntry* nextInOrder;
    ConfigHashEntry* previousInOrder;
    ConfigHashEntry* previousInBucket;
    ConfigHashEntry* nextInBucket;

    // The key bytes follow the entry in the same block.
    const unsigned char* Key() const noexcept {
        return reinterpret_cast<const unsigned char*>(this + 1);
    }
};

// A plain record: all-zero is the valid "not created" state, so it can be embedded in records
// taken zeroed from a BlockAllocator. Not copyable by value once created (the record owns its
// bucket array and entries); Destroy releases it.
struct ConfigHashTable {
    static constexpr int kPrimeCount = 29;
    static const std::uint32_t kPrimes[kPrimeCount];

    std::uint32_t bucketCount;
    int primeIndex;
    std::uint32_t count;
    ConfigHashFunction hash;
    ConfigMatchFunction match;
    ConfigHashEntry* first;
    ConfigHashEntry* last;
    ConfigHashEntry** buckets;
    // When set, entries come from it and are never freed one by one.
    BlockAllocator* allocator;

    bool IsCreated() const noexcept { return buckets != nullptr; }

    // Prepares an empty table with the first prime not below `requested` buckets (the largest
    // prime for larger requests). Returns kHashOk or kHashNoMemory.
    int Create(std::uint32_t requested, ConfigMatchFunction matchFunction = nullptr,
               ConfigHashFunction hashFunction = nullptr,
               BlockAllocator* entryAllocator = nullptr) noexcept;

    // Adds key -> value at the end of the insertion order. Grows to the next prime when the
    // entries outnumber the buckets. kHashOk, kHashNoTable, kHashDuplicate or kHashNoMemory.
    int Insert(const void* key, std::uint32_t length, void* value) noexcept;

    // The entry for `key`, or null (also when the table was never created).
    ConfigHashEntry* FindEntry(const void* key, std::uint32_t length,
                               void* cookie = nullptr) const noexcept;
    // As FindEntry, for a caller that already holds `hashValue`, the table's hash of the key.
    ConfigHashEntry* FindEntryHashed(const void* key, std::uint32_t length, std::uint32_t hashValue,
                                     void* cookie = nullptr) const noexcept;
    // Status form: kHashOk with *value set, kHashNotFound, or kHashLookupNoTable.
    int Find(const void* key, std::uint32_t length, void* cookie, void** value) const noexcept;
    // Value form: the value, or null when missing.
    void* Lookup(const void* key, std::uint32_t length, void* cookie = nullptr) const noexcept;

    // Unlinks and frees the entry for `key`; returns its value, or null when there is none.
    void* Remove(const void* key, std::uint32_t length, void* cookie = nullptr) noexcept;

    // Drops every entry (calling `destructor` on each value first, in insertion order) and
    // keeps the bucket array.
    void Clear(ConfigValueDestructor destructor = nullptr) noexcept;
    // Clears and releases the bucket array: the table is back to "not created".
    void Destroy(ConfigValueDestructor destructor = nullptr) noexcept;

private:
    bool Matches(const ConfigHashEntry* entry, std::uint32_t hashValue, const void* key,
                 std::uint32_t length) const noexcept;
    void Grow() noexcept;
    void FreeEntry(ConfigHashEntry* entry) noexcept;
};

} // namespace corvanelib
