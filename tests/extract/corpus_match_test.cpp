// Every document type of the corpus, read by the real helper and matched under both case
// rules: the document that holds a phrase matches it, its twin that does not stays unmatched,
// and the history learns which piece the phrase was found in.
#include "extract_test_support.h"
#include "support/code_page_scope.h"

#include <gtest/gtest.h>

namespace ferry {
namespace {

using test::CorpusFile;

struct Case {
    const char* Pattern;
    bool CaseSensitive;
    bool Found;
};

// What each matching document must show, and what its twin must not.
const Case Phrases[] = {
    {"ACME-7731", true, true}, // split across runs of two styles
    {"acme-7731", false, true},
    {"acme-7731", true, false},
    {"Customer account: ACME-7731", true, true},
    {"Payment reference: QX-4417", true, true}, // broken across two lines
    {"payment   REFERENCE: qx-4417", false, true},
    {"Счёт-фактура", true, true},
    {"СЧЁТ-ФАКТУРА", false, true},
    {"СЧЁТ-ФАКТУРА", true, false},
    {"τιμολόγιο", false, true},
    {"ΤΙΜΟΛΌΓΙΟ", false, true},
    {"請求書番号", true, true},
    {"請求書番号 東京支店", false, true},
};

struct Document {
    const char* Match;
    const char* NoMatch;
    const char* Label; // the piece the account number is in
    bool Scripts;      // holds the Cyrillic, Greek and CJK lines
};

const Document Documents[] = {
    {"invoice-match.pdf", "invoice-nomatch.pdf", "PDF text, page 1", true},
    {"invoice-match-gs.pdf", "invoice-nomatch-gs.pdf", "PDF text, page 1", true},
    {"invoice-match.odt", "invoice-nomatch.odt", "document text", true},
    {"invoice-match.docx", "invoice-nomatch.docx", "document text", true},
    {"invoice-match.rtf", "invoice-nomatch.rtf", "RTF text", true},
    {"invoice-match.html", "invoice-nomatch.html", "HTML text", true},
    {"sheet-match.ods", "sheet-nomatch.ods", "sheet 2", true},
    {"sheet-match.xlsx", "sheet-nomatch.xlsx", "shared strings", true},
    {"slides-match.odp", "slides-nomatch.odp", "slide 2", true},
    {"slides-match.pptx", "slides-nomatch.pptx", "slide 2", true},
    {"mail-match.eml", "mail-nomatch.eml", "e-mail body", true},
    {"text-match-utf16le.txt", "text-nomatch-utf16le.txt", "text", true},
    {"text-match-utf16be.txt", "text-nomatch-utf16le.txt", "text", true},
};

TEST(DocumentCorpus, EveryTypeMatchesItsPhrasesAndItsTwinDoesNot) {
    test::ScopedCodePage utf8("C.UTF-8");
    if (!utf8.Ok())
        GTEST_SKIP() << utf8.Why();
    DocumentReader reader(test::HelperConfig());
    for (const Document& d : Documents) {
        const DocumentText match = reader.ReadFile(CorpusFile(d.Match), {});
        const DocumentText other = reader.ReadFile(CorpusFile(d.NoMatch), {});
        ASSERT_EQ(match.Status, TextStatus::Text)
            << d.Match << ": " << UnreadableText(match.Reason);
        ASSERT_EQ(other.Status, TextStatus::Text) << d.NoMatch;
        for (const Case& c : Phrases) {
            const TextPattern pattern(c.Pattern, c.CaseSensitive);
            const DocumentMatch m = MatchDocument(match, pattern);
            EXPECT_EQ(m.Found, c.Found) << d.Match << " / \"" << c.Pattern << "\" "
                                        << (c.CaseSensitive ? "case-sensitive" : "any case");
            EXPECT_FALSE(MatchDocument(other, pattern).Found) << d.NoMatch << " / " << c.Pattern;
        }
        EXPECT_EQ(MatchDocument(match, TextPattern("ACME-7731", true)).Label, d.Label) << d.Match;
    }
}

TEST(DocumentCorpus, MailSubjectSenderAndLegacyCharsetAreDecoded) {
    test::ScopedCodePage utf8("C.UTF-8");
    if (!utf8.Ok())
        GTEST_SKIP() << utf8.Why();
    DocumentReader reader(test::HelperConfig());
    const DocumentText mail = reader.ReadFile(CorpusFile("mail-match.eml"), {});
    EXPECT_EQ(MatchDocument(mail, TextPattern("счёт invoice", false)).Label, "e-mail subject");
    EXPECT_EQ(MatchDocument(mail, TextPattern("Τιμολόγια Γραφείο", true)).Label, "e-mail sender");
    // the HTML part's text, its markup gone
    EXPECT_TRUE(MatchDocument(mail, TextPattern("Τιμολόγιο πελάτη", true)).Found);
    const DocumentText koi8 = reader.ReadFile(CorpusFile("mail-match-koi8.eml"), {});
    EXPECT_EQ(MatchDocument(koi8, TextPattern("Счёт-фактура выставлена.", true)).Label,
              "e-mail body");
    EXPECT_EQ(MatchDocument(koi8, TextPattern("СЧЁТ-ФАКТУРА ВЫСТАВЛЕНА", false)).Label,
              "e-mail subject");
}

// The match string is held in the system code page: in an 8-bit one its bytes are converted
// before they are looked for in the text.
TEST(DocumentCorpus, MatchStringInAnEightBitCodePage) {
    test::ScopedCodePage koi8("ru_RU.KOI8-R");
    if (!koi8.Ok())
        GTEST_SKIP() << koi8.Why();
    DocumentReader reader(test::HelperConfig());
    const DocumentText text = reader.ReadFile(CorpusFile("invoice-match.docx"), {});
    // "СЧЁТ" in KOI8-R
    const std::string upper = "\xF3\xFE\xB3\xF4";
    EXPECT_TRUE(MatchDocument(text, TextPattern(upper, false)).Found);
    EXPECT_FALSE(MatchDocument(text, TextPattern(upper, true)).Found);
}

TEST(DocumentCorpus, ScansAreReadOnlyWithOcr) {
    test::ScopedCodePage utf8("C.UTF-8");
    if (!utf8.Ok())
        GTEST_SKIP() << utf8.Why();
    DocumentReader reader(test::HelperConfig());
    const LookInOptions ocr{true, "eng"};
    const TextPattern account("acme-7731", false);
    for (const char* scan :
         {"scan-match.png", "scan-match.jpg", "scan-match.tif", "scan-match.pdf"}) {
        const DocumentText text = reader.ReadFile(CorpusFile(scan), ocr);
        ASSERT_EQ(text.Status, TextStatus::Text) << scan << ": " << UnreadableText(text.Reason);
        EXPECT_EQ(MatchDocument(text, account).Label, "OCR, page 1") << scan;
        EXPECT_TRUE(MatchDocument(text, TextPattern("Payment reference", true)).Found) << scan;
    }
    for (const char* scan : {"scan-nomatch.png", "scan-nomatch.jpg", "scan-nomatch.tif"})
        EXPECT_FALSE(MatchDocument(reader.ReadFile(CorpusFile(scan), ocr), account).Found) << scan;
    // Without OCR a picture is no document (its bytes count), and a scanned PDF has no words.
    EXPECT_EQ(reader.ReadFile(CorpusFile("scan-match.png"), {}).Status, TextStatus::NotADocument);
    EXPECT_FALSE(MatchDocument(reader.ReadFile(CorpusFile("scan-match.pdf"), {}), account).Found);
    // A PDF with a text layer is read from it, OCR or not.
    EXPECT_EQ(MatchDocument(reader.ReadFile(CorpusFile("invoice-match.pdf"), ocr), account).Label,
              "PDF text, page 1");
}

} // namespace
} // namespace ferry
