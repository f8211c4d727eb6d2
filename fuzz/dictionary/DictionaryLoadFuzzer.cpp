// Feeds arbitrary bytes to the dictionary loader through a file, then walks and queries what
// it built, with and without a bump allocator.
#include "corvanelib/log/dictionary/ConfigDictionary.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

using namespace corvanelib;

namespace {

const std::string& InputPath() {
    static const std::string path =
        "/tmp/cvn_dictionary_fuzz_" + std::to_string(static_cast<long>(getpid())) + ".ini";
    return path;
}

void Exercise(ConfigDictionary& d) {
    char buffer[8];
    for (const ConfigHashEntry* e = d.sections.first; e != nullptr; e = e->nextInOrder) {
        const auto* section = static_cast<const ConfigSection*>(e->value);
        const std::string name(section->name != nullptr ? section->name : "");
        if (FindSection(d, name.c_str()) == nullptr && name.find('\0') == std::string::npos) {
            __builtin_trap(); // a stored section must be found under its own name
        }
        for (const std::string& key : ListKeys(d, name.c_str())) {
            const ConfigKeyEntry* entry = FindEntry(section, key.c_str());
            if (entry == nullptr || std::strstr(entry->Text(), " = ") == nullptr) {
                __builtin_trap();
            }
            GetString(d, name.c_str(), key.c_str(), buffer, sizeof(buffer), "d");
            GetString(d, name.c_str(), key.c_str(), nullptr, 0, nullptr);
        }
    }
    GetString(d, "missing", "key", buffer, sizeof(buffer), "default");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(InputPath().c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    {
        ConfigDictionary d;
        if (LoadIfChanged(d, InputPath().c_str()) == kLoadOk) {
            Exercise(d);
        }
    }
    // The allocator's megabyte chunk dominates a run's cost: exercise it on every other input.
    if (size % 2 == 1) {
        BlockAllocator allocator;
        ConfigDictionary d;
        d.allocator = &allocator;
        if (LoadIfChanged(d, InputPath().c_str()) == kLoadOk) {
            Exercise(d);
        }
        Clear(d);
    }
    return 0;
}
