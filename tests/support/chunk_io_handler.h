#pragma once

#include <string>
#include <vector>

#include "net/id_errors.h"
#include "net/io_handler.h"

namespace ferry::test {

// An I/O handler whose "socket" is a list of chunks, one per receive; after the last one the
// peer has closed. Tests of the line layer use it where the bytes and how they are cut are
// under test, not the socket: no server, no sleeps, every split reproducible.
class ChunkIOHandler : public TIdIOHandler {
public:
    explicit ChunkIOHandler(std::vector<std::string> chunks) : Chunks_(std::move(chunks)) {}

    int FillInputBuffer(bool raiseIfClosed, int, bool) override {
        CheckPeerClosed(raiseIfClosed, false);
        if (Next_ >= Chunks_.size()) {
            PeerClosed_ = true;
            CheckPeerClosed(raiseIfClosed, false);
            return 0;
        }
        const std::string& chunk = Chunks_[Next_++];
        InputQueue_->Write(chunk);
        return static_cast<int>(chunk.size());
    }

    void CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) override {
        if (PeerClosed_ && InputQueue_ && (InputQueue_->IsEmpty() || ignoreBuffer) && raiseIfClosed)
            throw EIdConnClosedGracefully();
    }

    const std::vector<std::string>& Chunks() const { return Chunks_; }

private:
    std::vector<std::string> Chunks_;
    size_t Next_ = 0;
};

} // namespace ferry::test
