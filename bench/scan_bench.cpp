// Drives the content matcher and the routing pass for bench/scan-vs-grep:
//
//   scan_bench gen DIR COUNT BYTES SEED PATTERN PLANTED   write COUNT text files, PLANTED of
//                                                         them holding PATTERN
//   scan_bench gen-utf8 DIR COUNT BYTES SEED PATTERN PLANTED
//                                                         the same in UTF-8 German, Russian and
//                                                         Greek text
//   scan_bench scan [-i] PATTERN < LIST                   print the files of LIST (one path a
//                                                         line) that contain PATTERN, as grep -l
//   scan_bench gen-bin DIR COUNT BYTES SEED PATTERN PLANTED
//                                                         the same in binary bytes (executable-
//                                                         like: NULs, small integers, code)
//   scan_bench read < LIST                                read every file of LIST in the scan's
//                                                         blocks and do nothing else (the ceiling)
//   scan_bench route SRC DST PATTERN [LISTENER]           one routing pass; prints files, seconds.
//                                                         LISTENER "none" (default) counts moves;
//                                                         "real" calls SendNotification after
//                                                         each and gathers the outcomes, as
//                                                         Run Tasks Now does
//   scan_bench settings on|off PORT                       writes the notification settings into
//                                                         the hive at $FERRYDESK_REGISTRY_DIR
//   scan_bench task SRC DST PATTERN                       stores one task there, for a run of
//                                                         the program itself (ferrydesk --run-once)
//   scan_bench rename SRC DST                             plain rename loop; prints files, seconds
//   scan_bench renameat2 SRC DST                          bare C loop: readdir + renameat2
//                                                         (no replace); prints files, seconds
//   scan_bench checked SRC DST PATTERN                  the least a pass with the program's checks
//                                                         can do: a thread opens, leases and reads
//                                                         each file ahead; the other asks the
//                                                         lease, the name and an inotify queue,
//                                                         then renames; prints files, seconds
//   scan_bench memory [-i] PATTERN FILE                   peak memory of one scan (KiB)
//   scan_bench baseline                                   peak memory doing nothing (KiB)

#include "activity/pass_history.h"
#include "core/content_matcher.h"
#include "core/engine.h"
#include "core/pass_list.h"
#include "mail/mail_notifier.h"
#include "mail/notification.h"
#include "platform/files.h"
#include "settings/mail_settings.h"
#include "settings/settings_store.h"
#include "settings/task_entries.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace ferry;

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Random {
    uint64_t State;
    uint64_t Next() {
        State ^= State << 13;
        State ^= State >> 7;
        State ^= State << 17;
        return State;
    }
};

const char* const Words[] = {
    "the",      "of",       "and",     "to",       "in",       "is",        "that",    "for",
    "it",       "as",       "was",     "with",     "be",       "by",        "on",      "not",
    "he",       "this",     "are",     "or",       "his",      "from",      "at",      "which",
    "but",      "have",     "an",      "had",      "they",     "you",       "were",    "their",
    "shipment", "delivery", "invoice", "account",  "customer", "order",     "payment", "balance",
    "Monday",   "Report",   "Total",   "Quantity", "Item",     "Warehouse", "London",  "Ferry",
    "2024",     "17",       "0.50",    "EUR",      "ref",      "no.",       "-",       "(see",
    "below)",   "Dear",     "Sir,",    "regards",  "Notes:",   "page",      "of",      "copy"};

// Words of UTF-8 text: two-byte letters of three scripts among ASCII ones.
const char* const Utf8Words[] = {
    "der",      "die",    "und",       "für",         "Größe",   "Übersicht", "Straße",
    "Rechnung", "Konto",  "Lieferung", "Kunde",       "Betrag",  "über",      "März",
    "счёт",     "оплата", "доставка",  "клиент",      "сумма",   "Москва",    "и",
    "в",        "на",     "заказ",     "Λογαριασμός", "πληρωμή", "και",       "το",
    "the",      "of",     "2024",      "17",          "0,50",    "EUR",       "№",
    "—",        "Nr.",    "Seite",     "страница",    "σελίδα",  "Grüße",     "ёлка"};

int Generate(const std::string& dir, long count, long bytes, uint64_t seed,
             const std::string& pattern, long planted, bool utf8 = false) {
    Random random{seed * 2654435761u + 1};
    std::string text;
    for (long f = 0; f < count; ++f) {
        text.clear();
        int column = 0;
        while (static_cast<long>(text.size()) < bytes) {
            const char* word =
                utf8 ? Utf8Words[random.Next() % (sizeof Utf8Words / sizeof *Utf8Words)]
                     : Words[random.Next() % (sizeof Words / sizeof *Words)];
            text += word;
            column += static_cast<int>(std::strlen(word)) + 1;
            if (column > 64) {
                text += '\n';
                column = 0;
            } else {
                text += ' ';
            }
        }
        text.resize(static_cast<std::size_t>(bytes));
        // Spread the planted files over the corpus, the match anywhere in the file.
        if (planted > 0 && (f * planted) / count != ((f + 1) * planted) / count &&
            bytes > static_cast<long>(pattern.size()))
            text.replace(random.Next() % (bytes - pattern.size()), pattern.size(), pattern);
        char name[64];
        std::snprintf(name, sizeof name, "/f%06ld.txt", f);
        FILE* out = std::fopen((dir + name).c_str(), "wb");
        if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
            std::fclose(out)) {
            std::perror(name);
            return 1;
        }
    }
    return 0;
}

// Bytes like an executable's: runs of NULs, little-endian integers, short strings and
// dense machine code, so that every byte value turns up.
int GenerateBinary(const std::string& dir, long count, long bytes, uint64_t seed,
                   const std::string& pattern, long planted) {
    Random random{seed * 2654435761u + 7};
    std::string data;
    for (long f = 0; f < count; ++f) {
        data.clear();
        while (static_cast<long>(data.size()) < bytes) {
            switch (random.Next() % 5) {
            case 0:
                data.append(random.Next() % 48, '\0');
                break;
            case 1:
                for (int k = 0; k < 8; ++k) {
                    const uint32_t v = static_cast<uint32_t>(random.Next() % 70000);
                    data.append(reinterpret_cast<const char*>(&v), 4);
                }
                break;
            case 2:
                data += Words[random.Next() % (sizeof Words / sizeof *Words)];
                data += '\0';
                break;
            default:
                for (int k = 0; k < 40; ++k)
                    data += static_cast<char>(random.Next() >> 13);
            }
        }
        data.resize(static_cast<std::size_t>(bytes));
        if (planted > 0 && (f * planted) / count != ((f + 1) * planted) / count &&
            bytes > static_cast<long>(pattern.size()))
            data.replace(random.Next() % (bytes - pattern.size()), pattern.size(), pattern);
        char name[64];
        std::snprintf(name, sizeof name, "/b%06ld.bin", f);
        FILE* out = std::fopen((dir + name).c_str(), "wb");
        if (!out || std::fwrite(data.data(), 1, data.size(), out) != data.size() ||
            std::fclose(out)) {
            std::perror(name);
            return 1;
        }
    }
    return 0;
}

// What any scan must at least do: open, read every block, close.
int ReadAll() {
    std::string path;
    std::vector<char> block(ScanBlockSize);
    unsigned long long total = 0;
    while (std::getline(std::cin, path)) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ssize_t n;
        while ((n = ::read(fd, block.data(), block.size())) > 0)
            total += static_cast<unsigned long long>(n);
        ::close(fd);
    }
    std::printf("%llu\n", total);
    return 0;
}

int Scan(bool exact, const std::string& pattern) {
    std::string path;
    while (std::getline(std::cin, path))
        if (ScanFileForString(path, pattern, exact) >= 0)
            std::printf("%s\n", path.c_str());
    return 0;
}

// Counts the move attempts, the figure the scripts check.
struct Moves : PassObserver {
    long Count = 0;
    void MoveAttempted(const FileOutcome&) override { ++Count; }
};

int Route(const std::string& src, const std::string& dst, const std::string& pattern,
          const std::string& listener) {
    const std::vector<TaskRecord> tasks = {{"bench", src, dst, pattern}};
    Moves moves;
    // As Run Tasks Now runs it: the notification after each move, and each file's outcome
    // gathered for the history.
    PassHistory history(nullptr);
    MailNotifier mail;
    PassObservers real{&history, &mail, &moves};
    PassObservers none{&moves};
    const CancelFlag never;
    const double start = Now();
    const PassEnd end = RunPass(tasks, CurrentPassRules(), listener == "real" ? real : none, never);
    const double took = Now() - start;
    if (end.Error)
        std::rethrow_exception(end.Error);
    std::printf("%ld %.6f\n", moves.Count, took);
    return 0;
}

int Settings(bool on, const std::string& port) {
    InitialiseDefaults();
    TOptionsSettings options;
    options.Mail.SMTPEnabled = on;
    options.Mail.SMTPServer = "127.0.0.1";
    options.Mail.SMTPFrom = "ferry@example.com";
    options.Mail.SMTPTo = "someone@example.com";
    options.Mail.SMTPMessage = "Files have been processed.";
    return WriteOptionsSettings(options, port, false) ? 0 : 1;
}

// After "settings", whose defaults empty the table.
int StoreTask(const std::string& src, const std::string& dst, const std::string& pattern) {
    TaskTable table;
    table.AppendTask({"bench", src, dst, pattern});
    const TaskSnapshot snapshot = table.Snapshot();
    SaveTaskEntries(snapshot.Count, snapshot);
    return 0;
}

int RenameAt2Loop(const std::string& src, const std::string& dst) {
    const double start = Now();
    DIR* dir = ::opendir(src.c_str());
    const int to = ::open(dst.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!dir || to < 0) {
        std::perror("renameat2");
        return 1;
    }
    const int from = ::dirfd(dir);
    long moved = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.' &&
            (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
            continue;
        if (::renameat2(from, e->d_name, to, e->d_name, RENAME_NOREPLACE) == 0)
            ++moved;
    }
    ::closedir(dir);
    ::close(to);
    std::printf("%ld %.6f\n", moved, Now() - start);
    return 0;
}

int RenameLoop(const std::string& src, const std::string& dst) {
    const double start = Now();
    std::vector<std::string> names;
    ListFiles(src, AllFilesMask, names);
    long moved = 0;
    for (const std::string& name : names)
        if (std::rename((src + "/" + name).c_str(), (dst + "/" + name).c_str()) == 0)
            ++moved;
    std::printf("%ld %.6f\n", moved, Now() - start);
    return 0;
}

// The pass's system calls and nothing else of it: per file, on the reading thread, open +
// fstat + write lease + one read + a plain search, then close once moved; on the moving
// thread, the lease asked (nobody opened the file since), the name looked up (it still
// leads there), the settings' change queue read, and the rename. Two files are read ahead.
int CheckedLoop(const std::string& src, const std::string& dst, const std::string& pattern) {
    const double start = Now();
    std::vector<std::string> names;
    ListFiles(src, AllFilesMask, names);
    const std::string from = src + "/", to = dst + "/";
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, dst.c_str(), IN_CREATE | IN_MOVED_FROM) < 0) {
        std::perror("inotify");
        return 1;
    }
    constexpr std::size_t kAhead = 2, kRing = 256;
    struct Item {
        int Fd = -1;
        bool Match = false;
        ino_t Ino = 0;
    };
    std::vector<Item> items(names.size());
    int closing[kRing];
    std::atomic<std::size_t> handed{0}, taken{0}, queued{0}, closed{0};
    std::atomic<bool> done{false};
    auto closeQueued = [&] {
        for (std::size_t c = closed.load(); c != queued.load(std::memory_order_acquire); ++c) {
            ::close(closing[c % kRing]);
            closed.store(c + 1, std::memory_order_release);
        }
    };
    std::thread reader([&] {
        std::vector<char> block(32769);
        for (std::size_t i = 0; i < names.size(); ++i) {
            while (taken.load() + kAhead <= i)
                closeQueued();
            Item& item = items[i];
            item.Fd = ::open((from + names[i]).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            struct stat st;
            if (item.Fd >= 0 && ::fstat(item.Fd, &st) == 0 &&
                ::fcntl(item.Fd, F_SETLEASE, F_WRLCK) == 0) {
                item.Ino = st.st_ino;
                const ssize_t got = ::pread(item.Fd, block.data(), block.size(), 0);
                item.Match = got > 0 && ::memmem(block.data(), static_cast<std::size_t>(got),
                                                 pattern.data(), pattern.size());
            }
            handed.store(i + 1);
        }
        while (!done.load())
            closeQueued();
        closeQueued();
    });
    long moved = 0;
    alignas(inotify_event) char events[4096];
    for (std::size_t i = 0; i < names.size(); ++i) {
        while (handed.load() <= i) {
        }
        Item item = items[i];
        taken.store(i + 1);
        const std::string a = from + names[i], b = to + names[i];
        struct stat st;
        if (item.Match && ::fcntl(item.Fd, F_GETLEASE) == F_WRLCK && ::stat(a.c_str(), &st) == 0 &&
            st.st_ino == item.Ino &&
            ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0)
            ++moved;
        (void)!::read(watch, events, sizeof events);
        while (queued.load() - closed.load() == kRing) {
        }
        closing[queued.load() % kRing] = item.Fd;
        queued.store(queued.load() + 1, std::memory_order_release);
    }
    done.store(true);
    reader.join();
    ::close(watch);
    std::printf("%ld %.6f\n", moved, Now() - start);
    return 0;
}

int Memory(bool exact, const std::string& pattern, const std::string& file) {
    const long before = PeakKiB();
    const double start = Now();
    const int64_t offset = ScanFileForString(file, pattern, exact);
    const double seconds = Now() - start;
    const long after = PeakKiB();
    std::printf("offset %lld, %.2f s, peak RSS before %ld KiB, after %ld KiB, growth %ld KiB\n",
                static_cast<long long>(offset), seconds, before, after, after - before);
    return 0;
}

int Usage() {
    std::fprintf(stderr, "usage: see the comment at the top of bench/scan_bench.cpp\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage();
    const std::string mode = args[0];
    bool exact = true;
    if (args.size() > 1 && args[1] == "-i") {
        exact = false;
        args.erase(args.begin() + 1);
    }
    try {
        if (mode == "gen" && args.size() == 7)
            return Generate(args[1], std::atol(args[2].c_str()), std::atol(args[3].c_str()),
                            std::strtoull(args[4].c_str(), nullptr, 10), args[5],
                            std::atol(args[6].c_str()));
        if (mode == "gen-utf8" && args.size() == 7)
            return Generate(args[1], std::atol(args[2].c_str()), std::atol(args[3].c_str()),
                            std::strtoull(args[4].c_str(), nullptr, 10), args[5],
                            std::atol(args[6].c_str()), true);
        if (mode == "gen-bin" && args.size() == 7)
            return GenerateBinary(args[1], std::atol(args[2].c_str()), std::atol(args[3].c_str()),
                                  std::strtoull(args[4].c_str(), nullptr, 10), args[5],
                                  std::atol(args[6].c_str()));
        if (mode == "read" && args.size() == 1)
            return ReadAll();
        if (mode == "settings" && args.size() == 3 && (args[1] == "on" || args[1] == "off"))
            return Settings(args[1] == "on", args[2]);
        if (mode == "task" && args.size() == 4)
            return StoreTask(args[1], args[2], args[3]);
        if (mode == "renameat2" && args.size() == 3)
            return RenameAt2Loop(args[1], args[2]);
        if (mode == "scan" && args.size() == 2)
            return Scan(exact, args[1]);
        if (mode == "route" && (args.size() == 4 || args.size() == 5))
            return Route(args[1], args[2], args[3], args.size() == 5 ? args[4] : "none");
        if (mode == "checked" && args.size() == 4)
            return CheckedLoop(args[1], args[2], args[3]);
        if (mode == "rename" && args.size() == 3)
            return RenameLoop(args[1], args[2]);
        if (mode == "memory" && args.size() == 3)
            return Memory(exact, args[1], args[2]);
        if (mode == "baseline" && args.size() == 1) {
            std::printf("peak RSS %ld KiB\n", PeakKiB());
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scan_bench: %s\n", e.what());
        return 1;
    }
    return Usage();
}
