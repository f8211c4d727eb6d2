#include "corvanelib/log/dictionary/ConfigHashTable.h"

#include "corvanelib/log/dictionary/BlockAllocator.h"

#include <cstdlib>
#include <cstring>

namespace corvanelib {

const std::uint32_t ConfigHashTable::kPrimes[ConfigHashTable::kPrimeCount] = {
    5,         11,        19,        53,         107,       223,      463,      983,
    1979,      3907,      7963,      16229,      32531,     65407,    130987,   262237,
    524521,    1048793,   2097397,   4194103,    8388857,   16777447, 33554201, 67108961,
    134217487, 268435697, 536870683, 1073741621, 2147483399};

std::uint32_t ElfHash(const void* key, std::uint32_t length) noexcept {
    const auto* bytes = static_cast<const signed char*>(key);
    std::uint32_t h = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        h = (h << 4) + static_cast<std::uint32_t>(static_cast<std::int32_t>(bytes[i]));
        const std::uint32_t g = h & 0xF0000000u;
        if (g != 0) {
            h = h ^ (g >> 24) ^ g;
        }
    }
    return h;
}

int ConfigHashTable::Create(std::uint32_t requested, ConfigMatchFunction matchFunction,
                            ConfigHashFunction hashFunction,
                            BlockAllocator* entryAllocator) noexcept {
    int index = 0;
    while (index < kPrimeCount - 1 && kPrimes[index] < requested) {
        ++index;
    }
    auto** array =
        static_cast<ConfigHashEntry**>(std::calloc(kPrimes[index], sizeof(ConfigHashEntry*)));
    if (array == nullptr) {
        return kHashNoMemory;
    }
    bucketCount = kPrimes[index];
    primeIndex = index;
    count = 0;
    hash = hashFunction != nullptr ? hashFunction : &ElfHash;
    match = matchFunction;
    first = nullptr;
    last = nullptr;
    buckets = array;
    allocator = entryAllocator;
    return kHashOk;
}

bool ConfigHashTable::Matches(const ConfigHashEntry* entry, std::uint32_t hashValue,
                              const void* key, std::uint32_t length) const noexcept {
    return entry->hash == hashValue && entry->length == length &&
           (length == 0 || std::memcmp(entry->Key(), key, length) == 0);
}

int ConfigHashTable::Insert(const void* key, std::uint32_t length, void* value) noexcept {
    if (buckets == nullptr) {
        return kHashNoTable;
    }
    const std::uint32_t hashValue = hash(key, length);
    ConfigHashEntry*& head = buckets[hashValue % bucketCount];
    for (const ConfigHashEntry* e = head; e != nullptr; e = e->nextInBucket) {
        if (Matches(e, hashValue, key, length) &&
            (match == nullptr || match(key, e->value, value) == 0)) {
            return kHashDuplicate;
        }
    }

    const std::size_t bytes = sizeof(ConfigHashEntry) + length;
    void* block = allocator != nullptr ? allocator->Allocate(bytes) : std::malloc(bytes);
    if (block == nullptr) {
        return kHashNoMemory;
    }
    auto* entry = static_cast<ConfigHashEntry*>(block);
    entry->hash = hashValue;
    entry->length = length;
    entry->value = value;
    if (length != 0) {
        std::memcpy(entry + 1, key, length);
    }

    entry->previousInBucket = nullptr;
    entry->nextInBucket = head;
    if (head != nullptr) {
        head->previousInBucket = entry;
    }
    head = entry;

    entry->nextInOrder = nullptr;
    entry->previousInOrder = last;
    if (last != nullptr) {
        last->nextInOrder = entry;
    } else {
        first = entry;
    }
    last = entry;

    ++count;
    if (count > bucketCount) {
        Grow();
    }
    return kHashOk;
}

// A failed resize keeps the current array: the table stays correct, only its chains get longer.
void ConfigHashTable::Grow() noexcept {
    if (primeIndex >= kPrimeCount - 1) {
        return;
    }
    const std::uint32_t newCount = kPrimes[primeIndex + 1];
    auto** array = static_cast<ConfigHashEntry**>(std::calloc(newCount, sizeof(ConfigHashEntry*)));
    if (array == nullptr) {
        return;
    }
    std::free(buckets);
    buckets = array;
    bucketCount = newCount;
    ++primeIndex;
    for (ConfigHashEntry* e = first; e != nullptr; e = e->nextInOrder) {
        ConfigHashEntry*& head = buckets[e->hash % bucketCount];
        e->previousInBucket = nullptr;
        e->nextInBucket = head;
        if (head != nullptr) {
            head->previousInBucket = e;
        }
        head = e;
    }
}

ConfigHashEntry* ConfigHashTable::FindEntry(const void* key, std::uint32_t length,
                                            void* cookie) const noexcept {
    if (buckets == nullptr) {
        return nullptr;
    }
    return FindEntryHashed(key, length, hash(key, length), cookie);
}

ConfigHashEntry* ConfigHashTable::FindEntryHashed(const void* key, std::uint32_t length,
                                                  std::uint32_t hashValue,
                                                  void* cookie) const noexcept {
    if (buckets == nullptr) {
        return nullptr;
    }
    for (ConfigHashEntry* e = buckets[hashValue % bucketCount]; e != nullptr; e = e->nextInBucket) {
        if (Matches(e, hashValue, key, length) &&
            (match == nullptr || cookie == nullptr || match(key, e->value, cookie) == 0)) {
            return e;
        }
    }
    return nullptr;
}

int ConfigHashTable::Find(const void* key, std::uint32_t length, void* cookie,
                          void** value) const noexcept {
    if (buckets == nullptr) {
        return kHashLookupNoTable;
    }
    const ConfigHashEntry* entry = FindEntry(key, length, cookie);
    if (entry == nullptr) {
        return kHashNotFound;
    }
    if (value != nullptr) {
        *value = entry->value;
    }
    return kHashOk;
}

void* ConfigHashTable::Lookup(const void* key, std::uint32_t length, void* cookie) const noexcept {
    const ConfigHashEntry* entry = FindEntry(key, length, cookie);
    return entry != nullptr ? entry->value : nullptr;
}

void* ConfigHashTable::Remove(const void* key, std::uint32_t length, void* cookie) noexcept {
    ConfigHashEntry* entry = FindEntry(key, length, cookie);
    if (entry == nullptr) {
        return nullptr;
    }
    if (entry->previousInBucket != nullptr) {
        entry->previousInBucket->nextInBucket = entry->nextInBucket;
    } else {
        buckets[entry->hash % bucketCount] = entry->nextInBucket;
    }
    if (entry->nextInBucket != nullptr) {
        entry->nextInBucket->previousInBucket = entry->previousInBucket;
    }
    if (entry->previousInOrder != nullptr) {
        entry->previousInOrder->nextInOrder = entry->nextInOrder;
    } else {
        first = entry->nextInOrder;
    }
    if (entry->nextInOrder != nullptr) {
        entry->nextInOrder->previousInOrder = entry->previousInOrder;
    } else {
        last = entry->previousInOrder;
    }
    --count;
    void* value = entry->value;
    FreeEntry(entry);
    return value;
}

void ConfigHashTable::FreeEntry(ConfigHashEntry* entry) noexcept {
    if (allocator == nullptr) {
        std::free(entry);
    }
}

void ConfigHashTable::Clear(ConfigValueDestructor destructor) noexcept {
    ConfigHashEntry* e = first;
    while (e != nullptr) {
        ConfigHashEntry* next = e->nextInOrder;
        if (destructor != nullptr) {
            destructor(e->value);
        }
        FreeEntry(e);
        e = next;
    }
    if (buckets != nullptr) {
        std::memset(buckets, 0, sizeof(ConfigHashEntry*) * bucketCount);
    }
    count = 0;
    first = nullptr;
    last = nullptr;
}

void ConfigHashTable::Destroy(ConfigValueDestructor destructor) noexcept {
    Clear(destructor);
    std::free(buckets);
    *this = ConfigHashTable{};
}

} // namespace corvanelib
