#include "core/file_outcome.h"

#include "platform/files.h"

#include <chrono>
#include <sys/stat.h>

namespace ferry {

const char* OutcomeKindText(OutcomeKind kind) {
    switch (kind) {
    case OutcomeKind::Moved:
        return "moved";
    case OutcomeKind::NameTaken:
        return "left (name taken)";
    case OutcomeKind::InUse:
        return "left (in use)";
    case OutcomeKind::DestinationMissing:
        return "left (destination missing)";
    case OutcomeKind::MoveFailed:
        return "left (move failed)";
    case OutcomeKind::PassError:
        return "error";
    case OutcomeKind::DestinationIsSource:
        return "left (destination is source)";
    case OutcomeKind::TextUnreadable:
        return "text could not be read";
    case OutcomeKind::MailNotSent:
        return "mail not sent";
    }
    return "";
}

void PassSummary::Count(const FileOutcome& outcome) {
    TaskCounts* counts = nullptr;
    // Passes meet their tasks one after another: the last one is nearly always the one.
    for (auto known = Tasks.rbegin(); known != Tasks.rend(); ++known)
        if (known->Task == outcome.Task) {
            counts = &*known;
            break;
        }
    if (!counts) {
        Tasks.emplace_back();
        counts = &Tasks.back();
        counts->Task = outcome.Task;
    }
    switch (outcome.Kind) {
    case OutcomeKind::Moved:
        ++counts->Moved;
        break;
    case OutcomeKind::NameTaken:
        ++counts->NameTaken;
        break;
    case OutcomeKind::InUse:
        ++counts->InUse;
        break;
    case OutcomeKind::DestinationMissing:
        ++counts->DestinationMissing;
        break;
    case OutcomeKind::MoveFailed:
        ++counts->MoveFailed;
        break;
    case OutcomeKind::TextUnreadable:
        ++counts->TextUnreadable;
        break;
    case OutcomeKind::PassError:
        counts->Error = true;
        break;
    case OutcomeKind::DestinationIsSource:
        ++counts->DestinationIsSource;
        break;
    case OutcomeKind::MailNotSent:
        break; // the history shows it; the pass's line is about the files
    }
}

PassSummary Summarise(const std::vector<FileOutcome>& outcomes) {
    PassSummary summary;
    for (const FileOutcome& outcome : outcomes)
        summary.Count(outcome);
    return summary;
}

bool PassSummary::Empty() const {
    for (const TaskCounts& t : Tasks)
        if (t.Moved || t.NameTaken || t.InUse || t.DestinationMissing || t.MoveFailed ||
            t.DestinationIsSource || t.Error)
            return false;
    return true;
}

std::string PassSummary::Text() const {
    std::string text;
    for (const TaskCounts& t : Tasks) {
        std::string parts;
        const auto add = [&parts](int count, const char* words) {
            if (count <= 0)
                return;
            if (!parts.empty())
                parts += ", ";
            parts += std::to_string(count) + " " + words;
        };
        if (t.Moved == 1)
            add(1, "file moved");
        else
            add(t.Moved, "files moved");
        add(t.NameTaken, OutcomeKindText(OutcomeKind::NameTaken));
        add(t.InUse, OutcomeKindText(OutcomeKind::InUse));
        add(t.DestinationMissing, OutcomeKindText(OutcomeKind::DestinationMissing));
        add(t.MoveFailed, OutcomeKindText(OutcomeKind::MoveFailed));
        add(t.DestinationIsSource, OutcomeKindText(OutcomeKind::DestinationIsSource));
        add(t.TextUnreadable, "left (text could not be read)");
        if (t.Error)
            parts += parts.empty() ? "error" : ", error";
        if (parts.empty())
            continue;
        if (!text.empty())
            text += "; ";
        text += t.Task.empty() ? parts : t.Task + ": " + parts;
    }
    return text;
}

int64_t WallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void SetFileIdentity(const struct stat& file, FileOutcome& outcome) {
    outcome.Device = static_cast<uint64_t>(file.st_dev);
    outcome.Inode = static_cast<uint64_t>(file.st_ino);
    outcome.MTimeNs = static_cast<int64_t>(file.st_mtim.tv_sec) * 1000000000 + file.st_mtim.tv_nsec;
    outcome.CTimeNs = static_cast<int64_t>(file.st_ctim.tv_sec) * 1000000000 + file.st_ctim.tv_nsec;
    outcome.Size = static_cast<int64_t>(file.st_size);
}

void RefreshChangeTime(FileOutcome& moved) {
    if (moved.Kind != OutcomeKind::Moved || moved.File.empty() || moved.ChangeTimeFinal)
        return;
    FileOutcome now;
    if (ReadFileIdentity(IncludeTrailingSeparator(moved.DestinationFolder) + moved.File, now) &&
        now.Device == moved.Device && now.Inode == moved.Inode && now.MTimeNs == moved.MTimeNs)
        moved.CTimeNs = now.CTimeNs;
}

bool ReadFileIdentity(const std::string& path, FileOutcome& outcome) {
    struct stat entry;
    if (lstat(path.c_str(), &entry) != 0)
        return false;
    SetFileIdentity(entry, outcome);
    struct stat target;
    outcome.Size = static_cast<int64_t>(S_ISLNK(entry.st_mode) && stat(path.c_str(), &target) == 0
                                            ? target.st_size
                                            : entry.st_size);
    return true;
}

} // namespace ferry
