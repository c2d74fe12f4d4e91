#pragma once

// A numbered server reply, as the command engine sees it.

#include <memory>
#include <string>
#include <vector>

namespace ferry {

// A numbered server reply as the connection's command engine sees it. The connection owns
// one (its LastReply); the protocol layer above decides its concrete kind, how its lines
// are recognised and parsed, and which error a refused reply raises.
class TIdReply {
public:
    virtual ~TIdReply() = default;

    // The reply code as received (normally three digits); empty before any reply.
    const std::string& Code() const { return Code_; }
    // One entry per reply line, without code and separator.
    std::vector<std::string> Text;

    // Code converted to an integer after trimming; 0 when it does not convert.
    virtual int NumericCode() const = 0;
    // Stores a code text by the set-code rule (may raise).
    virtual void SetCode(const std::string& code) = 0;
    virtual bool IsValidCode(const std::string& code) const = 0;
    // Whether a received line ends the reply.
    virtual bool IsFinalLine(const std::string& line) const = 0;
    // Parses the lines of one reply into this object.
    virtual void ParseReplyLines(const std::vector<std::string>& lines) = 0;
    // Raises the error that refusing this reply means.
    [[noreturn]] virtual void RaiseForReply() const = 0;
    virtual std::unique_ptr<TIdReply> Clone() const = 0;

protected:
    std::string Code_;
};

} // namespace ferry
