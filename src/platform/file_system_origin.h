#pragma once

// Whether a folder's changes are all made through this machine's kernel. On a network or
// user-space file system another machine (or a process behind it) may add files without any
// event here, so a watch on such a folder would look trustworthy while missing files.

#include <string>

namespace ferry {

// True when `path` lies on a file system whose changes may come from elsewhere (NFS, SMB/CIFS,
// FUSE, Ceph, 9P, ...); `kind` then names it ("nfs", "fuse", ...). False, with `err` set to the
// errno, when statfs fails.
bool OnSharedFileSystem(const std::string& path, std::string& kind, int& err);

} // namespace ferry
