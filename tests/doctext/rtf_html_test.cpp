// The RTF reader (our own) and the HTML text walk, on the constructs real writers use.
#include "doctext/html_text.h"
#include "doctext/rtf_text.h"
#include "doctext/text_sink.h"

#include <gtest/gtest.h>

namespace ferry {
namespace {

TEST(RtfTextTest, TextCodePagesAndHiddenDestinations) {
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        {"{\\rtf1 Hello\\par World}", "Hello\nWorld"},
        {"{\\rtf1\\ansi\\ansicpg1251 \\'d1\\'f7\\'b8\\'f2}", "Счёт"},
        {"{\\rtf1 caf\\'e9}", "café"}, // 1252 by default
        {"{\\rtf1{\\fonttbl{\\f1\\fcharset161 Arial;}}{\\f1 \\'d4\\'e9\\'ec\\'de}}", "Τιμή"},
        {"{\\rtf1\\uc1 \\u35531?\\u27714?}", "請求"}, // fallbacks skipped
        {"{\\rtf1\\uc2 \\u1057\\'3f\\'3fX}", "СX"},
        {"{\\rtf1 \\u-10179?\\u-8704?}", "\xF0\x9F\x98\x80"}, // a surrogate pair
        {"{\\rtf1 ACME-{\\b 7731}}", "ACME-7731"},
        {"{\\rtf1{\\*\\generator Writer;}{\\info{\\title Secret}}Shown}", "Shown"},
        {"{\\rtf1{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt Link}}}", "Link"},
        {"{\\rtf1 a\\tab b\\line c\\~d\\_e\\{\\}\\\\}", "a b\nc d-e{}\\"},
        {"{\\rtf1 {\\pict\\pngblip 89504e47}x}", "x"},
        {"{\\rtf1 \\bin4 {{{{y}", "y"}, // raw bytes skipped
        {"{\\rtf1 cut \\'4", "cut 4"},  // a cut escape: the rest as text
        {"{\\rtf1 end} after", "end"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RtfText(c.In, 1 << 20), c.Out) << c.In;
    EXPECT_THROW(RtfText("{\\rtf1 " + std::string(600, '{'), 1 << 20), ReadFailure);
    EXPECT_THROW(RtfText("{\\rtf1 " + std::string(100, 'x') + "}", 50), ReadFailure);
}

TEST(HtmlTextTest, WhatABrowserShows) {
    const struct {
        std::string In;
        std::string Charset;
        const char* Out;
    } cases[] = {
        {"<html><head><title>T</title><style>p{}</style><script>x()</script></head>"
         "<body><p>ACME-<b>7731</b></p><noscript>n</noscript></body></html>",
         "", "T\n\nACME-7731"},
        {"<p>Caf\xE9</p><meta charset=\"windows-1252\">", "", "Café"},
        {"<p>Счёт</p>", "", "Счёт"},                                   // undeclared UTF-8
        {"<meta charset=koi8-r><p>\xF3\xDE\xA3\xD4</p>", "UTF-8", ""}, // told: UTF-8 wins
        {"<p>a &amp; b &#x3A3;</p>", "", "a & b Σ"},
        {"<div><p>unclosed<div>deep", "", "unclosed"},
    };
    for (const auto& c : cases) {
        const std::string text = HtmlText(c.In, c.Charset, 1 << 20);
        EXPECT_NE(text.find(c.Out), std::string::npos) << c.In << " gave " << text;
        EXPECT_EQ(text.find("x()"), std::string::npos);
    }
    EXPECT_THROW(HtmlText("<p>" + std::string(200, 'x'), "", 100), ReadFailure);
}

} // namespace
} // namespace ferry
