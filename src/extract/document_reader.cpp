#include "extract/document_reader.h"

#include "extract/document_kind.h"
#include "extract/helper_process.h"
#include "extract/text_cache.h"
#include "extract/text_normalize.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ferry {

namespace {

bool IdentityOf(int fd, const struct stat* known, FileIdentity& id) {
    return known ? FileIdentity::Of(*known, id) : FileIdentity::Of(fd, id);
}

} // namespace

DocumentReader::DocumentReader(DocumentReaderConfig config) : Config_(std::move(config)) {
    if (Config_.HelperProgram == "@find")
        Config_.HelperProgram = FindExtractHelper();
    if (Config_.CachePath == "@default")
        Config_.CachePath = TextCache::DefaultPath();
    Helper_ = std::make_unique<ExtractHelper>(Config_.HelperProgram);
    if (!Config_.CachePath.empty()) {
        Cache_ = std::make_unique<TextCache>(Config_.CachePath, Config_.CacheBytes);
        Cache_->ShareReads(Config_.ShareCacheReads);
    }
}

DocumentReader::~DocumentReader() = default;

pid_t DocumentReader::HelperPid() const {
    return Helper_->Pid();
}

bool DocumentReader::ModeFor(int fd, const LookInOptions& options, std::string& mode,
                             DocumentKind& kind) {
    unsigned char head[SniffBytes];
    ssize_t got;
    do
        got = pread(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return false;
    kind = SniffKind(head, static_cast<std::size_t>(got));
    // Only a PDF or an image reads differently with OCR; every other kind shares one row.
    const bool ocr = options.Ocr && (kind == DocumentKind::Pdf || IsImageKind(kind));
    mode = ocr ? "ocr:" + options.Languages : "text";
    return true;
}

DocumentReader::Look DocumentReader::Find(int fd, const LookInOptions& options,
                                          const TextPattern& pattern) {
    Look look;
    FileIdentity id;
    if (!FileIdentity::Of(fd, id))
        return look;
    std::string mode = "text";
    DocumentKind kind = DocumentKind::None;
    if (options.Ocr && !ModeFor(fd, options, mode, kind)) {
        look.Status = TextStatus::Unreadable;
        look.Reason = UnreadableReason::Damaged;
        return look;
    }
    const std::string key = pattern.Key();
    if (Cache_ && Cache_->GetMatch(id, mode, key, look.Found, look.Label)) {
        ++Counts_.MatchHits;
        look.Status = TextStatus::Text;
        return look;
    }
    const DocumentText text = Read(fd, options);
    look.Status = text.Status;
    look.Reason = text.Reason;
    if (text.Status == TextStatus::Text) {
        const DocumentMatch m = MatchDocument(text, pattern);
        look.Found = m.Found;
        look.Label = m.Label;
        if (Cache_)
            Cache_->PutMatch(id, mode, key, m.Found, m.Label);
    }
    return look;
}

bool DocumentReader::RecallMatch(int fd, const LookInOptions& options, const std::string& key,
                                 bool& found, std::string& label, const struct stat* known) {
    FileIdentity id;
    std::string mode = "text";
    DocumentKind kind = DocumentKind::None;
    if (!Cache_ || !IdentityOf(fd, known, id) || (options.Ocr && !ModeFor(fd, options, mode, kind)))
        return false;
    if (!Cache_->GetMatch(id, mode, key, found, label))
        return false;
    ++Counts_.MatchHits;
    return true;
}

void DocumentReader::KeepMatch(int fd, const LookInOptions& options, const std::string& key,
                               bool found, const std::string& label, const struct stat* known) {
    FileIdentity id;
    std::string mode = "text";
    DocumentKind kind = DocumentKind::None;
    if (!Cache_ || !IdentityOf(fd, known, id) || (options.Ocr && !ModeFor(fd, options, mode, kind)))
        return;
    Cache_->PutMatch(id, mode, key, found, label);
}

DocumentText DocumentReader::Read(int fd, const LookInOptions& options, const struct stat* known) {
    FileIdentity id;
    if (!IdentityOf(fd, known, id))
        return {};
    DocumentText text;
    // The first bytes are looked at before the cache: most files of a folder are no
    // documents, and telling so costs less than a look-up.
    std::string mode;
    DocumentKind kind = DocumentKind::None;
    if (!ModeFor(fd, options, mode, kind))
        return DocumentText::Failed(UnreadableReason::Damaged);
    if (kind == DocumentKind::None || (IsImageKind(kind) && !options.Ocr))
        return {};
    if (Cache_ && Cache_->Get(id, mode, text)) {
        ++Counts_.CacheHits;
        return text;
    }
    const bool ocr = mode != "text";

    ExtractRequest request;
    request.Ocr = ocr;
    request.Languages = options.Languages;
    bool transient = false;
    ++Counts_.HelperReads;
    text = Helper_->Extract(fd, request, ocr ? Config_.OcrWall : Config_.Wall, transient);
    if (text.Status == TextStatus::Text) {
        std::vector<TextPiece> kept;
        for (TextPiece& p : text.Pieces) {
            p.Text = NormalizeText(p.Text);
            if (!p.Text.empty())
                kept.push_back(std::move(p));
        }
        text.Pieces = std::move(kept);
    }
    // A missing helper is fixed by installing it, and a transient failure by trying again:
    // neither may stand for this version of the file.
    if (Cache_ && !transient && text.Reason != UnreadableReason::HelperMissing)
        Cache_->Put(id, mode, text);
    return text;
}

DocumentText DocumentReader::ReadFile(const std::string& path, const LookInOptions& options) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return DocumentText::Failed(UnreadableReason::Damaged);
    DocumentText text = Read(fd, options);
    close(fd);
    return text;
}

DocumentMatch MatchDocument(const DocumentText& text, const TextPattern& pattern) {
    DocumentMatch m;
    const long piece = pattern.FindIn(text);
    if (piece >= 0) {
        m.Found = true;
        m.Label = text.Pieces[static_cast<std::size_t>(piece)].Label;
    }
    return m;
}

} // namespace ferry
