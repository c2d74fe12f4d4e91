// The dialogue tests trust the scripted server to fail on any difference; these checks make
// sure it does, so that a passing dialogue test means something.
#include "support/smtp_script_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ferry::test {
namespace {

int ConnectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}

void Write(int fd, const std::string& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

std::string ReadSome(int fd) {
    char buf[256];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

TEST(SmtpScriptServer, PassesExactDialogueEvenWhenStepsArriveTogether) {
    SmtpScriptServer server;
    server.Reply("220 hi").ExpectLine("A").ExpectLine("B").Reply("250 ok");
    server.Start();
    int fd = ConnectTo(server.Port());
    EXPECT_EQ(ReadSome(fd), "220 hi\r\n");
    Write(fd, "A\r\nB\r\n"); // two expected steps in one piece
    EXPECT_EQ(ReadSome(fd), "250 ok\r\n");
    ::close(fd);
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(server.Received(), "A\r\nB\r\n");
}

TEST(SmtpScriptServer, FailsOnTheFirstDifferentByteAndOnExtraBytes) {
    {
        SmtpScriptServer server;
        server.ExpectLine("QUIT");
        server.Start();
        int fd = ConnectTo(server.Port());
        Write(fd, "QUIT\n"); // LF without CR
        std::string failure = server.Finish();
        ::close(fd);
        EXPECT_NE(failure.find("byte 4 differs"), std::string::npos) << failure;
    }
    {
        SmtpScriptServer server;
        server.ExpectLine("QUIT");
        server.Start();
        int fd = ConnectTo(server.Port());
        Write(fd, "QUIT\r\nRSET\r\n");
        ::shutdown(fd, SHUT_WR);
        std::string failure = server.Finish();
        ::close(fd);
        EXPECT_NE(failure.find("unexpected bytes \"RSET\\r\\n\""), std::string::npos) << failure;
    }
}

TEST(SmtpScriptServer, EveryWaitEndsWithinItsLimit) {
    {
        SmtpScriptServer server;
        server.StepLimit(std::chrono::milliseconds(100)).ExpectLine("EHLO x");
        server.Start();
        EXPECT_EQ(server.Finish(), "no client connected in time");
        EXPECT_FALSE(server.Accepted());
    }
    {
        SmtpScriptServer server;
        server.StepLimit(std::chrono::milliseconds(100)).ExpectLine("EHLO x");
        server.Start();
        int fd = ConnectTo(server.Port());
        Write(fd, "EH");
        std::string failure = server.Finish();
        EXPECT_NE(failure.find("timed out"), std::string::npos) << failure;
        // The server closes its end after a failure, so a waiting client is released.
        EXPECT_EQ(ReadSome(fd), "");
        ::close(fd);
    }
}

} // namespace
} // namespace ferry::test
