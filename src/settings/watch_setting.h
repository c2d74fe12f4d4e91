#pragma once

// Whether source folders are watched so that files are routed as they arrive (WatchFolders,
// a DWORD beside the other settings). Absent or 0: the timer's passes only.

namespace ferry {

bool ReadWatchFolders();
// Writes it when the key exists; returns whether it did.
bool WriteWatchFolders(bool on);

} // namespace ferry
