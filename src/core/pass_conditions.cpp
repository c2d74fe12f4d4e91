#include "core/pass_conditions.h"

#include "base/cancellation.h"
#include "base/exception.h"
#include "core/content_matcher.h"
#include "core/pass_match.h"
#include "core/pass_move.h"
#include "core/pass_report.h"
#include "core/pass_select.h"
#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/system_errors.h"

#include <algorithm>
#include <sys/stat.h>

#include <unordered_set>

namespace ferry {

namespace {

class OpenFileSource : public ScanSource {
public:
    explicit OpenFileSource(ReadOnlyFile& file) : File_(file) {}
    int64_t Size() override { return File_.Size(); }
    std::size_t Read(void* buffer, std::size_t count) override {
        // A read only reads, so a long one may be given up between two blocks.
        ThrowIfThreadCancelled();
        return File_.Read(buffer, count);
    }
    void Seek(int64_t position) override { File_.Seek(position); }

private:
    ReadOnlyFile& File_;
};

void Take(std::vector<TaskVerdict>& into, std::vector<TaskVerdict>&& from,
          const std::vector<bool>& asked) {
    for (std::size_t t = 0; t < asked.size(); ++t)
        if (asked[t])
            into[t] = std::move(from[t]);
}

// One read of `file` for the task at `place` and every later task of the group that selects
// it: document text for those that look inside documents, the bytes for the others (and for
// those whose file turns out to be no document).
// What a task's match in document text is kept under: everything that decides it.
std::string MatchKey(const TaskConditions& task, bool caseSensitive) {
    const char sep = '\x1f';
    return std::string("conditions") + sep + std::to_string(static_cast<uint32_t>(task.Kind)) +
           sep + (caseSensitive ? "exact" : "fold") + sep + task.MatchString + sep +
           task.ExcludeString;
}

// A read's tasks: the one at `place` and every later one that selects the file. `read` is
// made new, in the room it has.
void Asking(const FolderGroup& group, std::size_t place, const FileFacts& facts, PassFolders& pass,
            FileRead& read) {
    const FolderMatcher& matcher = *group.Matcher;
    const std::size_t count = group.Tasks.size();
    read.Version = {};
    read.Taken = false;
    read.Asked.assign(count, false);
    read.Verdicts.clear();
    read.Unreadable.assign(count, {});
    read.Why.assign(count, {});
    for (std::size_t t = place; t < count; ++t)
        read.Asked[t] = matcher.Problem(t).empty() &&
                        (t == place || matcher.Select(t, facts, pass.Now()).Selected);
}

FileRead ReadFor(FolderGroup& group, std::size_t place, const FileFacts& facts, ReadOnlyFile& file,
                 PassFolders& pass) {
    const FolderMatcher& matcher = *group.Matcher;
    const std::size_t count = group.Tasks.size();
    FileRead read;
    Asking(group, place, facts, pass, read);
    read.Verdicts.resize(count);
    read.Version = FileVersion::Of(file.Stat());

    std::vector<bool> bytes = read.Asked;
    // Tasks reading documents without OCR and with it read them apart: the text differs.
    for (const bool ocr : {false, true}) {
        std::vector<bool> asked(count, false);
        bool any = false;
        for (std::size_t t = place; t < count; ++t)
            if (read.Asked[t] && group.Tasks[t].LookIn != 0 && (group.Tasks[t].LookIn >= 2) == ocr)
                any = asked[t] = true;
        if (!any)
            continue;
        DocumentSource* documents = pass.Documents();
        if (!documents)
            break; // no reader: every file is matched on its bytes
        ThrowIfThreadCancelled();
        const std::string& languages = pass.Rules().OcrLanguages;
        // One task alone on this text: what it found in this version before stands, and a
        // warm pass reads no text at all. A dry run wants the reasons, which are not kept.
        std::string key;
        std::size_t alone = count;
        if (std::count(asked.begin(), asked.end(), true) == 1 && !pass.Rules().DryRun) {
            alone = static_cast<std::size_t>(std::find(asked.begin(), asked.end(), true) -
                                             asked.begin());
            key = MatchKey(group.Tasks[alone], pass.Rules().CaseSensitive);
            bool holds = false;
            std::string why;
            if (documents->Recall(file.Fd(), file.Stat(), ocr, languages, key, holds, why)) {
                bytes[alone] = false;
                read.Verdicts[alone].Holds = holds;
                read.Why[alone] = why;
                continue;
            }
        }
        DocumentReading text = documents->Read(file.Fd(), file.Stat(), ocr, languages);
        if (text.State == DocumentReading::Status::NotADocument)
            continue;
        for (std::size_t t = 0; t < count; ++t)
            if (asked[t]) {
                bytes[t] = false;
                if (text.State == DocumentReading::Status::Unreadable)
                    read.Unreadable[t] = text.Why.empty() ? "unknown reason" : text.Why;
            }
        if (text.State == DocumentReading::Status::Text) {
            Take(read.Verdicts, matcher.MatchText(text.Pieces, asked), asked);
            if (alone < count)
                documents->Keep(file.Fd(), file.Stat(), ocr, languages, key,
                                read.Verdicts[alone].Holds, MatchedText(read.Verdicts[alone]));
        }
    }
    for (std::size_t t = place; t < count; ++t)
        if (bytes[t]) {
            OpenFileSource source(file);
            source.Seek(0);
            Take(read.Verdicts, matcher.MatchBytes(source, bytes), bytes);
            break;
        }
    return read;
}

// ReadFor over the file at `path`, opened for this read alone; false when it is gone.
bool ReadNow(FolderGroup& group, std::size_t place, const FileFacts& facts, const std::string& path,
             PassFolders& pass, FileRead& read) {
    bool documents = false;
    for (std::size_t t = place; t < group.Tasks.size(); ++t)
        documents = documents || group.Tasks[t].LookIn != 0;
    if (!documents || !pass.Documents()) {
        // Bytes alone: the matcher's own read, which opens a file no one else has open with
        // the fewest calls. The version is the file's as it was read, so that a change
        // during or after the read shows as another version at the move.
        struct stat st {};
        Asking(group, place, facts, pass, read);
        try {
            group.Matcher->MatchFile(path, read.Asked, read.Verdicts, &st);
        } catch (const EInOutError& e) {
            if (e.ErrorCode == ERROR_FILE_NOT_FOUND)
                return false; // gone since the listing
            throw;
        }
        if (st.st_mode == 0 && stat(path.c_str(), &st) != 0)
            return false; // nothing read, and gone
        read.Version = FileVersion::Of(st);
        return true;
    }
    std::unique_ptr<ReadOnlyFile> file;
    try {
        file = std::make_unique<ReadOnlyFile>(path);
    } catch (const EInOutError& e) {
        if (e.ErrorCode == ERROR_FILE_NOT_FOUND)
            return false; // gone since the listing
        throw;
    }
    read = ReadFor(group, place, facts, *file, pass);
    file->Close();
    return true;
}

// The move's open, under its lease; false when the file is gone.
bool OpenForMove(const std::string& path, MatchedFile& file) {
    try {
        file.File = std::make_unique<ReadOnlyFile>(path, ReadOnlyFile::Purpose::ForMove);
    } catch (const EInOutError& e) {
        if (e.ErrorCode == ERROR_FILE_NOT_FOUND)
            return false;
        throw;
    }
    return true;
}

bool Holds(const FileRead& read, std::size_t place) {
    return read.Unreadable[place].empty() && read.Verdicts[place].Holds;
}

// What would stop a move the dry run does not make; empty when nothing would.
std::string MoveObstacle(const TaskFolders& folders, const std::string& name) {
    if (!FolderExists(folders.To))
        return "the destination folder does not exist";
    struct stat there {
    }, here{};
    if (lstat((folders.To + name).c_str(), &there) != 0)
        return {};
    if (lstat((folders.From + name).c_str(), &here) == 0 && here.st_dev == there.st_dev &&
        here.st_ino == there.st_ino)
        return "the destination is the source folder";
    return "a file of that name is already in the destination";
}

} // namespace

std::string MatchedText(const TaskVerdict& verdict) {
    std::string text;
    std::string piece = "\x01"; // no label yet
    for (const ConditionHit& hit : verdict.Found) {
        if (hit.Piece != piece) {
            if (!text.empty())
                text += "; ";
            piece = hit.Piece;
            text += (piece.empty() ? std::string("words") : piece) + ": ";
        } else {
            text += ", ";
        }
        text += hit.What;
    }
    return text;
}

void RunConditionTask(std::size_t n, const TaskFolders& folders, PassFolders& pass,
                      PassReport& report, const std::vector<std::string>* only) {
    std::size_t place = 0;
    FolderGroup& group = pass.GroupOf(n, place);
    if (!group.Listed) {
        group.Listing = FolderListing();
        if (!ListSourceFolder(folders, group.Listing))
            return;
        DropMoveTemporaries(folders.From, group.Listing);
        group.Listed = true;
        if (group.Tasks.size() > 1)
            group.Files.reserve(group.Listing.Names.size());
    } else if (FolderExists(folders.To)) {
        RemoveMoveLeftovers(folders.To); // as the listing does for the task's destination
    }
    const FolderListing& files = group.Listing;
    const FolderMatcher& matcher = *group.Matcher;
    std::unordered_set<std::string> wanted;
    if (only)
        wanted.insert(only->begin(), only->end());
    const PassRules& rules = pass.Rules();
    const TaskConditions& task = group.Tasks[place];
    const auto preview = [&](const std::string& name, bool taken, const std::string& why) {
        report.Previewed(name, taken, why);
    };
    if (!matcher.Problem(place).empty()) {
        // A task that can take nothing reads nothing; a dry run says why.
        if (rules.DryRun)
            for (const std::string& name : files.Names)
                if (!only || wanted.contains(name))
                    preview(name, false, matcher.Problem(place));
        return;
    }

    MoveStage move(folders);
    // Never read ahead here: a file is read again only when it is no longer the one read.
    const auto again = [](std::size_t, MatchedFile&) { return false; };
    std::string path; // one buffer for every file's
    // What is read for the last task of the folder serves no later one: it is kept here,
    // not in the folder's reads, unless an earlier task's read of the file is there.
    const bool keep = place + 1 < group.Tasks.size();
    FileRead last;
    try {
        for (std::size_t i = 0; i < files.Names.size(); ++i) {
            const std::string& name = files.Names[i];
            if (only && !wanted.contains(name))
                continue; // a pass of the files that arrived, and this one did not
            ThrowIfThreadCancelled();
            report.Finished(move.Advance());
            report.At(name);
            path.assign(folders.From).append(name);

            FileFacts facts{name, {}};
            if (group.NeedsAge) {
                struct stat st {};
                if (stat(path.c_str(), &st) != 0)
                    continue; // gone since the listing
                facts = FileFacts::FromStat(name, st);
            }
            const Selection selected = matcher.Select(place, facts, pass.Now());
            if (!selected.Selected) {
                if (rules.DryRun)
                    preview(name, false, selected.Reason);
                continue;
            }
            FileRead* known = nullptr;
            if (!group.Files.empty())
                if (auto it = group.Files.find(name); it != group.Files.end())
                    known = &it->second;
            if (known && known->Taken)
                continue; // moved by an earlier task (or, in a dry run, would have been)
            if (known && known->Asked[place] && !Holds(*known, place) &&
                known->Unreadable[place].empty()) {
                // Read before for this task, and not taken: nothing to do with the file.
                if (rules.DryRun)
                    preview(name, false, matcher.Reason(place, known->Verdicts[place]));
                continue;
            }
            const bool kept = keep || known;

            // Read for the first time, or read before but changed since: read now. The read
            // shares the file with anyone (a document's reader may open it again by itself);
            // the move's own open follows, and a file changed in between is read again.
            MatchedFile file;
            bool gone = false;
            for (int tries = 0;; ++tries) {
                if (!known || !known->Asked[place] || tries > 0) {
                    if (!kept) {
                        if (!ReadNow(group, place, facts, path, pass, last)) {
                            gone = true;
                            break;
                        }
                        known = &last;
                    } else {
                        FileRead read;
                        if (!ReadNow(group, place, facts, path, pass, read)) {
                            gone = true;
                            break;
                        }
                        known = &group.Files.insert_or_assign(name, std::move(read)).first->second;
                    }
                }
                if (!Holds(*known, place) || rules.DryRun)
                    break;
                file = MatchedFile();
                if (!OpenForMove(path, file)) {
                    gone = true;
                    break;
                }
                if (known->Version == FileVersion::Of(file.File->Stat()))
                    break;
                file.File->Close();
                file = MatchedFile();
                if (tries == 2) {
                    gone = true; // changing as we look: the next pass will see it settled
                    break;
                }
            }
            if (gone)
                continue;
            const FileRead& read = *known;
            if (!read.Unreadable[place].empty()) {
                if (rules.DryRun)
                    preview(name, false, "text could not be read: " + read.Unreadable[place]);
                else if (FirstUnreadable(read.Version))
                    report.Unreadable(name, read.Unreadable[place]);
                continue;
            }
            if (!read.Verdicts[place].Holds) {
                if (rules.DryRun)
                    preview(name, false, matcher.Reason(place, read.Verdicts[place]));
                continue;
            }
            // A task without conditions says nothing more in the history than it always did.
            const std::string why = task.Plain()               ? std::string()
                                    : !read.Why[place].empty() ? read.Why[place]
                                                               : MatchedText(read.Verdicts[place]);
            if (rules.DryRun) {
                const std::string obstacle = MoveObstacle(folders, name);
                preview(name, obstacle.empty(), obstacle.empty() ? why : obstacle);
                if (obstacle.empty())
                    known->Taken = true;
                continue;
            }
            const MoveResult moved = move.Move(name, i, files.Plain[i], file, again);
            report.Moved(name, moved, folders.From, folders.To, why);
            if (moved.How == MoveResult::Moved) {
                known->Taken = true;
                pass.MovedInto(folders.To, name);
            }
        }
    } catch (...) {
        report.Finished(move.Finish());
        throw;
    }
    report.At("");
    report.Finished(move.Finish());
}

} // namespace ferry
