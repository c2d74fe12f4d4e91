#include "platform/copy_mark.h"

#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

namespace ferry {

namespace {

// Form 2 has no birth; form 3 adds it after the hash.
constexpr char kNoBirthForm = 2;
constexpr char kBinaryForm = 3;

void PutNumber(std::string& out, uint64_t n) {
    do {
        const auto low = static_cast<unsigned char>(n & 0x7F);
        n >>= 7;
        out.push_back(static_cast<char>(n ? low | 0x80 : low));
    } while (n);
}

// Times may lie before 1970: signed numbers go zigzag, so that small ones stay short.
void PutSigned(std::string& out, long long n) {
    const auto u = static_cast<uint64_t>(n);
    PutNumber(out, (u << 1) ^ (n < 0 ? ~uint64_t{0} : 0));
}

bool GetNumber(std::string_view& in, uint64_t& n) {
    n = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (in.empty())
            return false;
        const auto byte = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
        n |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

bool GetSigned(std::string_view& in, long long& n) {
    uint64_t u = 0;
    if (!GetNumber(in, u))
        return false;
    n = static_cast<long long>((u >> 1) ^ (~(u & 1) + 1));
    return true;
}

bool ParseText(std::string_view value, CopyMark& mark) {
    const std::string text(value);
    char end = 0;
    return std::sscanf(text.c_str(), "1 %llu %llu %lld %lld %lld %lld %lld %" SCNx64 "%c",
                       &mark.Dev, &mark.Ino, &mark.Size, &mark.MtimeSec, &mark.MtimeNsec,
                       &mark.CtimeSec, &mark.CtimeNsec, &mark.Hash, &end) == 8;
}

} // namespace

CopyMark CopyMark::Of(const struct stat& st, uint64_t hash) {
    CopyMark mark;
    mark.Dev = st.st_dev;
    mark.Ino = st.st_ino;
    mark.Size = st.st_size;
    mark.MtimeSec = st.st_mtim.tv_sec;
    mark.MtimeNsec = st.st_mtim.tv_nsec;
    mark.CtimeSec = st.st_ctim.tv_sec;
    mark.CtimeNsec = st.st_ctim.tv_nsec;
    mark.Hash = hash;
    return mark;
}

CopyMark CopyMark::Of(int fd, const struct stat& st, uint64_t hash) {
    CopyMark mark = Of(st, hash);
    struct statx sx {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
        mark.BirthKind = Birth::Time;
        mark.BirthSec = sx.stx_btime.tv_sec;
        mark.BirthNsec = sx.stx_btime.tv_nsec;
        return mark;
    }
    // The kernel writes an int here, whatever the request's declared size.
    int generation = 0;
    if (ioctl(fd, FS_IOC_GETVERSION, &generation) == 0) {
        mark.BirthKind = Birth::Generation;
        mark.BirthSec = static_cast<unsigned>(generation);
    }
    return mark;
}

std::string CopyMark::Encode() const {
    std::string out(1, kBinaryForm);
    PutNumber(out, Dev);
    PutNumber(out, Ino);
    PutSigned(out, Size);
    PutSigned(out, MtimeSec);
    PutSigned(out, MtimeNsec);
    PutSigned(out, CtimeSec);
    PutSigned(out, CtimeNsec);
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>(Hash >> (8 * i)));
    out.push_back(static_cast<char>(BirthKind));
    if (BirthKind == Birth::Time) {
        PutSigned(out, BirthSec);
        PutSigned(out, BirthNsec);
    } else if (BirthKind == Birth::Generation) {
        PutSigned(out, BirthSec);
    }
    return out;
}

bool CopyMark::Parse(std::string_view value, CopyMark& mark) {
    if (value.empty())
        return false;
    const char form = value.front();
    if (form != kBinaryForm && form != kNoBirthForm)
        return ParseText(value, mark);
    value.remove_prefix(1);
    CopyMark read;
    uint64_t dev = 0, ino = 0;
    if (!GetNumber(value, dev) || !GetNumber(value, ino) || !GetSigned(value, read.Size) ||
        !GetSigned(value, read.MtimeSec) || !GetSigned(value, read.MtimeNsec) ||
        !GetSigned(value, read.CtimeSec) || !GetSigned(value, read.CtimeNsec) || value.size() < 8)
        return false;
    read.Dev = dev;
    read.Ino = ino;
    for (int i = 0; i < 8; ++i)
        read.Hash |= static_cast<uint64_t>(static_cast<unsigned char>(value[i])) << (8 * i);
    value.remove_prefix(8);
    if (form == kBinaryForm) {
        if (value.empty())
            return false;
        read.BirthKind = static_cast<Birth>(value.front());
        value.remove_prefix(1);
        switch (read.BirthKind) {
        case Birth::Unknown:
            break;
        case Birth::Time:
            if (!GetSigned(value, read.BirthSec) || !GetSigned(value, read.BirthNsec))
                return false;
            break;
        case Birth::Generation:
            if (!GetSigned(value, read.BirthSec))
                return false;
            break;
        default:
            return false;
        }
    }
    if (!value.empty())
        return false;
    mark = read;
    return true;
}

bool CopyMark::IsOf(const CopyMark& now) const {
    if (Dev != now.Dev || Ino != now.Ino || Size != now.Size)
        return false;
    if (BirthKind == Birth::Unknown)
        return MtimeSec == now.MtimeSec && MtimeNsec == now.MtimeNsec && CtimeSec == now.CtimeSec &&
               CtimeNsec == now.CtimeNsec;
    return BirthKind == now.BirthKind && BirthSec == now.BirthSec && BirthNsec == now.BirthNsec;
}

bool CopyMark::Outlived(const CopyMark& now) const {
    return Dev == now.Dev && Ino == now.Ino && BirthKind != Birth::Unknown &&
           BirthKind == now.BirthKind && (BirthSec != now.BirthSec || BirthNsec != now.BirthNsec);
}

} // namespace ferry
