#include "platform/multibyte_charset.h"

#include <cerrno>
#include <iconv.h>
#include <unicode/uchar.h>
#include <unordered_map>
#include <utility>

namespace ferry {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

class Converter {
public:
    Converter(const char* to, const char* from) : Cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (Cd_ != kNoConverter)
            iconv_close(Cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Ok() const { return Cd_ != kNoConverter; }
    iconv_t Get() const { return Cd_; }

private:
    iconv_t Cd_;
};

enum class Probe { Ok, Invalid, Short };

// One trial conversion to UTF-32LE; cp is set when the bytes made exactly one character.
Probe Try(iconv_t cd, const unsigned char* bytes, std::size_t n, char32_t& cp) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    unsigned char out[32];
    char* outp = reinterpret_cast<char*>(out);
    std::size_t inLeft = n, outLeft = sizeof out;
    if (iconv(cd, &in, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1))
        return errno == EINVAL ? Probe::Short : Probe::Invalid;
    if (inLeft != 0)
        return Probe::Invalid;
    cp = sizeof out - outLeft == 4
             ? (out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<char32_t>(out[3]) << 24))
             : 0xFFFFFFFF;
    return Probe::Ok;
}

} // namespace

std::shared_ptr<const MultiByteCharset> MultiByteCharset::Load(const std::string& iconvName) {
    Converter probe("UTF-32LE", iconvName.c_str());
    if (!probe.Ok())
        return nullptr;
    std::shared_ptr<MultiByteCharset> set(new MultiByteCharset);
    set->IconvName_ = iconvName;
    // Every character of one or two bytes with its code point, for the case table.
    std::vector<std::pair<unsigned, char32_t>> chars;
    bool multi = false;
    for (unsigned b = 0; b < 256; ++b) {
        set->Length_[b] = 1;
        set->Upper1_[b] = static_cast<unsigned char>(b);
        unsigned char bytes[3] = {static_cast<unsigned char>(b), 0, 0};
        char32_t cp = 0;
        const Probe alone = Try(probe.Get(), bytes, 1, cp);
        if (alone == Probe::Ok)
            chars.emplace_back(b, cp);
        if (alone != Probe::Short)
            continue;
        bool pairs = false;
        std::vector<unsigned> longer; // second bytes after which more must follow
        for (unsigned t = 0; t < 256; ++t) {
            bytes[1] = static_cast<unsigned char>(t);
            const Probe two = Try(probe.Get(), bytes, 2, cp);
            if (two == Probe::Invalid)
                continue;
            set->Trail_[t] = true;
            if (two == Probe::Ok) {
                pairs = true;
                chars.emplace_back(b << 8 | t, cp);
            } else {
                longer.push_back(t);
            }
        }
        if (pairs) {
            // Two bytes, or four where the second byte says so (GB18030's digits).
            set->Length_[b] = 2;
            for (unsigned t : longer)
                set->Longer_[t] = true;
        } else if (!longer.empty()) {
            // Three bytes (EUC-JP's supplementary plane) or four (EUC-TW's planes).
            bytes[1] = static_cast<unsigned char>(longer.front());
            bool three = false;
            for (unsigned u = 0; u < 256; ++u) {
                bytes[2] = static_cast<unsigned char>(u);
                const Probe r = Try(probe.Get(), bytes, 3, cp);
                set->Trail_[u] = set->Trail_[u] || r != Probe::Invalid;
                three = three || r == Probe::Ok;
            }
            set->Length_[b] = three ? 3 : 4;
        }
        multi = multi || set->Length_[b] > 1;
    }
    if (!multi)
        return nullptr;
    // A byte that may follow a lead byte in the middle of a character, yet opens nothing
    // itself (GB18030's digits), would be taken for the end of a character.
    bool longer = false, threeOrFour = false, loneTrail = false;
    for (unsigned b = 0; b < 256; ++b) {
        longer = longer || set->Longer_[b];
        threeOrFour = threeOrFour || set->Length_[b] > 2;
        loneTrail = loneTrail || (set->Trail_[b] && set->Length_[b] == 1);
    }
    set->Resyncs_ = !longer && !(threeOrFour && loneTrail);

    std::unordered_map<char32_t, unsigned> codeOf;
    for (const auto& [code, cp] : chars)
        codeOf.emplace(cp, code);
    for (const auto& [code, cp] : chars) {
        const auto upper = static_cast<char32_t>(u_toupper(static_cast<UChar32>(cp)));
        auto it = upper != cp ? codeOf.find(upper) : codeOf.end();
        if (it == codeOf.end() || (code < 0x100) != (it->second < 0x100))
            continue;
        if (code < 0x100) {
            set->Upper1_[code] = static_cast<unsigned char>(it->second);
            continue;
        }
        if (set->Upper2_.empty()) {
            set->Upper2_.resize(0x10000);
            for (unsigned i = 0; i < 0x10000; ++i)
                set->Upper2_[i] = static_cast<unsigned short>(i);
        }
        set->Upper2_[code] = static_cast<unsigned short>(it->second);
        set->Cased_[code >> 8] = true;
    }
    return set;
}

std::size_t MultiByteCharset::LastBoundary(const unsigned char* data, std::size_t size,
                                           std::size_t position) const {
    std::size_t at = 0;
    if (Resyncs_) {
        // Back over the bytes that may open a character: the one before them ends one.
        at = position;
        while (at > 0 && Length_[data[at - 1]] > 1)
            --at;
    }
    for (;;) {
        const std::size_t n = CharLength(data + at, size - at);
        if (n == 0 || at + n > position)
            return at;
        at += n;
    }
}

void MultiByteCharset::Upper(unsigned char* text, std::size_t length) const {
    for (std::size_t i = 0; i < length;) {
        const unsigned char b = text[i];
        if (Length_[b] == 1) {
            text[i++] = Upper1_[b];
            continue;
        }
        const std::size_t n = CharLength(text + i, length - i);
        if (n == 0)
            break;
        if (n == 1) {
            text[i] = Upper1_[b];
        } else if (n == 2 && Cased_[b]) {
            const unsigned short u = Upper2_[static_cast<unsigned>(b) << 8 | text[i + 1]];
            text[i] = static_cast<unsigned char>(u >> 8);
            text[i + 1] = static_cast<unsigned char>(u & 0xFF);
        }
        i += n;
    }
}

std::u16string MultiByteCharset::ToUtf16(std::string_view bytes) const {
    std::u16string out;
    Converter cd("UTF-16LE", IconvName_.c_str());
    if (!cd.Ok()) {
        for (char c : bytes)
            out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(c));
        return out;
    }
    // Four bytes of UTF-16 are the most one byte of input can give (a lone byte, or a
    // four-byte character beyond the BMP).
    std::string buffer(4 * bytes.size() + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outp = buffer.data();
    std::size_t outLeft = buffer.size();
    while (inLeft > 0) {
        if (iconv(cd.Get(), &in, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG)
            break; // cannot happen with the room above
        // A byte that begins no character here, or a character cut off at the end.
        const auto b = static_cast<unsigned char>(*in);
        *outp++ = static_cast<char>(b);
        *outp++ = static_cast<char>(0xDC);
        outLeft -= 2;
        ++in;
        --inLeft;
        iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    const std::size_t produced = buffer.size() - outLeft;
    out.reserve(produced / 2);
    for (std::size_t i = 0; i + 1 < produced; i += 2)
        out += static_cast<char16_t>(static_cast<unsigned char>(buffer[i]) |
                                     static_cast<unsigned char>(buffer[i + 1]) << 8);
    return out;
}

bool MultiByteCharset::FromUtf16Exact(std::u16string_view text, std::string& out,
                                      char32_t& missing) const {
    out.clear();
    out.reserve(text.size() * 2);
    Converter cd(IconvName_.c_str(), "UTF-16LE");
    bool whole = true;
    auto lack = [&](char32_t c) {
        if (whole)
            missing = c;
        whole = false;
        out += '?';
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        std::size_t units = 1;
        char32_t cp = c;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            units = 2;
            cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out += static_cast<char>(c - 0xDC00); // a byte kept as it was read
            continue;
        } else if (c >= 0xD800 && c < 0xE000) {
            lack(c);
            continue;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        char in[4];
        for (std::size_t k = 0; k < units; ++k) {
            in[2 * k] = static_cast<char>(text[i + k] & 0xFF);
            in[2 * k + 1] = static_cast<char>(text[i + k] >> 8);
        }
        char encoded[16];
        char* inp = in;
        char* outp = encoded;
        std::size_t inLeft = 2 * units, outLeft = sizeof encoded;
        if (!cd.Ok() ||
            iconv(cd.Get(), &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1)) {
            if (cd.Ok())
                iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
            lack(cp);
        } else {
            out.append(encoded, sizeof encoded - outLeft);
        }
        i += units - 1;
    }
    return whole;
}

} // namespace ferry
