#pragma once

// The notification e-mail's settings: one type for the values under SettingsKey that say
// whether, where and how a notification goes. They are read and written here and nowhere
// else; the windows and the mail code take the type as it is, down to the SMTP client.
//
//   Options dialog shown   ReadOptionsSettings(options)
//   Options Apply          WriteOptionsSettings(options, portText, withSecurity)
//   each notification      ReadNotificationSettings()

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ferry {

// How the notification reaches the server; stored as the DWORD SMTPSecurity.
enum class TMailSecurity : int32_t { None = 0, StartTLS = 1, ImplicitTLS = 2 };

struct TMailSettings {
    bool SMTPEnabled = false;
    std::string SMTPServer; // host name or dotted address
    int32_t SMTPPort = 25;
    std::string SMTPFrom;    // the sender address, used as it stands
    std::string SMTPTo;      // the recipients as typed; the mail code parses them
    std::string SMTPMessage; // the body; line breaks in it separate its lines
    // Two optional values: a hive without them (any written before they existed) reads as
    // no security and no sign-in. An SMTPSecurity outside 0..2 reads as none too.
    TMailSecurity SMTPSecurity = TMailSecurity::None;
    std::string SMTPUser; // empty: no sign-in; the password is in the keyring, never here
};

// What the Options dialog shows and stores: the mail settings and the case rule.
struct TOptionsSettings {
    TMailSettings Mail;
    bool MSCaseSensitive = false;
};

// The Options dialog shown: when the key exists, reads SMTPEnabled, SMTPPort, SMTPServer,
// SMTPFrom, SMTPTo, SMTPMessage, MSCaseSensitive, then SMTPSecurity and SMTPUser, into
// `options` in that order and returns true. `read` counts the values read so far, so that
// what was read before a value that fails can be shown. False, `options` untouched, when the
// key is missing.
bool ReadOptionsSettings(TOptionsSettings& options, int& read);

// Options Apply: when the key exists, writes SMTPEnabled, SMTPPort, SMTPServer, SMTPFrom,
// SMTPTo, SMTPMessage and MSCaseSensitive in order, and with `withSecurity` SMTPSecurity and
// SMTPUser after them, all in one transaction, and sets CaseSensitiveMatch. The port is the
// field's text, converted once SMTPEnabled is written: a bad port raises EConvertError, and
// nothing is stored. Returns whether the key existed.
bool WriteOptionsSettings(const TOptionsSettings& options, const std::string& portText,
                          bool withSecurity);

// Each notification: nothing when the key is missing or SMTPEnabled is not 1; else reads
// SMTPServer, SMTPPort, SMTPFrom, SMTPTo, SMTPMessage, SMTPSecurity and SMTPUser in that
// order, as one reading. `takeRecipients`, when given, gets SMTPTo right after it is read and
// before SMTPMessage is, so that a recipient text it refuses stops the reading there, as when
// the sender takes each value in turn.
std::optional<TMailSettings>
ReadNotificationSettings(const std::function<void(const std::string&)>& takeRecipients = {});

// When notifications go out, the DWORD SMTPNotify: 0 (absent, or anything else) after every
// attempt to move a file; 1 once per pass that moved or left a file; 2 only for files left or
// a failed pass, once per file until it changes.
enum class TNotifyMode : int32_t { EachMove = 0, PassDigest = 1, Trouble = 2 };
TNotifyMode ReadNotifyMode();
// Writes it when the key exists; returns whether it did.
bool WriteNotifyMode(TNotifyMode mode);

} // namespace ferry
