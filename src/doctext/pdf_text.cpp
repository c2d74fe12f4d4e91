#include "doctext/pdf_text.h"

#include "doctext/ocr.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace ferry {

namespace {

// Scanned pages are rendered at the resolution scanners are usually set to.
constexpr double OcrDpi = 300;
// Pages read from one file, with and without OCR.
constexpr int MaxPages = 5000;
constexpr int MaxOcrPages = 100;

void Quiet(const std::string&, void*) {}

// Every writer ends a PDF with %%EOF; a file without one near its end was cut short, and
// what a reader rebuilds from the rest would be a guess at the text.
bool EndsLikePdf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return false;
    char tail[1024];
    const off_t from = st.st_size > static_cast<off_t>(sizeof tail) ? st.st_size - sizeof tail : 0;
    const ssize_t n = pread(fd, tail, sizeof tail, from);
    return n > 0 && std::string_view(tail, static_cast<std::size_t>(n)).find("%%EOF") !=
                        std::string_view::npos;
}

bool Blank(const std::string& s) {
    for (unsigned char c : s)
        if (c > ' ')
            return false;
    return true;
}

} // namespace

void ReadPdf(int fd, TextSink& sink, OcrEngine* ocr) {
    poppler::set_debug_error_function(Quiet, nullptr);
    if (!EndsLikePdf(fd))
        throw ReadFailure(UnreadableReason::Damaged);
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
    if (!doc)
        throw ReadFailure(UnreadableReason::Damaged);
    if (doc->is_locked())
        throw ReadFailure(UnreadableReason::Encrypted);
    const int pages = doc->pages();
    // A catalogue whose page tree leads nowhere (or round in a loop) has no page to read.
    if (pages <= 0)
        throw ReadFailure(UnreadableReason::Damaged);
    if (pages > MaxPages)
        throw ReadFailure(UnreadableReason::OverSizeBound);
    int ocrPages = 0;
    for (int i = 0; i < pages; ++i) {
        std::unique_ptr<poppler::page> page(doc->create_page(i));
        if (!page)
            throw ReadFailure(UnreadableReason::Damaged);
        const poppler::byte_array utf8 =
            page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
        std::string text(utf8.begin(), utf8.end());
        const std::string number = std::to_string(i + 1);
        if (!Blank(text) || !ocr) {
            sink.Add("PDF text, page " + number, std::move(text));
            continue;
        }
        if (++ocrPages > MaxOcrPages)
            throw ReadFailure(UnreadableReason::OverSizeBound);
        // A page drawn far larger than paper is rendered at a lower resolution, to stay
        // within the pixels the OCR engine is given at most.
        const poppler::rectf box = page->page_rect();
        const double inches = std::max(box.width() * box.height(), 1.0) / (72.0 * 72.0);
        const double dpi =
            std::max(1.0, std::min(OcrDpi, std::sqrt(double(MaxOcrPixels) / inches)));
        poppler::page_renderer renderer;
        renderer.set_image_format(poppler::image::format_gray8);
        const poppler::image image = renderer.render_page(page.get(), dpi, dpi);
        if (!image.is_valid())
            throw ReadFailure(UnreadableReason::Damaged);
        sink.Add("OCR, page " + number,
                 ocr->ReadGray(reinterpret_cast<const unsigned char*>(image.const_data()),
                               image.width(), image.height(), image.bytes_per_row(),
                               static_cast<int>(dpi)));
    }
}

} // namespace ferry
