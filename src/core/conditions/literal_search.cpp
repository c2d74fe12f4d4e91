#include "core/conditions/literal_search.h"

#include "platform/codepage.h"

#include <cstring>

namespace ferry {

LiteralSearch::LiteralSearch(const std::string& bytes, const TextReader& reader, bool caseSensitive)
    : Bytes_(bytes), Reader_(reader), CaseSensitive_(caseSensitive),
      Never_(bytes.empty() || bytes.find('\0') != std::string::npos) {
    if (!caseSensitive && reader.Utf8())
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
    if (Folded_)
        at = Folded_->FindIn(data + from, size - from, atStart || from > 0, atEnd);
    else
        at = Plain_->FindIn(data + from, size - from);
    return at == npos ? npos : from + at;
}

std::size_t LiteralSearch::LengthAt(const unsigned char* data, std::size_t size,
                                    std::size_t at) const {
    if (Never_ || at >= size)
        return 0;
    const std::size_t left = size - at;
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
