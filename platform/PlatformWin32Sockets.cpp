// The Windows FastCGI listener's sockets (platform/PlatformWin32Sockets.h).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include "platform/PlatformWin32Sockets.h"

#include <ws2tcpip.h>

#include <cstring>

#include "platform/Platform.h"
#include "runtime/Exception.h"

namespace platform {
namespace {

[[noreturn]] void RaiseWin(const std::string& what, DWORD code) {
  throw EOSError(what + ": " + SysErrorMessage(static_cast<int>(code)), static_cast<int>(code));
}

}  // namespace

std::string PeerText(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = "-";
  if (peer.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
  else if (peer.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
  return text;
}

bool ClientAllowed(const sockaddr_storage& peer, const std::string& allowed) {
  if (allowed.empty()) return true;
  in_addr v4{};
  in6_addr v6{};
  bool isV4 = peer.ss_family == AF_INET;
  if (isV4) v4 = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
  if (peer.ss_family == AF_INET6) {
    v6 = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
      std::memcpy(&v4, v6.s6_addr + 12, sizeof v4);
      isV4 = true;
    }
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
    if (isV4 && inet_pton(AF_INET, entry.c_str(), &a4) == 1 && a4.s_addr == v4.s_addr) return true;
    if (!isV4 && inet_pton(AF_INET6, entry.c_str(), &a6) == 1 &&
        std::memcmp(&a6, &v6, sizeof a6) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

SOCKET ListenTcp(const std::string& hostPort) {
  const std::string what = "Cannot listen on \"" + hostPort + "\"";
  const size_t colon = hostPort.rfind(':');
  if (hostPort.find('/') != std::string::npos || colon == std::string::npos)
    throw EOSError(what + ": expected HOST:PORT (no Unix socket on Windows)");
  std::string host = hostPort.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(),
                             hostPort.substr(colon + 1).c_str(), &hints, &found);
  if (rc != 0) RaiseWin(what, static_cast<DWORD>(rc));
  DWORD lastError = 0;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      lastError = static_cast<DWORD>(WSAGetLastError());
      continue;
    }
    // Exclusive: on Windows the reuse option would let a second process take the port.
    const BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    if (bind(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 && listen(s, SOMAXCONN) == 0) {
      freeaddrinfo(found);
      return s;
    }
    lastError = static_cast<DWORD>(WSAGetLastError());
    closesocket(s);
  }
  freeaddrinfo(found);
  RaiseWin(what, lastError);
}

}  // namespace platform
