#pragma once

// The connection object: text and lines over a byte transport.

#include "net/buffer.h"
#include "net/component.h"
#include "net/id_global.h"
#include "net/intercept.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ferry {

// The connection object: the text and line layer over a byte transport. Derived handlers
// supply the transport (FillInputBuffer, SendNow, CheckPeerClosed and the rest).
class TIdIOHandler : public TIdComponent {
public:
    TIdIOHandler() = default;
    ~TIdIOHandler() override = default;

    // Connection target, copied from the client at every connect.
    std::string Host;
    int Port = 0;
    int DefaultPort = 0;
    int ConnectTimeout = 0;
    // -1 or 0: reads wait without limit; above 0: limit of each wait in milliseconds.
    int ReadTimeout = -1;

    // "host:port", or the host alone when the port is the default or not above 0.
    virtual std::string Destination() const;
    // Splits at the last colon; text without a colon changes nothing.
    virtual void SetDestination(const std::string& destination);

    // Not owned; none by default.
    TIdConnectionIntercept* Intercept = nullptr;

    int MaxLineLength = 16384;
    TIdMaxLineAction MaxLineAction = maException;
    int RecvBufferSize = 32768;
    int SendBufferSize = 32768;

    bool LineWasSplit() const { return LineWasSplit_; }
    bool LineTimedOut() const { return LineTimedOut_; }
    bool IsOpen() const { return IsOpen_; }
    TIdBuffer* InputQueue() const { return InputQueue_.get(); }

    // Test seam: called with every block SendNow is given, before it is sent.
    std::function<void(const TIdBytes&)> OnSendNow;

    // Transport operations.
    virtual void Open();
    virtual void Close();
    virtual bool IsConnected();
    // -1: the wait timed out; above 0: bytes appended to InputQueue; 0: closed or not open.
    // timeoutMs -1 means ReadTimeout, -2 no limit.
    virtual int FillInputBuffer(bool raiseIfClosed, int timeoutMs, bool raiseOnTimeout) {
        return 0;
    }
    virtual void CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) {}
    virtual void MarkClosedByPeer() { PeerClosed_ = true; }
    virtual bool WaitReadable(int timeoutMs) { return false; }
    // Sends every byte or raises; the block must not be empty.
    virtual void SendNow(const TIdBytes& bytes);

    // Writing.
    void WriteBytes(const TIdBytes& bytes);
    void WriteText(const std::string& text);
    // The text and CR LF. A text holding CR or LF is refused before anything is written:
    // a line break inside would let the text pose as further protocol lines.
    void WriteLine(const std::string& text = "");
    void WriteLines(const std::vector<std::string>& lines);

    // Collecting output to send it in one piece.
    void BeginBuffering(int threshold = -1);
    void FlushBuffered(int count = -1);
    void EndBuffering();
    void CancelBuffering();
    bool IsBuffering() const { return PendingOutput_ != nullptr; }

    // Reading.
    std::string ReadLine(const std::string& terminator = "\n", int timeoutMs = -1,
                         int maxLength = -1);
    std::string ReadNonBlankLine(int attempts = 2147483647);

protected:
    // The closed check, the send seam and the intercept: the bytes to put on the wire.
    TIdBytes PrepareSend(const TIdBytes& bytes);
    // Whether the handler is open and has a live connection or unread input.
    bool HandlerConnected();

    bool IsOpen_ = false;
    bool PeerClosed_ = false;
    std::unique_ptr<TIdBuffer> InputQueue_;
    // Present while the handler is opened for reading.
    std::unique_ptr<TIdBuffer> ReadBuffer_;
    std::unique_ptr<TIdBuffer> PendingOutput_;
    int FlushThreshold_ = -1;
    bool LineWasSplit_ = false;
    bool LineTimedOut_ = false;
};

} // namespace ferry
