// Mail decoding on any bytes: whole messages through the mail reader, and header values
// through the encoded-word decoder. Whatever comes in, the text that comes out is
// well-formed UTF-8 within the sink's bound, and a header written by our own mail encoder
// reads back as it was written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "doctext/charset.h"
#include "doctext/mail_text.h"
#include "doctext/mime_decode.h"
#include "mail/header_encoding.h"

using namespace ferry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

    TextSink sink(1 << 16);
    try {
        ReadMail(input, sink);
    } catch (const ReadFailure&) {
    }
    for (const TextPiece& p : sink.Take().Pieces)
        if (!IsUtf8(p.Text))
            std::abort();

    if (!IsUtf8(DecodeHeaderWords(input)))
        std::abort();
    (void)DecodeBase64(input);
    if (DecodeQuotedPrintable(input, mode & 1).size() > input.size())
        std::abort();

    // Round trip through the sender's encoder, for text it can carry (UTF-8, no controls;
    // text that itself looks like an encoded word is its own question).
    bool plain = IsUtf8(input) && input.find("=?") == std::string::npos;
    for (unsigned char c : input)
        if (c < 0x20 || c == 0x7F)
            plain = false;
    if (plain) {
        const char letter = (mode & 2) ? 'B' : 'Q';
        const std::string encoded = EncodeHeaderText(input, "", letter, TTransfer::bit8, "UTF-8");
        std::string unfolded;
        for (std::size_t i = 0; i < encoded.size(); ++i)
            if (encoded.compare(i, 3, "\r\n ") == 0)
                i += 1; // the fold's line break goes, its space stays
            else
                unfolded += encoded[i];
        if (DecodeHeaderWords(unfolded) != input && DecodeHeaderWords(encoded) != input)
            std::abort();
    }
    return 0;
}
