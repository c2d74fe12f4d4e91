#pragma once

// The numbered replies of the RFC line protocols.

#include "net/reply.h"

namespace ferry {

// A numbered reply of the RFC line protocols: "nnn text", continued by "nnn-text" lines.
class TIdReplyRFC : public TIdReply {
public:
    int NumericCode() const override;
    void SetCode(const std::string& code) override;
    bool IsValidCode(const std::string& code) const override;
    bool IsFinalLine(const std::string& line) const override;
    void ParseReplyLines(const std::vector<std::string>& lines) override;
    [[noreturn]] void RaiseForReply() const override;
    std::unique_ptr<TIdReply> Clone() const override;

    // The reply text as an error message: every line followed by CR LF.
    std::string FormattedText() const;

protected:
    // The code text of a reply: its first four characters trimmed, "nnn-" cut to "nnn".
    static std::string CodeTextOf(const std::string& firstLine);
    // A line from its fifth character on.
    static std::string RestOf(const std::string& line);
};

} // namespace ferry
