// Feeds arbitrary bytes to the dictionary loader through a file, then walks and queries what
// it built.
#include "corvanelib/log/dictionary/ConfigDictionary.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

using namespace corvanelib;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One file per process in the temporary folder, removed when the process ends.
    static const struct Scratch {
        std::string path = (std::filesystem::temp_directory_path() /
                            ("cvn_dictionary_fuzz_" + std::to_string(getpid()) + ".ini"))
                               .string();
        ~Scratch() { std::remove(path.c_str()); }
    } scratch;
    const std::string& path = scratch.path;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), long(size));
    ConfigDictionary d;
    LoadIfChanged(d, path.c_str());
    for (const ConfigHashEntry* e = d.sections.first; e != nullptr; e = e->nextInOrder) {
        const auto* section = static_cast<const ConfigSection*>(e->value);
        if (FindSection(d, section->name) != section) {
            __builtin_trap(); // every stored section is found under its own name, and its keys
        }
        for (const std::string& key : ListKeys(d, section->name)) {
            const ConfigKeyEntry* entry = FindEntry(section, key.c_str());
            if (entry == nullptr || std::strstr(entry->Text(), " = ") == nullptr) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
