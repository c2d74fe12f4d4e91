// The frames a helper answers in, and the kind sniffer, on any bytes: an answer that decodes
// encodes back to the very same bytes, so nothing in it went unchecked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "extract/document_kind.h"
#include "extract/wire_format.h"

using namespace ferry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    DocumentText text;
    if (DecodeText(input, text) && EncodeText(text) != input)
        std::abort();
    ExtractRequest request;
    if (DecodeRequest(input, request) && EncodeRequest(request) != input)
        std::abort();
    (void)SniffKind(data, size);
    return 0;
}
