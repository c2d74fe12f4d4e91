// Feeds arbitrary bytes, cut into arbitrary chunks, to the line reader.
//
// Input layout: byte 0 picks the options (bit 0: split long lines instead of raising;
// bits 1-2: terminator LF, CR LF or "ab"; bits 3-7 with byte 1: the length limit, 0 meaning
// the default). The rest is a sequence of chunks, each a length byte and that many bytes.

#include "net/id_errors.h"
#include "net/io_handler.h"
#include "support/chunk_io_handler.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace ferry {
using ChunkHandler = test::ChunkIOHandler;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferry;
    if (size < 2)
        return 0;
    const uint8_t options = data[0];
    const int limit = ((options >> 3) | (data[1] << 5)) % 400;
    static const char* terminators[] = {"\n", "\r\n", "ab", "\n"};
    const std::string terminator = terminators[(options >> 1) & 3];

    std::vector<std::string> chunks;
    for (size_t i = 2; i < size;) {
        size_t len = data[i++];
        len = std::min(len, size - i);
        chunks.emplace_back(reinterpret_cast<const char*>(data + i), len);
        i += len;
    }

    // The handler holds a use of the socket stack; keep one alive so it is not rebuilt for
    // every input.
    static ChunkHandler keeper({});
    ChunkHandler handler(std::move(chunks));
    handler.Open();
    handler.MaxLineAction = (options & 1) ? maSplit : maException;
    if (limit > 0)
        handler.MaxLineLength = limit;

    // Reference: the lines the whole stream must give however it was cut into chunks.
    std::string stream;
    for (const auto& c : handler.Chunks())
        stream += c;
    const size_t max = static_cast<size_t>(handler.MaxLineLength);
    size_t p = 0;
    for (int reads = 0; reads < 100000; ++reads) {
        size_t q = stream.find(terminator, p);
        size_t length = q == std::string::npos ? std::string::npos : q - p;
        // Without any terminator the line is too long once more bytes remain than the limit
        // plus a terminator's first bytes.
        bool tooLong = length == std::string::npos ? stream.size() - p > max + terminator.size() - 1
                                                   : length > max;
        std::string line;
        try {
            line = handler.ReadLine(terminator);
        } catch (const EIdConnClosedGracefully&) {
            if (tooLong || q != std::string::npos)
                abort();
            break;
        } catch (const EIdReadLnMaxLineLengthExceeded&) {
            if (!tooLong || handler.MaxLineAction == maSplit)
                abort();
            break;
        }
        std::string expected;
        if (tooLong) {
            expected = stream.substr(p, max);
            p += max;
        } else {
            if (q == std::string::npos)
                abort();
            expected = stream.substr(p, length);
            if (terminator == "\n" && !expected.empty() && expected.back() == '\r')
                expected.pop_back();
            p = q + terminator.size();
        }
        if (line != expected || handler.LineWasSplit() != tooLong)
            abort();
    }
    return 0;
}
