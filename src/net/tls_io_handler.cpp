#include "net/tls_io_handler.h"

#include "net/id_errors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

namespace ferry {

// The socket under the TLS layer, as its BIO sees it. The peer's first bytes are kept, to tell
// a server that answered in plain text.
struct TlsSocketLink {
    static constexpr size_t HeadBytes = 64;
    int Fd = -1;
    size_t Received = 0;
    std::string Head;
};

namespace {

TlsSocketLink* LinkOf(BIO* bio) {
    return static_cast<TlsSocketLink*>(BIO_get_data(bio));
}

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the peer has gone;
// this one sends with MSG_NOSIGNAL like the plain handler does.
int SocketWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do
        n = ::send(LinkOf(bio)->Fd, data, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

// Reads never block: a record that has only partly arrived must come back to the handler's
// own wait, which keeps the time limit and sees the work called off. A blocking read here
// would sit in the kernel for as long as a silent server likes.
int SocketRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    TlsSocketLink* link = LinkOf(bio);
    ssize_t n;
    do
        n = ::recv(link->Fd, data, size, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        BIO_set_retry_read(bio);
        return -1;
    }
    if (n > 0) {
        link->Received += static_cast<size_t>(n);
        const size_t room = TlsSocketLink::HeadBytes - link->Head.size();
        link->Head.append(data, std::min(static_cast<size_t>(n), room));
    }
    return static_cast<int>(n);
}

long SocketCtrl(BIO* bio, int cmd, long, void* ptr) {
    switch (cmd) {
    case BIO_C_GET_FD: {
        int fd = LinkOf(bio)->Fd;
        if (ptr)
            *static_cast<int*>(ptr) = fd;
        return fd;
    }
    case BIO_CTRL_FLUSH:
        return 1;
    default:
        return 0;
    }
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ferry socket");
        BIO_meth_set_write(m, SocketWrite);
        BIO_meth_set_read(m, SocketRead);
        BIO_meth_set_ctrl(m, SocketCtrl);
        return m;
    }();
    return method;
}

// The first line of what the peer sent, when it reads as text: a TLS record starts with a
// byte below 0x20, so a server that speaks first in a clear-text protocol is told apart.
std::string PlainTextAnswer(const std::string& head) {
    const std::string line = head.substr(0, head.find_first_of("\r\n"));
    if (line.empty())
        return {};
    for (unsigned char c : line)
        if (c < 0x20 || c > 0x7e)
            return {};
    return line.size() > 60 ? line.substr(0, 60) + "..." : line;
}

std::string OpenSSLErrors() {
    std::string text;
    while (unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty())
            text += "; ";
        text += buf;
    }
    return text;
}

bool IsIPLiteral(const std::string& host) {
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, host.c_str(), &a4) == 1 ||
           inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

std::string NameLine(X509_NAME* name) {
    if (!name)
        return {};
    BIO* mem = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(mem, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long size = BIO_get_mem_data(mem, &data);
    std::string line(data, static_cast<size_t>(size));
    BIO_free(mem);
    return line;
}

std::string EnvText(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// One client context for the process, made again only when the trust settings in the
// environment change: loading the trusted certificates for every session would cost more
// than the handshake itself. The caller gets its own reference.
SSL_CTX* SharedClientContext() {
    static std::mutex lock;
    static SSL_CTX* shared = nullptr;
    static std::string sharedFor;
    const std::string key = EnvText("SSL_CERT_FILE") + '\n' + EnvText("SSL_CERT_DIR");
    std::lock_guard<std::mutex> guard(lock);
    if (!shared || key != sharedFor) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        if (!ctx)
            return nullptr;
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        // Reads the files named by SSL_CERT_FILE and SSL_CERT_DIR when they are set.
        SSL_CTX_set_default_verify_paths(ctx);
        // SMTP ends each exchange with a reply; an EOF without close_notify cannot truncate
        // anything that was not already complete.
        SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
        // A record without data (a session ticket) must return to the wait, not block a poll.
        SSL_CTX_clear_mode(ctx, SSL_MODE_AUTO_RETRY);
        if (shared)
            SSL_CTX_free(shared);
        shared = ctx;
        sharedFor = key;
    }
    SSL_CTX_up_ref(shared);
    return shared;
}

// Milliseconds left of `limitMs` since `start`; -2 (no limit) when limitMs is negative.
int Remaining(std::chrono::steady_clock::time_point start, int limitMs) {
    if (limitMs < 0)
        return -2;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    return spent >= limitMs ? 0 : static_cast<int>(limitMs - spent);
}

} // namespace

std::string SecondsText(int milliseconds) {
    // In tenths, by hand: printf would follow the locale's decimal comma.
    const int tenths = (milliseconds + 50) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0)
        text += "." + std::to_string(tenths % 10);
    return text + (text == "1" ? " second" : " seconds");
}

std::string CertificateProblemText(long verifyResult, const std::string& hostName) {
    const std::string lead = "The server's certificate is not trusted: ";
    switch (verifyResult) {
    case X509_V_OK:
        return {};
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return lead + "it has expired.";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return lead + "it is not valid yet.";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return lead + "it was issued for another host name than " + hostName + ".";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return lead + "its issuer is unknown.";
    case X509_V_ERR_CERT_REVOKED:
        return lead + "it has been revoked.";
    default:
        return lead + X509_verify_cert_error_string(verifyResult) + ".";
    }
}

std::string CertificateAdviceText(long verifyResult, const std::string& hostName) {
    switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "The server's administrator must renew it; if it should be valid, check this "
               "computer's date and time.";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "Enter the host name the certificate was issued for as the SMTP server, or ask "
               "the server's administrator for a certificate for " +
               hostName + ".";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "To trust it, once you know it is the server's, add its issuer's certificate (of "
               "a self-signed one, the certificate itself) to the system's trusted "
               "certificates: on Debian, copy it as a .crt file into "
               "/usr/local/share/ca-certificates/ and run update-ca-certificates as root. Or "
               "name the file in SSL_CERT_FILE, or its folder in SSL_CERT_DIR, in the "
               "environment Ferrydesk starts in.";
    default:
        return {};
    }
}

TIdIOHandlerTLS::TIdIOHandlerTLS() = default;

TIdIOHandlerTLS::~TIdIOHandlerTLS() {
    FreeSession();
    if (Ctx_)
        SSL_CTX_free(Ctx_);
}

bool TIdIOHandlerTLS::Live() const {
    if (Adopted_)
        return IsOpen_;
    return Binding_ && Binding_->HandleAllocated();
}

void TIdIOHandlerTLS::FreeSession() {
    if (Ssl_) {
        SSL_free(Ssl_);
        Ssl_ = nullptr;
    }
    Link_.reset(); // after the BIO that points at it
    Adopted_ = false;
    Negotiated_ = false;
}

void TIdIOHandlerTLS::AdoptSession(SSL* ssl) {
    FreeSession();
    Ssl_ = ssl;
    Adopted_ = true;
    Negotiated_ = true;
}

bool TIdIOHandlerTLS::WaitCipherReadable(int timeoutMs) {
    if (Adopted_)
        return false;
    return Binding_->WaitReadable(timeoutMs);
}

void TIdIOHandlerTLS::Open() {
    FreeSession();
    Info_ = {};
    TIdIOHandlerStack::Open();
}

void TIdIOHandlerTLS::StartTLS() {
    if (Ssl_)
        throw EIdTLSError("The connection is already encrypted.");
    if (!Live())
        throw EIdConnClosedGracefully();
    const std::string name = VerifyHostName.empty() ? Host : VerifyHostName;
    try {
        if (InputQueue_ && !InputQueue_->IsEmpty())
            throw EIdTLSError(
                "The server sent data in clear after agreeing to encrypt; the connection was "
                "closed.");
        RunHandshake(name);
    } catch (...) {
        // Whatever ended the handshake (its own failure, the time limit, the work called
        // off), a half-made session must not stay: a QUIT written into it would wait on the
        // handshake again, and nothing more may go out in clear. What came in clear is not
        // to be read as a reply either.
        FreeSession();
        Close();
        if (InputQueue_)
            InputQueue_->Clear();
        throw;
    }
}

void TIdIOHandlerTLS::RunHandshake(const std::string& name) {
    ERR_clear_error();
    if (!Ctx_)
        Ctx_ = SharedClientContext();
    if (!Ctx_)
        throw EIdTLSError("TLS could not be set up: " + OpenSSLErrors());
    Ssl_ = SSL_new(Ctx_);
    BIO* bio = Ssl_ ? BIO_new(SocketMethod()) : nullptr;
    if (!bio)
        throw EIdTLSError("TLS could not be set up: " + OpenSSLErrors());
    Link_ = std::make_unique<TlsSocketLink>();
    Link_->Fd = static_cast<int>(Binding_->Handle());
    BIO_set_data(bio, Link_.get());
    BIO_set_init(bio, 1);
    SSL_set_bio(Ssl_, bio, bio);
    if (IsIPLiteral(name)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(Ssl_), name.c_str());
    } else {
        SSL_set_tlsext_host_name(Ssl_, name.c_str());
        SSL_set1_host(Ssl_, name.c_str());
    }

    // One limit for the whole handshake, the same as for one reply: a server that sends a
    // byte now and then cannot stretch it.
    const int limit = (ReadTimeout != -1 && ReadTimeout != 0) ? ReadTimeout : -1;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        ERR_clear_error();
        int r = SSL_connect(Ssl_);
        if (r == 1)
            break;
        int err = SSL_get_error(Ssl_, r);
        if (err == SSL_ERROR_WANT_READ) {
            const int left = Remaining(start, limit);
            if (left == 0 || !Binding_->WaitReadable(left)) {
                const std::string lead = "The TLS handshake with " + name;
                throw EIdTLSHandshakeTimeout(
                    Link_->Received == 0
                        ? lead + " timed out: the server sent nothing within " +
                              SecondsText(limit) + "."
                        : lead + " did not finish within " + SecondsText(limit) + ".");
            }
            continue;
        }
        if (err == SSL_ERROR_WANT_WRITE)
            continue;
        long verify = SSL_get_verify_result(Ssl_);
        if (verify != X509_V_OK) {
            // The chain the server sent is kept even though verification refused it.
            std::string subject, issuer;
            STACK_OF(X509)* chain = SSL_get_peer_cert_chain(Ssl_);
            if (chain && sk_X509_num(chain) > 0) {
                X509* leaf = sk_X509_value(chain, 0);
                subject = NameLine(X509_get_subject_name(leaf));
                issuer = NameLine(X509_get_issuer_name(leaf));
            }
            throw EIdTLSCertificateError(verify, CertificateProblemText(verify, name), subject,
                                         issuer);
        }
        if (!PlainTextAnswer(Link_->Head).empty()) {
            // OpenSSL stopped at a record header; the rest of the line has usually come with it.
            char more[TlsSocketLink::HeadBytes];
            ssize_t n = ::recv(Link_->Fd, more, sizeof more - Link_->Head.size(), MSG_DONTWAIT);
            if (n > 0)
                Link_->Head.append(more, static_cast<size_t>(n));
        }
        const std::string answer = PlainTextAnswer(Link_->Head);
        if (!answer.empty())
            throw EIdTLSPlainTextAnswer("The TLS handshake with " + name +
                                            " failed: the server answered in plain text (\"" +
                                            answer + "\"), not TLS.",
                                        answer);
        std::string why = OpenSSLErrors();
        if (why.empty())
            why = err == SSL_ERROR_SYSCALL || err == SSL_ERROR_ZERO_RETURN
                      ? "the server closed the connection"
                      : "error " + std::to_string(err);
        throw EIdTLSError("The TLS handshake with " + name + " failed: " + why + ".");
    }

    Info_.Version = SSL_get_version(Ssl_);
    if (const char* c = SSL_get_cipher_name(Ssl_))
        Info_.Cipher = c;
    if (X509* cert = SSL_get0_peer_certificate(Ssl_)) {
        Info_.PeerSubject = NameLine(X509_get_subject_name(cert));
        Info_.PeerIssuer = NameLine(X509_get_issuer_name(cert));
    }
    Info_.Trusted = SSL_get_verify_result(Ssl_) == X509_V_OK;
    Negotiated_ = true;
}

int TIdIOHandlerTLS::FillInputBuffer(bool raiseIfClosed, int timeoutMs, bool raiseOnTimeout) {
    if (!Ssl_)
        return TIdIOHandlerStack::FillInputBuffer(raiseIfClosed, timeoutMs, raiseOnTimeout);
    if (timeoutMs == -1)
        timeoutMs = (ReadTimeout != -1 && ReadTimeout != 0) ? ReadTimeout : -2;
    CheckPeerClosed(raiseIfClosed, false);
    if (!Live() || !ReadBuffer_) {
        if (raiseIfClosed)
            throw EIdException("Not Connected");
        return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        // Decrypted bytes OpenSSL already holds need no wait. Part of a record it holds does:
        // the rest is still to come from the socket, within what is left of the one limit.
        if (SSL_pending(Ssl_) == 0) {
            const int left = timeoutMs < 0 ? timeoutMs : Remaining(start, timeoutMs);
            if (!WaitCipherReadable(left)) {
                if (raiseOnTimeout)
                    throw EIdReadTimeout();
                return -1;
            }
        }
        TIdBytes buffer(std::max(RecvBufferSize, 1));
        ERR_clear_error();
        int n = SSL_read(Ssl_, buffer.data(), static_cast<int>(buffer.size()));
        if (n > 0) {
            buffer.resize(n);
            if (Intercept)
                Intercept->Receive(buffer);
            InputQueue_->Write(buffer);
            if (!buffer.empty())
                return static_cast<int>(buffer.size());
            continue;
        }
        int err = SSL_get_error(Ssl_, n);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
            continue; // a record without data, or only part of one: wait for more
        if (err == SSL_ERROR_ZERO_RETURN || (err == SSL_ERROR_SYSCALL && n == 0)) {
            PeerClosed_ = true;
            CheckPeerClosed(raiseIfClosed, false);
            return 0;
        }
        std::string why = OpenSSLErrors();
        if (err == SSL_ERROR_SYSCALL && why.empty())
            why = std::strerror(errno);
        throw EIdTLSError("Reading from the encrypted connection failed: " + why + ".");
    }
}

void TIdIOHandlerTLS::SendNow(const TIdBytes& bytes) {
    if (!Ssl_) {
        TIdIOHandlerStack::SendNow(bytes);
        return;
    }
    const TIdBytes out = PrepareSend(bytes);
    if (!Live())
        throw EIdConnClosedGracefully();
    size_t pos = 0;
    while (pos < out.size()) {
        ERR_clear_error();
        int n = SSL_write(Ssl_, out.data() + pos, static_cast<int>(out.size() - pos));
        if (n <= 0) {
            int err = SSL_get_error(Ssl_, n);
            if (err == SSL_ERROR_WANT_WRITE)
                continue;
            if (err == SSL_ERROR_WANT_READ) {
                // The peer must send before this can go on (reads do not block): wait as for
                // a reply.
                if (!WaitCipherReadable((ReadTimeout != -1 && ReadTimeout != 0) ? ReadTimeout : -2))
                    throw EIdReadTimeout();
                continue;
            }
            if (err == SSL_ERROR_ZERO_RETURN) {
                PeerClosed_ = true;
                CheckPeerClosed(true, true);
            }
            std::string why = OpenSSLErrors();
            if (why.empty())
                why = std::strerror(errno);
            throw EIdTLSError("Writing to the encrypted connection failed: " + why + ".");
        }
        DoWork(wmWrite, n);
        pos += static_cast<size_t>(n);
    }
}

void TIdIOHandlerTLS::CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) {
    if (!Adopted_) {
        TIdIOHandlerStack::CheckPeerClosed(raiseIfClosed, ignoreBuffer);
        return;
    }
    // No socket behind an adopted session: only the peer's close_notify ends it.
    if (PeerClosed_ && InputQueue_ && (InputQueue_->IsEmpty() || ignoreBuffer) && raiseIfClosed)
        throw EIdConnClosedGracefully();
}

void TIdIOHandlerTLS::Close() {
    if (Ssl_) {
        // Say goodbye once, without waiting for the peer's answer; not to a peer that left.
        if (!PeerClosed_ && Live() && SSL_is_init_finished(Ssl_))
            SSL_shutdown(Ssl_);
        FreeSession();
    }
    TIdIOHandlerStack::Close();
}

} // namespace ferry
