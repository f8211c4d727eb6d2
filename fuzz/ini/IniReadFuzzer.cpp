// Any bytes read as an INI file: no fault, and the image is stable across writing. A file
// written once reads back to an image that writes the same bytes again, and every value that
// the first reading found is found again with the same text.
#include "IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::time_t FixedClock() {
    return 1796385600;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CIniFile first;
    first.SetClock(FixedClock);
    first.Parse(reinterpret_cast<const char*>(data), size);
    Check(!first.Keys().empty() && first.Keys()[0].name == CIniFile::kNoteKeyName);

    const std::string once = first.Serialize();
    CIniFile second;
    second.SetClock(FixedClock);
    second.Parse(once.data(), once.size());
    Check(second.Serialize() == once);

    // Same keys in the same order, and the same value for the first pair of every name.
    Check(first.GetNumKeys() == second.GetNumKeys());
    for (int k = 1; k <= first.GetNumKeys(); ++k) {
        const CIniFile::s_key& key = first.Keys()[k];
        Check(second.Keys()[k].name == key.name);
        const std::string keyName(key.name);
        for (const CIniFile::s_ident& ident : key.idents) {
            if (!ident.comment) {
                const std::string name(ident.name);
                Check(second.GetValue(keyName.c_str(), name.c_str()) ==
                      first.GetValue(keyName.c_str(), name.c_str()));
            }
        }
    }

    // Lookups and typed getters on whatever the input holds stay in bounds.
    if (first.GetNumKeys() > 0) {
        const std::string name = first.GetKeyName(0);
        const std::string value = first.GetValueName(1, 0);
        first.GetValueI(name.c_str(), value.c_str());
        first.GetValueUL(name.c_str(), value.c_str());
        first.GetValueF(name.c_str(), value.c_str());
        first.GetValueB(name.c_str(), value.c_str());
        unsigned char bytes[8];
        std::size_t count = sizeof bytes;
        first.GetValueBinary(name.c_str(), value.c_str(), bytes, count);
        Check(count <= sizeof bytes);
    }
    return 0;
}
