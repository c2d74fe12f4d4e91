#include "net/component.h"

#include "base/text.h"
#include "net/stack.h"

namespace ferry {

TIdComponent::TIdComponent() {
    TIdStack::IncUsage();
}

TIdComponent::~TIdComponent() {
    TIdStack::DecUsage();
}

std::string StatusText(TIdStatus status, const std::string& argument) {
    switch (status) {
    case hsResolving:
        return Format("Resolving hostname %s.", argument.c_str());
    case hsConnecting:
        return Format("Connecting to %s.", argument.c_str());
    case hsConnected:
        return "Connected.";
    case hsDisconnecting:
        return "Disconnecting.";
    case hsDisconnected:
        return "Disconnected.";
    default:
        return argument;
    }
}

void TIdComponent::DoStatus(TIdStatus status, const std::string& argument) {
    if (OnStatus)
        OnStatus(this, status, StatusText(status, argument));
}

void TIdComponent::DoWork(TWorkMode mode, int64_t count) {
    TIdComponent* target = WorkTarget_ ? WorkTarget_ : this;
    if (target->OnWork)
        target->OnWork(target, mode, count);
}

} // namespace ferry
