#pragma once

// One e-mail message: sender, recipients, subject, body and date.

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "mail/address.h"
#include "mail/header_encoding.h"
#include "mail/header_list.h"
#include "net/id_exception.h"

namespace ferry {

enum TIdMessagePriority { mpHighest, mpHigh, mpNormal, mpLow, mpLowest };
enum TIdMessageEncoding { meDefault, meMIME, mePlainText };

// A text part or attachment of a MIME message. Such messages are not written by this
// program; a message holding parts is refused when it is composed.
struct TIdMessagePart {
    std::string ContentType;
    std::string FileName;
    std::vector<std::string> Body;
};

// A message form this writer does not produce (MIME, parts, encoded bodies).
class EIdMessageFormatNotSupported : public EIdException {
public:
    using EIdException::EIdException;
};

// May change the header character set chosen for a message.
using TIdInitializeIsoEvent =
    std::function<void(TTransfer& VTransferHeader, char& VHeaderEncoding, std::string& VCharSet)>;

// One e-mail message. A fresh message and a cleared one have the same defaults.
class TIdMessage {
public:
    TIdMessage() = default;
    TIdMessage(const TIdMessage&) = delete;
    TIdMessage& operator=(const TIdMessage&) = delete;

    TIdEMailAddressList FromList;
    // The first item of FromList, made empty the first time it is asked for.
    TIdEMailAddressItem& From();

    TIdEMailAddressList Recipients;
    TIdEMailAddressList CCList;
    // Never written as a header; only adds envelope recipients.
    TIdEMailAddressList BccList;
    std::string Subject;
    std::vector<std::string> Body;
    // 0 means "the time of composing".
    std::time_t Date = 0;
    TIdMessagePriority Priority = mpNormal;
    TIdMessageEncoding Encoding = meDefault;
    std::string ContentType;
    std::string CharSet;
    std::string ContentTransferEncoding;
    TIdEMailAddressItem Sender;
    TIdEMailAddressList ReplyTo;
    std::string Organization;
    TIdEMailAddressItem ReceiptRecipient;
    std::string References;
    std::vector<std::string> NewsGroups;
    // Copied in first, before the generated lines.
    TIdHeaderList Headers;
    // Appended after the generated lines, as they stand.
    TIdHeaderList ExtraHeaders;
    // The header block as last composed.
    TIdHeaderList LastGeneratedHeaders;
    // Write Headers and Body as they stand, without composing or dot doubling.
    bool NoEncode = false;
    std::vector<TIdMessagePart> MessageParts;
    TIdInitializeIsoEvent OnInitializeISO;

    bool UseNowForDate() const { return Date == 0; }
    // True clears Date; false stamps it with the current time.
    void SetUseNowForDate(bool value);

    const std::string& InReplyTo() const { return InReplyTo_; }
    // Stored in angle brackets, which are added when missing.
    void SetInReplyTo(const std::string& value);

    // Replaces the body by the lines of one text, cut at CR, LF and CR LF.
    void SetBodyText(const std::string& text);

    // Fills LastGeneratedHeaders from the message. Raises EIdMessageFormatNotSupported for a
    // message that would need the MIME form or an encoded body.
    void ComposeHeaders();
    THeaderCharset ChooseHeaderCharset() const;

    // Restores every default.
    void Clear();

private:
    // The charset a body with non-ASCII bytes is labelled with, so that readers show it
    // right: UTF-8, or the multi-byte code page's own (EUC-JP, GBK, Big5, ...). Empty for an
    // all-ASCII body, which keeps the plain form, and where the language decides the mail.
    std::string BodyCharsetLabel() const;

    std::string InReplyTo_;
};

} // namespace ferry
