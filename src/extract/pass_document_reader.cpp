#include "extract/pass_document_reader.h"

#include <exception>

namespace ferry {

namespace {

DocumentReaderConfig ForOnePass(DocumentReaderConfig config) {
    // A pass looks up its files one after another and ends soon: they share one read.
    config.ShareCacheReads = true;
    return config;
}

} // namespace

PassDocumentReader::PassDocumentReader(DocumentReaderConfig config)
    : Reader_(ForOnePass(std::move(config))) {}

DocumentReading PassDocumentReader::Read(int fd, const struct stat& st, bool ocr,
                                         const std::string& languages) {
    DocumentReading reading;
    DocumentText text;
    try {
        text = Reader_.Read(fd, LookInOptions{ocr, languages}, &st);
    } catch (const std::exception& e) {
        // The pass goes on whatever befell the reading.
        reading.State = DocumentReading::Status::Unreadable;
        reading.Why = e.what();
        return reading;
    }
    switch (text.Status) {
    case TextStatus::Text:
        reading.State = DocumentReading::Status::Text;
        reading.Pieces = std::move(text.Pieces);
        break;
    case TextStatus::NotADocument:
        reading.State = DocumentReading::Status::NotADocument;
        break;
    case TextStatus::Unreadable:
        reading.State = DocumentReading::Status::Unreadable;
        reading.Why = UnreadableText(text.Reason);
        break;
    }
    return reading;
}

bool PassDocumentReader::Recall(int fd, const struct stat& st, bool ocr,
                                const std::string& languages, const std::string& key, bool& holds,
                                std::string& why) {
    try {
        return Reader_.RecallMatch(fd, LookInOptions{ocr, languages}, key, holds, why, &st);
    } catch (const std::exception&) {
        return false; // read instead
    }
}

void PassDocumentReader::Keep(int fd, const struct stat& st, bool ocr, const std::string& languages,
                              const std::string& key, bool holds, const std::string& why) {
    try {
        Reader_.KeepMatch(fd, LookInOptions{ocr, languages}, key, holds, why, &st);
    } catch (const std::exception&) {
    }
}

DocumentSourceMaker PassDocumentReaders(DocumentReaderConfig config) {
    return [config] { return std::make_unique<PassDocumentReader>(config); };
}

} // namespace ferry
