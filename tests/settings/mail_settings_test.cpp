// The values beside the Parts' nine: the mail security mode and user, and the desktop
// notification's switch. Absent, they mean what the program did before they existed; only an
// explicit write adds them.
#include "settings_helpers.h"

namespace ferry {
namespace {

class MailSettingsTest : public RegistrySandboxTest {};

TEST_F(MailSettingsTest, SecurityAndUserAreWrittenOnlyWithTheSecurityDialogsValues) {
    // No key: nothing read, nothing written, nothing created.
    TOptionsSettings options;
    options.Mail.SMTPSecurity = TMailSecurity::StartTLS;
    options.Mail.SMTPUser = "ann";
    EXPECT_FALSE(WriteOptionsSettings(options, "25", true));
    EXPECT_FALSE(SettingsKeyExists());

    // A first-run hive has neither value and reads as no security and no user; Apply without
    // the Security dialog's values adds none.
    InitialiseDefaults();
    const auto before = ValuesOf(SettingsKey);
    TOptionsSettings read;
    read.Mail.SMTPSecurity = TMailSecurity::StartTLS;
    read.Mail.SMTPUser = "left over";
    ASSERT_TRUE(ReadOptions(read));
    EXPECT_EQ(read.Mail.SMTPSecurity, TMailSecurity::None);
    EXPECT_EQ(read.Mail.SMTPUser, "");
    ASSERT_TRUE(WriteOptionsSettings(read, "25", false));
    EXPECT_EQ(ValuesOf(SettingsKey), before);

    options.Mail.SMTPEnabled = true;
    options.Mail.SMTPSecurity = TMailSecurity::ImplicitTLS;
    options.Mail.SMTPUser = "ann@example.com";
    ASSERT_TRUE(WriteOptionsSettings(options, "465", true));
    const auto after = ValuesOf(SettingsKey);
    ASSERT_EQ(after.size(), before.size() + 2);
    EXPECT_EQ(after[after.size() - 2], (StoredValue{"SMTPSecurity", REG_DWORD, Dword(2)}));
    EXPECT_EQ(after.back(), (StoredValue{"SMTPUser", REG_SZ, Sz("ann@example.com")}));
    // The notification reads them with the rest, as they are.
    const auto mail = ReadNotificationSettings();
    ASSERT_TRUE(mail.has_value());
    EXPECT_EQ(mail->SMTPPort, 465);
    EXPECT_EQ(mail->SMTPSecurity, TMailSecurity::ImplicitTLS);
    EXPECT_EQ(mail->SMTPUser, "ann@example.com");

    // A value out of range (hand-edited) falls back to no security rather than guessing.
    ByHand(Sandbox, {"add", kToolKey, "/v", "SMTPSecurity", "/t", "REG_DWORD", "/d", "7", "/f"});
    ASSERT_TRUE(ReadOptions(read));
    EXPECT_EQ(read.Mail.SMTPSecurity, TMailSecurity::None);
}

TEST_F(MailSettingsTest, DesktopNotificationsAreOnUnlessStoredOff) {
    EXPECT_TRUE(ReadDesktopNotifications());
    EXPECT_FALSE(WriteDesktopNotifications(false)); // no key: nothing written
    EXPECT_FALSE(SettingsKeyExists());
    InitialiseDefaults();
    EXPECT_TRUE(ReadDesktopNotifications());
    EXPECT_FALSE(DesktopNotificationsStored());
    ASSERT_TRUE(WriteDesktopNotifications(false));
    EXPECT_TRUE(DesktopNotificationsStored());
    EXPECT_FALSE(ReadDesktopNotifications());
    EXPECT_EQ(ValuesOf(SettingsKey).back(),
              (StoredValue{"DesktopNotifications", REG_DWORD, Dword(0)}));
    ByHand(Sandbox,
           {"add", kToolKey, "/v", "DesktopNotifications", "/t", "REG_DWORD", "/d", "2", "/f"});
    EXPECT_FALSE(ReadDesktopNotifications()); // on only when exactly 1, as every switch
    ASSERT_TRUE(WriteDesktopNotifications(true));
    EXPECT_TRUE(ReadDesktopNotifications());
}

} // namespace
} // namespace ferry
