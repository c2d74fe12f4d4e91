#include "mail/password_source.h"

#include <mutex>

namespace ferry {

namespace {
std::mutex SourceLock;
std::shared_ptr<TMailPasswordSource> Source;
} // namespace

void SetMailPasswordSource(std::shared_ptr<TMailPasswordSource> source) {
    std::lock_guard<std::mutex> lock(SourceLock);
    Source = std::move(source);
}

std::shared_ptr<TMailPasswordSource> MailPasswordSource() {
    std::lock_guard<std::mutex> lock(SourceLock);
    return Source;
}

} // namespace ferry
