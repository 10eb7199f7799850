// The sockets of the Windows FastCGI listener (PlatformWin32FastCGI.cpp): the
// TCP listener, the allow-list and a client's address. Inside platform/ only.
#pragma once

#include <winsock2.h>

#include <string>

namespace platform {

// A client's address as text ("-" when it is no IP address).
std::string PeerText(const sockaddr_storage& peer);
// FCGI_WEB_SERVER_ADDRS as on Linux: comma-separated IPv4 or IPv6 addresses; an
// IPv4 client reached over IPv6 is compared as IPv4; empty: every client.
bool ClientAllowed(const sockaddr_storage& peer, const std::string& allowed);
// A listening socket on HOST:PORT (the port taken exclusively, not inherited);
// raises EOSError naming the address.
SOCKET ListenTcp(const std::string& hostPort);

}  // namespace platform
