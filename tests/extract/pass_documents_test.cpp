// A routing pass over real documents through the real helper: documents taken by the text a
// person reads, the history saying where it matched, and documents whose text cannot be read
// left with their reason, told once for each version of the file.

#include "core/engine.h"
#include "extract/pass_document_reader.h"
#include "extract_test_support.h"
#include "hostile_files.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace ferry {
namespace {

using test::PeakKiB;
using test::TaskRun;
using test::TempDir;

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PassDocumentsTest, DocumentsAreTakenByTheirTextAndUnreadableOnesToldOncePerVersion) {
    TempDir root;
    const std::string in = root.MakeDir("in"), out = root.MakeDir("out"),
                      bytes = root.MakeDir("bytes");
    for (const char* name : {"invoice-match.pdf", "invoice-match.docx", "invoice-nomatch.pdf",
                             "mail-match.eml", "encrypted.pdf"})
        root.Write(std::string("in/") + name, Bytes(test::CorpusFile(name)));
    const std::string pdf = Bytes(test::CorpusFile("invoice-match.pdf"));
    root.Write("in/truncated.pdf", pdf.substr(0, pdf.size() / 3));
    test::WriteZipBomb(root / "in/bomb.docx", 300u << 20, true);
    root.Write("in/plain.txt", "Customer account: ACME-7731");
    root.Write("in/raw.txt", "QX-4417 in the bytes");

    ConditionValues documents;
    documents.LookIn = 1;
    documents.Kind = MatchKind::AllWords;
    const std::vector<TaskRecord> tasks = {
        {"Accounts", in, out, "ACME-7731", documents},
        // On the same folder, on the bytes: no document holds QX-4417 as bytes.
        {"Bytes", in, bytes, "QX-4417"},
    };
    PassRules rules(false);
    rules.Documents = PassDocumentReaders(test::HelperConfig());
    const auto pass = [&] {
        TaskRun run;
        run.Last = RunPass(tasks, rules, run, CancelFlag());
        EXPECT_FALSE(run.Last.Error);
        std::map<std::string, std::string> told;
        for (const FileOutcome& o : run.Outcomes)
            told[o.Task + "/" + o.File] =
                OutcomeKindText(o.Kind) + (o.Detail.empty() ? "" : ": " + o.Detail);
        return told;
    };

    const long peakBefore = PeakKiB();
    const std::map<std::string, std::string> first = pass();
    // The documents, the bomb among them, are read in the helper: this process barely grows.
    EXPECT_LT(PeakKiB() - peakBefore, 16 * 1024);
    EXPECT_EQ(first.at("Accounts/invoice-match.pdf"), "moved: PDF text, page 1: ACME-7731");
    EXPECT_EQ(first.at("Accounts/invoice-match.docx").rfind("moved: ", 0), 0u);
    EXPECT_EQ(first.at("Accounts/mail-match.eml").rfind("moved: ", 0), 0u);
    EXPECT_EQ(first.at("Accounts/plain.txt"), "moved: words: ACME-7731"); // no document: bytes
    EXPECT_EQ(first.at("Accounts/encrypted.pdf"), "text could not be read: encrypted");
    EXPECT_EQ(first.at("Accounts/truncated.pdf"), "text could not be read: damaged");
    EXPECT_EQ(first.at("Accounts/bomb.docx").rfind("text could not be read: ", 0), 0u);
    EXPECT_EQ(first.at("Bytes/raw.txt"), "moved");
    EXPECT_EQ(first.size(), 8u);
    EXPECT_EQ(root.Entries("in"),
              (std::vector<std::string>{"bomb.docx", "encrypted.pdf", "invoice-nomatch.pdf",
                                        "truncated.pdf"}));

    // The same versions again: nothing more to say. A changed one is a new version.
    EXPECT_TRUE(pass().empty());
    root.Write("in/truncated.pdf", pdf.substr(0, pdf.size() / 2));
    const std::map<std::string, std::string> third = pass();
    EXPECT_EQ(third, (std::map<std::string, std::string>{
                         {"Accounts/truncated.pdf", "text could not be read: damaged"}}));
}

// What a task found in a document is kept with the document's text: a later pass takes it from
// there, saying the same in the history, and another task's conditions are matched afresh.
TEST(PassDocumentsTest, AKeptOutcomeStandsOnlyForTheSameConditions) {
    TempDir root;
    const std::string in = root.MakeDir("in"), out = root / "out";
    root.Write("in/a.pdf", Bytes(test::CorpusFile("invoice-match.pdf")));
    ConditionValues all;
    all.LookIn = 1;
    all.Kind = MatchKind::AllWords;
    PassRules rules(true);
    rules.Documents = PassDocumentReaders(test::HelperConfig(root / "cache.sqlite"));
    const auto pass = [&](const std::string& match) {
        TaskRun run;
        run.Last = RunPass({{"T", in, out, match, all}}, rules, run, CancelFlag());
        return run.Outcomes.empty()
                   ? std::string()
                   : OutcomeKindText(run.Outcomes[0].Kind) + (": " + run.Outcomes[0].Detail);
    };
    // No destination yet: found and kept, not moved.
    EXPECT_EQ(pass("ACME-7731"), "left (destination missing): ");
    // Words the document lacks are not taken for those found before.
    root.MakeDir("out");
    EXPECT_EQ(pass("ACME-7731 NOWHERE-1"), "");
    EXPECT_EQ(pass("ACME-7731"), "moved: PDF text, page 1: ACME-7731");
}

// A kept outcome stands for its version of the file only: a document rewritten in place
// between two passes, at the same size, is matched again in its new text.
TEST(PassDocumentsTest, ARewrittenDocumentIsMatchedAgain) {
    TempDir root;
    const std::string in = root.MakeDir("in"), out = root.MakeDir("out");
    root.Write("in/b.docx", Bytes(test::CorpusFile("invoice-nomatch.docx")));
    const std::string match = Bytes(test::CorpusFile("invoice-match.docx"));
    // Padded to one size, so that only the times and the content tell the versions apart.
    std::string miss = Bytes(test::CorpusFile("invoice-nomatch.docx"));
    const std::size_t size = std::max(match.size(), miss.size());
    const std::string path = root.Write("in/a.docx", miss.append(size - miss.size(), '\0'));
    ConditionValues documents;
    documents.LookIn = 1;
    PassRules rules(true);
    rules.Documents = PassDocumentReaders(test::HelperConfig(root / "cache.sqlite"));
    const auto pass = [&] {
        TaskRun run;
        run.Last = RunPass({{"T", in, out, "ACME-7731", documents}}, rules, run, CancelFlag());
        return root.Entries("out");
    };
    EXPECT_TRUE(pass().empty());
    EXPECT_TRUE(pass().empty()); // from the kept outcomes
    {
        std::ofstream rewrite(path, std::ios::binary | std::ios::in | std::ios::out);
        rewrite << match << std::string(size - match.size(), '\0');
    }
    EXPECT_EQ(pass(), std::vector<std::string>{"a.docx"});
}

// A document another program holds open is left alone, as any file is.
TEST(PassDocumentsTest, ADocumentHeldOpenIsLeftInUse) {
    TempDir root;
    const std::string in = root.MakeDir("in"), out = root.MakeDir("out");
    const std::string path = root.Write("in/a.docx", Bytes(test::CorpusFile("invoice-match.docx")));
    ConditionValues documents;
    documents.LookIn = 1;
    PassRules rules(true);
    rules.Documents = PassDocumentReaders(test::HelperConfig());
    const int held = open(path.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    TaskRun run;
    run.Last = RunPass({{"Accounts", in, out, "ACME-7731", documents}}, rules, run, CancelFlag());
    close(held);
    ASSERT_EQ(run.Outcomes.size(), 1u);
    EXPECT_EQ(run.Outcomes[0].Kind, OutcomeKind::InUse);
    EXPECT_TRUE(TempDir::Exists(path));
}

} // namespace
} // namespace ferry
