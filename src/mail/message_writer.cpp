#include "mail/message_writer.h"

#include "mail/io_handler_line_writer.h"
#include "mail/iso2022jp.h"

namespace ferry {

namespace {

std::vector<std::string> SplitAtLineBreaks(const std::string& line) {
    if (line.find_first_of("\r\n") == std::string::npos)
        return {line};
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' || line[i] == '\n') {
            parts.push_back(line.substr(start, i - start));
            if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    parts.push_back(line.substr(start));
    return parts;
}

} // namespace

void TIdMessageWriter::TransmitMessage(TIdLineWriter& out, TIdMessage& message, bool headersOnly) {
    if (message.NoEncode) {
        std::vector<std::string> lines = message.Headers.Lines();
        lines.emplace_back();
        out.WriteLines(lines);
        if (!headersOnly)
            for (const std::string& line : message.Body)
                out.WriteLine(line);
        return;
    }
    WriteHeaderBlock(out, message);
    if (!headersOnly)
        WriteBodyBlock(out, message);
}

void TIdMessageWriter::TransmitMessage(TIdIOHandler& handler, TIdMessage& message,
                                       bool headersOnly) {
    TIdIOHandlerLineWriter out(handler);
    TransmitMessage(out, message, headersOnly);
}

void TIdMessageWriter::WriteHeaderBlock(TIdLineWriter& out, TIdMessage& message) {
    message.ComposeHeaders();
    out.WriteLines(message.LastGeneratedHeaders.Lines());
}

void TIdMessageWriter::WriteBodyBlock(TIdLineWriter& out, TIdMessage& message) {
    const THeaderCharset cs = message.ChooseHeaderCharset();
    const bool toJis = cs.Transfer == TTransfer::iso2022jp;
    out.WriteLine(std::string());
    for (const std::string& bodyLine : message.Body) {
        // A line break inside a stored line would let the text end the data early (a lone
        // "." line) or carry commands, so such a line goes out as the lines it holds.
        for (const std::string& line : SplitAtLineBreaks(bodyLine)) {
            // The dot is doubled by the line's first byte as the user wrote it.
            const bool dot = !line.empty() && line[0] == '.';
            std::string text = toJis ? ConvertToIso2022Jp(line) : line;
            out.WriteLine(dot ? "." + text : text);
        }
    }
    out.WriteLine(std::string());
}

} // namespace ferry
