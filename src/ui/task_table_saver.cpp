#include "ui/task_table_saver.h"

#include "base/text.h"
#include "settings/stored_tasks.h"
#include "ui/user_prompts.h"

namespace ferry {

namespace {

bool SameTable(const TaskSnapshot& a, const TaskSnapshot& b) {
    return a.Count == b.Count && a.Identifier == b.Identifier && a.Source == b.Source &&
           a.Destination == b.Destination && a.MatchString == b.MatchString;
}

} // namespace

const char* const TaskTableSaver::BusyText =
    "Your task changes cannot be saved yet: the settings are in use by another program.\n\n"
    "They are kept, and saved as soon as the settings are free again.";
const char* const TaskTableSaver::UnreadableText =
    "Your task changes cannot be saved yet: the settings cannot be read right now.\n\n"
    "They are kept, and saved as soon as the settings can be read again.";
const char* const TaskTableSaver::SavedText =
    "The settings are available again: your task changes have been saved.";
const char* const TaskTableSaver::NeverText =
    "Your task changes cannot be saved: the stored tasks could not all be read when the "
    "program started, and saving now would replace them.\n\n"
    "Mend the settings and start the program again.";
const char* const TaskTableSaver::QuitText =
    "Your task changes have still not been saved: the settings are not available.\n\n"
    "If you quit now, these changes are lost.";

void TaskTableSaver::Defer(LONG code, UserPrompts& prompts) {
    Pending_ = true;
    LastCode_ = code;
    if (Told_)
        return;
    Told_ = true;
    prompts.MessageDlg(code == ERROR_BUSY ? BusyText : UnreadableText, TMsgDlgType::mtWarning,
                       Btn(mbOK));
}

void TaskTableSaver::Save(TaskTable& table, TStartupLoad& load, TaskChanges& changes,
                          UserPrompts& prompts,
                          const std::function<void(const TStartupLoad&)>& loaded) {
    bool lateLoad = false;
    if (!load.Completed) {
        // The first save comes before the user could change anything: what the table holds
        // then is what the failed load left, and nothing of the user's.
        if (!Unchanged_)
            Unchanged_ = table.Snapshot();
        const bool changed = !SameTable(table.Snapshot(), *Unchanged_);
        // Only a load that read nothing because the store could not be asked is tried again;
        // after any other failure the table in memory may be partial and is never stored.
        if (!load.StoreUnavailable) {
            if (changed && !ToldNever_) {
                ToldNever_ = true;
                prompts.MessageDlg(NeverText, TMsgDlgType::mtWarning, Btn(mbOK));
            }
            return;
        }
        int notKept = 0;
        try {
            if (!CompleteStartupLoad(table, load, notKept))
                return;
        } catch (const ERegistryException& e) {
            if (!load.StoreUnavailable)
                throw; // the store answered, with an error: shown like any load error
            // Nothing added yet means nothing to lose: no need to say anything.
            if (changed)
                Defer(e.Code, prompts);
            else
                Pending_ = false;
            return;
        }
        lateLoad = true;
        if (loaded)
            loaded(load);
        if (notKept > 0)
            prompts.MessageDlg(Format("The stored tasks and the ones added meanwhile are more "
                                      "than the task list holds: the last %d added could not be "
                                      "kept.",
                                      notKept),
                               TMsgDlgType::mtWarning, Btn(mbOK));
    }
    try {
        if (lateLoad) {
            // The stored tasks were just read, and the added ones put after them: all of it is
            // this copy's table now.
            if (SaveTaskTable(table, load))
                changes.Reset(TableRows(table));
        } else if (auto merged = SaveTaskChanges(TableRows(table), changes)) {
            ShowRebased(table, *merged);
        }
    } catch (const ERegistryException& e) {
        if (!StoreUnavailable(e.Code))
            throw;
        Defer(e.Code, prompts);
        return;
    }
    Pending_ = false;
    if (Told_) {
        Told_ = false;
        prompts.MessageDlg(SavedText, TMsgDlgType::mtInformation, Btn(mbOK));
    }
}

void TaskTableSaver::BeforeQuit(TaskTable& table, TStartupLoad& load, TaskChanges& changes,
                                UserPrompts& prompts,
                                const std::function<void(const TStartupLoad&)>& loaded) {
    if (!Pending_)
        return;
    Save(table, load, changes, prompts, loaded);
    if (Pending_)
        prompts.MessageDlg(QuitText, TMsgDlgType::mtWarning, Btn(mbOK));
}

namespace {

// Takes every box's default answer and shows nothing: nobody is there to read it.
class NoPrompts : public UserPrompts {
public:
    int MessageDlg(const std::string&, TMsgDlgType, TMsgDlgButtons) override { return mrOk; }
    void ErrorBox(const std::string&) override {}
    bool BrowseForFolder(const std::string&, std::string&) override { return false; }
};

} // namespace

std::string TaskTableSaver::LastTry(TaskTable& table, TStartupLoad& load, TaskChanges& changes) {
    if (!Pending_)
        return "";
    NoPrompts nobody;
    try {
        Save(table, load, changes, nobody, nullptr);
    } catch (const std::exception& e) {
        return std::string("your task changes were not saved: ") + e.what();
    }
    if (!Pending_)
        return "";
    return LastCode_ == ERROR_BUSY
               ? "your task changes were not saved: the settings were still in use by another "
                 "program"
               : "your task changes were not saved: the settings could not be read";
}

} // namespace ferry
