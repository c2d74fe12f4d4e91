#pragma once

// The text of the office formats that are zip files: Office Open XML (Word, Excel and
// PowerPoint files: document, header, footer and note parts, sheets and their shared
// strings, slides and their notes) and OpenDocument (text, spreadsheet, presentation). The
// format is told by the zip's own parts, not by the file's name.

#include "doctext/text_sink.h"

namespace ferry {

// Reads the zip at `fd` into the sink; false when it is a zip of no office format.
bool ReadOfficeZip(int fd, TextSink& sink);

} // namespace ferry
