// The TLS I/O handler's line reading under arbitrary TLS record boundaries and arbitrary cuts
// of the encrypted stream: a real client and server session over in-memory BIO pairs.
//
// Input layout: byte 0 picks the options (bit 0: split long lines instead of raising; bits
// 1-7 with byte 1: the length limit, 0 meaning the default, and the seed of the cuts). The
// rest is a sequence of records, each a length byte and that many plaintext bytes, which the
// server writes one SSL_write each before it closes with close_notify.

#include "net/id_errors.h"
#include "net/tls_io_handler.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace ferry {
namespace {

SSL_CTX* ServerContext() {
    static SSL_CTX* ctx = [] {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* cert = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("fuzz"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_sign(cert, key, EVP_sha256());
        SSL_CTX* c = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(c, cert);
        SSL_CTX_use_PrivateKey(c, key);
        return c;
    }();
    return ctx;
}

SSL_CTX* ClientContext() {
    static SSL_CTX* ctx = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr); // the line layer is under test here
        SSL_CTX_clear_mode(c, SSL_MODE_AUTO_RETRY);
        return c;
    }();
    return ctx;
}

// Moves up to `limit` bytes from one network end to the other; returns the count.
size_t Transfer(BIO* from, BIO* to, size_t limit) {
    size_t n = std::min(static_cast<size_t>(BIO_ctrl_pending(from)), limit);
    if (n == 0)
        return 0;
    std::vector<char> buf(n);
    int got = BIO_read(from, buf.data(), static_cast<int>(n));
    if (got <= 0)
        return 0;
    if (BIO_write(to, buf.data(), got) != got)
        abort();
    return static_cast<size_t>(got);
}

// A TLS handler whose encrypted input arrives from the server's BIO in pseudo-random cuts.
class MemoryTLSHandler : public TIdIOHandlerTLS {
public:
    MemoryTLSHandler(BIO* serverNet, BIO* clientNet, uint32_t seed)
        : ServerNet_(serverNet), ClientNet_(clientNet), Seed_(seed | 1) {}
    void Start(SSL* client) {
        ClientSide_ = SSL_get_rbio(client);
        Open();
        AdoptSession(client);
    }

protected:
    bool WaitCipherReadable(int) override {
        // What an earlier cut delivered and OpenSSL has not consumed yet is readable as it is.
        if (BIO_ctrl_pending(ClientSide_) > 0)
            return true;
        Seed_ = Seed_ * 1103515245u + 12345u;
        size_t cut = 1 + (Seed_ >> 16) % 700;
        return Transfer(ServerNet_, ClientNet_, cut) > 0;
    }

private:
    BIO* ServerNet_;
    BIO* ClientNet_;
    BIO* ClientSide_ = nullptr;
    uint32_t Seed_;
};

} // namespace
} // namespace ferry

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferry;
    if (size < 2 || size > 65536)
        return 0;
    const uint8_t options = data[0];
    const int limit = ((options >> 1) | (data[1] << 7)) % 400;
    std::vector<std::string> records;
    for (size_t i = 2; i < size;) {
        size_t len = data[i++];
        len = std::min(len, size - i);
        records.emplace_back(reinterpret_cast<const char*>(data + i), len);
        i += len;
    }

    BIO *clientSide, *clientNet, *serverSide, *serverNet;
    BIO_new_bio_pair(&clientSide, 1 << 20, &clientNet, 1 << 20);
    BIO_new_bio_pair(&serverSide, 1 << 20, &serverNet, 1 << 20);
    SSL* client = SSL_new(ClientContext());
    SSL* server = SSL_new(ServerContext());
    SSL_set_bio(client, clientSide, clientSide);
    SSL_set_bio(server, serverSide, serverSide);
    SSL_set_connect_state(client);
    SSL_set_accept_state(server);
    for (int round = 0;
         round < 50 && !(SSL_is_init_finished(client) && SSL_is_init_finished(server)); ++round) {
        SSL_do_handshake(client);
        Transfer(clientNet, serverNet, SIZE_MAX);
        SSL_do_handshake(server);
        Transfer(serverNet, clientNet, SIZE_MAX);
    }
    if (!SSL_is_init_finished(client) || !SSL_is_init_finished(server))
        abort();

    std::string stream;
    for (const auto& r : records) {
        stream += r;
        if (!r.empty() && SSL_write(server, r.data(), static_cast<int>(r.size())) != int(r.size()))
            abort();
    }
    SSL_shutdown(server);

    // The handler holds a use of the socket stack; keep one alive so it is not rebuilt.
    static TIdIOHandlerTLS keeper;
    {
        MemoryTLSHandler handler(serverNet, clientNet, options | (data[1] << 8));
        handler.Start(client); // the handler owns the client session from here
        handler.MaxLineAction = (options & 1) ? maSplit : maException;
        if (limit > 0)
            handler.MaxLineLength = limit;

        // Reference: the lines the plaintext must give however records and cuts fell.
        const size_t max = static_cast<size_t>(handler.MaxLineLength);
        size_t p = 0;
        for (int reads = 0; reads < 100000; ++reads) {
            size_t q = stream.find('\n', p);
            size_t length = q == std::string::npos ? std::string::npos : q - p;
            bool tooLong = length == std::string::npos ? stream.size() - p > max : length > max;
            std::string line;
            try {
                line = handler.ReadLine("\n");
            } catch (const EIdConnClosedGracefully&) {
                if (tooLong || q != std::string::npos)
                    abort();
                break;
            } catch (const EIdReadLnMaxLineLengthExceeded&) {
                if (!tooLong || handler.MaxLineAction == maSplit)
                    abort();
                break;
            }
            if (handler.LineTimedOut())
                abort(); // close_notify always follows, so the reader never runs dry
            std::string expected;
            if (tooLong) {
                expected = stream.substr(p, max);
                p += max;
            } else {
                if (q == std::string::npos)
                    abort();
                expected = stream.substr(p, length);
                if (!expected.empty() && expected.back() == '\r')
                    expected.pop_back();
                p = q + 1;
            }
            if (line != expected || handler.LineWasSplit() != tooLong)
                abort();
        }
    }
    SSL_free(server);
    BIO_free(clientNet);
    BIO_free(serverNet);
    return 0;
}
