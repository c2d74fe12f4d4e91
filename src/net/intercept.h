#pragma once

// A hook that sees a connection's traffic.

#include "net/id_global.h"

namespace ferry {

class TIdIOHandler;

// Sees a connection's traffic: told of connect and disconnect, and given every block sent
// and received, which it may change (a logger leaves them, a codec rewrites them).
class TIdConnectionIntercept {
public:
    virtual ~TIdConnectionIntercept() = default;
    virtual void Connect(TIdIOHandler* handler) {}
    virtual void Disconnect() {}
    virtual void Send(TIdBytes& bytes) {}
    virtual void Receive(TIdBytes& bytes) {}
};

} // namespace ferry
