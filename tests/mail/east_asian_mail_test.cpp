// Routing and the notification under the multi-byte locales of East Asia, each in its own
// real locale: the code page read from the environment as at start-up, the settings in a
// real hive, the mail caught by a real SMTP server on 127.0.0.1.
#include <gtest/gtest.h>
#include <locale.h>

#include "mail/mail_notifier.h"
#include "mail/notification.h"
#include "platform/codepage.h"
#include "settings/settings_store.h"
#include "support/registry_sandbox.h"
#include "support/scoped_env.h"
#include "support/smtp_sink.h"
#include "support/task_run.h"
#include "support/temp_dir.h"

namespace ferry {
namespace {

using test::ScopedClock;
using test::ScopedEnv;
using test::ScopedLocale;
using test::SmtpSink;

// The program as started in a locale: LC_ALL names it and the code page is read from the
// environment, the way the program reads it before anything else.
class StartedIn {
public:
    explicit StartedIn(const char* locale) : Locale_(locale), Old_(SystemCodePage()) {
        SetSystemCodePage(CodePage::FromEnvironment());
    }
    ~StartedIn() { SetSystemCodePage(Old_); }

private:
    ScopedLocale Locale_;
    CodePage Old_;
};

bool Installed(const char* locale) {
    locale_t loc = newlocale(LC_CTYPE_MASK, locale, static_cast<locale_t>(0));
    if (loc != static_cast<locale_t>(0))
        freelocale(loc);
    return loc != static_cast<locale_t>(0);
}

struct Row {
    const char* Locale;
    std::u16string Name, Body;        // the recipient's name and the message, as typed
    std::u16string Match, Hit, Decoy; // the match string and the two files' text
    std::string Header;               // what the mail must hold from the To line on
    std::string WireBody;
};

const std::string kHead = "From: \"ferry@desk.test\" <ferry@desk.test>\r\n"
                          "Subject: Notification Message!\r\n";
const std::string kDate = "Date: Tue, 1 Dec 2026 09:08:07 +0000\r\n";

std::string Labelled(const std::string& to, const std::string& charset) {
    return "To: " + to + " <taro@example.test>\r\n" +
           "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=" + charset +
           "\r\nContent-Transfer-Encoding: 8bit\r\n" + kDate;
}

TEST(EastAsianMail, EachLocaleMatchesByCharactersAndLabelsItsMailTruly) {
    // The decoys differ from the match string only in a second byte that is an ASCII letter
    // of the other case (Shift JIS ア 83 41 and ヂ 83 61, GBK 誇 and 說, Big5 了 and 口):
    // upper-cased byte by byte they would match.
    const Row rows[] = {
        {"ja_JP.SJIS", u"日本 太郎", u"ファイルを表示しました。", u"ｉｄ：ア", u"請求書 ＩＤ：ア",
         u"請求書 ＩＤ：ヂ",
         // Shift JIS is code page 932: headers and body go out as ISO-2022-JP, unlabelled.
         "To: =?ISO-2022-JP?B?GyRCRnxLXBsoQiAbJEJCQE86GyhC?= <taro@example.test>\r\n" + kDate,
         "\x1B$B%U%!%$%k$rI=<($7$^$7$?!#\x1B(B"},
        {"ja_JP.EUC-JP", u"日本 太郎", u"ファイルを表示しました。", u"ｉｄ：ア", u"請求書 ＩＤ：ア",
         u"請求書 ＩＤ：イ", Labelled("=?EUC-JP?B?xvzL3CDCwM+6?=", "EUC-JP"),
         "\xA5\xD5\xA5\xA1\xA5\xA4\xA5\xEB\xA4\xF2\xC9\xBD\xBC\xA8\xA4\xB7\xA4\xDE\xA4\xB7\xA4"
         "\xBF\xA1\xA3"},
        {"zh_CN.GBK", u"张 伟", u"文件已移动。", u"ｉｄ：誇", u"发票 ＩＤ：誇", u"发票 ＩＤ：說",
         Labelled("=?GBK?B?1cUgzrA=?=", "GBK"), "\xCE\xC4\xBC\xFE\xD2\xD1\xD2\xC6\xB6\xAF\xA1\xA3"},
        {"zh_TW.BIG5", u"許 大文", u"檔案已移動。", u"ｉｄ：了", u"發票 ＩＤ：了", u"發票 ＩＤ：口",
         Labelled("=?Big5?B?s1wgpGqk5Q==?=", "Big5"),
         "\xC0\xC9\xAE\xD7\xA4w\xB2\xBE\xB0\xCA\xA1"
         "C"},
        {"ko_KR.EUC-KR", u"김 철수", u"파일을 옮겼습니다.", u"ｉｄ：파일", u"청구서 ＩＤ：파일",
         u"청구서 ＩＤ：파이", Labelled("=?csEUCKR?B?seggw7a89g==?=", "csEUCKR"),
         "\xC6\xC4\xC0\xCF\xC0\xBB \xBF\xC5\xB0\xE5\xBD\xC0\xB4\xCF\xB4\xD9."},
    };
    ScopedEnv tz("TZ", "UTC0");
    ScopedClock clock(1796116087); // Tue 1 Dec 2026 09:08:07 UTC
    std::string missing;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Locale);
        if (!Installed(row.Locale)) {
            missing += std::string(missing.empty() ? "" : ", ") + row.Locale;
            continue;
        }
        StartedIn program(row.Locale);
        const CodePage& cp = SystemCodePage();
        ASSERT_TRUE(cp.IsMultiByte()) << cp.Name();
        auto bytes = [&](const std::u16string& text) {
            std::string out;
            char32_t lacking = 0;
            EXPECT_TRUE(cp.FromUtf16Exact(text, out, lacking)) << static_cast<unsigned>(lacking);
            return out;
        };

        RegistrySandbox sandbox;
        InitialiseDefaults();
        SmtpSink sink;
        TOptionsSettings options;
        options.Mail.SMTPEnabled = true;
        options.Mail.SMTPServer = "127.0.0.1";
        options.Mail.SMTPFrom = "ferry@desk.test";
        options.Mail.SMTPTo = bytes(row.Name) + " <taro@example.test>";
        options.Mail.SMTPMessage = bytes(row.Body);
        ASSERT_TRUE(WriteOptionsSettings(options, std::to_string(sink.Port()), false));

        test::TempDir folders;
        const std::string in = folders.MakeDir("in"), out = folders.MakeDir("out");
        folders.Write("in/hit.txt", bytes(row.Hit));
        folders.Write("in/decoy.txt", bytes(row.Decoy));
        MailNotifier mail;
        test::TaskRun().Pass({{"T", in, out, bytes(row.Match)}}, false, &mail);
        EXPECT_EQ(folders.Entries("out"), std::vector<std::string>{"hit.txt"});

        const auto messages = sink.WaitForMessages(1);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].data, kHead + row.Header + "\r\n" + row.WireBody + "\r\n\r\n");
    }
    if (!missing.empty())
        GTEST_SKIP() << "not installed (scripts/install-locales makes them): " << missing;
}

} // namespace
} // namespace ferry
