// Case-insensitive matching in UTF-8 against the slow, obvious way (support/fold_reference.h).
// The text may be moved so that a read block ends anywhere inside the match.
//
// Input: one byte of mode, one byte of pattern length, the pattern, then the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/content_matcher.h"
#include "platform/codepage.h"
#include "support/fold_reference.h"

using namespace ferry;
using ferry::test::FoldReference;
using ferry::test::MemorySource;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetSystemCodePage(CodePage::Utf8());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t mode = data[0];
    const std::size_t length = std::min<std::size_t>(data[1], size - 2);
    const std::string pattern(reinterpret_cast<const char*>(data + 2), length);
    std::string text(reinterpret_cast<const char*>(data + 2 + length), size - 2 - length);
    // Filler that cannot take part in a match, so that the first block ends `mode` bytes
    // into the text.
    if (mode & 0x80)
        text.insert(0, std::string(32768 - (mode & 0x3F), '\x01'));
    MemorySource source(text);
    if (ScanForString(source, pattern, false) != FoldReference(text, pattern))
        std::abort();
    return 0;
}
