#include "base/cancellation.h"

namespace ferry {

namespace {

thread_local std::shared_ptr<const CancelFlag> tFlag;

} // namespace

ScopedCancelFlag::ScopedCancelFlag(std::shared_ptr<const CancelFlag> flag)
    : Previous_(std::move(tFlag)) {
    tFlag = std::move(flag);
}

ScopedCancelFlag::ScopedCancelFlag(const CancelFlag& flag)
    : ScopedCancelFlag(std::shared_ptr<const CancelFlag>(std::shared_ptr<void>(), &flag)) {}

ScopedCancelFlag::~ScopedCancelFlag() {
    tFlag = std::move(Previous_);
}

bool ThreadCancellable() {
    return tFlag != nullptr;
}

bool ThreadCancelled() {
    return tFlag && tFlag->Cancelled();
}

void ThrowIfThreadCancelled() {
    if (ThreadCancelled())
        throw EOperationCancelled();
}

} // namespace ferry
