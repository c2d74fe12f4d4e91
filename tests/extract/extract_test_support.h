#pragma once

// What the document-text tests share: a reader wired to the helper built beside them, and
// the corpus of documents made by real office and PDF programs.

#include "extract/document_reader.h"

#include <fstream>
#include <string>

namespace ferry::test {

// The peak resident memory of this process, in KiB; -1 when it cannot be read.
inline long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

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
