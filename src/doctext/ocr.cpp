#include "doctext/ocr.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <unistd.h>

namespace ferry {

namespace {

constexpr int MaxImagePages = 100;

std::string DataFolder() {
    if (const char* prefix = std::getenv("TESSDATA_PREFIX"); prefix && prefix[0])
        return prefix;
    return "/usr/share/tesseract-ocr/5/tessdata";
}

bool Installed(const std::string& lang) {
    return !lang.empty() && access((DataFolder() + "/" + lang + ".traineddata").c_str(), R_OK) == 0;
}

// The OCR engine names languages by their three-letter codes.
std::string LocaleLanguage() {
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::string locale;
    for (const char* n : names)
        if (const char* v = std::getenv(n); v && v[0]) {
            locale = v;
            break;
        }
    static const struct {
        const char* Two;
        const char* Three;
    } codes[] = {{"en", "eng"}, {"de", "deu"}, {"fr", "fra"},     {"es", "spa"}, {"it", "ita"},
                 {"nl", "nld"}, {"pt", "por"}, {"ru", "rus"},     {"uk", "ukr"}, {"el", "ell"},
                 {"pl", "pol"}, {"cs", "ces"}, {"sk", "slk"},     {"sv", "swe"}, {"da", "dan"},
                 {"nb", "nor"}, {"nn", "nor"}, {"fi", "fin"},     {"hu", "hun"}, {"tr", "tur"},
                 {"ja", "jpn"}, {"ko", "kor"}, {"zh", "chi_sim"}, {"bg", "bul"}, {"ro", "ron"}};
    const std::string two = locale.substr(0, locale.find_first_of("_.@"));
    for (const auto& c : codes)
        if (two == c.Two)
            return c.Three;
    return "";
}

} // namespace

std::string OcrEngine::ChooseLanguages(const std::string& wanted) {
    std::string chosen;
    std::size_t at = 0;
    while (at <= wanted.size()) {
        std::size_t plus = wanted.find('+', at);
        if (plus == std::string::npos)
            plus = wanted.size();
        const std::string lang = wanted.substr(at, plus - at);
        if (Installed(lang) && ("+" + chosen + "+").find("+" + lang + "+") == std::string::npos)
            chosen += (chosen.empty() ? "" : "+") + lang;
        at = plus + 1;
    }
    if (chosen.empty() && Installed(LocaleLanguage()))
        chosen = LocaleLanguage();
    return chosen.empty() ? "eng" : chosen;
}

OcrEngine::OcrEngine(const std::string& wanted)
    : Languages_(ChooseLanguages(wanted)), Api_(std::make_unique<tesseract::TessBaseAPI>()) {
    setMsgSeverity(L_SEVERITY_NONE);
    // The engine reads numbers in the C locale only.
    std::setlocale(LC_ALL, "C");
    Ready_ = Api_->Init(nullptr, Languages_.c_str(), tesseract::OEM_DEFAULT) == 0;
    if (Ready_)
        Api_->SetVariable("debug_file", "/dev/null");
}

OcrEngine::~OcrEngine() {
    if (Ready_)
        Api_->End();
}

std::string OcrEngine::Recognise(void* p) {
    Pix* pix = static_cast<Pix*>(p);
    if (!Ready_)
        throw ReadFailure(UnreadableReason::Damaged);
    Api_->SetPageSegMode(tesseract::PSM_AUTO);
    Api_->SetImage(pix);
    if (pixGetXRes(pix) < 70)
        Api_->SetSourceResolution(300);
    char* text = Api_->GetUTF8Text();
    std::string out = text ? text : "";
    delete[] text;
    Api_->Clear();
    return out;
}

std::string OcrEngine::ReadGray(const unsigned char* data, int width, int height, int stride,
                                int dpi) {
    if (static_cast<long long>(width) * height > MaxOcrPixels)
        throw ReadFailure(UnreadableReason::OverSizeBound);
    Pix* pix = pixCreate(width, height, 8);
    if (!pix)
        throw ReadFailure(UnreadableReason::OverMemoryBound);
    for (int y = 0; y < height; ++y) {
        l_uint32* line = pixGetData(pix) + static_cast<std::size_t>(y) * pixGetWpl(pix);
        for (int x = 0; x < width; ++x)
            SET_DATA_BYTE(line, x, data[static_cast<std::size_t>(y) * stride + x]);
    }
    pixSetResolution(pix, dpi, dpi);
    std::string text;
    try {
        text = Recognise(pix);
    } catch (...) {
        pixDestroy(&pix);
        throw;
    }
    pixDestroy(&pix);
    return text;
}

void OcrEngine::ReadImage(int fd, TextSink& sink) {
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    l_int32 format = 0, w = 0, h = 0, bps = 0, spp = 0, cmap = 0;
    // The header tells the size before a pixel is decoded: a picture too big for the engine
    // is refused whatever its file's size.
    if (pixReadHeader(path.c_str(), &format, &w, &h, &bps, &spp, &cmap) != 0 || w <= 0 || h <= 0)
        throw ReadFailure(UnreadableReason::Damaged);
    if (static_cast<long long>(w) * h > MaxOcrPixels)
        throw ReadFailure(UnreadableReason::OverSizeBound);
    int pages = 1;
    const bool tiff = (format >= IFF_TIFF && format <= IFF_TIFF_ZIP) || format == IFF_TIFF_JPEG;
    if (tiff) {
        FILE* f = std::fopen(path.c_str(), "rb");
        l_int32 n = 0;
        if (!f || tiffGetCount(f, &n) != 0 || n <= 0) {
            if (f)
                std::fclose(f);
            throw ReadFailure(UnreadableReason::Damaged);
        }
        std::fclose(f);
        if (n > MaxImagePages)
            throw ReadFailure(UnreadableReason::OverSizeBound);
        pages = n;
    }
    for (int i = 0; i < pages; ++i) {
        Pix* pix = tiff ? pixReadTiff(path.c_str(), i) : pixRead(path.c_str());
        if (!pix)
            throw ReadFailure(UnreadableReason::Damaged);
        if (static_cast<long long>(pixGetWidth(pix)) * pixGetHeight(pix) > MaxOcrPixels) {
            pixDestroy(&pix);
            throw ReadFailure(UnreadableReason::OverSizeBound);
        }
        std::string text;
        try {
            text = Recognise(pix);
        } catch (...) {
            pixDestroy(&pix);
            throw;
        }
        pixDestroy(&pix);
        sink.Add("OCR, page " + std::to_string(i + 1), std::move(text));
    }
}

} // namespace ferry
