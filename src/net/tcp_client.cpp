#include "net/tcp_client.h"

#include "net/id_errors.h"
#include "net/io_handler_stack.h"

namespace ferry {

TIdIOHandlerSocket* TIdTCPClientCustom::SocketHandler() const {
    return dynamic_cast<TIdIOHandlerSocket*>(IOHandler_.get());
}

void TIdTCPClientCustom::SetHost(const std::string& host) {
    Host_ = host;
    if (IOHandler_)
        IOHandler_->Host = host;
}

void TIdTCPClientCustom::SetPort(int port) {
    Port_ = port;
    if (IOHandler_)
        IOHandler_->Port = port;
}

void TIdTCPClientCustom::SetConnectTimeout(int ms) {
    ConnectTimeout_ = ms;
    if (IOHandler_)
        IOHandler_->ConnectTimeout = ms;
}

int TIdTCPClientCustom::ReadTimeout() const {
    return IOHandler_ ? IOHandler_->ReadTimeout : ReadTimeout_;
}

void TIdTCPClientCustom::SetReadTimeout(int ms) {
    ReadTimeout_ = ms;
    if (IOHandler_)
        IOHandler_->ReadTimeout = ms;
}

void TIdTCPClientCustom::SetIPVersion(TIdIPVersion version) {
    IPVersion_ = version;
    if (auto* h = SocketHandler())
        h->IPVersion = version;
}

void TIdTCPClientCustom::SetBoundIP(const std::string& ip) {
    BoundIP_ = ip;
    if (auto* h = SocketHandler())
        h->BoundIP = ip;
}

void TIdTCPClientCustom::SetBoundPort(int port) {
    BoundPort_ = port;
    if (auto* h = SocketHandler())
        h->BoundPort = port;
}

void TIdTCPClientCustom::SetBoundPortRange(int minimum, int maximum) {
    BoundPortMin_ = minimum;
    BoundPortMax_ = maximum;
    if (auto* h = SocketHandler()) {
        h->BoundPortMin = minimum;
        h->BoundPortMax = maximum;
    }
}

void TIdTCPClientCustom::SetUseNagle(bool value) {
    UseNagle_ = value;
    if (auto* h = SocketHandler())
        h->SetUseNagle(value);
}

void TIdTCPClientCustom::CopySettingsToHandler() {
    if (!Destination_.empty())
        IOHandler_->SetDestination(Destination_);
    IOHandler_->Port = Port_;
    IOHandler_->Host = Host_;
    IOHandler_->ConnectTimeout = ConnectTimeout_;
    IOHandler_->ReadTimeout = ReadTimeout_;
    if (auto* h = SocketHandler()) {
        h->BoundIP = BoundIP_;
        h->BoundPort = BoundPort_;
        h->BoundPortMin = BoundPortMin_;
        h->BoundPortMax = BoundPortMax_;
        h->IPVersion = IPVersion_;
        h->OnBeforeBind = OnBeforeBind;
        h->OnAfterBind = OnAfterBind;
        if (h->UseNagle() != UseNagle_)
            h->SetUseNagle(UseNagle_);
    }
}

void TIdTCPClientCustom::Connect() {
    if (IsConnected())
        throw EIdAlreadyConnected();
    if (Host_.empty())
        throw EIdHostRequired();
    if (Port_ == 0)
        throw EIdPortRequired();
    if (!IOHandler_) {
        auto handler = std::make_unique<TIdIOHandlerStack>();
        handler->OnStatus = OnStatus;
        SetIOHandler(std::move(handler));
        ManagedIOHandler_ = true;
    }
    try {
        CopySettingsToHandler();
        IOHandler_->Open();
        if (IOHandler_->Intercept)
            IOHandler_->Intercept->Connect(IOHandler_.get());
        DoStatus(hsConnected, Host_);
        if (OnConnected)
            OnConnected(this);
    } catch (...) {
        IOHandler_->Close();
        if (ManagedIOHandler_) {
            IOHandler_.reset();
            ManagedIOHandler_ = false;
        }
        throw;
    }
}

} // namespace ferry
