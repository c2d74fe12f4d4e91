#pragma once

// The enhanced status codes at the front of SMTP reply lines.

#include <cstdint>
#include <string>

namespace ferry {

// An enhanced status code such as 5.1.1, as servers put it at the front of reply lines.
class TIdSMTPEnhancedCode {
public:
    uint32_t StatusClass() const { return StatusClass_; }
    uint32_t Subject() const { return Subject_; }
    uint32_t Details() const { return Details_; }
    bool Available() const { return Available_; }

    // Only the classes 2, 4 and 5 exist; anything else raises EIdSMTPReplyInvalidClass.
    void SetStatusClass(uint32_t value);
    void SetSubject(uint32_t value) { Subject_ = value; }
    void SetDetails(uint32_t value) { Details_ = value; }
    // Turning the code on starts it afresh at 2.0.0; setting the same value does nothing.
    void SetAvailable(bool value);

    // Empty when not available; otherwise class.subject.details, each number cut short.
    std::string ReplyAsStr() const;
    // Raises EIdSMTPReplyInvalidReplyString for text that is not well-formed.
    void SetReplyAsStr(const std::string& text);

    // Whether the first word of the text is an enhanced code (empty text counts as one).
    static bool IsWellFormed(const std::string& text);

private:
    uint32_t StatusClass_ = 2;
    uint32_t Subject_ = 0;
    uint32_t Details_ = 0;
    bool Available_ = false;
};

} // namespace ferry
