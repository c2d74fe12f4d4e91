#include "settings_helpers.h"

#include "settings/mail_security_settings.h"

namespace ferry {
namespace {

class MailSecuritySettingsTest : public RegistrySandboxTest {};

TEST_F(MailSecuritySettingsTest, MissingValuesAreTheDefaultsAndOnlyAnExplicitWriteAddsThem) {
    // No key: defaults, and nothing is created.
    auto none = ReadMailSecuritySettings();
    EXPECT_EQ(none.Security, TMailSecurity::None);
    EXPECT_EQ(none.User, "");
    EXPECT_FALSE(WriteMailSecuritySettings({TMailSecurity::StartTLS, "ann"}));
    EXPECT_FALSE(SettingsKeyExists());

    // A first-run hive has neither value and reads as the defaults.
    InitialiseDefaults();
    auto before = ValuesOf(SettingsKey);
    EXPECT_EQ(ReadMailSecuritySettings().Security, TMailSecurity::None);
    EXPECT_EQ(ValuesOf(SettingsKey), before);

    ASSERT_TRUE(WriteMailSecuritySettings({TMailSecurity::ImplicitTLS, "ann@example.com"}));
    auto after = ValuesOf(SettingsKey);
    ASSERT_EQ(after.size(), before.size() + 2);
    EXPECT_EQ(after[after.size() - 2], (StoredValue{"SMTPSecurity", REG_DWORD, Dword(2)}));
    EXPECT_EQ(after.back(), (StoredValue{"SMTPUser", REG_SZ, Sz("ann@example.com")}));
    auto read = ReadMailSecuritySettings();
    EXPECT_EQ(read.Security, TMailSecurity::ImplicitTLS);
    EXPECT_EQ(read.User, "ann@example.com");

    // A value out of range (hand-edited) falls back to no security rather than guessing.
    Sandbox.RegTool({"add", "HKLM\\SOFTWARE\\Quillmere\\Ferrydesk", "/v", "SMTPSecurity", "/t",
                     "REG_DWORD", "/d", "7", "/f"});
    EXPECT_EQ(ReadMailSecuritySettings().Security, TMailSecurity::None);
}

} // namespace
} // namespace ferry
