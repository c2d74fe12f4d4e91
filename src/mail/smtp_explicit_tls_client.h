#pragma once

// The TLS modes of the mail client and the server's extension list.

#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "net/tcp_client.h"

namespace ferry {

enum TIdUseTLS { utNoTLSSupport, utUseImplicitTLS, utUseRequireTLS, utUseExplicitTLS };

// The extension lines of the last EHLO reply, one keyword with its arguments per line, as the
// reply parser left them. Lookups compare whole lines without regard to letter case, so
// "pipelining" counts as PIPELINING and "PIPELINING x" does not.
class TIdServerExtensions {
public:
    std::vector<std::string> Lines;

    bool Contains(std::string_view line) const {
        for (const auto& l : Lines)
            if (SameTextAscii(l, line))
                return true;
        return false;
    }
    size_t Count() const { return Lines.size(); }
    void Clear() { Lines.clear(); }
};

// The client level that knows what the server offers and whether the connection is to be
// secured. With the default mode no TLS-capable connection object is made, so the upgrade
// step below never sends anything.
class TIdExplicitTLSClient : public TIdTCPClientCustom {
public:
    TIdServerExtensions ServerExtensions;
    TIdUseTLS UseTLS = utNoTLSSupport;

protected:
    // Runs before authentication; does nothing unless the connection object can do TLS.
    virtual void TLSUpgradeIfOffered() {}
};

} // namespace ferry
