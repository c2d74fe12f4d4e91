#include "ui/backend.h"

#include "base/exception.h"

namespace ferry::backend {

bool KeyExists() {
    return false;
}
void CreateDefaults() {}
void LoadAtStart(TaskTable&, int32_t&) {}
void SaveTasks(const TaskTable&) {}
void StoreInterval(int32_t) {}
void LoadOptions(const std::function<void(MailField, const MailSettings&)>&) {}
void StoreOptions(bool, const std::string&, const std::string&, const std::string&,
                  const std::string&, const std::string&, bool) {}
TaskFolderRoutine RoutingPass() {
    return [](const std::string&, const std::string&, const std::string&, const std::string&) {};
}
void SendTestMail(const std::string&, uint16_t, const std::string&, const std::string&,
                  const std::string&, const std::function<void()>& onFailure) {
    onFailure();
}

} // namespace ferry::backend
