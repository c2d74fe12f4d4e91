#pragma once

// The base of the transport's components: status and work notices.

#include <functional>
#include <string>

namespace ferry {

enum TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

class TIdComponent;

using TIdStatusEvent =
    std::function<void(TIdComponent* sender, TIdStatus status, const std::string& text)>;

enum TWorkMode { wmRead, wmWrite };
using TWorkEvent = std::function<void(TIdComponent* sender, TWorkMode mode, int64_t count)>;

// Base of every socket component: holds a use of the process-wide socket stack for its whole
// life, and reports status and work progress to whoever listens.
class TIdComponent {
public:
    TIdComponent();
    virtual ~TIdComponent();
    TIdComponent(const TIdComponent&) = delete;
    TIdComponent& operator=(const TIdComponent&) = delete;

    TIdStatusEvent OnStatus;
    TWorkEvent OnWork;

    // The component that receives this one's work-progress reports (itself by default).
    void SetWorkTarget(TIdComponent* target) { WorkTarget_ = target; }

protected:
    void DoStatus(TIdStatus status, const std::string& argument = "");
    void DoWork(TWorkMode mode, int64_t count);

private:
    TIdComponent* WorkTarget_ = nullptr;
};

// The text a status is reported with, its argument filled in.
std::string StatusText(TIdStatus status, const std::string& argument);

} // namespace ferry
