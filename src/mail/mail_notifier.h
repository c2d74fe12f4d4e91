#pragma once

// The notification e-mail as an observer of routing passes, in the mode SMTPNotify names:
// one message per move attempt, one digest per pass, or only what needs a look (a file left,
// a pass that failed), once per file until it changes.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/pass_observer.h"
#include "settings/mail_settings.h"

namespace ferry {

class MailNotifier : public PassObserver {
public:
    // Told of a notification that could not be sent, as an outcome of kind MailNotSent (the
    // file it was about, or none for a pass's message): the history keeps it. No box, no retry.
    std::function<void(const FileOutcome&)> OnNotSent;

    // The mode is read once, here; an unreadable one counts as the first.
    void PassStarted(int64_t startMs) override;
    void FileEnded(const FileOutcome& outcome) override;
    void MoveAttempted(const FileOutcome& outcome) override;
    void PassEnded(const PassEnd& end) override;

    // The line a message gives one file: "Invoices: a.pdf: moved", with the reason after it.
    static std::string Line(const FileOutcome& outcome);

private:
    void NotSent(const FileOutcome* about, const std::exception& e);
    std::vector<std::string> TroubleLines(const PassEnd& end);

    TNotifyMode Mode_ = TNotifyMode::EachMove;
    std::vector<FileOutcome> Outcomes_; // this pass's, in the digest modes
    // Files left that were told of already, by path, with the version told: told again only
    // once the file changed (another size, modification or change time, or another file).
    struct Version {
        uint64_t Inode = 0;
        int64_t Size = 0, MTimeNs = 0, CTimeNs = 0;
        bool operator==(const Version&) const = default;
    };
    std::map<std::string, Version> Told_;
    std::string ToldError_; // the failed pass told of last; "" after one that completed
    int64_t EndMs_ = 0;     // of the pass whose message is being sent
};

} // namespace ferry
