#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ferry {

// How the notification e-mail reaches the server; stored as the DWORD SMTPSecurity.
enum class TMailSecurity : int32_t { None = 0, StartTLS = 1, ImplicitTLS = 2 };

// The two optional values beside the e-mail settings. A missing value is the default (no
// security, no user), so hives written before they existed read unchanged.
struct TMailSecuritySettings {
    TMailSecurity Security = TMailSecurity::None;
    std::string User;
};

// Reads SMTPSecurity and SMTPUser when the key exists; defaults for what is missing.
// An SMTPSecurity outside 0..2 reads as the default.
TMailSecuritySettings ReadMailSecuritySettings();
// Writes both values; nothing when the key does not exist. Returns whether it wrote.
bool WriteMailSecuritySettings(const TMailSecuritySettings& settings);

} // namespace ferry
