#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/scheduler.h"
#include "core/task_table.h"

// The windows' calls into the settings store, the routing pass and the mail sender, in one
// place so that the handlers read as the steps they take.
namespace ferry::backend {

bool KeyExists();
// First run: the key with its default values.
void CreateDefaults();
// Start-up with the key present: the interval, the task count, the case flag (into
// CaseSensitiveMatch), then the tasks into the table. Raises on the first value it cannot
// read, keeping what it read before.
void LoadAtStart(TaskTable& table, int32_t& interval);
void SaveTasks(const TaskTable& table);
void StoreInterval(int32_t minutes);

// What the Options dialog shows, read value by value in this order; `show` is called after
// each one so that what was read before a failing value stays on screen.
struct MailSettings {
    bool Enabled = false;
    int32_t Port = 0;
    std::string Server, From, To, Message;
    bool CaseSensitive = false;
};
enum class MailField { Enabled, Port, Server, From, To, Message, CaseSensitive };
void LoadOptions(const std::function<void(MailField, const MailSettings&)>& show);
// Writes the options in their order; the port text is converted only after SMTPEnabled has
// been written, and a bad one stops the writes there.
void StoreOptions(bool enabled, const std::string& portText, const std::string& server,
                  const std::string& from, const std::string& to, const std::string& message,
                  bool caseSensitive);

// The routing pass for one task, reporting every move to the notification sender.
TaskFolderRoutine RoutingPass();

// One notification with the given values. `onFailure` runs when connecting or delivering
// fails; errors outside those steps (an unreadable recipient list, a failed QUIT) are raised.
void SendTestMail(const std::string& server, uint16_t port, const std::string& from,
                  const std::string& to, const std::string& message,
                  const std::function<void()>& onFailure);

} // namespace ferry::backend
