#include "core/conditions/literal_search.h"

#include "platform/codepage.h"

#include <cstring>

namespace ferry {

LiteralSearch::LiteralSearch(const std::string& bytes, const TextReader& reader, bool caseSensitive)
    : Bytes_(bytes), Reader_(reader), CaseSensitive_(caseSensitive),
      Never_(bytes.empty() || bytes.find('\0') != std::string::npos) {
    if (reader.MultiByte())
        Multi_ = std::make_unique<MultiBytePattern>(reader.Page(), bytes, caseSensitive);
    else if (!caseSensitive && reader.Utf8())
        Folded_ = std::make_unique<Utf8FoldPattern>(bytes);
    else
        Plain_ = std::make_unique<BytePattern>(bytes, caseSensitive);
}

std::size_t LiteralSearch::MaxLength() const {
    return Folded_ ? Folded_->MaxMatchLength() : Bytes_.size();
}

std::size_t LiteralSearch::Overlap() const {
    return Folded_ ? Folded_->Overlap() : Bytes_.size();
}

std::size_t LiteralSearch::FindIn(const unsigned char* data, std::size_t size, std::size_t from,
                                  bool atStart, bool atEnd) const {
    if (Never_ || from >= size)
        return npos;
    std::size_t at;
    std::size_t next = 0;
    if (Multi_)
        at = Multi_->FindIn(data + from, size - from, next);
    else if (Folded_)
        at = Folded_->FindIn(data + from, size - from, atStart || from > 0, atEnd);
    else
        at = Plain_->FindIn(data + from, size - from);
    return at == npos ? npos : from + at;
}

// Character by character, each of the same length on both sides, compared as the
// multi-byte search compares: exactly, or by their upper case.
std::size_t LiteralSearch::MultiByteLengthAt(const unsigned char* data, std::size_t left) const {
    const CodePage& page = Reader_.Page();
    const auto* word = reinterpret_cast<const unsigned char*>(Bytes_.data());
    std::size_t i = 0;
    while (i < Bytes_.size()) {
        const std::size_t n = page.CharLength(word + i, Bytes_.size() - i);
        if (n == 0 || i + n > left || page.CharLength(data + i, left - i) != n)
            return 0;
        char a[4], b[4];
        std::memcpy(a, data + i, n);
        std::memcpy(b, word + i, n);
        if (!CaseSensitive_) {
            page.UpperInPlace(a, n);
            page.UpperInPlace(b, n);
        }
        if (std::memcmp(a, b, n) != 0)
            return 0;
        i += n;
    }
    return i;
}

std::size_t LiteralSearch::LengthAt(const unsigned char* data, std::size_t size,
                                    std::size_t at) const {
    if (Never_ || at >= size)
        return 0;
    const std::size_t left = size - at;
    if (Multi_)
        return MultiByteLengthAt(data + at, left);
    if (!Folded_) {
        if (left < Bytes_.size())
            return 0;
        if (CaseSensitive_)
            return std::memcmp(data + at, Bytes_.data(), Bytes_.size()) == 0 ? Bytes_.size() : 0;
        const unsigned char* upper = CharUpperTable();
        for (std::size_t i = 0; i < Bytes_.size(); ++i)
            if (upper[data[at + i]] != upper[static_cast<unsigned char>(Bytes_[i])])
                return 0;
        return Bytes_.size();
    }
    // Character by character: both fold to the same character, or a stray byte is the same.
    const auto* word = reinterpret_cast<const unsigned char*>(Bytes_.data());
    std::size_t i = 0, j = 0;
    while (j < Bytes_.size()) {
        char32_t a, b;
        const std::size_t da = Reader_.Decode(data + at + i, left - i, a);
        const std::size_t db = Reader_.Decode(word + j, Bytes_.size() - j, b);
        if (da == 0 || FoldChar(a) != FoldChar(b))
            return 0;
        i += da;
        j += db;
    }
    return i;
}

} // namespace ferry
