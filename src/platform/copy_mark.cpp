#include "platform/copy_mark.h"

#include <cinttypes>
#include <cstdio>

namespace ferry {

namespace {

constexpr char kBinaryForm = 2;

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
    return {st.st_dev,          st.st_ino,         st.st_size,         st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec, hash};
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
    return out;
}

bool CopyMark::Parse(std::string_view value, CopyMark& mark) {
    if (value.empty())
        return false;
    if (value.front() != kBinaryForm)
        return ParseText(value, mark);
    value.remove_prefix(1);
    CopyMark read;
    uint64_t dev = 0, ino = 0;
    if (!GetNumber(value, dev) || !GetNumber(value, ino) || !GetSigned(value, read.Size) ||
        !GetSigned(value, read.MtimeSec) || !GetSigned(value, read.MtimeNsec) ||
        !GetSigned(value, read.CtimeSec) || !GetSigned(value, read.CtimeNsec) || value.size() != 8)
        return false;
    read.Dev = dev;
    read.Ino = ino;
    for (int i = 0; i < 8; ++i)
        read.Hash |= static_cast<uint64_t>(static_cast<unsigned char>(value[i])) << (8 * i);
    mark = read;
    return true;
}

bool CopyMark::Unchanged(const struct stat& st) const {
    const CopyMark now = Of(st, Hash);
    return Names(st) && Size == now.Size && MtimeSec == now.MtimeSec &&
           MtimeNsec == now.MtimeNsec && CtimeSec == now.CtimeSec && CtimeNsec == now.CtimeNsec;
}

} // namespace ferry
