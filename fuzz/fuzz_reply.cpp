// Reply lines as a server might send them: the lines of one reply, cut at LF.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/exception.h"
#include "mail/reply_errors.h"
#include "mail/reply_smtp.h"

using namespace ferry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i <= input.size(); ++i) {
        if (i == input.size() || input[i] == '\n') {
            std::string line = input.substr(start, i - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
            start = i + 1;
        }
    }

    static TIdReplySMTP reply; // kept across inputs, as the connection keeps its reply
    for (const std::string& line : lines)
        (void)reply.IsFinalLine(line);
    try {
        reply.ParseReplyLines(lines);
    } catch (const Exception&) {
    }
    (void)reply.NumericCode();
    (void)reply.EnhancedCode.ReplyAsStr();
    try {
        reply.RaiseForReply();
    } catch (const Exception&) {
    }

    TIdReplyRFC rfc;
    try {
        rfc.ParseReplyLines(lines);
        rfc.RaiseForReply();
    } catch (const Exception&) {
    }

    TIdSMTPEnhancedCode code;
    if (TIdSMTPEnhancedCode::IsWellFormed(input)) {
        try {
            code.SetReplyAsStr(input);
        } catch (const ERangeError&) {
        }
    }
    return 0;
}
