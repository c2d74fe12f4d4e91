// Files built to break a reader: each one must come back as a clean "could not be read"
// with its reason, and the reader must go on answering for the next file.
#include "extract_test_support.h"
#include "hostile_files.h"
#include "support/temp_dir.h"

#include <csignal>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ferry {
namespace {

using test::CorpusFile;
using test::PeakKiB;
using test::TempDir;

std::string Cut(const std::string& path, double share) {
    std::string data = TempDir::Read(path);
    data.resize(static_cast<std::size_t>(data.size() * share));
    return data;
}

// Speckles in short strokes, like print the engine tries hard to read: slow to recognise.
uint8_t Speckle(uint32_t x, uint32_t y) {
    const uint32_t h = (x / 6) * 2654435761u ^ (y / 3) * 40503u;
    return (h >> 13) % 5 == 0 ? 0 : 255;
}

struct Hostile {
    std::string Name;
    bool Ocr;
    std::set<UnreadableReason> Reasons;
};

TEST(HostileDocuments, EachIsACleanFailureAndTheReaderGoesOn) {
    TempDir dir;
    dir.Write("truncated.pdf", Cut(CorpusFile("invoice-match.pdf"), 0.6));
    dir.Write("looping-tree.pdf", test::LoopingPageTreePdf());
    dir.Write("encrypted.pdf", TempDir::Read(CorpusFile("encrypted.pdf")));
    dir.Write("fake.pdf", "%PDF-1.7\n1 0 obj << /Type /Catalog >> garbage\n%%EOF\n");
    dir.Write("cut.docx", Cut(CorpusFile("invoice-match.docx"), 0.5));
    dir.Write("deep.rtf", "{\\rtf1 " + std::string(100000, '{') + "x");
    test::WriteZipBomb(dir / "bomb.docx", 300u << 20, false);
    test::WriteZipBomb(dir / "bomb-lying.docx", 300u << 20, true);
    // 200 MB of pixels, which the engine is never given.
    test::WriteGreyTiff(dir / "huge.tif", 14143, 14143, nullptr);
    struct stat huge {};
    ASSERT_EQ(stat((dir / "huge.tif").c_str(), &huge), 0);
    EXPECT_GT(huge.st_size, 200'000'000);
    const Hostile files[] = {
        {"truncated.pdf", false, {UnreadableReason::Damaged}},
        {"looping-tree.pdf", false, {UnreadableReason::Damaged}},
        {"encrypted.pdf", false, {UnreadableReason::Encrypted}},
        {"encrypted.pdf", true, {UnreadableReason::Encrypted}},
        {"fake.pdf", false, {UnreadableReason::Damaged}},
        {"cut.docx", false, {UnreadableReason::Damaged}},
        {"deep.rtf", false, {UnreadableReason::Damaged}},
        {"bomb.docx", false, {UnreadableReason::OverSizeBound}},
        {"bomb-lying.docx", false, {UnreadableReason::Damaged, UnreadableReason::OverSizeBound}},
        {"huge.tif", true, {UnreadableReason::OverSizeBound}},
    };
    EXPECT_LT(TempDir::Read(dir / "bomb.docx").size(), 1u << 20) << "a bomb is a small file";

    DocumentReader reader(test::HelperConfig());
    const long peakBefore = PeakKiB();
    const TextPattern account("ACME-7731", true);
    for (const Hostile& h : files) {
        const DocumentText text = reader.ReadFile(dir / h.Name, {h.Ocr, "eng"});
        EXPECT_EQ(text.Status, TextStatus::Unreadable) << h.Name;
        EXPECT_TRUE(h.Reasons.count(text.Reason)) << h.Name << ": " << UnreadableText(text.Reason);
        EXPECT_TRUE(text.Pieces.empty()) << h.Name;
        EXPECT_TRUE(
            MatchDocument(reader.ReadFile(CorpusFile("invoice-match.docx"), {}), account).Found)
            << "after " << h.Name;
    }
    // The caller's memory does not grow with what the helper was handed.
    EXPECT_LT(PeakKiB() - peakBefore, 32 * 1024);
}

TEST(HostileDocuments, AHelperKilledMidFileOrTooSlowIsReplaced) {
    TempDir dir;
    test::WriteGreyTiff(dir / "speckles.tif", 5000, 5000, Speckle);
    DocumentReaderConfig config = test::HelperConfig(dir / "cache/text.sqlite");
    config.OcrWall = std::chrono::milliseconds(1500);
    DocumentReader reader(config);
    const LookInOptions ocr{true, "eng"};

    // Too slow: killed at the wall-clock bound, and not remembered as this file's answer,
    // since a loaded machine is slow too.
    auto start = std::chrono::steady_clock::now();
    DocumentText text = reader.ReadFile(dir / "speckles.tif", ocr);
    EXPECT_EQ(text.Reason, UnreadableReason::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(reader.HelperPid(), -1);
    EXPECT_EQ(reader.ReadFile(CorpusFile("slides-match.pptx"), {}).Status, TextStatus::Text);

    // Killed from outside while it works on the file.
    config.OcrWall = std::chrono::milliseconds(60000);
    DocumentReader patient(config);
    const long readsBefore = patient.GetCounts().HelperReads;
    ASSERT_EQ(patient.ReadFile(CorpusFile("invoice-match.odt"), {}).Status, TextStatus::Text);
    const pid_t helper = patient.HelperPid();
    ASSERT_GT(helper, 0);
    auto reading =
        std::async(std::launch::async, [&] { return patient.ReadFile(dir / "speckles.tif", ocr); });
    // killed once it holds the file (its descriptor beside the socket and the standard three)
    const std::string fd4 = "/proc/" + std::to_string(helper) + "/fd/4";
    for (int i = 0; i < 1000 && access(fd4.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(helper, SIGKILL);
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(reading.get().Reason, UnreadableReason::HelperCrashed);
    // The next file gets a fresh helper.
    EXPECT_EQ(patient.ReadFile(CorpusFile("invoice-match.rtf"), {}).Status, TextStatus::Text);
    EXPECT_NE(patient.HelperPid(), helper);
    EXPECT_GT(patient.GetCounts().HelperReads, readsBefore + 1);
    // The killed reading was not remembered: the file goes to a helper again (and overruns).
    config.OcrWall = std::chrono::milliseconds(1000);
    DocumentReader again(config);
    EXPECT_EQ(again.ReadFile(dir / "speckles.tif", ocr).Reason, UnreadableReason::TimedOut);
    EXPECT_EQ(again.GetCounts().HelperReads, 1);
}

TEST(HostileDocuments, AMissingHelperIsAReasonNotACrash) {
    DocumentReaderConfig config = test::HelperConfig();
    config.HelperProgram = "/nonexistent/ferrydesk-extract";
    DocumentReader reader(config);
    const DocumentText text = reader.ReadFile(CorpusFile("invoice-match.pdf"), {});
    EXPECT_EQ(text.Reason, UnreadableReason::HelperMissing);
    // a file of no document type never needs the helper
    EXPECT_EQ(reader.ReadFile(CorpusFile("corpus.txt"), {}).Status, TextStatus::NotADocument);
}

} // namespace
} // namespace ferry

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SANITIZED 1
#endif
#endif
#ifndef SANITIZED
#define SANITIZED 0
#endif

namespace ferry {
namespace {

std::string ProcLine(pid_t pid, const std::string& file, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return line;
    return "";
}

TEST(HostileDocuments, TheHelperRunsFenced) {
    DocumentReader reader(test::HelperConfig());
    ASSERT_EQ(reader.ReadFile(CorpusFile("invoice-match.odt"), {}).Status, TextStatus::Text);
    const pid_t helper = reader.HelperPid();
    ASSERT_GT(helper, 0);
    // no socket can be made and no program started: a system-call filter is on
    EXPECT_EQ(ProcLine(helper, "status", "Seccomp:"), "Seccomp:\t2");
    EXPECT_EQ(ProcLine(helper, "status", "NoNewPrivs:"), "NoNewPrivs:\t1");
#if !SANITIZED
    // (a sanitizer's build goes without: its shadow memory alone is larger)
    const std::string limit = ProcLine(helper, "limits", "Max address space");
    EXPECT_NE(limit.find("536870912"), std::string::npos) << limit;
#endif
    EXPECT_NE(ProcLine(helper, "limits", "Max core file size").find(" 0 "), std::string::npos);
    // a network namespace of its own, where this machine allows one
    char mine[64] = {}, its[64] = {};
    readlink("/proc/self/ns/net", mine, sizeof mine - 1);
    readlink(("/proc/" + std::to_string(helper) + "/ns/net").c_str(), its, sizeof its - 1);
    if (std::string(mine) == its)
        std::cerr << "note: no network namespace for the helper here; the filter alone fences it\n";
    // only the socket to us is open beside the standard three and the file in hand
    int fds = 0;
    for (int fd = 0; fd < 64; ++fd)
        if (access(("/proc/" + std::to_string(helper) + "/fd/" + std::to_string(fd)).c_str(),
                   F_OK) == 0)
            ++fds;
    EXPECT_EQ(fds, 4);
}

} // namespace
} // namespace ferry
