#pragma once

// Types and constants the transport shares.

#include <cstdint>
#include <string>
#include <vector>

namespace ferry {

// Raw bytes on the wire; text converts to and from them one byte per character.
using TIdBytes = std::vector<uint8_t>;

enum TIdIPVersion { Id_IPv4 = 0, Id_IPv6 = 1 };

enum TIdMaxLineAction { maException, maSplit };

using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;

// Socket types and address families as the Winsock constants number them.
constexpr int Id_SOCK_STREAM = 1;
constexpr int Id_IPPROTO_IP = 0;
constexpr int Id_AF_INET = 2;
constexpr int Id_AF_INET6 = 23;

inline TIdBytes ToBytes(const std::string& text) {
    return TIdBytes(text.begin(), text.end());
}
inline std::string BytesToString(const TIdBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Millisecond clock for read timeouts. Elapsed times are taken modulo 2^32, so a wrap of
// the 32-bit tick value still gives the right difference.
uint32_t Ticks();
uint32_t TicksSince(uint32_t start);

} // namespace ferry
