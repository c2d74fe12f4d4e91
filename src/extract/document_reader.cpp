#include "extract/document_reader.h"

#include "extract/document_kind.h"
#include "extract/helper_process.h"
#include "extract/text_cache.h"
#include "extract/text_normalize.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ferry {

DocumentReader::DocumentReader(DocumentReaderConfig config) : Config_(std::move(config)) {
    if (Config_.HelperProgram == "@find")
        Config_.HelperProgram = FindExtractHelper();
    if (Config_.CachePath == "@default")
        Config_.CachePath = TextCache::DefaultPath();
    Helper_ = std::make_unique<ExtractHelper>(Config_.HelperProgram);
    if (!Config_.CachePath.empty())
        Cache_ = std::make_unique<TextCache>(Config_.CachePath, Config_.CacheBytes);
}

DocumentReader::~DocumentReader() = default;

pid_t DocumentReader::HelperPid() const {
    return Helper_->Pid();
}

DocumentText DocumentReader::Read(int fd, const LookInOptions& options) {
    FileIdentity id;
    if (!FileIdentity::Of(fd, id))
        return {};
    unsigned char head[SniffBytes];
    ssize_t got;
    do
        got = pread(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return DocumentText::Failed(UnreadableReason::Damaged);
    const DocumentKind kind = SniffKind(head, static_cast<std::size_t>(got));
    if (kind == DocumentKind::None || (IsImageKind(kind) && !options.Ocr))
        return {};

    // Only a PDF or an image reads differently with OCR; every other kind shares one row.
    const bool ocr = options.Ocr && (kind == DocumentKind::Pdf || IsImageKind(kind));
    const std::string mode = ocr ? "ocr:" + options.Languages : "text";
    DocumentText text;
    if (Cache_ && Cache_->Get(id, mode, text)) {
        ++Counts_.CacheHits;
        return text;
    }

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
