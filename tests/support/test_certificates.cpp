#include "support/test_certificates.h"

#include <cstdlib>
#include <stdexcept>

namespace ferry::test {

namespace {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Elliptic-curve keys: generated in a moment, unlike RSA.
const char* const KeyOptions = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

} // namespace

void TestCertificates::Run(const std::string& command) {
    std::string line =
        "cd " + Quote(Dir_->Path()) + " && timeout 30 " + command + " >>openssl.log 2>&1";
    if (std::system(line.c_str()) != 0)
        throw std::runtime_error("openssl failed: " + command + "\n" +
                                 TempDir::Read(*Dir_ / "openssl.log"));
}

TestCertificates::Pair TestCertificates::Issue(const std::string& name, const std::string& host,
                                               int days, const std::string& ca) {
    Dir_->Write(name + ".ext", "subjectAltName=DNS:" + host + "\n");
    Run(std::string("openssl req ") + KeyOptions + " -keyout " + name + ".key -out " + name +
        ".csr -subj /CN=" + host);
    Run("openssl x509 -req -in " + name + ".csr -CA " + ca + ".pem -CAkey " + ca +
        ".key -CAcreateserial -days " + std::to_string(days) + " -extfile " + name + ".ext -out " +
        name + ".pem");
    return {*Dir_ / (name + ".pem"), *Dir_ / (name + ".key")};
}

TestCertificates::TestCertificates() : Dir_(std::make_unique<TempDir>()) {
    for (const char* ca : {"ca", "foreign-ca"})
        Run(std::string("openssl req -x509 ") + KeyOptions + " -keyout " + ca + ".key -out " + ca +
            ".pem -days 2 -subj /CN=" + ca);
    CAFile = *Dir_ / "ca.pem";
    Localhost = Issue("localhost", "localhost", 2, "ca");
    OtherHost = Issue("other", "other.test", 2, "ca");
    Expired = Issue("expired", "localhost", -1, "ca");
    Foreign = Issue("foreign", "localhost", 2, "foreign-ca");
}

} // namespace ferry::test
