#include "mail/message.h"

#include "base/text.h"
#include "mail/internet_date.h"
#include "platform/codepage.h"
#include "platform/host.h"

namespace ferry {

TIdEMailAddressItem& TIdMessage::From() {
    if (FromList.Count() == 0)
        FromList.Add();
    return FromList[0];
}

void TIdMessage::SetUseNowForDate(bool value) {
    Date = value ? 0 : CurrentTime();
}

void TIdMessage::SetInReplyTo(const std::string& value) {
    InReplyTo_ = value;
    if (InReplyTo_.empty())
        return;
    if (InReplyTo_.front() != '<')
        InReplyTo_.insert(InReplyTo_.begin(), '<');
    if (InReplyTo_.back() != '>')
        InReplyTo_ += '>';
}

void TIdMessage::SetBodyText(const std::string& text) {
    Body.clear();
    // A NUL ends the text.
    const std::string t = text.substr(0, text.find('\0'));
    size_t start = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\r' || t[i] == '\n') {
            Body.push_back(t.substr(start, i - start));
            if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < t.size())
        Body.push_back(t.substr(start));
}

THeaderCharset TIdMessage::ChooseHeaderCharset() const {
    THeaderCharset cs = DefaultHeaderCharset();
    if (OnInitializeISO)
        OnInitializeISO(cs.Transfer, cs.HeaderEncoding, cs.CharSet);
    return cs;
}

namespace {

std::string JoinNewsGroups(const std::vector<std::string>& groups) {
    std::string out;
    for (const std::string& g : groups) {
        if (!out.empty())
            out += ',';
        if (g.find_first_of(" ,\"") != std::string::npos)
            out += "\"" + g + "\"";
        else
            out += g;
    }
    return out;
}

} // namespace

std::string TIdMessage::BodyCharsetLabel() const {
    const std::string label = CodePageMailCharset(SystemCodePage());
    if (label.empty() || !ContentType.empty() || !ContentTransferEncoding.empty())
        return {};
    for (const std::string& line : Body)
        for (char c : line)
            if (static_cast<unsigned char>(c) >= 0x80)
                return label;
    return {};
}

void TIdMessage::ComposeHeaders() {
    if (Encoding == meDefault)
        Encoding = MessageParts.empty() ? mePlainText : meMIME;
    // Refused before anything is built, so no half-made message is ever written.
    if (Encoding == meMIME || !MessageParts.empty())
        throw EIdMessageFormatNotSupported(
            "MIME messages and message parts are not supported by this message writer.");
    if (SameTextAscii(ContentTransferEncoding, "base64") ||
        SameTextAscii(ContentTransferEncoding, "quoted-printable"))
        throw EIdMessageFormatNotSupported("The body encoding '" + ContentTransferEncoding +
                                           "' is not supported by this message writer.");

    const THeaderCharset cs = ChooseHeaderCharset();
    const char enc = cs.HeaderEncoding;
    const TTransfer tr = cs.Transfer;

    TIdHeaderList& h = LastGeneratedHeaders;
    h.Clear();
    if (Headers.Count() > 0)
        h.Assign(Headers);
    h.SetValue("From", FormatAddressListForHeader(FromList, true, enc, tr, cs.CharSet));
    h.SetValue("Subject", EncodeHeaderText(Subject, "", enc, tr, cs.CharSet));
    h.SetValue("To", FormatAddressListForHeader(Recipients, false, enc, tr, cs.CharSet));
    h.SetValue("Cc", FormatAddressListForHeader(CCList, false, enc, tr, cs.CharSet));
    h.SetValue("Bcc", "");
    h.SetValue("Newsgroups", JoinNewsGroups(NewsGroups));
    if (const std::string label = BodyCharsetLabel(); !label.empty()) {
        h.SetValue("MIME-Version", "1.0");
        h.SetValue("Content-Type", "text/plain; charset=" + label);
        h.SetValue("Content-Transfer-Encoding", "8bit");
    } else {
        h.SetValue("Content-Transfer-Encoding", ContentTransferEncoding);
        h.SetValue("Content-Type", ContentType);
    }
    h.SetValue("Sender", Sender.Text());
    h.SetValue("Reply-To", FormatAddressListForHeader(ReplyTo, false, enc, tr, cs.CharSet));
    h.SetValue("Organization", EncodeHeaderText(Organization, "", enc, tr, cs.CharSet));
    h.SetValue("Disposition-Notification-To",
               FormatAddressForHeader(ReceiptRecipient, false, enc, tr, cs.CharSet));
    h.SetValue("References", References);
    h.SetValue("Date", FormatInternetDate(UseNowForDate() ? CurrentTime() : Date));
    h.SetValue("X-Priority", Priority == mpNormal ? std::string() : IntToStr(Priority + 1));
    h.AddStrings(ExtraHeaders);
    if (!InReplyTo_.empty())
        h.SetValue("In-Reply-To", InReplyTo_);
}

void TIdMessage::Clear() {
    FromList.Clear();
    Recipients.Clear();
    CCList.Clear();
    BccList.Clear();
    Subject.clear();
    Body.clear();
    Date = 0;
    Priority = mpNormal;
    Encoding = meDefault;
    ContentType.clear();
    CharSet.clear();
    ContentTransferEncoding.clear();
    Sender = TIdEMailAddressItem();
    ReplyTo.Clear();
    Organization.clear();
    ReceiptRecipient = TIdEMailAddressItem();
    References.clear();
    InReplyTo_.clear();
    NewsGroups.clear();
    Headers.Clear();
    ExtraHeaders.Clear();
    LastGeneratedHeaders.Clear();
    NoEncode = false;
    MessageParts.clear();
    OnInitializeISO = nullptr;
}

} // namespace ferry
