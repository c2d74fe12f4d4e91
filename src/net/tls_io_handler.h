#pragma once

// The connection object over TLS (OpenSSL).

#include "net/id_exception.h"
#include "net/io_handler_stack.h"

#include <memory>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct bio_st BIO;

namespace ferry {

struct TlsSocketLink;

// The TLS layer could not be set up or broke down.
class EIdTLSError : public EIdException {
public:
    using EIdException::EIdException;
};

// The server's certificate failed verification; the message says why in words. The names
// are those of the certificate the server presented, so the user can tell what to trust.
class EIdTLSCertificateError : public EIdTLSError {
public:
    EIdTLSCertificateError(long verifyResult, std::string message, std::string peerSubject = {},
                           std::string peerIssuer = {})
        : EIdTLSError(std::move(message)), VerifyResult(verifyResult),
          PeerSubject(std::move(peerSubject)), PeerIssuer(std::move(peerIssuer)) {}
    long VerifyResult;
    std::string PeerSubject;
    std::string PeerIssuer;
};

// The handshake did not end within the read time limit. Nothing more is sent on the connection.
class EIdTLSHandshakeTimeout : public EIdTLSError {
public:
    using EIdTLSError::EIdTLSError;
};

// The server answered the handshake in plain text: it expects a clear-text protocol first
// (STARTTLS), not TLS from the first byte. Answer holds the start of what it sent.
class EIdTLSPlainTextAnswer : public EIdTLSError {
public:
    EIdTLSPlainTextAnswer(std::string message, std::string answer)
        : EIdTLSError(std::move(message)), Answer(std::move(answer)) {}
    std::string Answer;
};

// What the handshake settled on, for reporting to the user.
struct TIdTLSInfo {
    std::string Version;     // "TLSv1.3"
    std::string Cipher;      // "TLS_AES_256_GCM_SHA384"
    std::string PeerSubject; // the certificate's subject, one line
    std::string PeerIssuer;  // its issuer, one line
    bool Trusted = false;    // the chain and the host name were verified
};

// A socket handler that can switch to TLS once connected. Until StartTLS it is the plain
// socket handler byte for byte; afterwards every read and write goes through OpenSSL, under
// the same line layer. TLS 1.2 or newer, SNI, the system's trusted certificates (the
// SSL_CERT_FILE and SSL_CERT_DIR variables are honoured) and the host-name check are always on.
class TIdIOHandlerTLS : public TIdIOHandlerStack {
public:
    TIdIOHandlerTLS();
    ~TIdIOHandlerTLS() override;

    // The name the certificate must carry; empty: Host.
    std::string VerifyHostName;

    // Runs the handshake on the connected socket, within ReadTimeout as a whole (no limit
    // when it is -1 or 0) and giving up when the thread's work is called off. Input not yet
    // read is refused: bytes that came in clear must never pass as if they were encrypted. On
    // any failure the connection is closed (nothing more is sent in clear) and the error
    // continues: EIdTLSError or one of its kinds, or EOperationCancelled.
    void StartTLS();
    bool TLSActive() const { return Ssl_ != nullptr && Negotiated_; }
    // What the last handshake of this connection settled on; kept after the connection is
    // closed, so that a report can still say how it was encrypted. Empty before a handshake.
    TIdTLSInfo Info() const { return Info_; }

    void Open() override;

    int FillInputBuffer(bool raiseIfClosed, int timeoutMs, bool raiseOnTimeout) override;
    void SendNow(const TIdBytes& bytes) override;
    void CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) override;
    void Close() override;

protected:
    // Takes over an SSL object whose handshake is already done, reading through its BIO.
    // For in-memory use (the fuzz target); the handler must be open.
    void AdoptSession(SSL* ssl);
    // Whether encrypted input can be read now: the socket's readiness, or, for an adopted
    // session, what the subclass says (false here: nothing more will come).
    virtual bool WaitCipherReadable(int timeoutMs);

private:
    bool Live() const;
    void FreeSession();
    // The handshake proper; raises without cleaning up, StartTLS does that.
    void RunHandshake(const std::string& name);

    SSL_CTX* Ctx_ = nullptr;
    SSL* Ssl_ = nullptr;
    bool Adopted_ = false;
    bool Negotiated_ = false;
    TIdTLSInfo Info_;
    std::unique_ptr<TlsSocketLink> Link_;
};

// The words for a certificate verification result, "" for success.
std::string CertificateProblemText(long verifyResult, const std::string& hostName);
// What the user can do about that result, "" when there is nothing to say.
std::string CertificateAdviceText(long verifyResult, const std::string& hostName);

// "1 second", "15 seconds", "1.5 seconds": a time limit in milliseconds, for messages.
std::string SecondsText(int milliseconds);

} // namespace ferry
