#pragma once

// While a routing pass moves one file and calls its listener, a second thread opens and scans
// the next files of the list (up to Depth of them), under the write lease that the pass takes
// anyway, and closes the files the pass is done with. The lease is
// what lets the scan made ahead stand in for one made at the file's turn: Linux grants it only
// while no one else has the file open, and anyone who opens the file later breaks it. So when
// the pass comes to the file and the lease is unbroken, nobody has opened the file since it
// was read, and a scan made now would find exactly the same. Otherwise, and whenever the file
// could not be read ahead, the pass scans the file at its turn as it always has. While a file waits
// for its turn, the thread gives its lease up within about a millisecond of a break, so an opener
// waits hardly longer than for a scan.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ferry {

class MoveBatch;
struct PreparedCopy;
class ReadOnlyFile;

class ReadAhead {
public:
    struct Scanned {
        std::unique_ptr<ReadOnlyFile> File; // open for the move, its lease held
        int64_t Result = -1;                // as ScanOpenFile: the offset of the match, or -1
        std::unique_ptr<PreparedCopy> Copy; // made ahead for a move across file systems
    };

    // Files larger than this are left to the pass: a scan of them would hold the thread, and
    // the end of the pass with it, for longer than a pass should wait to be called off.
    static constexpr int64_t MaxSize = 1 << 20;
    // How many files may be read ahead of the one the pass is at: a few while the moves are
    // renames; more once they are copies, so that one sync serves many of them.
    static constexpr std::size_t Depth = 2;
    static constexpr std::size_t CopyDepth = 32;

    // With a `batch`, a file that matches is also copied ahead into `destination` when its
    // move crosses file systems (MoveBatch::Prepare). The folders, names and batch are the
    // pass's and must outlive this object.
    ReadAhead(const std::string& folder, const std::vector<std::string>& names,
              const std::string& matchString, bool caseSensitive,
              const std::string& destination = std::string(), MoveBatch* batch = nullptr);
    // Stops the thread; what it holds is closed.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The scan of names[index] made ahead; null when the caller must scan the file itself,
    // now. Every index is taken, in order. Whether anyone opened
    // the file since is told by its lease, which the move asks for anyway: a move that finds
    // it broken leaves the file as it was, and the caller then scans the file afresh.
    std::unique_ptr<Scanned> Take(std::size_t index);

    // Closes a descriptor the pass is done with (as CloseLeased), on the thread, within
    // moments: a lease it still holds keeps anyone opening the moved file waiting until then.
    void Close(int fd, bool lease);

    struct State;

private:
    std::unique_ptr<State> State_;
};

} // namespace ferry
