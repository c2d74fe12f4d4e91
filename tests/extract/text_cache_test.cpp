// The cache of extracted text, through the reader as a pass uses it: each version of a file
// is read by the helper once, a changed file is read again, the store stays within its
// bound by dropping its oldest rows, and a damaged store costs nothing but a re-reading.
#include "extract/text_cache.h"
#include "extract_test_support.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ferry {
namespace {

using test::CorpusFile;
using test::TempDir;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

// An open descriptor for Find, closed at the end of the test's statement.
struct Open {
    explicit Open(const std::string& path) : Fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~Open() { close(Fd); }
    operator int() const { return Fd; }
    int Fd;
};

DocumentText AccountText() {
    DocumentText text;
    text.Status = TextStatus::Text;
    text.Pieces.push_back({"document text", "customer account acme-7731"});
    return text;
}

TEST(TextCache, EachVersionOfAFileIsReadOnce) {
    TempDir dir;
    const std::string doc =
        dir.Write("in/invoice.docx", TempDir::Read(CorpusFile("invoice-match.docx")));
    const std::string pdf =
        dir.Write("in/invoice.pdf", TempDir::Read(CorpusFile("invoice-match.pdf")));
    const std::string locked =
        dir.Write("in/locked.pdf", TempDir::Read(CorpusFile("encrypted.pdf")));
    const std::string store = dir / "cache/ferrydesk/document-text.sqlite";
    dir.MakeDir("cache");
    DocumentReader reader(test::HelperConfig(store));
    EXPECT_EQ(ModeOf(dir / "cache/ferrydesk"), 0700u);

    const DocumentText first = reader.ReadFile(doc, {});
    EXPECT_EQ(reader.ReadFile(doc, {}), first);
    EXPECT_EQ(reader.GetCounts().HelperReads, 1);
    EXPECT_EQ(reader.GetCounts().CacheHits, 1);

    // A readable PDF read with OCR is a reading of its own; a failure is remembered too.
    reader.ReadFile(pdf, {});
    reader.ReadFile(pdf, {true, "eng"});
    reader.ReadFile(pdf, {true, "eng"});
    EXPECT_EQ(reader.ReadFile(locked, {}).Reason, UnreadableReason::Encrypted);
    EXPECT_EQ(reader.ReadFile(locked, {}).Reason, UnreadableReason::Encrypted);
    EXPECT_EQ(reader.GetCounts().HelperReads, 4);

    // A new version (same size, new times) is read again and replaces the old text.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    dir.Write("in/invoice.docx", TempDir::Read(CorpusFile("invoice-nomatch.docx")));
    const DocumentText second = reader.ReadFile(doc, {});
    EXPECT_NE(second, first);
    EXPECT_EQ(reader.GetCounts().HelperReads, 5);

    // A task's outcome is kept too: asked again, neither the text nor the helper is needed;
    // another pattern is matched in the stored text; a new version is matched afresh.
    const TextPattern beta("beta-1200", false), acme("ACME-7731", true);
    DocumentReader::Look look = reader.Find(Open(doc), {}, beta);
    EXPECT_TRUE(look.Found);
    EXPECT_EQ(look.Label, "document text");
    const long hits = reader.GetCounts().CacheHits;
    look = reader.Find(Open(doc), {}, beta);
    EXPECT_TRUE(look.Found);
    EXPECT_EQ(look.Label, "document text");
    EXPECT_EQ(reader.GetCounts().MatchHits, 1);
    EXPECT_EQ(reader.GetCounts().CacheHits, hits);
    EXPECT_FALSE(reader.Find(Open(doc), {}, acme).Found);
    EXPECT_EQ(reader.GetCounts().CacheHits, hits + 1);
    EXPECT_EQ(reader.GetCounts().HelperReads, 5);

    // Another reader (the next start of the program) finds what this one stored.
    DocumentReader later(test::HelperConfig(store));
    EXPECT_EQ(later.ReadFile(doc, {}), second);
    EXPECT_EQ(later.GetCounts().HelperReads, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    dir.Write("in/invoice.docx", TempDir::Read(CorpusFile("invoice-match.docx")));
    EXPECT_FALSE(later.Find(Open(doc), {}, beta).Found);
    EXPECT_TRUE(later.Find(Open(doc), {}, acme).Found);
    EXPECT_EQ(later.GetCounts().HelperReads, 1);
    EXPECT_EQ(later.GetCounts().MatchHits, 0);
}

TEST(TextCache, TheStoreKeepsToItsBoundOldestFirst) {
    TempDir dir;
    const std::string store = dir / "store/text.sqlite";
    DocumentReaderConfig config = test::HelperConfig(store);
    // room for about three of the small documents' texts
    config.CacheBytes = 700;
    DocumentReader reader(config);
    const char* files[] = {"invoice-match.odt",   "invoice-nomatch.odt", "invoice-match.rtf",
                           "invoice-nomatch.rtf", "sheet-match.ods",     "sheet-nomatch.ods"};
    for (const char* f : files) {
        reader.ReadFile(CorpusFile(f), {});
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int64_t stored = TextCache(store, config.CacheBytes).StoredBytes();
    EXPECT_LE(stored, config.CacheBytes);
    EXPECT_GT(stored, config.CacheBytes / 3);
    const long reads = reader.GetCounts().HelperReads;
    reader.ReadFile(CorpusFile(files[5]), {}); // the newest stays
    EXPECT_EQ(reader.GetCounts().HelperReads, reads);
    reader.ReadFile(CorpusFile(files[0]), {}); // the oldest was dropped
    EXPECT_EQ(reader.GetCounts().HelperReads, reads + 1);
}

TEST(TextCache, ADamagedStoreIsMadeAfresh) {
    TempDir dir;
    dir.MakeDir("c");
    chmod((dir / "c").c_str(), 0755);
    const std::string store = dir.Write("c/text.sqlite", std::string(8192, '\x5A'));
    DocumentReader reader(test::HelperConfig(store));
    EXPECT_EQ(ModeOf(dir / "c"), 0700u) << "a folder made before is made private";
    const std::string doc = CorpusFile("invoice-match.odt");
    EXPECT_EQ(reader.ReadFile(doc, {}).Status, TextStatus::Text);
    reader.ReadFile(doc, {});
    EXPECT_EQ(reader.GetCounts().CacheHits, 1);
}

// A pass's reader takes the outcomes kept under a task's pattern in one read: it must still
// miss every other version, mode and pattern, see its own writes at once, write through at
// once (nothing held back for a kill to lose), and not stand in the way of another writer.
TEST(TextCache, APassReadsKeptOutcomesAtOnceAndMissesEveryOtherVersion) {
    TempDir dir;
    const std::string store = dir / "c/text.sqlite";
    const FileIdentity a{7, 100, 5000, 111, 222}, b{7, 101, 6000, 111, 222};
    const DocumentText text = AccountText();
    TextCache writer(store, 1 << 20);
    for (const FileIdentity& id : {a, b})
        writer.Put(id, "text", text);
    writer.PutMatch(a, "text", "p", true, "PDF text, page 2");
    writer.PutMatch(b, "text", "p", false, "");

    TextCache pass(store, 1 << 20);
    pass.ShareReads(true);
    bool found = false;
    std::string label;
    ASSERT_TRUE(pass.GetMatch(a, "text", "p", found, label));
    EXPECT_TRUE(found);
    EXPECT_EQ(label, "PDF text, page 2");
    ASSERT_TRUE(pass.GetMatch(b, "text", "p", found, label));
    EXPECT_FALSE(found);
    const auto changed = [&](auto change) {
        FileIdentity id = a;
        change(id);
        return id;
    };
    const struct {
        const char* what;
        FileIdentity id;
        std::string mode, pattern;
    } misses[] = {
        {"size", changed([](FileIdentity& i) { i.Size += 1; }), "text", "p"},
        {"mtime", changed([](FileIdentity& i) { i.ModifiedNs += 1; }), "text", "p"},
        {"ctime", changed([](FileIdentity& i) { i.ChangedNs += 1; }), "text", "p"},
        {"inode", changed([](FileIdentity& i) { i.Inode = 999; }), "text", "p"},
        {"device", changed([](FileIdentity& i) { i.Device = 8; }), "text", "p"},
        {"mode", a, "ocr:eng", "p"},
        {"pattern", a, "text", "q"},
    };
    for (const auto& m : misses)
        EXPECT_FALSE(pass.GetMatch(m.id, m.mode, m.pattern, found, label)) << m.what;

    // Another copy of the program writes while this pass reads.
    const FileIdentity c{7, 102, 10, 1, 1};
    writer.PutMatch(c, "text", "p", true, "e-mail body");
    EXPECT_TRUE(TextCache(store, 1 << 20).GetMatch(c, "text", "p", found, label));

    // The pass's own outcome is seen by itself and by everyone else at once.
    pass.PutMatch(b, "text", "p", true, "PDF text, page 1");
    ASSERT_TRUE(pass.GetMatch(b, "text", "p", found, label));
    EXPECT_EQ(label, "PDF text, page 1");
    ASSERT_TRUE(TextCache(store, 1 << 20).GetMatch(b, "text", "p", found, label));
    EXPECT_TRUE(found);

    // New text for a file takes its outcomes with the old one.
    pass.Put(a, "text", text);
    EXPECT_FALSE(pass.GetMatch(a, "text", "p", found, label));
    EXPECT_FALSE(TextCache(store, 1 << 20).GetMatch(a, "text", "p", found, label));
    EXPECT_TRUE(pass.GetMatch(b, "text", "p", found, label));
}

TEST(TextCache, DefaultPathFollowsTheBaseDirectoryRules) {
    const char* oldXdg = std::getenv("XDG_CACHE_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    setenv("XDG_CACHE_HOME", "/x/cache", 1);
    EXPECT_EQ(TextCache::DefaultPath(), "/x/cache/ferrydesk/document-text.sqlite");
    setenv("XDG_CACHE_HOME", "relative/cache", 1);
    EXPECT_EQ(TextCache::DefaultPath(),
              std::string(std::getenv("HOME")) + "/.cache/ferrydesk/document-text.sqlite");
    if (oldXdg)
        setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CACHE_HOME");
}

// A running program keeps its store open from pass to pass; a store cleared meanwhile (the
// folder removed, as the README says to) is opened afresh, never written behind the user's
// back into a file that has no name any more.
TEST(TextCache, AStoreKeptOpenBetweenPassesFollowsItsFileAway) {
    TempDir dir;
    const std::string store = dir / "c/text.sqlite";
    const FileIdentity a{7, 100, 5000, 111, 222}, b{7, 101, 6000, 111, 222};
    const DocumentText text = AccountText();
    { TextCache(store, 1 << 20).Put(a, "text", text); }
    {
        TextCache next(store, 1 << 20); // the kept connection, its pages read
        DocumentText got;
        EXPECT_TRUE(next.Get(a, "text", got));
    }
    ASSERT_EQ(std::system(("rm -rf '" + dir.Path() + "/c'").c_str()), 0);
    { TextCache(store, 1 << 20).Put(b, "text", text); }
    // What a process of its own finds in the file at that name.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT ino FROM text ORDER BY ino", -1, &s, nullptr),
              SQLITE_OK);
    std::vector<int64_t> inodes;
    while (sqlite3_step(s) == SQLITE_ROW)
        inodes.push_back(sqlite3_column_int64(s, 0));
    sqlite3_finalize(s);
    sqlite3_close(db);
    EXPECT_EQ(inodes, std::vector<int64_t>{101});
    EXPECT_EQ(ModeOf(dir / "c"), 0700u);
}

} // namespace
} // namespace ferry
