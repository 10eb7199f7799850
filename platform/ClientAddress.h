// A FastCGI client's address, as both systems' listeners read it: its text for
// the log and its check against FCGI_WEB_SERVER_ADDRS. Inside platform/ only.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>
#include <string>

namespace platform {

// A client's address as text ("-" when it is no IP address).
inline std::string PeerText(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = "-";
  if (peer.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
  else if (peer.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
  return text;
}

// FCGI_WEB_SERVER_ADDRS: comma-separated addresses, each an IPv4 address (on
// POSIX read as inet_aton reads it, libfcgi's own check) or an IPv6 address. An
// IPv4 client reached over IPv6 is compared as IPv4. Empty: every client; a
// client of a Unix socket too, whose file's mode and group decide.
inline bool ClientAllowed(const sockaddr_storage& peer, const std::string& allowed) {
  if (allowed.empty()) return true;
  in_addr v4{};
  in6_addr v6{};
  bool isV4 = false;
  if (peer.ss_family == AF_INET) {
    v4 = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
    isV4 = true;
  } else if (peer.ss_family == AF_INET6) {
    v6 = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
      std::memcpy(&v4, v6.s6_addr + 12, sizeof v4);
      isV4 = true;
    }
  } else {
    return true;
  }
  size_t start = 0;
  while (start <= allowed.size()) {
    size_t end = allowed.find(',', start);
    if (end == std::string::npos) end = allowed.size();
    std::string entry = allowed.substr(start, end - start);
    entry.erase(0, entry.find_first_not_of(' '));
    entry.erase(entry.find_last_not_of(' ') + 1);
    in_addr a4{};
    in6_addr a6{};
#ifdef _WIN32
    const bool readV4 = isV4 && inet_pton(AF_INET, entry.c_str(), &a4) == 1;
#else
    const bool readV4 = isV4 && inet_aton(entry.c_str(), &a4) != 0;
#endif
    if (readV4 && a4.s_addr == v4.s_addr) return true;
    if (!isV4 && inet_pton(AF_INET6, entry.c_str(), &a6) == 1 &&
        std::memcmp(&a6, &v6, sizeof a6) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

}  // namespace platform
