#pragma once

// Reading printed text from pictures with the OCR engine: scanned images (PNG, JPEG, TIFF,
// every page of a multi-page TIFF) and PDF pages rendered by the PDF reader. The engine is
// loaded once per set of languages and kept for the files that follow.

#include "doctext/text_sink.h"
#include "extract/document_kind.h"

#include <memory>
#include <string>

namespace tesseract {
class TessBaseAPI;
}

namespace ferry {

// Most pixels of one picture handed to the engine (a page of A3 at 300 dpi is 17.4 million).
constexpr long long MaxOcrPixels = 60'000'000;

class OcrEngine {
public:
    // `wanted`: "eng+deu"; languages without installed data are left out, and with none
    // left the locale's language is tried, then English.
    explicit OcrEngine(const std::string& wanted);
    ~OcrEngine();

    const std::string& Languages() const { return Languages_; }
    bool Ready() const { return Ready_; }

    // The text of an 8-bit grey picture.
    std::string ReadGray(const unsigned char* data, int width, int height, int stride, int dpi);
    // The text of an image file, a piece per page ("OCR, page 1").
    void ReadImage(int fd, TextSink& sink);

    // The installed languages of `wanted`, else the fallback described above.
    static std::string ChooseLanguages(const std::string& wanted);

private:
    std::string Recognise(void* pix);

    std::string Languages_;
    std::unique_ptr<tesseract::TessBaseAPI> Api_;
    bool Ready_ = false;
};

} // namespace ferry
