#include "mail/message_writer.h"

#include "mail/iso2022jp.h"

namespace ferry {

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

void TIdMessageWriter::WriteHeaderBlock(TIdLineWriter& out, TIdMessage& message) {
    message.ComposeHeaders();
    out.WriteLines(message.LastGeneratedHeaders.Lines());
}

void TIdMessageWriter::WriteBodyBlock(TIdLineWriter& out, TIdMessage& message) {
    const THeaderCharset cs = message.ChooseHeaderCharset();
    const bool toJis = cs.Transfer == TTransfer::iso2022jp;
    out.WriteLine(std::string());
    for (const std::string& line : message.Body) {
        // The dot is doubled by the line's first byte as the user wrote it.
        const bool dot = !line.empty() && line[0] == '.';
        std::string text = toJis ? ConvertToIso2022Jp(line) : line;
        out.WriteLine(dot ? "." + text : text);
    }
    out.WriteLine(std::string());
}

} // namespace ferry
