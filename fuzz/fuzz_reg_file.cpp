// .reg files come from anywhere. Whatever the parser accepts must write back, in both forms,
// to a file that parses to the very same keys and values.

#include "ferrydesk-reg/reg_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace ferry;

namespace {

bool Same(const RegFile& a, const RegFile& b) {
    if (a.Keys.size() != b.Keys.size())
        return false;
    for (size_t i = 0; i < a.Keys.size(); ++i) {
        const RegFileKey& x = a.Keys[i];
        const RegFileKey& y = b.Keys[i];
        if (x.Root != y.Root || x.Path != y.Path || x.Delete != y.Delete ||
            x.Values.size() != y.Values.size())
            return false;
        for (size_t j = 0; j < x.Values.size(); ++j) {
            const RegFileValue& v = x.Values[j];
            const RegFileValue& w = y.Values[j];
            if (v.Name != w.Name || v.Delete != w.Delete ||
                (!v.Delete && (v.Type != w.Type || v.Data != w.Data)))
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RegFile parsed;
    std::string error;
    if (!ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size), parsed, error))
        return 0;
    for (bool unicode : {false, true}) {
        std::string bytes;
        if (!WriteRegFile(parsed, unicode, bytes, error))
            continue; // a name with a line break in it: refused, never written wrongly
        RegFile again;
        if (!ParseRegFile(bytes, again, error) || !Same(parsed, again))
            std::abort();
    }
    return 0;
}
