// Case-insensitive matching in UTF-8 against the slow, obvious way: decode both sides with
// ICU (a byte outside any well-formed sequence stands for itself), fold each character, and
// compare character by character. The text may be moved so that a read block ends anywhere
// inside the match.
//
// Input: one byte of mode, one byte of pattern length, the pattern, then the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <vector>

#include "core/content_matcher.h"
#include "platform/codepage.h"

using namespace ferry;

namespace {

class MemorySource : public ScanSource {
public:
    explicit MemorySource(const std::string& bytes) : Bytes(bytes) {}
    int64_t Size() override { return static_cast<int64_t>(Bytes.size()); }
    std::size_t Read(void* buffer, std::size_t count) override {
        const auto from = static_cast<std::size_t>(Position);
        const std::size_t n = from >= Bytes.size() ? 0 : std::min(count, Bytes.size() - from);
        std::memcpy(buffer, Bytes.data() + from, n);
        Position += static_cast<int64_t>(n);
        return n;
    }
    void Seek(int64_t position) override { Position = position; }

private:
    const std::string& Bytes;
    int64_t Position = 0;
};

struct Unit {
    int64_t Key;
    std::size_t Offset;
};

std::vector<Unit> Units(const std::string& s) {
    std::vector<Unit> out;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < n;) {
        const int32_t at = i;
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c < 0) {
            out.push_back({-1 - p[at], static_cast<std::size_t>(at)});
            i = at + 1;
        } else {
            out.push_back({u_foldCase(c, U_FOLD_CASE_DEFAULT), static_cast<std::size_t>(at)});
        }
    }
    return out;
}

int64_t Reference(const std::string& text, const std::string& pattern) {
    if (pattern.empty() || pattern.find('\0') != std::string::npos)
        return -1;
    const std::vector<Unit> d = Units(text), p = Units(pattern);
    for (std::size_t i = 0; i + p.size() <= d.size(); ++i) {
        std::size_t k = 0;
        while (k < p.size() && d[i + k].Key == p[k].Key)
            ++k;
        if (k == p.size())
            return static_cast<int64_t>(d[i].Offset);
    }
    return -1;
}

} // namespace

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
    if (ScanForString(source, pattern, false) != Reference(text, pattern))
        std::abort();
    return 0;
}
