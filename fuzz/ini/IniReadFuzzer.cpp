// Any bytes read as an INI file: no fault, and the image is stable across writing. A file
// written once reads back to an image that writes the same bytes again, and every value that
// the first reading found is found again with the same text.
#include "console/config/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CIniFile first;
    CIniFile second;
    first.SetClock([]() -> std::time_t { return 1796385600; });
    first.Parse(reinterpret_cast<const char*>(data), size);
    const std::string once = first.Serialize();
    second.Parse(once.data(), once.size());
    Check(second.Serialize() == once && first.GetNumKeys() == second.GetNumKeys());
    for (int k = 1; k <= first.GetNumKeys(); ++k) {
        const std::string key(first.Keys()[k].name);
        Check(second.Keys()[k].name == key);
        for (const CIniFile::s_ident& ident : first.Keys()[k].idents) {
            const std::string name(ident.name);
            Check(ident.comment || second.GetValue(key.c_str(), name.c_str()) ==
                                       first.GetValue(key.c_str(), name.c_str()));
        }
    }
    // The binary getter stays in bounds on whatever the input holds.
    const std::string key = first.GetKeyName(0);
    const std::string name = first.GetValueName(1, 0);
    unsigned char bytes[8];
    std::size_t count = sizeof bytes;
    first.GetValueBinary(key.c_str(), name.c_str(), bytes, count);
    Check(count <= sizeof bytes);
    return 0;
}
