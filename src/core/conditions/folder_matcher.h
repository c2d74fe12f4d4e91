#pragma once

// The conditions of all the tasks on one source folder, matched against a file in one read.
// A pass builds one per folder (with its case rule, read once at its start) and asks it, for
// each file, which tasks take the file: the select stage by name and age, then the read
// and match stage for the tasks still in the running. The tasks' answers are exactly what
// each would give alone, so the pass can give the file to the first task in table order
// whose conditions hold, and to the next when that one cannot move it.

#include "core/conditions/condition_set.h"
#include "core/conditions/file_selection.h"
#include "core/conditions/task_conditions.h"
#include "core/conditions/text_piece.h"
#include "core/content_matcher.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ferry {

// Something a task found: a word, phrase or match string as the task gives it, or the text
// a regular expression matched (cut to 80 bytes); all in the system code page.
struct ConditionHit {
    std::string What;
    int64_t Offset = 0; // bytes from the start of the file, or of the piece
    std::string Piece;  // the piece's label, for document text
};

struct TaskVerdict {
    bool Holds = false;
    std::vector<ConditionHit> Found; // why it holds (or, when it does not, what it did find)
    int Excluded = -1;               // the excluded term found (its place among the task's)
};

class FolderMatcher {
public:
    // The tasks of the folder in table order.
    FolderMatcher(const std::vector<TaskConditions>& tasks, bool caseSensitive);
    ~FolderMatcher();
    FolderMatcher(const FolderMatcher&) = delete;
    FolderMatcher& operator=(const FolderMatcher&) = delete;

    std::size_t TaskCount() const { return Parsed_.size(); }
    // Why a task can take no file at all (an invalid regular expression, an empty match
    // string, an unknown kind); empty when it can. Such a task never ends a pass: it just
    // takes nothing.
    const std::string& Problem(std::size_t task) const;

    // Why the task does not take a file it gave `verdict` for, in a person's words; empty
    // when it does. Made only when asked: a pass asks of few files.
    std::string Reason(std::size_t task, const TaskVerdict& verdict) const;

    // The select stage: name patterns and age, before anything is read.
    Selection Select(std::size_t task, const FileFacts& file, WallClock::time_point now) const;

    // The read and match stage for the tasks marked in `asked` (sized TaskCount()), from one
    // read of the source front to back; the verdicts of tasks not asked are left empty. A
    // read fails as the content matcher's does (EInOutError).
    std::vector<TaskVerdict> MatchBytes(ScanSource& source, const std::vector<bool>& asked) const;
    // The same for a file that it opens as the content matcher opens one. `status`, when
    // given, receives the file's status as it was read (left zero when nothing was asked).
    std::vector<TaskVerdict> MatchFile(const std::string& path, const std::vector<bool>& asked,
                                       struct stat* status = nullptr) const;
    // The same into `verdicts`, whose room is used again.
    void MatchFile(const std::string& path, const std::vector<bool>& asked,
                   std::vector<TaskVerdict>& verdicts, struct stat* status = nullptr) const;
    // The same for the text of a document, piece by piece; a match never spans two pieces.
    std::vector<TaskVerdict> MatchText(const std::vector<TextPiece>& pieces,
                                       const std::vector<bool>& asked) const;

private:
    class Run;

    // The one case that is the content matcher's own scan: a single task of the first kind.
    bool PlainScan(const std::vector<bool>& asked, std::size_t& task) const;
    TaskVerdict PlainVerdict(std::size_t task, int64_t offset) const;
    const std::string& Plain(std::size_t task) const { return Parsed_[task].Wanted[0].Words[0]; }

    std::vector<ParsedConditions> Parsed_;
    std::vector<FileSelector> Selectors_;
    bool CaseSensitive_;
    std::unique_ptr<ConditionSet> Bytes_;
    std::unique_ptr<ConditionSet> TextOwn_; // document text, when its code page differs
    const ConditionSet* Text_;
    std::vector<std::string> Problems_;
};

} // namespace ferry
