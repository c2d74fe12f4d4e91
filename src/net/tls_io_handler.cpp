#include "net/tls_io_handler.h"

#include "net/id_errors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

namespace ferry {

namespace {

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the peer has gone;
// this one sends with MSG_NOSIGNAL like the plain handler does.
int SocketWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do
        n = ::send(static_cast<int>(BIO_get_fd(bio, nullptr)), data, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int SocketRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do
        n = ::recv(static_cast<int>(BIO_get_fd(bio, nullptr)), data, size, 0);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

long SocketCtrl(BIO* bio, int cmd, long num, void* ptr) {
    switch (cmd) {
    case BIO_C_SET_FD:
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(*static_cast<int*>(ptr))));
        BIO_set_init(bio, 1);
        return 1;
    case BIO_C_GET_FD: {
        int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
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

} // namespace

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
    Adopted_ = false;
}

void TIdIOHandlerTLS::AdoptSession(SSL* ssl) {
    FreeSession();
    Ssl_ = ssl;
    Adopted_ = true;
}

bool TIdIOHandlerTLS::WaitCipherReadable(int timeoutMs) {
    if (Adopted_)
        return false;
    return Binding_->WaitReadable(timeoutMs);
}

void TIdIOHandlerTLS::StartTLS() {
    if (Ssl_)
        throw EIdTLSError("The connection is already encrypted.");
    if (!Live())
        throw EIdConnClosedGracefully();
    const std::string name = VerifyHostName.empty() ? Host : VerifyHostName;
    auto fail = [this](std::string text, long verify = X509_V_OK) {
        FreeSession();
        Close();
        // What came in clear is not to be read as a reply either, nor keep the session
        // looking connected so that a QUIT would be tried.
        if (InputQueue_)
            InputQueue_->Clear();
        if (verify != X509_V_OK)
            throw EIdTLSCertificateError(verify, std::move(text));
        throw EIdTLSError(std::move(text));
    };
    if (InputQueue_ && !InputQueue_->IsEmpty())
        fail("The server sent data in clear after agreeing to encrypt; the connection was closed.");

    ERR_clear_error();
    if (!Ctx_)
        Ctx_ = SharedClientContext();
    if (!Ctx_)
        fail("TLS could not be set up: " + OpenSSLErrors());
    Ssl_ = SSL_new(Ctx_);
    BIO* bio = Ssl_ ? BIO_new(SocketMethod()) : nullptr;
    if (!bio)
        fail("TLS could not be set up: " + OpenSSLErrors());
    int fd = static_cast<int>(Binding_->Handle());
    BIO_ctrl(bio, BIO_C_SET_FD, 0, &fd);
    SSL_set_bio(Ssl_, bio, bio);
    if (IsIPLiteral(name)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(Ssl_), name.c_str());
    } else {
        SSL_set_tlsext_host_name(Ssl_, name.c_str());
        SSL_set1_host(Ssl_, name.c_str());
    }

    const int waitMs = (ReadTimeout != -1 && ReadTimeout != 0) ? ReadTimeout : -2;
    for (;;) {
        int r = SSL_connect(Ssl_);
        if (r == 1)
            break;
        int err = SSL_get_error(Ssl_, r);
        if (err == SSL_ERROR_WANT_READ) {
            if (!Binding_->WaitReadable(waitMs))
                fail("The TLS handshake with " + name + " timed out.");
            continue;
        }
        if (err == SSL_ERROR_WANT_WRITE)
            continue;
        long verify = SSL_get_verify_result(Ssl_);
        if (verify != X509_V_OK)
            fail(CertificateProblemText(verify, name), verify);
        std::string why = OpenSSLErrors();
        if (why.empty())
            why = err == SSL_ERROR_SYSCALL || err == SSL_ERROR_ZERO_RETURN
                      ? "the server closed the connection"
                      : "error " + std::to_string(err);
        fail("The TLS handshake with " + name + " failed: " + why + ".");
    }
}

TIdTLSInfo TIdIOHandlerTLS::Info() const {
    TIdTLSInfo info;
    if (!Ssl_)
        return info;
    info.Version = SSL_get_version(Ssl_);
    if (const char* c = SSL_get_cipher_name(Ssl_))
        info.Cipher = c;
    if (X509* cert = SSL_get0_peer_certificate(Ssl_)) {
        info.PeerSubject = NameLine(X509_get_subject_name(cert));
        info.PeerIssuer = NameLine(X509_get_issuer_name(cert));
    }
    info.Trusted = SSL_get_verify_result(Ssl_) == X509_V_OK;
    return info;
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
    for (;;) {
        // Decrypted bytes OpenSSL already holds need no wait. Part of a record it holds does:
        // the rest is still to come from the socket.
        if (SSL_pending(Ssl_) == 0 && !WaitCipherReadable(timeoutMs)) {
            if (raiseOnTimeout)
                throw EIdReadTimeout();
            return -1;
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
            if (err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ)
                continue;
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
