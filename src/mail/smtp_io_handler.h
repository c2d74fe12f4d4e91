#pragma once

#include "net/io_handler_stack.h"

namespace ferry {

// The connection object the notification sender gives its client. It keeps the connect time
// limit but ends the wait as soon as the connect has finished: the stock handler watches a
// limited connect in 125 ms sleeps, so every notification would spend at least 125 ms on
// connecting to a server that answers at once. Without a limit it is the stock handler.
class TIdIOHandlerPromptConnect : public TIdIOHandlerStack {
protected:
    void ConnectPeer() override;
};

} // namespace ferry
