// The RTF reader on any bytes: it ends, within its bounds, with well-formed UTF-8 or with a
// reason, and never reads outside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "doctext/charset.h"
#include "doctext/rtf_text.h"
#include "doctext/text_sink.h"

using namespace ferry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = "{\\rtf1 " + std::string(reinterpret_cast<const char*>(data), size);
    try {
        const std::string text = RtfText(input, 1 << 16);
        if (text.size() > (1 << 16) || !IsUtf8(text))
            std::abort();
    } catch (const ReadFailure&) {
    }
    return 0;
}
