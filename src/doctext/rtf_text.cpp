#include "doctext/rtf_text.h"

#include "doctext/charset.h"
#include "doctext/text_sink.h"

#include <algorithm>
#include <map>
#include <vector>

namespace ferry {

namespace {

constexpr std::size_t MaxDepth = 512;

// Code page of a font's \fcharset.
int CharsetCodePage(long charset) {
    switch (charset) {
    case 0:
        return 1252;
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    default:
        return 0; // the document's own
    }
}

bool IsSkippedDestination(std::string_view word) {
    static constexpr std::string_view skipped[] = {"colortbl",   "stylesheet",
                                                   "info",       "pict",
                                                   "objdata",    "fldinst",
                                                   "listtable",  "listoverridetable",
                                                   "revtbl",     "rsidtbl",
                                                   "generator",  "xmlnstbl",
                                                   "themedata",  "colorschememapping",
                                                   "datastore",  "latentstyles",
                                                   "datafield",  "pgdsctbl",
                                                   "filetbl",    "mmathPr",
                                                   "template",   "userprops",
                                                   "nonshppict", "bkmkstart",
                                                   "bkmkend",    "fontemb",
                                                   "fontfile",   "falt",
                                                   "panose",     "xe",
                                                   "tc",         "private"};
    for (std::string_view s : skipped)
        if (word == s)
            return true;
    return false;
}

struct GroupState {
    bool Skip = false;
    bool FontTable = false;
    int UcSkip = 1;
    int CodePage = 0; // 0: the document's
    long FontNumber = -1;
};

class RtfReader {
public:
    RtfReader(std::string_view in, std::size_t limit) : In_(in), Limit_(limit) {}

    std::string Run() {
        std::vector<GroupState> stack;
        GroupState state;
        std::size_t i = 0;
        while (i < In_.size()) {
            const char c = In_[i];
            if (c == '{') {
                Flush(state);
                if (stack.size() >= MaxDepth)
                    throw ReadFailure(UnreadableReason::Damaged);
                stack.push_back(state);
                SkipLeft_ = 0;
                ++i;
            } else if (c == '}') {
                Flush(state);
                if (stack.empty())
                    break;
                state = stack.back();
                stack.pop_back();
                if (stack.empty())
                    break; // the document's own group has ended: what follows is no text
                SkipLeft_ = 0;
                ++i;
            } else if (c == '\\') {
                i = Control(i + 1, state);
            } else if (c == '\r' || c == '\n') {
                ++i;
            } else {
                if (!Skipping(state))
                    Bytes_ += c;
                ++i;
            }
        }
        Flush(state);
        return std::move(Out_);
    }

private:
    bool Skipping(const GroupState& s) {
        if (SkipLeft_ > 0) {
            --SkipLeft_;
            return true;
        }
        return s.Skip;
    }

    void Emit(std::string_view text) { AppendBounded(Out_, text.data(), text.size(), Limit_); }

    // Bytes gathered so far are text in the group's code page.
    void Flush(const GroupState& s) {
        if (Bytes_.empty())
            return;
        const int cp = s.CodePage ? s.CodePage : DocumentCodePage_;
        Emit(ToUtf8(Bytes_, cp == 10000 ? "macintosh" : "windows-" + std::to_string(cp)));
        Bytes_.clear();
    }

    void EmitUnit(long unit) {
        if (unit < 0)
            unit += 65536;
        if (unit >= 0xD800 && unit < 0xDC00) {
            High_ = unit;
            return;
        }
        char32_t cp = static_cast<char32_t>(unit);
        if (unit >= 0xDC00 && unit < 0xE000)
            cp = High_ ? 0x10000 + ((High_ - 0xD800) << 10) + (unit - 0xDC00) : 0xFFFD;
        High_ = 0;
        if (cp > 0x10FFFF)
            cp = 0xFFFD;
        std::string u;
        if (cp < 0x80) {
            u += static_cast<char>(cp);
        } else if (cp < 0x800) {
            u += static_cast<char>(0xC0 | (cp >> 6));
            u += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            u += static_cast<char>(0xE0 | (cp >> 12));
            u += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            u += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            u += static_cast<char>(0xF0 | (cp >> 18));
            u += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            u += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            u += static_cast<char>(0x80 | (cp & 0x3F));
        }
        Emit(u);
    }

    static int Hex(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // After a backslash at `i`; returns where reading goes on.
    std::size_t Control(std::size_t i, GroupState& s) {
        if (i >= In_.size())
            return i;
        const char c = In_[i];
        auto isLetter = [](char ch) {
            return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
        };
        if (!isLetter(c)) {
            switch (c) {
            case '\'': {
                const int hi = i + 1 < In_.size() ? Hex(In_[i + 1]) : -1;
                const int lo = i + 2 < In_.size() ? Hex(In_[i + 2]) : -1;
                if (hi < 0 || lo < 0)
                    return i + 1;
                if (!Skipping(s))
                    Bytes_ += static_cast<char>(hi * 16 + lo);
                return i + 3;
            }
            case '*':
                Flush(s);
                s.Skip = true; // a destination the reader need not know: hidden
                return i + 1;
            case '\\':
            case '{':
            case '}':
                if (!Skipping(s))
                    Bytes_ += c;
                return i + 1;
            case '~':
                Flush(s);
                if (!s.Skip)
                    Emit(" ");
                return i + 1;
            case '_':
                Flush(s);
                if (!s.Skip)
                    Emit("-");
                return i + 1;
            case '\r':
            case '\n':
                Flush(s);
                if (!s.Skip)
                    Emit("\n");
                return i + 1;
            default:
                return i + 1; // \- (optional hyphen) and the rest: nothing to show
            }
        }
        std::size_t j = i;
        while (j < In_.size() && j - i < 32 && isLetter(In_[j]))
            ++j;
        const std::string_view word = In_.substr(i, j - i);
        bool hasParam = false;
        long param = 0;
        bool negative = false;
        if (j < In_.size() && In_[j] == '-') {
            negative = true;
            ++j;
        }
        std::size_t digits = 0;
        while (j < In_.size() && In_[j] >= '0' && In_[j] <= '9') {
            if (digits++ < 10)
                param = param * 10 + (In_[j] - '0');
            hasParam = true;
            ++j;
        }
        if (negative)
            param = -param;
        if (j < In_.size() && In_[j] == ' ')
            ++j;
        return Word(word, hasParam, param, j, s);
    }

    std::size_t Word(std::string_view w, bool hasParam, long param, std::size_t next,
                     GroupState& s) {
        if (w == "bin") {
            // raw bytes follow: never text
            const std::size_t n = hasParam && param > 0 ? static_cast<std::size_t>(param) : 0;
            return next + std::min(n, In_.size() - next);
        }
        if (w == "u" && hasParam) {
            Flush(s);
            if (!Skipping(s))
                EmitUnit(param);
            SkipLeft_ = s.UcSkip;
            return next;
        }
        if (w == "uc" && hasParam) {
            s.UcSkip = static_cast<int>(std::clamp(param, 0L, 16L));
            return next;
        }
        if (w == "ansicpg" && hasParam) {
            Flush(s);
            DocumentCodePage_ = param > 0 && param < 70000 ? static_cast<int>(param) : 1252;
            return next;
        }
        if (w == "fonttbl") {
            s.FontTable = true;
            s.Skip = true;
            return next;
        }
        if (w == "f" && hasParam) {
            if (s.FontTable) {
                s.FontNumber = param;
            } else {
                Flush(s);
                const auto it = FontCodePages_.find(param);
                s.CodePage = it == FontCodePages_.end() ? 0 : it->second;
            }
            return next;
        }
        if (w == "fcharset" && hasParam && s.FontTable) {
            if (FontCodePages_.size() < 4096)
                FontCodePages_[s.FontNumber] = CharsetCodePage(param);
            return next;
        }
        if (IsSkippedDestination(w)) {
            Flush(s);
            s.Skip = true;
            return next;
        }
        const char* text = nullptr;
        if (w == "par" || w == "line" || w == "sect" || w == "page" || w == "row" || w == "cell" ||
            w == "nestcell" || w == "lbr")
            text = "\n";
        else if (w == "tab")
            text = " ";
        else if (w == "emdash")
            text = "\u2014";
        else if (w == "endash")
            text = "\u2013";
        else if (w == "bullet")
            text = "\u2022";
        else if (w == "lquote")
            text = "\u2018";
        else if (w == "rquote")
            text = "\u2019";
        else if (w == "ldblquote")
            text = "\u201C";
        else if (w == "rdblquote")
            text = "\u201D";
        if (text) {
            Flush(s);
            if (!s.Skip)
                Emit(text);
        }
        return next;
    }

    std::string_view In_;
    std::size_t Limit_;
    std::string Out_;
    std::string Bytes_;
    int DocumentCodePage_ = 1252;
    int SkipLeft_ = 0;
    long High_ = 0;
    std::map<long, int> FontCodePages_;
};

} // namespace

std::string RtfText(std::string_view rtf, std::size_t limit) {
    return RtfReader(rtf, limit).Run();
}

} // namespace ferry
