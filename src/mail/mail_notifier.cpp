#include "mail/mail_notifier.h"

#include <sys/stat.h>

#include "base/exception.h"
#include "mail/notification.h"

namespace ferry {

namespace {

bool Left(OutcomeKind kind) {
    return kind != OutcomeKind::Moved && kind != OutcomeKind::PassError &&
           kind != OutcomeKind::MailNotSent;
}

std::string PathOf(const FileOutcome& o) {
    return o.SourceFolder.empty() || o.SourceFolder.back() == '/' ? o.SourceFolder + o.File
                                                                  : o.SourceFolder + "/" + o.File;
}

// What the file is now; a file gone has no version and is forgotten.
bool VersionOf(const std::string& path, uint64_t& inode, int64_t& size, int64_t& mtime,
               int64_t& ctime) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    inode = st.st_ino;
    size = st.st_size;
    mtime = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    ctime = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    return true;
}

std::string ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

std::string MailNotifier::Line(const FileOutcome& o) {
    std::string line = o.Task + ": " + o.File + ": " + OutcomeKindText(o.Kind);
    if (!o.Detail.empty())
        line += ": " + o.Detail;
    return line;
}

void MailNotifier::PassStarted(int64_t) {
    Outcomes_.clear();
    try {
        Mode_ = ReadNotifyMode();
    } catch (const std::exception&) {
        Mode_ = TNotifyMode::EachMove;
    }
}

void MailNotifier::FileEnded(const FileOutcome& outcome) {
    if (Mode_ != TNotifyMode::EachMove && outcome.Kind != OutcomeKind::MailNotSent)
        Outcomes_.push_back(outcome);
}

void MailNotifier::MoveAttempted(const FileOutcome& outcome) {
    if (Mode_ != TNotifyMode::EachMove)
        return;
    SendNotification([&](const std::exception& e) { NotSent(&outcome, e); });
}

void MailNotifier::NotSent(const FileOutcome* about, const std::exception& e) {
    if (!OnNotSent)
        return;
    FileOutcome note;
    if (about) {
        note = *about;
        note.Size = -1;
        note.ErrorCode = 0;
    }
    note.TimeMs = about ? about->TimeMs : EndMs_;
    note.Kind = OutcomeKind::MailNotSent;
    note.Detail = e.what();
    OnNotSent(note);
}

std::vector<std::string> MailNotifier::TroubleLines(const PassEnd& end) {
    std::vector<std::string> lines;
    std::map<std::string, Version> seen;
    for (const FileOutcome& o : Outcomes_) {
        if (!Left(o.Kind))
            continue;
        Version v;
        const std::string path = PathOf(o);
        if (!VersionOf(path, v.Inode, v.Size, v.MTimeNs, v.CTimeNs))
            continue;
        auto told = Told_.find(path);
        if (told == Told_.end() || !(told->second == v))
            lines.push_back(Line(o));
        Told_[path] = v;
    }
    // Files told of that are gone or changed since are forgotten; a bounded memory either way.
    for (auto it = Told_.begin(); it != Told_.end();) {
        Version now;
        if (!VersionOf(it->first, now.Inode, now.Size, now.MTimeNs, now.CTimeNs) ||
            !(now == it->second))
            it = Told_.erase(it);
        else
            ++it;
    }
    if (end.Error) {
        const std::string error = ErrorText(end.Error);
        if (error != ToldError_)
            lines.push_back("The pass ended with an error: " + error);
        ToldError_ = error;
    } else {
        ToldError_.clear();
    }
    return lines;
}

void MailNotifier::PassEnded(const PassEnd& end) {
    if (Mode_ == TNotifyMode::EachMove)
        return;
    std::vector<std::string> lines;
    if (Mode_ == TNotifyMode::PassDigest) {
        for (const FileOutcome& o : Outcomes_)
            if (o.Kind != OutcomeKind::PassError)
                lines.push_back(Line(o));
        if (end.Error && !lines.empty())
            lines.push_back("The pass ended with an error: " + ErrorText(end.Error));
    } else {
        lines = TroubleLines(end);
    }
    Outcomes_.clear();
    if (lines.empty())
        return;
    EndMs_ = end.EndMs;
    // Must not raise here: whatever keeps the message from going is the history's to show.
    try {
        SendNotification([&](const std::exception& e) { NotSent(nullptr, e); }, lines);
    } catch (const std::exception& e) {
        NotSent(nullptr, e);
    }
}

} // namespace ferry
