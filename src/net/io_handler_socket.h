#pragma once

// A connection object that owns one socket.

#include "net/io_handler.h"
#include "net/socket_handle.h"

#include <functional>
#include <memory>

namespace ferry {

// An I/O handler that owns one socket record.
class TIdIOHandlerSocket : public TIdIOHandler {
public:
    TIdIOHandlerSocket() = default;
    ~TIdIOHandlerSocket() override;

    TIdIPVersion IPVersion = Id_IPv4;
    std::string BoundIP;
    int BoundPort = 0;
    int BoundPortMin = 0;
    int BoundPortMax = 0;

    std::function<void(TIdIOHandlerSocket*)> OnBeforeBind;
    std::function<void(TIdIOHandlerSocket*)> OnAfterBind;
    std::function<void(TIdIOHandlerSocket*)> OnSocketAllocated;

    bool UseNagle() const { return UseNagle_; }
    // TCP_NODELAY is the opposite of UseNagle; applied at once while a socket is allocated.
    void SetUseNagle(bool value);

    // The socket record; null until the handler is first opened.
    TIdSocketHandle* Binding() const { return Binding_.get(); }

    void Open() override;
    void Close() override;

protected:
    virtual void ConnectPeer() = 0;
    void ApplyNagle();

    std::unique_ptr<TIdSocketHandle> Binding_;

private:
    bool UseNagle_ = true;
};

} // namespace ferry
