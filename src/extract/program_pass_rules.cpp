#include "extract/program_pass_rules.h"

#include "extract/pass_document_reader.h"
#include "settings/settings_store.h"

namespace ferry {

PassRules ProgramPassRules() {
    PassRules rules = CurrentPassRules();
    rules.OcrLanguages = ReadOcrLanguages();
    rules.Documents = PassDocumentReaders();
    return rules;
}

} // namespace ferry
