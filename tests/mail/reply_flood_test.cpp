// A hostile server that floods a reply: the session ends with the bound's error, quickly,
// without a QUIT into the flood and without the program's memory growing with the flood.
#include <atomic>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "mail/notification.h"
#include "mail/smtp.h"
#include "net/id_errors.h"
#include "support/smtp_script_server.h"
#include "support/tcp_server.h"

namespace ferry {
namespace {

using test::SmtpScriptServer;
using test::TcpTestPeer;
using test::TcpTestServer;
using Clock = std::chrono::steady_clock;

const std::string TooLarge = "Reply too large: the server sent more than 1000 lines or 1 MB.";

// A field of /proc/self/status in kB, -1 when missing.
long StatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// Highest resident size seen while it runs: the kernel's peak after a reset when it allows
// one, and samples every few milliseconds in any case.
class PeakRss {
public:
    PeakRss() {
        std::ofstream("/proc/self/clear_refs") << "5"; // resets VmHWM; may be refused
        HwmReset_ = StatusKb("VmHWM") <= StatusKb("VmRSS") + 1024;
        Sampler_ = std::thread([this] {
            while (!Stop_) {
                long rss = StatusKb("VmRSS");
                if (rss > Peak_)
                    Peak_ = rss;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    long StopKb() {
        Stop_ = true;
        Sampler_.join();
        long peak = Peak_;
        if (HwmReset_)
            peak = std::max(peak, StatusKb("VmHWM"));
        return peak;
    }

private:
    bool HwmReset_ = false;
    std::atomic<bool> Stop_{false};
    std::atomic<long> Peak_{0};
    std::thread Sampler_;
};

struct FloodOutcome {
    std::vector<std::string> failures;
    long growthKb = 0;
    Clock::duration took{};
    std::string afterFlood; // what the client sent once the flood had begun
    long long flooded = 0;  // bytes the server got out before the client went away
};

// One notification against a server that sends `head`, optionally reads the EHLO line and
// then repeats `chunk` until the client goes away (at most 20 s), then ends with `tail`.
FloodOutcome Flood(bool afterEhlo, const std::string& chunk, const std::string& tail = "") {
    FloodOutcome out;
    TcpTestServer server([&](TcpTestPeer& peer, int) {
        if (afterEhlo) {
            peer.Send("220 srv.test\r\n");
            peer.ReadLine();
        }
        auto until = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < until && peer.Send(chunk))
            out.flooded += static_cast<long long>(chunk.size());
        if (!tail.empty())
            peer.Send(tail);
        peer.ShutdownWrite();
        out.afterFlood = peer.ReadUntilClosed(3000);
    });
    TMailSettings mail;
    MailLimits limits;
    mail.SMTPServer = "127.0.0.1";
    mail.SMTPPort = server.Port();
    mail.SMTPFrom = "s@h";
    mail.SMTPTo = "a@h";
    limits.ReadMs = 30000; // the real limit is 60 s; a failing test must not take that
    long baseline = StatusKb("VmRSS");
    PeakRss peak;
    auto start = Clock::now();
    SendNotificationMail(mail, "", limits,
                         [&](const std::exception& e) { out.failures.push_back(e.what()); });
    out.took = Clock::now() - start;
    out.growthKb = peak.StopKb() - baseline;
    EXPECT_TRUE(server.Wait(30000));
    return out;
}

TEST(ReplyFlood, ContinuationLinesEndTheSessionWithBoundedMemory) {
    std::string shortLines;
    while (shortLines.size() < 64 * 1024)
        shortLines += "220-flood\r\n";
    const std::string longLine = "250-" + std::string(16000, 'x') + "\r\n";
    struct Case {
        const char* name;
        bool afterEhlo;
        std::string chunk;
    };
    for (const Case& c : {Case{"short lines in the greeting", false, shortLines},
                          Case{"16 KB lines in the EHLO reply", true, longLine}}) {
        SCOPED_TRACE(c.name);
        FloodOutcome out = Flood(c.afterEhlo, c.chunk);
        EXPECT_EQ(out.failures, std::vector<std::string>{TooLarge});
        EXPECT_LT(out.growthKb, 64 * 1024) << "peak growth in kB";
        EXPECT_LT(out.took, std::chrono::seconds(5));
        // The session ended there: nothing more was written into the flood.
        EXPECT_EQ(out.afterFlood.find("QUIT"), std::string::npos) << out.afterFlood;
        RecordProperty(std::string(c.afterEhlo ? "ehlo" : "greeting") + "_growth_kb",
                       static_cast<int>(out.growthKb));
    }
}

TEST(ReplyFlood, ATenMegabyteLineSaysTheLineWasTooLong) {
    // The server sends one 10 MB line and closes; the client gave up long before, and says so
    // rather than blaming the server's close.
    std::string block(1024 * 1024, 'y');
    std::string line = "220-";
    for (int i = 0; i < 10; ++i)
        line += block;
    std::atomic<bool> sent{false};
    FloodOutcome out;
    {
        TcpTestServer server([&](TcpTestPeer& peer, int) {
            peer.Send(line + "\r\n");
            peer.ShutdownWrite();
            out.afterFlood = peer.ReadUntilClosed(3000);
            sent = true;
        });
        TMailSettings mail;
        MailLimits limits;
        mail.SMTPServer = "127.0.0.1";
        mail.SMTPPort = server.Port();
        mail.SMTPFrom = "s@h";
        mail.SMTPTo = "a@h";
        limits.ReadMs = 10000;
        SendNotificationMail(mail, "", limits,
                             [&](const std::exception& e) { out.failures.push_back(e.what()); });
        EXPECT_TRUE(server.Wait(15000));
    }
    EXPECT_EQ(out.failures, std::vector<std::string>{"Max line length exceeded."});
    EXPECT_EQ(out.afterFlood.find("QUIT"), std::string::npos);
}

TEST(ReplyFlood, TheBoundIsAThousandLinesWithOrWithoutAReadLimit) {
    auto reply = [](int lines) {
        std::string text;
        for (int i = 1; i < lines; ++i)
            text += "250-EXT" + std::to_string(i) + "\r\n";
        return text + "250 LAST\r\n";
    };
    for (int limit : {5000, 0}) {
        SCOPED_TRACE(limit);
        {
            SmtpScriptServer s;
            s.Reply("220 srv.test").ExpectLine("EHLO client.test").Send(reply(1000));
            s.ExpectLine("QUIT").Reply("221 bye");
            TIdSMTP client;
            client.SetHost("127.0.0.1");
            client.SetPort(s.Port());
            client.HeloName = "client.test";
            client.SetReadTimeout(limit);
            s.Start();
            client.OpenSession();
            EXPECT_EQ(client.ServerExtensions.Lines.size(), 999u);
            EXPECT_TRUE(client.ServerExtensions.Contains("LAST"));
            client.CloseSession(true);
            EXPECT_EQ(s.Finish(), "");
        }
        {
            SmtpScriptServer s;
            s.Reply("220 srv.test").ExpectLine("EHLO client.test").Send(reply(1001));
            s.ExpectClose();
            TIdSMTP client;
            client.SetHost("127.0.0.1");
            client.SetPort(s.Port());
            client.HeloName = "client.test";
            client.SetReadTimeout(limit);
            s.Start();
            try {
                client.OpenSession();
                FAIL() << "a reply of 1001 lines was taken";
            } catch (const EIdReplyTooLarge& e) {
                EXPECT_EQ(std::string(e.what()), TooLarge);
            }
            EXPECT_FALSE(client.IsConnected());
            EXPECT_EQ(s.Finish(), "");
        }
    }
}

} // namespace
} // namespace ferry
