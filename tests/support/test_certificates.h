#pragma once

#include <memory>
#include <string>

#include "support/temp_dir.h"

namespace ferry::test {

// A throw-away certificate authority and server certificates signed by it, made with the
// openssl program when the object is created. Tests point SSL_CERT_FILE at CAFile to trust it.
class TestCertificates {
public:
    struct Pair {
        std::string cert; // PEM
        std::string key;  // PEM, unencrypted
    };

    // Raises std::runtime_error when openssl fails or does not finish in time.
    TestCertificates();

    std::string CAFile;
    Pair Localhost; // for "localhost", valid
    Pair OtherHost; // for "other.test" only
    Pair Expired;   // for "localhost", expired yesterday
    Pair Foreign;   // for "localhost", signed by a CA nobody trusts

private:
    Pair Issue(const std::string& name, const std::string& host, int days, const std::string& ca);
    void Run(const std::string& command);

    std::unique_ptr<TempDir> Dir_;
};

} // namespace ferry::test
