// The caller's own small parsers and rules: telling a file's kind by its first bytes, the
// text normalisation that makes one phrase match as one, and the frames a helper answers
// in, which are checked as strictly as any outside input.
#include "extract/document_kind.h"
#include "extract/text_normalize.h"
#include "extract/wire_format.h"

#include <gtest/gtest.h>

namespace ferry {
namespace {

DocumentKind Sniff(const std::string& s) {
    return SniffKind(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

TEST(DocumentKindTest, ToldByContentNotByName) {
    const struct {
        std::string Head;
        DocumentKind Kind;
    } cases[] = {
        {"%PDF-1.7\n", DocumentKind::Pdf},
        {std::string(600, ' ') + "%PDF-1.4", DocumentKind::Pdf}, // junk before the header
        {std::string(1100, ' ') + "%PDF-1.4", DocumentKind::None},
        {"PK\x03\x04rest", DocumentKind::Zip},
        {"{\\rtf1\\ansi", DocumentKind::Rtf},
        {"\xFF\xFEh\0i\0", DocumentKind::Utf16Le},
        {"\xFE\xFF\0h\0i", DocumentKind::Utf16Be},
        {"\x89PNG\r\n\x1A\n", DocumentKind::Png},
        {"\xFF\xD8\xFF\xE0", DocumentKind::Jpeg},
        {std::string("II*\0", 4), DocumentKind::Tiff},
        {std::string("MM\0*", 4), DocumentKind::Tiff},
        {"<!DOCTYPE html>\n<p>x", DocumentKind::Html},
        {"\xEF\xBB\xBF  <!-- made by hand -->\n<HTML lang=en>", DocumentKind::Html},
        {"<?xml version=\"1.0\"?>\n<html xmlns=\"x\">", DocumentKind::Html},
        {"<htmlish>", DocumentKind::None},
        {"From: a@b\r\nSubject: hi\r\n\r\nbody", DocumentKind::Mail},
        {"From someone Mon Dec 2\nReceived: x\nDate: y\n\nbody", DocumentKind::Mail},
        {"Subject: hi\n", DocumentKind::None},                    // one field is no mail
        {"Note: call ACME\nSubject: hi\n\n", DocumentKind::None}, // a line no mail starts with
        {"To: x\nSubject: a field cut by the sniffed end", DocumentKind::None},
        {"plain text\n", DocumentKind::None},
        {"", DocumentKind::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Sniff(c.Head), c.Kind) << c.Head;
}

TEST(TextNormalizeTest, OnePhraseReadsAsOne) {
    const struct {
        const char* In;
        const char* Text;
        const char* Pattern;
    } cases[] = {
        {"Payment\nreference", "Payment reference", "Payment reference"},
        {"  a \t\r\n\f b  ", "a b", " a b "},
        {"a\u00A0\u2003\u3000b", "a b", "a b"},   // no-break, em and ideographic spaces
        {"Cafe\u0301", "Caf\u00E9", "Caf\u00E9"}, // composed
        {"\u212B", "\u00C5", "\u00C5"},           // the angstrom sign is a letter A ring
        {"bad \xFF byte", "bad \uFFFD byte", "bad \uFFFD byte"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NormalizeText(c.In), c.Text) << c.In;
        EXPECT_EQ(NormalizePattern(c.In), c.Pattern) << c.In;
    }
}

TEST(WireFormatTest, AnswersRoundTripAndEveryCutOrLieIsRefused) {
    DocumentText text;
    text.Status = TextStatus::Text;
    text.Pieces = {{"PDF text, page 1", "Customer account"}, {"OCR, page 2", ""}};
    const std::string encoded = EncodeText(text);
    DocumentText back;
    ASSERT_TRUE(DecodeText(encoded, back));
    EXPECT_EQ(back, text);
    for (std::size_t cut = 0; cut < encoded.size(); ++cut)
        EXPECT_FALSE(DecodeText(encoded.substr(0, cut), back)) << cut;
    EXPECT_FALSE(DecodeText(encoded + "x", back));

    std::string lie = encoded;
    lie[2] = '\xFF'; // a piece count far beyond the bytes
    EXPECT_FALSE(DecodeText(lie, back));
    const std::string failed = EncodeText(DocumentText::Failed(UnreadableReason::Encrypted));
    ASSERT_TRUE(DecodeText(failed, back));
    EXPECT_EQ(back.Reason, UnreadableReason::Encrypted);
    for (auto [status, reason] : {std::pair{2, 0}, {0, 3}, {3, 0}, {2, 99}}) {
        std::string odd = failed;
        odd[0] = static_cast<char>(status);
        odd[1] = static_cast<char>(reason);
        EXPECT_FALSE(DecodeText(odd, back)) << status << "/" << reason;
    }

    ExtractRequest request{true, "eng+deu"}, got;
    ASSERT_TRUE(DecodeRequest(EncodeRequest(request), got));
    EXPECT_EQ(got, request);
    EXPECT_FALSE(DecodeRequest(EncodeRequest({true, "eng;rm -rf"}), got));
    unsigned char big[4] = {0xFF, 0xFF, 0xFF, 0x7F};
    std::size_t size = 0;
    EXPECT_FALSE(FrameLength(big, size));
}

} // namespace
} // namespace ferry
