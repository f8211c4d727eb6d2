// Feeds arbitrary bytes to the dictionary loader through a file, then walks and queries what
// it built, with and without a block allocator.
#include "corvanelib/log/dictionary/ConfigDictionary.h"

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

using namespace corvanelib;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/cvn_dictionary_fuzz_" + std::to_string(getpid()) + ".ini";
    if (!(std::ofstream(path, std::ios::binary)
              .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size)))) {
        return 0;
    }
    BlockAllocator allocator;
    ConfigDictionary d;
    // The allocator's megabyte chunk dominates a run's cost: attach it on every other input.
    d.allocator = size % 2 == 1 ? &allocator : nullptr;
    if (LoadIfChanged(d, path.c_str()) != kLoadOk) {
        return 0;
    }
    char buffer[8];
    for (const ConfigHashEntry* e = d.sections.first; e != nullptr; e = e->nextInOrder) {
        const auto* section = static_cast<const ConfigSection*>(e->value);
        const std::string name(section->name != nullptr ? section->name : "");
        if (FindSection(d, name.c_str()) == nullptr) {
            __builtin_trap(); // a stored section must be found under its own name
        }
        for (const std::string& key : ListKeys(d, name.c_str())) {
            const ConfigKeyEntry* entry = FindEntry(section, key.c_str());
            if (entry == nullptr || std::strstr(entry->Text(), " = ") == nullptr) {
                __builtin_trap();
            }
            GetString(d, name.c_str(), key.c_str(), buffer, sizeof(buffer), "d");
        }
    }
    return 0;
}
