#pragma once

// What the document-text tests share: a reader wired to the helper built beside them, and
// the corpus of documents made by real office and PDF programs.

#include "extract/document_reader.h"

#include <string>

namespace ferry::test {

inline std::string CorpusFile(const std::string& name) {
    return std::string(FERRY_CORPUS) + "/" + name;
}

// No cache unless a path is given: each test sees the helper's own answer.
inline DocumentReaderConfig HelperConfig(const std::string& cachePath = "") {
    DocumentReaderConfig c;
    c.HelperProgram = FERRY_EXTRACT_HELPER;
    c.CachePath = cachePath;
    return c;
}

} // namespace ferry::test
