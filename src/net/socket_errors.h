#pragma once

// The socket error numbers and their texts.

#include <cstdint>
#include <string>

namespace ferry {

// Winsock error numbers the transport reports. Platform errors are translated to these so
// that every message has the same text whatever system the program runs on.
namespace wsa {
constexpr int EINTR_ = 10004;
constexpr int EBADF_ = 10009;
constexpr int EACCES_ = 10013;
constexpr int EFAULT_ = 10014;
constexpr int EINVAL_ = 10022;
constexpr int EMFILE_ = 10024;
constexpr int EWOULDBLOCK_ = 10035;
constexpr int EINPROGRESS_ = 10036;
constexpr int EALREADY_ = 10037;
constexpr int ENOTSOCK_ = 10038;
constexpr int EAFNOSUPPORT_ = 10047;
constexpr int ECONNRESET_ = 10054;
constexpr int ESHUTDOWN_ = 10058;
constexpr int ETIMEDOUT_ = 10060;
constexpr int ECONNREFUSED_ = 10061;
constexpr int HOST_NOT_FOUND_ = 11001;
constexpr int TRY_AGAIN_ = 11002;
constexpr int NO_RECOVERY_ = 11003;
constexpr int NO_DATA_ = 11004;
} // namespace wsa

// "Socket Error # <code>" CR LF and the code's text; an unknown code leaves the text empty.
std::string SocketErrorText(int32_t code);

// Raises EIdNotASocket for 10038 and EIdSocketError for every other code.
[[noreturn]] void ReportSocketError(int32_t code);

// The Winsock code with the meaning of a platform errno value. Values without a counterpart
// pass through unchanged (they are far below the Winsock range, so they cannot be mistaken).
int32_t WinsockCodeFromErrno(int err);

// The Winsock code for a getaddrinfo result (EAI_*); EAI_SYSTEM takes the errno given.
int32_t WinsockCodeFromAddrInfo(int result, int err);

} // namespace ferry
