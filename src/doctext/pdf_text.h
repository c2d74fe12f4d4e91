#pragma once

// The text layer of a PDF, page by page ("PDF text, page 2"). With OCR on, a page that has
// no text layer is rendered and read by the OCR engine instead ("OCR, page 2").

#include "doctext/text_sink.h"

#include <string>

namespace ferry {

class OcrEngine;

// `fd` is the open file; `ocr` is null when OCR is off.
void ReadPdf(int fd, TextSink& sink, OcrEngine* ocr);

} // namespace ferry
