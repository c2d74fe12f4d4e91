#pragma once

// The program's stored settings and tasks: the key SettingsKey below HKEY_LOCAL_MACHINE,
// its nine values, and the task entries Entry1..EntryN below it.
//
// One function per action; each opens the key, does its reads or writes, and closes it.
// Failures raise ERegistryException (settings/registry_exception.h) with the user's text:
// "Failed to get data for '%s'", "Invalid data type for '%s'", "Failed to set data for '%s'".
//
//   main window created    LoadStartupSettings(table, state)
//                            key present: reads ProcessInterval, NumberOfEntries,
//                            MSCaseSensitive (sets CaseSensitiveMatch), then the entries
//                            into the table; key missing: writes the nine defaults.
//                            state tells how far it got; see TStartupLoad.
//   main window shown,     SaveTaskTable(table, state)  refuses (returns false) after a
//   after a delete           load that did not complete, else SaveTaskEntries(snapshot).
//                          SaveTaskEntries(count, snapshot)  the save itself.
//   Set button             WriteProcessInterval(minutes)
//   Options dialog, each notification: settings/mail_settings.h
//   Activity window        ReadDesktopNotifications(), WriteDesktopNotifications(on)
//
// The main window keeps one TStartupLoad for the run:
//   FormCreate: LoadStartupSettings(table, Load_);  // may raise: show it; Load_ says how far
//               if it returned, Load_.ProcessInterval is the interval to show and to use
//   FormShow:   SaveTaskTable(table, Load_);        // writes nothing after a partial load
//
// Lower-level pieces, for the actions above and for tests: SettingsKeyExists,
// OpenSettingsKey, InitialiseDefaults, the entry functions (settings/task_entries.h), and
// TRegistryKey (settings/registry_key.h) for single values.
//
// Every action except the first-run defaults first checks that the key exists and does
// nothing to the store when it does not; none of them ever re-creates a key that was deleted
// while the program runs (the next start writes the defaults afresh).

#include "core/task_table.h"
#include "platform/registry.h"
#include "settings/registry_exception.h"
#include "settings/registry_key.h"
#include "settings/task_entries.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace ferry {

// The key's path below HKEY_LOCAL_MACHINE.
inline constexpr const char* SettingsKey = "SOFTWARE\\Quillmere\\Ferrydesk";
inline HKEY SettingsRoot() {
    return HKEY_LOCAL_MACHINE;
}

// The sender and recipient written at first run: a sample address, not a usable one.
inline constexpr const char* PlaceholderAddress = "someone@example.com";

// The most task entries a start loads: the task table's capacity. A larger stored count
// (only possible by hand) loads this many and leaves the load incomplete.
inline constexpr int MaxTaskEntries = 253;

struct TSettingsDefault {
    const char* Name;
    bool IsInteger;
    int32_t Integer;
    const char* Text;
};

// The nine values with their first-run defaults, in the order they are written.
inline constexpr std::array<TSettingsDefault, 9> SettingsDefaults = {{
    {"NumberOfEntries", true, 0, nullptr},
    {"ProcessInterval", true, 10, nullptr},
    {"SMTPEnabled", true, 0, nullptr},
    {"SMTPPort", true, 25, nullptr},
    {"SMTPServer", false, 0, "SMTP Server"},
    {"SMTPFrom", false, 0, PlaceholderAddress},
    {"SMTPTo", false, 0, PlaceholderAddress},
    {"SMTPMessage", false, 0, "Files have been processed."},
    {"MSCaseSensitive", true, 0, nullptr},
}};

// True when the key can be opened for reading. Never creates the key, never raises.
bool SettingsKeyExists();

// The existence test's own answer: ERROR_SUCCESS; ERROR_FILE_NOT_FOUND, or ERROR_ACCESS_DENIED
// for a hive this user may not read (both mean no key); any other code when the store could
// not be asked at all (busy beyond the wait, a damaged file), which is never "no key".
LONG ProbeSettingsKey();
bool StoreUnavailable(LONG probeResult);

// True while another program holds the settings store so that a save would have to wait for
// it. Answers at once: for watching a busy store until it is free.
bool SettingsStoreBusy();

// The existence test for readers outside this file: true when the key exists, false when it
// is missing; raises the read error naming valueName when the store could not be asked.
bool SettingsKeyPresent(const std::string& valueName);

// For the actions that do nothing without the key: the test, then an open that does not
// create (a key deleted in between is not brought back). False when the key is missing;
// raises the action's error (write or read, naming valueName) when the store could not be
// asked; true otherwise, with the key open, or closed after a refused open so that the
// writes that follow raise. Within tx, the test and what follows see one state of the store.
bool OpenExistingSettingsKey(TRegistryKey& key, const std::string& valueName, bool writing,
                             TRegistryTransaction* tx = nullptr);

// Opens the key with full access, creating it and its parents if needed. Returns whether it
// succeeded; after a failure key is closed and its reads and writes raise.
bool OpenSettingsKey(TRegistryKey& key);

// First run: opens the key with creation and writes the nine defaults in order, in one
// transaction. Raises the write error at the first value that cannot be written; then
// nothing is stored.
void InitialiseDefaults();

// How far the start-up load got. Filled in as it goes, so that it is meaningful after
// LoadStartupSettings raised.
struct TStartupLoad {
    bool KeyExisted = false;
    // True once the task table in memory stands for the whole stored table (or nothing was
    // stored): only then may it be saved back. False after any failure part-way, so that a
    // partial table never replaces the stored one.
    bool Completed = false;
    // The interval for this run, once known: the stored value, or 10 at first run.
    std::optional<int32_t> ProcessInterval;
    int32_t NumberOfEntries = 0; // as stored
    int RowsLoaded = 0;
    // The store could not be asked at all (busy beyond the wait, unreadable): nothing was read
    // and nothing written, so CompleteStartupLoad may try again later.
    bool StoreUnavailable = false;
};

// The main window's load. Sets CaseSensitiveMatch (false first, then from MSCaseSensitive),
// loads the entries into table with TaskTable::LoadRow (the table should be fresh, holding
// only the heading and the blank row), or writes the defaults when the key is missing.
// Raises ERegistryException; state says what was done before that.
void LoadStartupSettings(TaskTable& table, TStartupLoad& state);

// The Set button: writes ProcessInterval when the key exists. Returns whether it did.
bool WriteProcessInterval(int32_t minutes);

// The desktop notification after each pass (DesktopNotifications, a DWORD beside the nine
// values): on unless stored as anything but 1; absent, as in every hive written before it
// existed, it is on.
bool ReadDesktopNotifications();
// Writes it when the key exists; returns whether it did.
bool WriteDesktopNotifications(bool on);
// Whether the value is stored at all; a preference kept elsewhere before is carried over
// only while it is not.
bool DesktopNotificationsStored();

// The OCR languages of document text (OcrLanguages, "eng+deu"); "" when absent, and then the
// reader chooses.
std::string ReadOcrLanguages();

// Saves the table when the load has completed; returns false, writing nothing, when not.
bool SaveTaskTable(const TaskTable& table, const TStartupLoad& load);

// A start-up load that found the store unavailable is done again: the stored tasks are
// loaded into table ahead of the tasks it holds (added since), and load becomes the new
// load's state. Returns true when load is (now) complete, false when it cannot be completed
// (the first load failed for another reason). Raises the load's errors: while the store is
// still unavailable load stays as it was, so a later call tries again. Tasks beyond the
// table's capacity are not kept; notKept counts them.
bool CompleteStartupLoad(TaskTable& table, TStartupLoad& load, int& notKept);

} // namespace ferry
