// Shift JIS text of any bytes: the result must be 7-bit and end in ASCII mode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/iso2022jp.h"

using namespace ferry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // ESC passes through as ASCII; left in, it would look like the escapes checked below.
    std::string input;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0x1B)
            input += static_cast<char>(data[i]);
    std::string out = ConvertToIso2022Jp(input);
    bool jis = false;
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (c >= 0x80)
            std::abort();
        if (out.compare(i, 3, "\x1B$B") == 0 && !jis) {
            jis = true;
            i += 2;
        } else if (out.compare(i, 3, "\x1B(B") == 0 && jis) {
            jis = false;
            i += 2;
        } else if (jis) {
            // Inside a run only JIS X 0208 byte pairs, both bytes 0x21..0x7E.
            if (i + 1 >= out.size() || c < 0x21 || c > 0x7E ||
                static_cast<unsigned char>(out[i + 1]) < 0x21 ||
                static_cast<unsigned char>(out[i + 1]) > 0x7E)
                std::abort();
            ++i;
        }
    }
    if (jis)
        std::abort();
    return 0;
}
