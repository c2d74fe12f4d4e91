#include "ui/stored_table_follower.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include "core/case_sensitive_match.h"
#include "settings/settings_store.h"
#include "settings/stored_tasks.h"
#include "ui/guard.h"

namespace ferry {

namespace {

// A save of another copy is one commit, but its journal comes and goes around it: the events
// of one save are taken together.
constexpr int kSettleMs = 50;

} // namespace

StoredTableFollower::StoredTableFollower(TaskTable& table, TaskChanges& changes, QObject* parent)
    : QObject(parent), Table_(table), Changes_(changes), Watcher_(new QFileSystemWatcher(this)),
      Settle_(new QTimer(this)) {
    Settle_->setSingleShot(true);
    Settle_->setInterval(kSettleMs);
    connect(Settle_, &QTimer::timeout, this, Guarded([this] { Follow(); }));
    connect(Watcher_, &QFileSystemWatcher::fileChanged, this, [this] { Settle_->start(); });
    connect(Watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { Settle_->start(); });
    Watch();
}

void StoredTableFollower::Watch() {
    // The hive is written in place by every commit; its folder sees it replaced or made.
    const QString hive = QString::fromStdString(RegistryHivePath(SettingsRoot()));
    const QString folder = QString::fromStdString(RegistryDirectory());
    if (QFileInfo::exists(folder) && !Watcher_->directories().contains(folder))
        Watcher_->addPath(folder);
    if (QFileInfo::exists(hive) && !Watcher_->files().contains(hive))
        Watcher_->addPath(hive);
}

void StoredTableFollower::Loaded(std::optional<int32_t> interval) {
    Interval_ = interval;
    Watch();
}

void StoredTableFollower::Follow() {
    Watch(); // a hive made or replaced since
    if (CanFollow && !CanFollow())
        return;
    if (SettingsStoreBusy())
        return;
    std::optional<StoredSettings> stored;
    try {
        stored = ReadStoredSettings();
    } catch (const ERegistryException&) {
        return; // unreadable now: the table in hand stays until it can be read
    }
    if (!stored)
        return;
    CaseSensitiveMatch = stored->CaseSensitive;
    if (Interval_ != stored->ProcessInterval) {
        Interval_ = stored->ProcessInterval;
        if (OnInterval)
            OnInterval(stored->ProcessInterval);
    }
    if (stored->Tasks == Changes_.Base())
        return;
    const TaskChanges::Rebased rebased = Changes_.Rebase(TableRows(Table_), stored->Tasks);
    if (!ShowRebased(Table_, rebased))
        CurrentGone_ = true;
}

} // namespace ferry
