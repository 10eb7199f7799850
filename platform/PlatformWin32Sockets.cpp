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
