#pragma once

// The helper's work for one file: tell its type by its content and read its text with the
// reader for that type. Every way a file can fail comes back as a reason, never as a crash
// of the caller: the limits on memory and time are the helper process's own.

#include "extract/document_text.h"
#include "extract/wire_format.h"

#include <memory>

namespace ferry {

class OcrEngine;

// Keeps the OCR engine loaded between files while the languages stay the same.
class OcrCache {
public:
    OcrCache();
    ~OcrCache();
    OcrEngine& For(const std::string& languages);

private:
    std::string Languages_;
    std::unique_ptr<OcrEngine> Engine_;
};

DocumentText ReadDocument(int fd, const ExtractRequest& request, OcrCache& ocr);

} // namespace ferry
