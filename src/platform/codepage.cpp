#include "platform/codepage.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <mutex>
#include <unicode/uchar.h>

#include "platform/multibyte_charset.h"

namespace ferry {

namespace {

using UpperArray = std::array<unsigned char, 256>;
using CharArray = std::array<char16_t, 256>;
using ReverseList = std::vector<std::pair<char16_t, unsigned char>>;

constexpr char16_t kNoChar = 0xFFFF;

// Bytes 0x80 to 0x9F of Windows-1252; the five it leaves undefined stand for the C1
// control of the same number, so every byte has a character and back.
constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

UpperArray Make1252Upper() {
    UpperArray table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c);
    for (int c = 'a'; c <= 'z'; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - 0x20);
    for (int c = 0xE0; c <= 0xFE; ++c)
        if (c != 0xF7)
            table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - 0x20);
    table[0x9A] = 0x8A; // s caron
    table[0x9C] = 0x8C; // oe ligature
    table[0x9E] = 0x8E; // z caron
    table[0xFF] = 0x9F; // y diaeresis
    return table;
}

UpperArray MakeAsciiUpper() {
    UpperArray table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] =
            static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
    return table;
}

std::shared_ptr<const ReverseList> MakeReverse(const CharArray& chars) {
    ReverseList list;
    for (int b = 0; b < 256; ++b)
        if (chars[static_cast<std::size_t>(b)] != kNoChar)
            list.emplace_back(chars[static_cast<std::size_t>(b)], static_cast<unsigned char>(b));
    std::sort(list.begin(), list.end());
    return std::make_shared<const ReverseList>(std::move(list));
}

std::string Normalised(std::string_view name) {
    std::string out;
    for (char c : name)
        if (c != '-' && c != '_')
            out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
    return out;
}

// The names a locale gives Shift JIS; all are read as code page 932, as the desktop's other
// programs do, so that 0x5C stays the backslash of paths.
bool IsShiftJisName(const std::string& charset) {
    const std::string n = Normalised(charset);
    return n == "SJIS" || n == "SHIFTJIS" || n == "CP932" || n == "WINDOWS31J" || n == "MS932" ||
           n == "CSSHIFTJIS" || n == "CSWINDOWS31J";
}

bool IsCLocale(const std::string& name) {
    return name.empty() || name == "C" || name == "POSIX";
}

// What each byte means in a single-byte character set, asked of iconv. False when the set
// is unknown or takes more than one byte for some characters.
bool LoadSingleByte(const std::string& charset, CharArray& chars) {
    iconv_t cd = iconv_open("UTF-32LE", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    bool single = true;
    for (int b = 0; b < 256 && single; ++b) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in = static_cast<char>(b);
        unsigned char out[16];
        char* inp = &in;
        char* outp = reinterpret_cast<char*>(out);
        std::size_t inLeft = 1, outLeft = sizeof out;
        const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == EINVAL)
                single = false; // the byte begins a longer character
            chars[static_cast<std::size_t>(b)] = kNoChar;
            continue;
        }
        const std::size_t produced = sizeof out - outLeft;
        const char32_t cp =
            out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<char32_t>(out[3]) << 24);
        const bool fits = produced == 4 && cp < 0xFFFF && (cp < 0xD800 || cp >= 0xE000);
        chars[static_cast<std::size_t>(b)] = fits ? static_cast<char16_t>(cp) : kNoChar;
    }
    iconv_close(cd);
    return single;
}

// The character set a locale name states after its dot: "ru_RU.KOI8-R@x" gives "KOI8-R".
std::string CharsetOfName(const std::string& name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos)
        return {};
    return name.substr(dot + 1, name.find('@', dot) - dot - 1);
}

std::atomic<const CodePage*> Current{nullptr};

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

// Every code page ever made current, kept alive: a caller may still hold one.
std::vector<std::unique_ptr<const CodePage>>& Kept() {
    static std::vector<std::unique_ptr<const CodePage>> kept;
    return kept;
}

} // namespace

int DecodeUtf8(const unsigned char* p, std::size_t available, char32_t& cp) {
    if (available == 0)
        return -1;
    const unsigned char b = p[0];
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    int length;
    unsigned char low = 0x80, high = 0xBF; // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0;
        else if (b == 0xED)
            high = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    char32_t value = b & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if (static_cast<std::size_t>(i) >= available)
            return -1;
        const unsigned char c = p[i];
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
            return 0;
        value = (value << 6) | (c & 0x3F);
    }
    cp = value;
    return length;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

CodePage CodePage::Windows1252() {
    static const auto upper = std::make_shared<const UpperArray>(Make1252Upper());
    static const auto chars = [] {
        CharArray c{};
        for (int b = 0; b < 256; ++b)
            c[static_cast<std::size_t>(b)] =
                b >= 0x80 && b < 0xA0 ? kHigh1252[b - 0x80] : static_cast<char16_t>(b);
        return std::make_shared<const CharArray>(c);
    }();
    static const auto reverse = MakeReverse(*chars);
    CodePage cp;
    cp.Kind_ = Kind::Windows1252;
    cp.Name_ = "WINDOWS-1252";
    cp.Upper_ = upper;
    cp.Chars_ = chars;
    cp.Reverse_ = reverse;
    return cp;
}

CodePage CodePage::Utf8() {
    static const auto upper = std::make_shared<const UpperArray>(MakeAsciiUpper());
    CodePage cp;
    cp.Kind_ = Kind::Utf8;
    cp.Name_ = "UTF-8";
    cp.Upper_ = upper;
    return cp;
}

bool CodePage::ForLocale(const std::string& locale, CodePage& out) {
    if (IsCLocale(locale)) {
        out = Windows1252();
        return true;
    }
    std::string charset;
    if (locale_t loc = newlocale(LC_CTYPE_MASK, locale.c_str(), static_cast<locale_t>(0))) {
        charset = nl_langinfo_l(CODESET, loc);
        freelocale(loc);
        // The C locale's plain ASCII names no code page of its own.
        if (charset == "ANSI_X3.4-1968" || charset == "ASCII") {
            out = Windows1252();
            return true;
        }
    } else {
        charset = CharsetOfName(locale);
    }
    if (charset.empty())
        return false;
    if (Normalised(charset) == "UTF8") {
        out = Utf8();
        return true;
    }
    CharArray chars{};
    if (!LoadSingleByte(charset, chars)) {
        const bool shiftJis = IsShiftJisName(charset);
        auto multi = MultiByteCharset::Load(shiftJis ? "CP932" : charset);
        if (!multi)
            return false;
        CodePage cp;
        cp.Kind_ = Kind::MultiByte;
        cp.Name_ = charset;
        cp.ShiftJis_ = shiftJis;
        UpperArray upper{};
        std::copy_n(multi->SingleUpper(), upper.size(), upper.begin());
        cp.Upper_ = std::make_shared<const UpperArray>(upper);
        cp.Multi_ = std::move(multi);
        out = std::move(cp);
        return true;
    }
    UpperArray upper{};
    auto reverse = MakeReverse(chars);
    for (int b = 0; b < 256; ++b) {
        upper[static_cast<std::size_t>(b)] = static_cast<unsigned char>(b);
        const char16_t c = chars[static_cast<std::size_t>(b)];
        if (c == kNoChar)
            continue;
        const auto u = static_cast<char16_t>(u_toupper(c));
        auto it = std::lower_bound(reverse->begin(), reverse->end(),
                                   std::make_pair(u, static_cast<unsigned char>(0)));
        if (u != c && it != reverse->end() && it->first == u)
            upper[static_cast<std::size_t>(b)] = it->second;
    }
    out.Kind_ = Kind::SingleByte;
    out.Name_ = charset;
    out.Upper_ = std::make_shared<const UpperArray>(upper);
    out.Chars_ = std::make_shared<const CharArray>(chars);
    out.Reverse_ = std::move(reverse);
    return true;
}

CodePage CodePage::FromEnvironment() {
    std::string name;
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(var);
        if (v != nullptr && *v != '\0') {
            name = v;
            break;
        }
    }
    CodePage cp;
    if (ForLocale(name, cp))
        return cp;
    // A locale this system does not know says nothing usable; today's file names and
    // terminals are UTF-8.
    return Utf8();
}

std::size_t CodePage::CharLength(const unsigned char* p, std::size_t available) const {
    if (Kind_ == Kind::MultiByte)
        return Multi_->CharLength(p, available);
    if (available == 0)
        return 0;
    if (Kind_ != Kind::Utf8)
        return 1;
    char32_t cp;
    const int length = DecodeUtf8(p, available, cp);
    return length > 0 ? static_cast<std::size_t>(length) : length == 0 ? 1 : 0;
}

void CodePage::UpperInPlace(char* text, std::size_t length) const {
    if (Kind_ == Kind::MultiByte) {
        Multi_->Upper(reinterpret_cast<unsigned char*>(text), length);
        return;
    }
    const unsigned char* upper = UpperTable();
    for (std::size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>(upper[static_cast<unsigned char>(text[i])]);
}

std::u16string CodePage::ToUtf16(std::string_view bytes) const {
    if (Kind_ == Kind::MultiByte)
        return Multi_->ToUtf16(bytes);
    std::u16string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    if (Kind_ != Kind::Utf8) {
        for (std::size_t i = 0; i < n; ++i) {
            const char16_t c = (*Chars_)[p[i]];
            out += c == kNoChar ? static_cast<char16_t>(0xDC00 + p[i]) : c;
        }
        return out;
    }
    for (std::size_t i = 0; i < n;) {
        char32_t cp = 0;
        const int length = DecodeUtf8(p + i, n - i, cp);
        if (length <= 0) {
            out += static_cast<char16_t>(0xDC00 + p[i]);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += static_cast<std::size_t>(length);
    }
    return out;
}

bool CodePage::FromUtf16Exact(std::u16string_view text, std::string& out, char32_t& missing) const {
    if (Kind_ == Kind::MultiByte)
        return Multi_->FromUtf16Exact(text, out, missing);
    out.clear();
    out.reserve(text.size());
    bool whole = true;
    auto lack = [&](char32_t c) {
        if (whole)
            missing = c;
        whole = false;
        out += '?';
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c < 0xDC00;
        const bool low = c >= 0xDC00 && c < 0xE000;
        char32_t cp = c;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i; // one character, two units
        } else if (low && c >= 0xDC80 && c <= 0xDCFF) {
            out += static_cast<char>(c - 0xDC00); // a byte kept as it was read
            continue;
        } else if (high || low) {
            lack(c);
            continue;
        }
        if (Kind_ == Kind::Utf8) {
            AppendUtf8(out, cp);
            continue;
        }
        auto it = cp < 0x10000 ? std::lower_bound(Reverse_->begin(), Reverse_->end(),
                                                  std::make_pair(static_cast<char16_t>(cp),
                                                                 static_cast<unsigned char>(0)))
                               : Reverse_->end();
        if (it != Reverse_->end() && it->first == cp)
            out += static_cast<char>(it->second);
        else
            lack(cp);
    }
    return whole;
}

std::string CodePage::FromUtf16(std::u16string_view text) const {
    std::string out;
    char32_t missing;
    FromUtf16Exact(text, out, missing);
    return out;
}

const CodePage& SystemCodePage() {
    const CodePage* cp = Current.load(std::memory_order_acquire);
    if (cp != nullptr)
        return *cp;
    std::lock_guard<std::mutex> guard(Lock());
    cp = Current.load(std::memory_order_relaxed);
    if (cp == nullptr) {
        Kept().push_back(std::make_unique<const CodePage>(CodePage::FromEnvironment()));
        cp = Kept().back().get();
        Current.store(cp, std::memory_order_release);
    }
    return *cp;
}

void SetSystemCodePage(const CodePage& codePage) {
    std::lock_guard<std::mutex> guard(Lock());
    Kept().push_back(std::make_unique<const CodePage>(codePage));
    Current.store(Kept().back().get(), std::memory_order_release);
}

namespace {

// Read at start, from the environment the program was started with, whatever it changes
// later.
[[maybe_unused]] const bool ReadAtStart = (SystemCodePage(), true);

} // namespace

unsigned char CharUpperByte(unsigned char c) {
    return SystemCodePage().UpperTable()[c];
}

const unsigned char* CharUpperTable() {
    return SystemCodePage().UpperTable();
}

char* CharUpperA(char* text) {
    SystemCodePage().UpperInPlace(text, std::strlen(text));
    return text;
}

std::size_t CharUpperBuffA(char* text, std::size_t length) {
    SystemCodePage().UpperInPlace(text, length);
    return length;
}

std::string CharUpperString(std::string text) {
    CharUpperBuffA(text.data(), text.size());
    return text;
}

} // namespace ferry
