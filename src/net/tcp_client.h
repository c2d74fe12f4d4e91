#pragma once

// The client side of a TCP connection: its settings and the connect.

#include "net/id_global.h"
#include "net/io_handler_socket.h"
#include "net/tcp_connection.h"

#include <functional>
#include <string>

namespace ferry {

// The client side of a TCP connection: its settings and the connect operation. Every
// setting set here is also copied to the current I/O handler, and all of them again at
// every connect.
class TIdTCPClientCustom : public TIdTCPConnection {
public:
    TIdTCPClientCustom() = default;

    const std::string& Host() const { return Host_; }
    void SetHost(const std::string& host);
    int Port() const { return Port_; }
    void SetPort(int port);
    // 0: connect on the calling thread; above 0: time limit in ms; -1, -2: own thread, no limit.
    int ConnectTimeout() const { return ConnectTimeout_; }
    void SetConnectTimeout(int ms);
    // The handler's value while there is a handler.
    int ReadTimeout() const;
    void SetReadTimeout(int ms);
    TIdIPVersion IPVersion() const { return IPVersion_; }
    void SetIPVersion(TIdIPVersion version);
    const std::string& BoundIP() const { return BoundIP_; }
    void SetBoundIP(const std::string& ip);
    int BoundPort() const { return BoundPort_; }
    void SetBoundPort(int port);
    // Used only when BoundPort is 0 and both ends are non-zero.
    int BoundPortMin() const { return BoundPortMin_; }
    int BoundPortMax() const { return BoundPortMax_; }
    void SetBoundPortRange(int minimum, int maximum);
    bool UseNagle() const { return UseNagle_; }
    void SetUseNagle(bool value);

    std::function<void(TIdTCPClientCustom*)> OnConnected;
    std::function<void(TIdIOHandlerSocket*)> OnBeforeBind;
    std::function<void(TIdIOHandlerSocket*)> OnAfterBind;

    // Opens the connection to Host and Port; on failure the socket is closed and a handler
    // the client created is released before the error continues unchanged.
    virtual void Connect();

protected:
    // "host:port" target a descendant may set; passed on to the handler when not empty.
    std::string Destination_;

private:
    TIdIOHandlerSocket* SocketHandler() const;
    void CopySettingsToHandler();

    std::string Host_;
    int Port_ = 0;
    int ConnectTimeout_ = 0;
    int ReadTimeout_ = -1;
    TIdIPVersion IPVersion_ = Id_IPv4;
    std::string BoundIP_;
    int BoundPort_ = 0;
    int BoundPortMin_ = 0;
    int BoundPortMax_ = 0;
    bool UseNagle_ = true;
};

} // namespace ferry
