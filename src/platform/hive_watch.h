#pragma once

// Tells a hive connection, for the price of one non-blocking read, whether anything that
// decides what it would read has changed since it last looked: the hive file's content or
// rights, a name in its folder, or the rights or name of any folder above it. The kernel
// queues a change's event inside the system call that makes it, so a change that another
// process has finished is always seen by the next look. Used by registry_hive.cpp only.

#include <cstdint>
#include <string>

namespace ferry::hive_watch {

// Starts watching what path depends on, and returns what to pass to Epoch. 0 when that cannot
// be watched exactly (no inotify, a file system whose changes may come from another machine, a
// watch refused): the caller must then look at the file itself each time.
uint64_t Watch(const std::string& path);

// The same for a name that leads nowhere yet: its folder and every folder above are watched, so
// that a file made or moved under that name, or a folder above replaced, counts as a change.
uint64_t WatchName(const std::string& path);

// For what Watch or WatchName returned: a number that differs from any earlier one whenever a
// watched change happened since that one was given (always, once the watch is no longer kept, as in
// a forked child). Within one registry call the first look is reused, so a call looks once.
uint64_t Epoch(uint64_t watched);

// A registry call begins: the next Epoch() looks afresh, unless a reading is under way.
void NewCall();

// A reading of several calls begins (they may nest) and ends: its calls look once, at its
// first Epoch().
void BeginReading();
void EndReading();

} // namespace ferry::hive_watch
