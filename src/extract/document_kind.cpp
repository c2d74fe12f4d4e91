#include "extract/document_kind.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace ferry {

namespace {

bool StartsWith(const unsigned char* p, std::size_t n, std::string_view magic) {
    return n >= magic.size() && std::memcmp(p, magic.data(), magic.size()) == 0;
}

char Lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool StartsWithNoCase(const unsigned char* p, std::size_t n, std::string_view word) {
    if (n < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (Lower(p[i]) != word[i])
            return false;
    return true;
}

// A mail file opens with a block of header fields; a text file that happens to begin with
// "Note: ..." has one such line at most, so two fields that mail writers put in are asked for.
bool LooksLikeMail(const unsigned char* p, std::size_t n) {
    static constexpr std::string_view fields[] = {
        "from:",     "to:",          "subject:",      "date:",     "message-id:", "mime-version:",
        "received:", "return-path:", "content-type:", "reply-to:", "cc:",         "delivered-to:"};
    int known = 0;
    std::size_t at = 0;
    while (at < n) {
        const unsigned char* line = p + at;
        const std::size_t left = n - at;
        const auto* eol = static_cast<const unsigned char*>(std::memchr(line, '\n', left));
        if (!eol)
            break; // a field cut by the end of the sniffed bytes decides nothing
        const std::size_t len = static_cast<std::size_t>(eol - line);
        if (len == 0 || (len == 1 && line[0] == '\r'))
            break; // the header ends
        if (line[0] == ' ' || line[0] == '\t') {
            if (at == 0)
                return false; // a continuation with nothing to continue
        } else {
            std::size_t i = 0;
            while (i < len && line[i] > 32 && line[i] < 127 && line[i] != ':')
                ++i;
            if (i == 0 || i == len || line[i] != ':') {
                // "From " opens an mbox file; anything else is not a header field
                if (!(at == 0 && StartsWith(line, len, "From ")))
                    return false;
            } else {
                for (std::string_view f : fields)
                    if (f.size() == i + 1 && StartsWithNoCase(line, len, f))
                        ++known;
            }
        }
        at += len + 1;
    }
    return known >= 2;
}

bool LooksLikeHtml(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    if (StartsWith(p, n, "\xEF\xBB\xBF"))
        i = 3;
    // white space, comments and an XML declaration may come before the first tag
    for (int rounds = 0; rounds < 16; ++rounds) {
        while (i < n && (p[i] == ' ' || p[i] == '\t' || p[i] == '\r' || p[i] == '\n'))
            ++i;
        // an XHTML page opens with an XML declaration
        const bool comment = StartsWith(p + i, n - i, "<!--");
        if (!comment && !StartsWith(p + i, n - i, "<?xml"))
            break;
        const std::string_view close = comment ? "-->" : "?>";
        const unsigned char* end = nullptr;
        for (std::size_t k = i + 2; k + close.size() <= n; ++k)
            if (StartsWith(p + k, n - k, close)) {
                end = p + k + close.size();
                break;
            }
        if (!end)
            return false;
        i = static_cast<std::size_t>(end - p);
    }
    static constexpr std::string_view openers[] = {"<!doctype html", "<html", "<head", "<body"};
    for (std::string_view o : openers)
        if (StartsWithNoCase(p + i, n - i, o) && n - i > o.size()) {
            const unsigned char next = p[i + o.size()];
            if (next == '>' || next == ' ' || next == '\t' || next == '\r' || next == '\n')
                return true;
        }
    return false;
}

} // namespace

DocumentKind SniffKind(const unsigned char* p, std::size_t n) {
    n = std::min(n, SniffBytes);
    if (StartsWith(p, n, "\xFF\xFE"))
        return DocumentKind::Utf16Le;
    if (StartsWith(p, n, "\xFE\xFF"))
        return DocumentKind::Utf16Be;
    if (StartsWith(p, n, "PK\x03\x04"))
        return DocumentKind::Zip;
    if (StartsWith(p, n, "{\\rtf"))
        return DocumentKind::Rtf;
    if (StartsWith(p, n, "\x89PNG\r\n\x1A\n"))
        return DocumentKind::Png;
    if (StartsWith(p, n, "\xFF\xD8\xFF"))
        return DocumentKind::Jpeg;
    if (StartsWith(p, n, std::string_view("II*\0", 4)) ||
        StartsWith(p, n, std::string_view("MM\0*", 4)))
        return DocumentKind::Tiff;
    // Readers accept a PDF header anywhere in the first kilobyte.
    const std::size_t pdfWindow = std::min<std::size_t>(n, 1024);
    for (std::size_t i = 0; i + 5 <= pdfWindow; ++i)
        if (p[i] == '%' && StartsWith(p + i, pdfWindow - i, "%PDF-"))
            return DocumentKind::Pdf;
    if (LooksLikeHtml(p, n))
        return DocumentKind::Html;
    if (LooksLikeMail(p, n))
        return DocumentKind::Mail;
    return DocumentKind::None;
}

} // namespace ferry
