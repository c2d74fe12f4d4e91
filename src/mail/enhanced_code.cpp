#include "mail/enhanced_code.h"

#include "base/exception.h"
#include "base/text.h"
#include "mail/reply_errors.h"

namespace ferry {

namespace {

std::string FirstWord(const std::string& text) {
    std::string s = TrimLeft(text);
    size_t i = 0;
    while (i < s.size() && !IsBlank(s[i]))
        ++i;
    return s.substr(0, i);
}

struct CodeParts {
    std::string Class, Subject, Details;
    bool HasTwoDots = false;
};

CodeParts SplitCode(const std::string& word) {
    CodeParts p;
    size_t d1 = word.find('.');
    if (d1 == std::string::npos) {
        p.Class = word;
        return p;
    }
    p.Class = word.substr(0, d1);
    size_t d2 = word.find('.', d1 + 1);
    if (d2 == std::string::npos) {
        p.Subject = word.substr(d1 + 1);
        return p;
    }
    p.Subject = word.substr(d1 + 1, d2 - d1 - 1);
    p.Details = word.substr(d2 + 1);
    p.HasTwoDots = true;
    return p;
}

// A part that does not convert counts as 0; a negative one is out of range for the field.
uint32_t PartValue(const std::string& part) {
    int32_t v = 0;
    if (!TryStrToInt(Trim(part), v))
        return 0;
    if (v < 0)
        throw ERangeError();
    return static_cast<uint32_t>(v);
}

} // namespace

void TIdSMTPEnhancedCode::SetStatusClass(uint32_t value) {
    if (value != 2 && value != 4 && value != 5)
        throw EIdSMTPReplyInvalidClass();
    StatusClass_ = value;
}

void TIdSMTPEnhancedCode::SetAvailable(bool value) {
    if (value == Available_)
        return;
    Available_ = value;
    if (value) {
        StatusClass_ = 2;
        Subject_ = 0;
        Details_ = 0;
    }
}

bool TIdSMTPEnhancedCode::IsWellFormed(const std::string& text) {
    if (Trim(text).empty())
        return true;
    CodeParts p = SplitCode(FirstWord(text));
    if (p.Class.empty() || (p.Class[0] != '2' && p.Class[0] != '4' && p.Class[0] != '5'))
        return false;
    if (!p.HasTwoDots || p.Subject.empty() || p.Details.empty())
        return false;
    int32_t v;
    return TryStrToInt(p.Subject, v) && TryStrToInt(p.Details, v);
}

std::string TIdSMTPEnhancedCode::ReplyAsStr() const {
    if (!Available_)
        return std::string();
    return IntToStr(StatusClass_).substr(0, 1) + "." + IntToStr(Subject_).substr(0, 3) + "." +
           IntToStr(Details_).substr(0, 3);
}

void TIdSMTPEnhancedCode::SetReplyAsStr(const std::string& text) {
    if (!IsWellFormed(text))
        throw EIdSMTPReplyInvalidReplyString();
    std::string word = FirstWord(text);
    if (word.empty()) {
        SetAvailable(false);
        return;
    }
    CodeParts p = SplitCode(word);
    // All three are converted before any is stored, so a refused part leaves the code whole.
    uint32_t cls = PartValue(p.Class);
    uint32_t subject = PartValue(p.Subject);
    uint32_t details = PartValue(p.Details);
    StatusClass_ = cls;
    Subject_ = subject;
    Details_ = details;
    Available_ = true;
}

} // namespace ferry
