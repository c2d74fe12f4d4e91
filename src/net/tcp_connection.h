#pragma once

// A connection's command engine: commands out, replies in.

#include "net/component.h"
#include "net/io_handler.h"
#include "net/reply.h"

#include <concepts>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ferry {

// Bound on one reply. Real servers answer in a few lines (an EHLO list of some twenty lines,
// a few kilobytes at most); the bound is far above that but keeps a server that floods
// continuation lines from growing the program without limit.
constexpr size_t MaxReplyLines = 1000;
constexpr size_t MaxReplyBytes = 1024 * 1024;

// A connection that speaks a line protocol of numbered replies: owns the I/O handler, the
// last reply, the command engine and the closing sequence.
class TIdTCPConnection : public TIdComponent {
public:
    TIdTCPConnection() = default;
    ~TIdTCPConnection() override;

    // The reply object every reply is parsed into; the protocol class sets its kind.
    std::unique_ptr<TIdReply> LastReply;

    TIdIOHandler* IOHandler() const { return IOHandler_.get(); }
    // Replaces (and frees) the current handler. A handler given here is not released when a
    // connect fails; only one the client created itself is.
    void SetIOHandler(std::unique_ptr<TIdIOHandler> handler);

    std::function<void(TIdTCPConnection*)> OnDisconnected;

    // False without an I/O handler; otherwise the handler's test, which first takes in what
    // the peer has already sent (and may raise a socket error).
    bool IsConnected();

    // Notifies the peer when asked and still connected, then closes the handler; a failure
    // of the notification is raised after the handler is closed.
    virtual void Disconnect(bool notifyPeer = true);

    // Writes text as one line, then reads and checks one reply. An empty list accepts any code.
    int IssueCommand(const std::string& text, const std::vector<int>& accepted);
    // One code: -1 accepts any code, anything else only itself.
    template <std::integral T> int IssueCommand(const std::string& text, T code) {
        return IssueCommand(text, code == -1 ? std::vector<int>{} : std::vector<int>{int(code)});
    }
    int AwaitReply(const std::vector<int>& accepted);
    template <std::integral T> int AwaitReply(T code) {
        return AwaitReply(std::vector<int>{int(code)});
    }
    // Reads the lines of one reply into LastReply without checking its code.
    void ReadReply();
    void CheckReplyCode(int code, const std::vector<int>& accepted);

protected:
    // Adds one line to a reply being read; EIdReplyTooLarge once the reply passes the bound.
    static void AddReplyLine(std::vector<std::string>& lines, size_t& bytes, std::string line);

    // Says goodbye to the peer (the protocol's quit command); nothing by default.
    virtual void DisconnectNotifyPeer() {}

    std::unique_ptr<TIdIOHandler> IOHandler_;
    bool ManagedIOHandler_ = false;
};

} // namespace ferry
