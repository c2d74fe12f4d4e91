// ferrydesk-extract: reads the text of documents for Ferrydesk, one file at a time, in a
// process of its own so that no document can harm the program. The caller starts it with a
// socket at descriptor 3 and sends, for each file, a request frame carrying the file's open
// descriptor; the answer is the file's text in labelled pieces, or why it could not be read.
// The helper leaves when the caller closes the socket.
#include "doctext/read_document.h"
#include "extract/wire_format.h"
#include "sandbox.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using namespace ferry;

namespace {

constexpr int SocketFd = 3;

// Receives exactly `size` bytes, taking the descriptor that comes with the first of them.
bool ReceiveExactly(char* into, std::size_t size, int* passedFd) {
    std::size_t have = 0;
    while (have < size) {
        iovec iov{into + have, size - have};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        if (passedFd) {
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
        }
        const ssize_t n = recvmsg(SocketFd, &msg, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (passedFd)
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
                    c->cmsg_len == CMSG_LEN(sizeof(int)))
                    std::memcpy(passedFd, CMSG_DATA(c), sizeof(int));
        have += static_cast<std::size_t>(n);
    }
    return true;
}

bool SendAll(const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(SocketFd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::fprintf(stderr, "ferrydesk-extract: started by Ferrydesk, takes no arguments\n");
        return 2;
    }
    const SandboxState sandbox = EnterSandbox();
    if (!sandbox.NetworkNamespace && !sandbox.SyscallFilter)
        std::fprintf(stderr, "ferrydesk-extract: could not shut the network out\n");
    OcrCache ocr;
    for (;;) {
        unsigned char header[4];
        int fd = -1;
        if (!ReceiveExactly(reinterpret_cast<char*>(header), sizeof header, &fd))
            return 0; // the caller has gone
        std::size_t size = 0;
        std::string payload;
        ExtractRequest request;
        if (!FrameLength(header, size))
            return 2;
        payload.resize(size);
        if (!ReceiveExactly(payload.data(), size, nullptr) || !DecodeRequest(payload, request) ||
            fd < 0)
            return 2;
        AllowCpuSeconds(request.Ocr ? OcrFileCpuSeconds : FileCpuSeconds);
        const std::string answer = EncodeText(ReadDocument(fd, request, ocr));
        close(fd);
        if (!SendAll(FrameHeader(answer.size()) + answer))
            return 0;
    }
}
