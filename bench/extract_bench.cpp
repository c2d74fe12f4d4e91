// Drives document-text reading for bench/extract-vs-pdftotext:
//
//   extract_bench gen-ps DIR COUNT SEED PATTERN EVERY   write COUNT PostScript files of one to
//                                                       ten pages of words; every EVERY-th holds
//                                                       PATTERN, printed in two runs
//   extract_bench pass SRC DST PATTERN CACHE [ocr]      the program's own pass (RunPass) of one
//                                                       task that looks inside documents: each
//                                                       file's text (from the cache at CACHE,
//                                                       "none" for no cache) or, for other
//                                                       files, its bytes are matched, and
//                                                       matches moved to DST; prints moved
//                                                       files, seconds, and the seconds the
//                                                       cache took to open
//   extract_bench bytes SRC PATTERN                     the byte scan of the same files, nothing
//                                                       moved; prints matching files, seconds

#include "core/content_matcher.h"
#include "core/engine.h"
#include "extract/document_reader.h"
#include "extract/pass_document_reader.h"
#include "platform/file_move.h"
#include "platform/files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace ferry;

namespace {

std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent* e = readdir(d))
        if (e->d_type == DT_REG)
            names.emplace_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

double Since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

int GenPs(const std::string& dir, int count, unsigned seed, const std::string& pattern, int every) {
    static const char* words[] = {
        "order",     "delivery", "invoice",  "payment",   "customer", "the",   "of",
        "balance",   "account",  "terms",    "due",       "amount",   "total", "shipment",
        "warehouse", "net",      "days",     "reference", "credit",   "tax",   "item",
        "quantity",  "price",    "discount", "for",       "and"};
    std::mt19937 rng(seed);
    const std::string a = pattern.substr(0, pattern.size() / 2),
                      b = pattern.substr(pattern.size() / 2);
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/doc%04d.ps", i);
        FILE* f = std::fopen((dir + name).c_str(), "w");
        if (!f)
            return 1;
        std::fprintf(f, "%%!PS\n/Helvetica findfont 10 scalefont setfont\n");
        const int pages = 1 + static_cast<int>(rng() % 10);
        const bool planted = i % every == 0;
        const int plantPage = static_cast<int>(rng() % pages),
                  plantLine = static_cast<int>(rng() % 55);
        for (int p = 0; p < pages; ++p) {
            for (int l = 0; l < 55; ++l) {
                std::string line;
                while (line.size() < 90)
                    line += std::string(words[rng() % (sizeof words / sizeof *words)]) + " ";
                std::fprintf(f, "60 %d moveto (%s) show\n", 760 - 13 * l, line.c_str());
                if (planted && p == plantPage && l == plantLine)
                    std::fprintf(f, "(%s) show (%s) show\n", a.c_str(), b.c_str());
            }
            std::fprintf(f, "showpage\n");
        }
        std::fclose(f);
    }
    return 0;
}

class CountMoved : public PassObserver {
public:
    void FileEnded(const FileOutcome& o) override { Moved += o.Kind == OutcomeKind::Moved; }
    int Moved = 0;
};

// One pass as the program runs it: the reader of documents (the cache's connection, the helper
// when a document needs reading) made by the pass itself when a task first looks inside a
// document and given up at its end, all inside the time. With `again`, the pass runs twice in
// the process and the second is timed: what a running program's next pass over the same
// folder costs (the first pass of a process also opens the store afresh).
int Pass(const std::string& src, const std::string& dst, const std::string& pattern,
         const std::string& cache, bool ocr, bool again) {
    DocumentReaderConfig config;
    config.CachePath = cache == "none" ? "" : cache;
    // The program's own pass: one task that looks inside documents, case-sensitive.
    ConditionValues lookInside;
    lookInside.LookIn = ocr ? 2 : 1;
    PassRules rules(true);
    rules.OcrLanguages = "eng";
    CountMoved moved;
    double took = 0;
    for (int run = again ? 2 : 1; run > 0; --run) {
        rules.Documents = PassDocumentReaders(config);
        moved.Moved = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const PassEnd end = RunPass({TaskRecord("Documents", src, dst, pattern, lookInside)}, rules,
                                    moved, CancelFlag());
        took = Since(t0);
        if (end.Error)
            return 1;
    }
    std::printf("%d %.6f\n", moved.Moved, took);
    return 0;
}

// The byte scan of the same files; with `again`, twice, the second timed, as for the pass.
int Bytes(const std::string& src, const std::string& pattern, bool again) {
    int matched = 0;
    double took = 0;
    for (int run = again ? 2 : 1; run > 0; --run) {
        const auto t0 = std::chrono::steady_clock::now();
        matched = 0;
        for (const std::string& name : Files(src))
            if (ScanFileForString(src + "/" + name, pattern, true) >= 0)
                ++matched;
        took = Since(t0);
    }
    std::printf("%d %.6f\n", matched, took);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 6 && a[0] == "gen-ps")
        return GenPs(a[1], std::stoi(a[2]), static_cast<unsigned>(std::stoul(a[3])), a[4],
                     std::stoi(a[5]));
    if ((a.size() == 5 || a.size() == 6) && a[0] == "pass")
        return Pass(a[1], a[2], a[3], a[4], a.size() == 6 && a[5] == "ocr",
                    a.size() == 6 && a[5] == "again");
    if ((a.size() == 3 || a.size() == 4) && a[0] == "bytes")
        return Bytes(a[1], a[2], a.size() == 4 && a[3] == "again");
    std::fprintf(stderr, "usage: extract_bench gen-ps|pass|bytes ... (see the source)\n");
    return 2;
}
