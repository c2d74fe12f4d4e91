#include "ui/backend.h"

#include "core/routing_pass.h"

namespace ferry::backend {

TaskFolderRoutine RoutingPass() {
    return [](const std::string& source, const std::string& destination, const std::string& mask,
              const std::string& matchString) {
        ProcessTaskFolder(source, destination, mask, matchString, [] {});
    };
}

void SendTestMail(const std::string&, uint16_t, const std::string&, const std::string&,
                  const std::string&, const std::function<void()>& onFailure) {
    onFailure();
}

} // namespace ferry::backend
