#pragma once

// The main window's saves of the task table, also when the store is busy.

#include <functional>
#include <optional>
#include <string>

#include "core/task_changes.h"
#include "core/task_table.h"
#include "settings/settings_store.h"

namespace ferry {

class UserPrompts;

// The main window's saves of the task table, for when the store cannot be reached.
//
// The stored table is never overwritten by one that was not loaded whole. When the start-up
// load found the store busy (held by another program past the wait) or unreadable, nothing
// was loaded and the table holds only what the user adds; each save opportunity then tries
// the load again and, once it succeeds, puts the stored tasks ahead of the added ones and
// saves the lot. A save that finds the store busy keeps the table as it is and tries again at
// the next opportunity. Either way the user is told, once, that the changes are not saved
// yet, and told again when they have been. After a load that failed for another reason (a
// damaged value) the table is never saved, and the user who adds to it is told so.
//
// Another copy, or the reg tool, may have stored a table since this one was read: a save
// loads it first and makes this copy's changes (`changes`) again on top of it, and the table
// then shows the result.
class TaskTableSaver {
public:
    static const char* const BusyText;
    static const char* const UnreadableText;
    static const char* const SavedText;
    static const char* const NeverText;
    static const char* const QuitText;

    // loaded runs after a delayed load has completed (the window then shows its interval).
    void Save(TaskTable& table, TStartupLoad& load, TaskChanges& changes, UserPrompts& prompts,
              const std::function<void(const TStartupLoad&)>& loaded);
    // Changes the user made that are not stored yet.
    bool Pending() const { return Pending_; }
    // Pending because another program held the store: worth trying again as soon as it lets go.
    bool WaitingForBusyStore() const { return Pending_ && LastCode_ == ERROR_BUSY; }
    // Before the program ends: one more try, and a warning when the changes are still unsaved.
    void BeforeQuit(TaskTable& table, TStartupLoad& load, TaskChanges& changes,
                    UserPrompts& prompts, const std::function<void(const TStartupLoad&)>& loaded);
    // The program ends with nobody to ask (a signal): one more try, no box. Returns what could
    // not be saved, as a line for the log; "" when nothing is left unsaved.
    std::string LastTry(TaskTable& table, TStartupLoad& load, TaskChanges& changes);

private:
    void Defer(LONG code, UserPrompts& prompts);

    bool Pending_ = false;
    LONG LastCode_ = ERROR_SUCCESS; // why the last save was put off
    bool Told_ = false;
    bool ToldNever_ = false;
    std::optional<TaskSnapshot> Unchanged_; // the table as a failed load left it
};

} // namespace ferry
