#include "doctext/read_document.h"

#include "doctext/charset.h"
#include "doctext/html_text.h"
#include "doctext/mail_text.h"
#include "doctext/ocr.h"
#include "doctext/office_text.h"
#include "doctext/pdf_text.h"
#include "doctext/rtf_text.h"
#include "doctext/text_sink.h"
#include "extract/document_kind.h"

#include <cerrno>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

namespace {

// Files of the text-like types are read whole; larger ones are over the bound.
constexpr off_t MaxWholeFile = 64 << 20;

std::string ReadWhole(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        throw ReadFailure(UnreadableReason::Damaged);
    if (st.st_size > MaxWholeFile)
        throw ReadFailure(UnreadableReason::OverSizeBound);
    std::string data(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t have = 0;
    while (have < data.size()) {
        const ssize_t n =
            pread(fd, data.data() + have, data.size() - have, static_cast<off_t>(have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ReadFailure(UnreadableReason::Damaged);
        if (n == 0)
            break;
        have += static_cast<std::size_t>(n);
    }
    data.resize(have);
    return data;
}

DocumentText Read(int fd, const ExtractRequest& request, OcrCache& ocr) {
    unsigned char head[SniffBytes];
    const ssize_t got = pread(fd, head, sizeof head, 0);
    if (got < 0)
        throw ReadFailure(UnreadableReason::Damaged);
    const DocumentKind kind = SniffKind(head, static_cast<std::size_t>(got));
    TextSink sink;
    switch (kind) {
    case DocumentKind::None:
        return {};
    case DocumentKind::Pdf:
        ReadPdf(fd, sink, request.Ocr ? &ocr.For(request.Languages) : nullptr);
        break;
    case DocumentKind::Zip:
        if (!ReadOfficeZip(fd, sink))
            return {};
        break;
    case DocumentKind::Rtf:
        sink.Add("RTF text", RtfText(ReadWhole(fd), sink.Left()));
        break;
    case DocumentKind::Utf16Le:
    case DocumentKind::Utf16Be: {
        const std::string data = ReadWhole(fd);
        sink.Add("text", ToUtf8(std::string_view(data).substr(2),
                                kind == DocumentKind::Utf16Le ? "UTF-16LE" : "UTF-16BE"));
        break;
    }
    case DocumentKind::Html:
        sink.Add("HTML text", HtmlText(ReadWhole(fd), "", sink.Left()));
        break;
    case DocumentKind::Mail:
        ReadMail(ReadWhole(fd), sink);
        break;
    case DocumentKind::Png:
    case DocumentKind::Jpeg:
    case DocumentKind::Tiff:
        if (!request.Ocr)
            return {};
        ocr.For(request.Languages).ReadImage(fd, sink);
        break;
    }
    return sink.Take();
}

} // namespace

OcrCache::OcrCache() = default;
OcrCache::~OcrCache() = default;

OcrEngine& OcrCache::For(const std::string& languages) {
    if (!Engine_ || languages != Languages_) {
        Engine_.reset();
        Engine_ = std::make_unique<OcrEngine>(languages);
        Languages_ = languages;
    }
    return *Engine_;
}

DocumentText ReadDocument(int fd, const ExtractRequest& request, OcrCache& ocr) {
    try {
        return Read(fd, request, ocr);
    } catch (const ReadFailure& f) {
        return DocumentText::Failed(f.Reason);
    } catch (const std::bad_alloc&) {
        return DocumentText::Failed(UnreadableReason::OverMemoryBound);
    } catch (const std::length_error&) {
        return DocumentText::Failed(UnreadableReason::OverMemoryBound);
    } catch (const std::exception&) {
        // the libraries throw little of their own; what they do throw means a bad file
        return DocumentText::Failed(UnreadableReason::Damaged);
    }
}

} // namespace ferry
