#include "doctext/zip_archive.h"

#include "doctext/text_sink.h"

#include <algorithm>
#include <unistd.h>
#include <zip.h>

namespace ferry {

namespace {

// More parts than any office file has; a directory this long is built to wear us out.
constexpr zip_int64_t MaxParts = 20000;

} // namespace

ZipArchive::ZipArchive(int fd, std::size_t expansionBound) : Left_(expansionBound) {
    const int own = dup(fd);
    if (own < 0 || lseek(own, 0, SEEK_SET) != 0) {
        if (own >= 0)
            close(own);
        throw ReadFailure(UnreadableReason::Damaged);
    }
    int error = 0;
    Zip_ = zip_fdopen(own, ZIP_RDONLY, &error);
    if (!Zip_) {
        close(own);
        throw ReadFailure(UnreadableReason::Damaged);
    }
    const zip_int64_t n = zip_get_num_entries(Zip_, 0);
    if (n > MaxParts) {
        zip_discard(Zip_);
        Zip_ = nullptr;
        throw ReadFailure(UnreadableReason::OverSizeBound);
    }
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* name = zip_get_name(Zip_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        Names_.emplace_back(name ? name : "");
    }
}

ZipArchive::~ZipArchive() {
    if (Zip_)
        zip_discard(Zip_);
}

bool ZipArchive::Has(const std::string& name) const {
    return std::find(Names_.begin(), Names_.end(), name) != Names_.end();
}

std::string ZipArchive::Read(const std::string& name) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(Zip_, name.c_str(), ZIP_FL_ENC_RAW, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
        throw ReadFailure(UnreadableReason::Damaged);
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        throw ReadFailure(UnreadableReason::Encrypted);
    if (st.size > Left_)
        throw ReadFailure(UnreadableReason::OverSizeBound);
    zip_file_t* f = zip_fopen(Zip_, name.c_str(), ZIP_FL_ENC_RAW);
    if (!f) {
        const int code = zip_error_code_zip(zip_get_error(Zip_));
        throw ReadFailure(code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD
                              ? UnreadableReason::Encrypted
                              : UnreadableReason::Damaged);
    }
    std::string out;
    out.resize(static_cast<std::size_t>(st.size));
    std::size_t have = 0;
    for (;;) {
        // One byte past the declared size is asked for: getting it means the size lied.
        char spare;
        char* into = have < out.size() ? out.data() + have : &spare;
        const std::size_t want = have < out.size() ? out.size() - have : 1;
        const zip_int64_t got = zip_fread(f, into, want);
        if (got < 0) {
            zip_fclose(f);
            throw ReadFailure(UnreadableReason::Damaged);
        }
        if (got == 0)
            break;
        if (into == &spare) {
            zip_fclose(f);
            throw ReadFailure(UnreadableReason::Damaged);
        }
        have += static_cast<std::size_t>(got);
    }
    zip_fclose(f);
    if (have != out.size())
        throw ReadFailure(UnreadableReason::Damaged);
    Left_ -= have;
    return out;
}

} // namespace ferry
