#include "net/io_handler_stack.h"

#include "base/cancellation.h"
#include "net/connect_thread.h"
#include "net/id_errors.h"
#include "net/stack.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <thread>

namespace ferry {

namespace {

bool IsIPv6Literal(const std::string& host) {
    in6_addr addr;
    return inet_pton(AF_INET6, host.c_str(), &addr) == 1;
}

} // namespace

void TIdIOHandlerStack::CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) {
    bool closed;
    if (PeerClosed_) {
        if (SocketAllocated()) {
            Close();
            DoStatus(hsDisconnected);
        }
        closed = true;
    } else {
        closed = !SocketAllocated();
    }
    // Unread input stays readable after the peer has gone; the error comes once it is used up.
    if (closed && InputQueue_ && (InputQueue_->IsEmpty() || ignoreBuffer) && raiseIfClosed)
        throw EIdConnClosedGracefully();
}

int TIdIOHandlerStack::FillInputBuffer(bool raiseIfClosed, int timeoutMs, bool raiseOnTimeout) {
    if (timeoutMs == -1)
        timeoutMs = (ReadTimeout != -1 && ReadTimeout != 0) ? ReadTimeout : -2;
    CheckPeerClosed(raiseIfClosed, false);
    if (!SocketAllocated()) {
        if (raiseIfClosed)
            throw EIdException("Not Connected");
        return 0;
    }
    int count;
    int received;
    do {
        if (!Binding_->WaitReadable(timeoutMs)) {
            if (raiseOnTimeout)
                throw EIdReadTimeout();
            return -1;
        }
        if (ReadBuffer_) {
            if (!SocketAllocated())
                throw EIdClosedSocket();
            TIdBytes buffer(std::max(RecvBufferSize, 1));
            received = Binding_->Receive(buffer);
            count = received;
            if (received > 0) {
                buffer.resize(received);
                if (Intercept) {
                    Intercept->Receive(buffer);
                    count = static_cast<int>(buffer.size());
                }
                InputQueue_->Write(buffer);
            }
        } else {
            count = received = 0;
            if (raiseIfClosed)
                throw EIdException("Not Connected");
        }
        // Only the socket's end of stream means the peer closed; an intercept that keeps
        // back what it was given must not look like one.
        if (received == 0)
            PeerClosed_ = true;
        CheckPeerClosed(raiseIfClosed, false);
    } while (count == 0 && SocketAllocated());
    return count;
}

bool TIdIOHandlerStack::IsConnected() {
    FillInputBuffer(false, 0, false);
    bool unread = InputQueue_ && !InputQueue_->IsEmpty();
    return (SocketAllocated() && HandlerConnected()) || unread;
}

bool TIdIOHandlerStack::WaitReadable(int timeoutMs) {
    if (!Binding_)
        throw EIdConnClosedGracefully();
    return Binding_->WaitReadable(timeoutMs);
}

void TIdIOHandlerStack::SendNow(const TIdBytes& bytes) {
    const TIdBytes out = PrepareSend(bytes);
    if (!SocketAllocated())
        throw EIdConnClosedGracefully();
    size_t pos = 0;
    while (pos < out.size()) {
        int sent = Binding_->Send(out, static_cast<int>(pos), -1);
        if (sent == 0) {
            PeerClosed_ = true;
            CheckPeerClosed(true, true);
        }
        DoWork(wmWrite, sent);
        pos += sent;
    }
}

void TIdIOHandlerStack::ConnectPeer() {
    if (OnBeforeBind)
        OnBeforeBind(this);
    Binding_->SetIPVersion(IPVersion);
    Binding_->AllocateSocket(Id_SOCK_STREAM, Id_IPPROTO_IP);
    if (OnSocketAllocated)
        OnSocketAllocated(this);
    if (!BoundIP.empty())
        Binding_->IP = BoundIP;
    Binding_->Port = BoundPort;
    Binding_->ClientPortMin = BoundPortMin;
    Binding_->ClientPortMax = BoundPortMax;
    Binding_->Bind();
    ApplyNagle();
    if (OnAfterBind)
        OnAfterBind(this);

    std::string address;
    if (IPVersion == Id_IPv4) {
        if (IsDottedQuad(Host)) {
            address = Host;
        } else {
            DoStatus(hsResolving, Host);
            address = SocketStack->ResolveAddress(Host, Id_IPv4);
        }
    } else {
        if (IsIPv6Literal(Host)) {
            address = Host;
        } else {
            DoStatus(hsResolving, Host);
            address = SocketStack->ResolveAddress(Host, Id_IPv6);
        }
    }
    Binding_->SetPeer(address, Port, IPVersion);
    DoStatus(hsConnecting, Binding_->PeerIP);
    if (ConnectTimeout != 0)
        ConnectWithTimeout(ConnectTimeout);
    else
        Binding_->Connect();
}

void TIdIOHandlerStack::ConnectWithTimeout(int limit) {
    if (limit == -1)
        limit = -2;
    TIdConnectThread thread(Binding_.get());
    thread.Start();
    // Wait for the connect to end, at most for the limit. Waking on its end rather than
    // polling in fixed steps lets a connect that succeeds at once return at once.
    const int wait = limit == -2 ? -1 : limit < 0 ? 0 : limit;
    bool cancelled = false;
    if (ThreadCancellable()) {
        // In slices, so that work called off meanwhile stops waiting within one of them.
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            if ((cancelled = ThreadCancelled()))
                break;
            int slice = CancelPollMs;
            if (wait >= 0) {
                const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start)
                                       .count();
                if (spent >= wait)
                    break;
                slice = static_cast<int>(std::min<int64_t>(slice, wait - spent));
            }
            if (thread.WaitTerminated(slice))
                break;
        }
    } else {
        thread.WaitTerminated(wait);
    }
    if (!thread.Terminated()) {
        thread.Terminate();
        // Wake the pending connect and let the thread end before the handle is released, so
        // the thread can never act on a descriptor number that has been reused meanwhile.
        Binding_->AbortPendingConnect();
        thread.WaitFor();
        Close();
        if (cancelled)
            throw EOperationCancelled();
        throw EIdConnectTimeout();
    }
    thread.WaitFor();
    if (!thread.ExceptionMessage.empty()) {
        if (thread.LastSocketError != 0)
            throw EIdSocketError(thread.LastSocketError, thread.ExceptionMessage);
        throw EIdConnectException(thread.ExceptionMessage);
    }
}

} // namespace ferry
