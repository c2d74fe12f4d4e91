#pragma once

#include "net/id_exception.h"
#include "net/io_handler_stack.h"

#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct bio_st BIO;

namespace ferry {

// The TLS layer could not be set up or broke down.
class EIdTLSError : public EIdException {
public:
    using EIdException::EIdException;
};

// The server's certificate failed verification; the message says why in words.
class EIdTLSCertificateError : public EIdTLSError {
public:
    EIdTLSCertificateError(long verifyResult, std::string message)
        : EIdTLSError(std::move(message)), VerifyResult(verifyResult) {}
    long VerifyResult;
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
    TIdIOHandlerTLS() = default;
    ~TIdIOHandlerTLS() override;

    // The name the certificate must carry; empty: Host.
    std::string VerifyHostName;

    // Runs the handshake on the connected socket. Input not yet read is refused: bytes that
    // came in clear must never pass as if they were encrypted. On any failure the connection
    // is closed (nothing more is sent in clear) and EIdTLSError or EIdTLSCertificateError
    // is raised.
    void StartTLS();
    bool TLSActive() const { return Ssl_ != nullptr; }
    TIdTLSInfo Info() const;

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

    SSL_CTX* Ctx_ = nullptr;
    SSL* Ssl_ = nullptr;
    bool Adopted_ = false;
};

// The words for a certificate verification result, "" for success.
std::string CertificateProblemText(long verifyResult, const std::string& hostName);

} // namespace ferry
