// The TCP listener of the Windows FastCGI listener (PlatformWin32FastCGI.cpp).
// Inside platform/ only.
#pragma once

#include <winsock2.h>

#include <string>

namespace platform {

// A listening socket on HOST:PORT (the port taken exclusively, not inherited);
// raises EOSError naming the address.
SOCKET ListenTcp(const std::string& hostPort);

}  // namespace platform
