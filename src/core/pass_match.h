#pragma once

// The read-and-match stage of a routing pass: whether a file's bytes hold the task's match
// string. A file that matches stays open, under the write lease the move needs, so that the
// move takes the very file that was read. The next files are read on a second thread while
// the pass moves this one (read_ahead.h); what decides is still the file as it is at its turn.

#include <cstddef>
#include <memory>
#include <string>

#include "core/pass_list.h"
#include "core/pass_rules.h"

namespace ferry {

class MoveBatch;
class ReadAhead;
class ReadOnlyFile;
struct PreparedCopy;

// A file found to match, held open for its move.
struct MatchedFile {
    MatchedFile();
    ~MatchedFile();
    MatchedFile(MatchedFile&&) noexcept;
    MatchedFile& operator=(MatchedFile&&) noexcept;

    std::unique_ptr<ReadOnlyFile> File;
    std::unique_ptr<PreparedCopy> Copy; // made ahead for a move across file systems
    bool ReadAhead = false; // read before its turn: a move finding it opened since reads again
};

class ContentMatch {
public:
    // The files of `listing` in `folders.From`, matched against `matchString` by `rules`.
    // Files that match may be copied ahead into `folders.To` through `batch` when their move
    // crosses file systems. Everything given must outlive this object.
    ContentMatch(const TaskFolders& folders, const FolderListing& listing,
                 const std::string& matchString, const PassRules& rules, MoveBatch& batch);
    ~ContentMatch();
    ContentMatch(const ContentMatch&) = delete;
    ContentMatch& operator=(const ContentMatch&) = delete;

    // File `index` at its turn (every index, in order): true, with the file open in `file`,
    // when it matches; false too for a file gone since the listing. Raises EInOutError when
    // the file cannot be read.
    bool Next(std::size_t index, MatchedFile& file);
    // File `index` read again now, for a file someone opened since it was read ahead.
    bool Again(std::size_t index, MatchedFile& file);

private:
    bool Read(std::size_t index, MatchedFile& file);

    const TaskFolders& Folders_;
    const FolderListing& Listing_;
    const std::string& Match_;
    const bool Exact_;
    std::unique_ptr<ReadAhead> Ahead_;
};

} // namespace ferry
