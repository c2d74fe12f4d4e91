#pragma once

// The SMTP dialogue's steps: greeting, EHLO or HELO, the mail transaction.

#include <functional>
#include <string>
#include <vector>

#include "mail/smtp_message_client.h"

namespace ferry {

class TIdEMailAddressList;
class TIdSMTPBase;

// Asked about each refused recipient; setting vContinue to false ends the transaction.
using TIdSMTPFailedRecipient =
    std::function<void(TIdSMTPBase& sender, const std::string& aAddress, const std::string& aCode,
                       const std::string& aText, bool& vContinue)>;

// The SMTP dialogue steps shared by the client: the greeting exchange, the two forms of the
// mail transaction and the recipient loop.
class TIdSMTPBase : public TIdMessageClient {
public:
    TIdSMTPBase();

    std::string HeloName;  // empty: the local host name is sent
    bool UseEhlo = true;   // try EHLO before HELO
    bool PipeLine = true;  // batch the envelope when the server offers PIPELINING
    std::string MailAgent; // the X-Mailer header; empty: none
    TIdSMTPFailedRecipient OnFailedRecipient;

    // Introduces the client: EHLO, falling back to HELO on any code but 250.
    void ExchangeGreeting();
    // The name sent after EHLO and HELO.
    std::string GreetingName() const;

    // Writes one command line and reads and checks its reply (an empty list accepts any
    // code). The line layer refuses a line holding CR or LF before writing any of it, so no
    // text from the settings can pose as a further command.
    int SendCmd(const std::string& command, const std::vector<int>& accepted);
    // Reads and checks one reply without writing.
    int GetResponse(const std::vector<int>& accepted);

protected:
    void SendPlainTransaction(TIdMessage& message, TIdEMailAddressList& recipients);
    void SendPipelinedTransaction(TIdMessage& message, TIdEMailAddressList& recipients);
    void SendRecipients(TIdEMailAddressList& recipients);
    bool CanContinueAfterRefusal(const std::string& address);

    // The message text and the closing "." line, collected into as few sends as the
    // threshold allows. Written line by line, the small sends would each wait out the
    // server's delayed acknowledgement behind Nagle's algorithm; the bytes are the same.
    void WriteMessageData(TIdMessage& message);
    static constexpr int DataFlushThreshold = 65536;

    // The connection object, or EIdNotConnected.
    TIdIOHandler& RequireIOHandler();

    static std::string MailFromCommand(const std::string& address) {
        return "MAIL FROM: <" + address + ">";
    }
    static std::string RcptToCommand(const std::string& address) {
        return "RCPT TO:<" + address + ">";
    }

private:
    // Reads one reply into LastReply. With a read limit set, the whole reply must arrive
    // within it; otherwise the session ends: the connection is closed, unread input dropped,
    // and EIdReadTimeout raised. A reply past the bound or a line past the line limit ends
    // the session the same way, with its own error.
    void ReadResponse();
    // Closes the connection and drops unread input, so that no QUIT is tried into it.
    void AbandonDialogue();
    void ReadReplyWithin(int limitMs);
};

} // namespace ferry
