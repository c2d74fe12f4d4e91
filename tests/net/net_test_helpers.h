#pragma once

#include "net/stack.h"
#include "net/tcp_client.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

namespace ferry::test {

// Replaces the system name lookup for the life of the object: counts calls and answers with
// a fixed result, so no test depends on this machine's resolver.
class LookupSeam {
public:
    explicit LookupSeam(int result = 0, std::vector<TIdAddressBytes> addresses = {}) {
        Previous_ = SetHostLookup(
            [this, result, addresses](const std::string& host, TIdIPVersion, auto& found, int&) {
                ++Calls;
                LastHost = host;
                found = addresses;
                return result;
            });
    }
    ~LookupSeam() { SetHostLookup(Previous_); }
    std::atomic<int> Calls{0};
    std::string LastHost;

private:
    TIdHostLookup Previous_;
};

// A client pointed at a loopback port.
inline std::unique_ptr<TIdTCPClientCustom> LoopbackClient(int port,
                                                          const std::string& host = "127.0.0.1") {
    auto client = std::make_unique<TIdTCPClientCustom>();
    client->SetHost(host);
    client->SetPort(port);
    return client;
}

} // namespace ferry::test
