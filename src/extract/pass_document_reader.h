#pragma once

// The routing pass's reader of documents: the engine asks for text through DocumentSource,
// and this answers from the text cache or the helper process.

#include "core/pass_documents.h"
#include "extract/document_reader.h"

namespace ferry {

class PassDocumentReader : public DocumentSource {
public:
    explicit PassDocumentReader(DocumentReaderConfig config = {});
    DocumentReading Read(int fd, const struct stat& st, bool ocr,
                         const std::string& languages) override;
    bool Recall(int fd, const struct stat& st, bool ocr, const std::string& languages,
                const std::string& key, bool& holds, std::string& why) override;
    void Keep(int fd, const struct stat& st, bool ocr, const std::string& languages,
              const std::string& key, bool holds, const std::string& why) override;
    const DocumentReader& Reader() const { return Reader_; }

private:
    DocumentReader Reader_;
};

// What a pass is handed: one reader per pass, made on the pass's thread when a task first
// looks inside a document.
DocumentSourceMaker PassDocumentReaders(DocumentReaderConfig config = {});

} // namespace ferry
