#include "platform/file_system_origin.h"

#include <cerrno>
#include <sys/vfs.h>

namespace ferry {

namespace {

struct Kind {
    unsigned long Magic;
    const char* Name;
};

// f_type values of file systems that others can change behind the kernel's back. FUSE covers
// sshfs, rclone, virtiofs and the like, and also local ones such as ntfs-3g: from here a FUSE
// file system cannot be told local, so it is not trusted either.
constexpr Kind Shared[] = {
    {0x6969, "nfs"},          {0x517B, "smb"},        {0xFF534D42, "cifs"}, {0xFE534D42, "smb2"},
    {0x65735546, "fuse"},     {0x00C36400, "ceph"},   {0x01021997, "9p"},   {0x73757245, "coda"},
    {0x5346414F, "afs"},      {0x6B414653, "afs"},    {0x564C, "ncp"},      {0x7461636F, "ocfs2"},
    {0x01161970, "gfs2"},     {0x0BD00BD0, "lustre"}, {0x47504653, "gpfs"}, {0x786F4256, "vboxsf"},
    {0x20030528, "orangefs"},
};

} // namespace

bool OnSharedFileSystem(const std::string& path, std::string& kind, int& err) {
    struct statfs fs;
    if (statfs(path.c_str(), &fs) != 0) {
        err = errno;
        kind.clear();
        return false;
    }
    err = 0;
    for (const Kind& k : Shared)
        if (static_cast<unsigned long>(fs.f_type) == k.Magic) {
            kind = k.Name;
            return true;
        }
    kind.clear();
    return false;
}

} // namespace ferry
