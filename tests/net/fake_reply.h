#pragma once

#include "base/text.h"
#include "net/id_exception.h"
#include "net/reply.h"

namespace ferry::test {

// The refusal a FakeReply raises: carries the code so tests can see which reply was refused.
class FakeReplyError : public EIdException {
public:
    FakeReplyError(int code, std::string text) : EIdException(std::move(text)), Code(code) {}
    int Code;
};

// A minimal numbered reply: three-digit code, text after the fourth character, a line is
// final when it is short or its fourth character is a blank.
class FakeReply : public TIdReply {
public:
    int NumericCode() const override {
        int32_t value;
        return TryStrToInt(Trim(Code_), value) ? value : 0;
    }
    void SetCode(const std::string& code) override { Code_ = code; }
    bool IsValidCode(const std::string&) const override { return true; }
    bool IsFinalLine(const std::string& line) const override {
        return line.size() < 4 || line[3] == ' ';
    }
    void ParseReplyLines(const std::vector<std::string>& lines) override {
        Text.clear();
        Code_ = lines.empty() ? "" : Trim(lines[0].substr(0, 3));
        for (const auto& line : lines)
            Text.push_back(line.size() > 4 ? line.substr(4) : "");
    }
    [[noreturn]] void RaiseForReply() const override {
        std::string text;
        for (const auto& line : Text)
            text += line + "\r\n";
        throw FakeReplyError(NumericCode(), text);
    }
    std::unique_ptr<TIdReply> Clone() const override { return std::make_unique<FakeReply>(*this); }
};

} // namespace ferry::test
