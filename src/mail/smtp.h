#pragma once

// The SMTP client: one message to one server over one connection.

#include <string>
#include <vector>

#include "mail/smtp_base.h"

namespace ferry {

class TIdMessage;

enum TIdSMTPAuthenticationType { atNone, atDefault, atSASL };

// Where a session is in its dialogue, so that a failure can be told in words: what timed out,
// what was refused.
enum class TSMTPStep { Connect, TLSHandshake, Greeting, Hello, StartTLS, SignIn, Transaction };

// The SMTP client: carries one message to one server over one connection. The program
// creates one per notification, sets Host and Port, and calls OpenSession, DeliverMessage
// and, in every case, CloseSession(true).
class TIdSMTP : public TIdSMTPBase {
public:
    TIdSMTPAuthenticationType AuthType = atDefault;
    std::string Username;
    std::string Password;
    std::vector<std::string> SASLMechanisms;

    bool Authenticated() const { return Authenticated_; }
    // The step begun last; the closing QUIT does not count as one.
    TSMTPStep Step() const { return Step_; }

    // Connects, reads the greeting (220) and introduces the client. On a failure after the
    // connect the session is closed (QUIT when still connected) before the error continues;
    // an error of that clean-up replaces the first one.
    void OpenSession();
    // One mail transaction. Raises on failure; the session stays open.
    void DeliverMessage(TIdMessage& message);
    // QUIT when asked and still connected, then close. A refused QUIT is raised after the
    // connection has been closed.
    void CloseSession(bool notifyPeer);

    // The authentication step: the TLS upgrade when a mode asks for it, then the login when
    // a user name is set. Runs at the start of every delivery until it succeeds; may be run
    // on its own to check the settings without sending mail.
    void Authenticate();
    // The AUTH mechanisms the server listed after the last greeting, upper-case.
    std::vector<std::string> ServerAuthMechanisms() const;

    // Address expansion and verification; the program uses neither.
    std::vector<std::string> Expand(const std::string& name);
    std::string Verify(const std::string& name);

protected:
    // The QUIT that Disconnect sends when asked to notify the peer.
    void DisconnectNotifyPeer() override;
    // STARTTLS and the second EHLO, when the mode asks for encryption after the greeting.
    void TLSUpgradeIfOffered() override;

private:
    // Gives the session a TLS-capable connection object when a mode asks for one.
    void PrepareTLSHandler();
    // Implicit TLS: the handshake right after the connect, before the greeting.
    void StartImplicitTLS();
    // AUTH PLAIN or LOGIN, whichever the server lists first in that order of preference.
    void Login();
    bool ConnectionEncrypted() const;

    bool Authenticated_ = false;
    TSMTPStep Step_ = TSMTPStep::Connect;
};

} // namespace ferry
