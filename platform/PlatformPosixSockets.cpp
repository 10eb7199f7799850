// The FastCGI listener's sockets: binding a TCP address or a Unix socket file,
// accepting a connection from the web server only, and the timer that bounds the
// time a connection may take to deliver its request.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ClientAddress.h"
#include "platform/FastCGIFramer.h"
#include "platform/Platform.h"
#include "runtime/Exception.h"

namespace platform {
namespace {

[[noreturn]] void RaiseErrno(const std::string& what, int code) {
  throw EOSError(what + ": " + SysErrorMessage(code), code);
}

[[noreturn]] void RaiseListenError(const std::string& address, const std::string& text) {
  throw EOSError("Cannot listen on \"" + address + "\": " + text);
}

[[noreturn]] void RaiseListenErrno(const std::string& address, int code) {
  throw EOSError("Cannot listen on \"" + address + "\": " + SysErrorMessage(code), code);
}

bool IsSocketPath(const std::string& address) { return address.find('/') != std::string::npos; }

int ListenTcp(const std::string& hostPort) {
  const size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos || colon + 1 == hostPort.size())
    RaiseListenError(hostPort, "expected HOST:PORT");
  std::string host = hostPort.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  const std::string port = hostPort.substr(colon + 1);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
  if (rc != 0) RaiseListenError(hostPort, gai_strerror(rc));
  int lastError = 0;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) {
      freeaddrinfo(found);
      return fd;
    }
    lastError = errno;
    close(fd);
  }
  freeaddrinfo(found);
  RaiseListenErrno(hostPort, lastError);
}

// The socket file ListenOn made (to remove it at the end only if it is still that one).
dev_t madeDevice = 0;
ino_t madeInode = 0;

gid_t GroupId(const std::string& path, const std::string& name) {
  if (name.empty()) return getegid();
  if (const struct group* entry = getgrnam(name.c_str())) return entry->gr_gid;
  if (name.find_first_not_of("0123456789") == std::string::npos && name.size() < 10)
    return static_cast<gid_t>(std::stoul(name));
  RaiseListenError(path, "there is no group \"" + name + "\"");
}

// A socket file that no process listens on is a dead server's and is replaced;
// one that a process listens on is refused, and so is a file of any other kind.
void ClearStaleSocket(const std::string& path, const sockaddr_un& address) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    RaiseListenErrno(path, errno);
  }
  if (!S_ISSOCK(st.st_mode))
    RaiseListenError(path, "the name is taken by a file that is no socket");
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) RaiseListenErrno(path, errno);
  const int rc = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int code = errno;
  close(probe);
  if (rc == 0) RaiseListenError(path, "another process listens on it");
  if (code != ECONNREFUSED) RaiseListenErrno(path, code);
  if (unlink(path.c_str()) != 0 && errno != ENOENT) RaiseListenErrno(path, errno);
}

int ListenUnix(const std::string& path, const std::string& group) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) RaiseListenError(path, "the path is too long");
  std::memcpy(address.sun_path, path.data(), path.size());
  const gid_t gid = GroupId(path, group);
  ClearStaleSocket(path, address);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) RaiseListenErrno(path, errno);
  // Mode and group are set before listen: until then no one can connect.
  struct stat st {};
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      chown(path.c_str(), static_cast<uid_t>(-1), gid) != 0 || chmod(path.c_str(), 0660) != 0 ||
      lstat(path.c_str(), &st) != 0 || listen(fd, SOMAXCONN) != 0) {
    const int code = errno;
    close(fd);
    RaiseListenErrno(path, code);
  }
  madeDevice = st.st_dev;
  madeInode = st.st_ino;
  return fd;
}

// Errors of accept that concern one connection (it went away before it was
// taken), not the listening socket.
bool ConnectionError(int code) {
  return code == EINTR || code == ECONNABORTED || code == EPROTO || code == ENETDOWN ||
         code == ENOPROTOOPT || code == EHOSTDOWN || code == ENONET || code == EHOSTUNREACH ||
         code == EOPNOTSUPP || code == ENETUNREACH;
}

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

void SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

// A connection delivering its request. Its bytes go to a memory file as they
// come: the process waits on every connection at once, and the library later
// reads the whole request from that file without waiting on the client.
struct TPending {
  TDescriptor Socket;
  TDescriptor Content;
  std::string Peer;
  int64_t Deadline = 0;
  int64_t Bytes = 0;
  TRequestFramer Framer;
  // The whole request is still in the socket (it came at once): the library
  // reads it from there, and nothing is copied.
  bool InPlace = false;
};

constexpr size_t kMaxPending = 64;
// Over this many bytes held for all connections together, only the oldest is read.
constexpr int64_t kMaxPendingBytes = int64_t{64} << 20;

std::vector<TPending> pending;
int64_t pendingBytes = 0;
// What came after the request last handed out, for its connection if it is kept.
int leftoverSocket = -1;
std::string leftover;

void ClosePending(size_t i) {
  pendingBytes -= pending[i].Bytes;
  pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Keeps bytes that arrived for p; false when the connection is to be closed.
bool Feed(TPending& p, const unsigned char* data, size_t size, int64_t maxBytes) {
  const size_t used = p.Framer.Take(data, size);
  if (p.Bytes + static_cast<int64_t>(used) > maxBytes) return false;
  if (!p.Content) {
    // Appending: what the library may write to it (an answer to a management
    // record) goes after the request, never over bytes it has yet to read.
    p.Content = TDescriptor(memfd_create("fastcgi-request", MFD_CLOEXEC));
    if (p.Content) fcntl(p.Content.Get(), F_SETFL, O_APPEND);
  }
  if (!p.Content || !WriteAll(p.Content.Get(), data, used)) return false;
  p.Bytes += static_cast<int64_t>(used);
  pendingBytes += static_cast<int64_t>(used);
  if (p.Framer.Complete()) leftover.assign(reinterpret_cast<const char*>(data) + used, size - used);
  return true;
}

// Reads what has arrived for p; false when the connection is to be closed (it
// ended before its request was whole, failed, or sent too much).
bool ReadPending(TPending& p, int64_t maxBytes) {
  unsigned char buffer[65536];
  if (p.Bytes == 0) {
    // What came at once is looked at where it is; only a request that arrives in
    // parts is copied (so that the next wait sees only new bytes).
    const ssize_t n = recv(p.Socket.Get(), buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (n == 0) return false;
    TRequestFramer probe = p.Framer;
    probe.Take(buffer, static_cast<size_t>(n));
    if (probe.Complete()) return p.InPlace = true;
  }
  for (;;) {
    const ssize_t n = recv(p.Socket.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (n == 0 || !Feed(p, buffer, static_cast<size_t>(n), maxBytes)) return false;
    if (p.Framer.Complete() || static_cast<size_t>(n) < sizeof buffer) return true;
  }
}

void AddPending(TDescriptor socket, const std::string& peer, int64_t readTimeoutMs) {
  TPending p;
  p.Socket = std::move(socket);
  p.Peer = peer;
  p.Deadline = NowMs() + readTimeoutMs;
  pending.push_back(std::move(p));
}

void AcceptPending(int listenSocket, const std::string& allowedAddresses, int64_t readTimeoutMs,
                   int64_t maxRequestBytes) {
  for (size_t tries = 0; tries < kMaxPending; ++tries) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    TDescriptor fd(
        accept4(listenSocket, reinterpret_cast<sockaddr*>(&address), &size, SOCK_CLOEXEC));
    if (!fd) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;  // none left, or another took it
      if (ConnectionError(errno)) continue;                 // it went away
      RaiseErrno("accept", errno);
    }
    if (!ClientAllowed(address, allowedAddresses)) continue;
    // Full: the connection waiting longest makes room (a web server's request
    // comes whole at once, so many clients that never finish cannot keep it out).
    if (pending.size() >= kMaxPending) ClosePending(0);
    if (address.ss_family == AF_INET || address.ss_family == AF_INET6) {
      // Small records go out at once: nothing waits for a reply to them.
      const int on = 1;
      setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    AddPending(std::move(fd), PeerText(address), readTimeoutMs);
    if (!ReadPending(pending.back(), maxRequestBytes))
      ClosePending(pending.size() - 1);
    else if (pending.back().InPlace)
      return;  // served first; the others are taken next time
  }
}

}  // namespace

TListeningSocket ListenOn(const std::string& address, const std::string& group) {
  TListeningSocket socket(IsSocketPath(address) ? ListenUnix(address, group) : ListenTcp(address),
                          address);
  // Children share the socket: one whose accept another won must not block.
  SetBlocking(socket.FDescriptor, false);
  return socket;
}

namespace {

// The first descriptor a service manager passes (SD_LISTEN_FDS_START).
constexpr int kFirstPassedDescriptor = 3;

// A variable of the socket-passing protocol as a positive number; 0 when unset
// or not one.
long PassedNumber(const char* name) {
  const char* text = getenv(name);
  if (text == nullptr || *text == 0 || strlen(text) > 9) return 0;
  long value = 0;
  for (const char* c = text; *c != 0; ++c) {
    if (*c < '0' || *c > '9') return 0;
    value = value * 10 + (*c - '0');
  }
  return value;
}

}  // namespace

bool ManagerPassedSocket() {
  if (PassedNumber("LISTEN_PID") != static_cast<long>(getpid()) || PassedNumber("LISTEN_FDS") < 1)
    return false;
  int listening = 0;
  socklen_t size = sizeof listening;
  return getsockopt(kFirstPassedDescriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 &&
         listening != 0;
}

TListeningSocket TakeManagerSocket() {
  if (!ManagerPassedSocket()) return TListeningSocket();
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  fcntl(kFirstPassedDescriptor, F_SETFD, FD_CLOEXEC);
  return TListeningSocket(kFirstPassedDescriptor, "");
}

void TListeningSocket::Close() noexcept {
  if (FDescriptor <= 0) return;
  close(FDescriptor);
  FDescriptor = 0;
  struct stat st {};
  if (IsSocketPath(FAddress) && lstat(FAddress.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
      st.st_dev == madeDevice && st.st_ino == madeInode)
    unlink(FAddress.c_str());
}

bool WaitForRequest(int listenSocket, const std::string& allowedAddresses, int64_t readTimeoutMs,
                    int64_t maxRequestBytes, TWaitedRequest& request) {
  static int madeNonBlocking = -1;  // a manager's socket on standard input, too
  if (madeNonBlocking != listenSocket) SetBlocking(listenSocket, false);
  madeNonBlocking = listenSocket;
  leftoverSocket = -1;  // the last request's connection was not kept
  static const sigset_t waitMask = [] {
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    sigdelset(&mask, SIGTERM);
    return mask;
  }();
  std::vector<pollfd> waits;
  for (;;) {
    const int64_t now = NowMs();
    for (size_t i = 0; i < pending.size(); ++i) {
      TPending& p = pending[i];
      if (!p.InPlace && !p.Framer.Complete()) continue;
      if (p.InPlace) {
        // Every byte is there; should the library want more all the same, its
        // read fails at the deadline instead of waiting.
        const int64_t ms = std::max<int64_t>(p.Deadline - now, 1);
        timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
        setsockopt(p.Socket.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      } else {
        lseek(p.Content.Get(), 0, SEEK_SET);
      }
      leftoverSocket = p.Socket.Get();
      request = {std::move(p.Socket), std::move(p.Content), p.Peer};
      pendingBytes -= p.Bytes;
      pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
    // A termination signal that came while blocked is handled here (and our
    // handler put back: the client library may have replaced it); from then on
    // the signal is let in only while waiting, atomically with the wait.
    AllowTermination(true);
    AllowTermination(false);
    const bool ending = TerminationRequested();
    if (ending) {
      // Requests that have begun to arrive are still answered; nothing new is taken.
      for (size_t i = pending.size(); i-- > 0;)
        if (pending[i].Bytes == 0) ClosePending(i);
      if (pending.empty()) return false;
    }
    for (size_t i = pending.size(); i-- > 0;) {
      if (pending[i].Deadline > now) continue;
      WriteLogLine("-", "error: a connection from " + pending[i].Peer +
                            " did not deliver its request within " +
                            std::to_string(readTimeoutMs / 1000) + " s; closed");
      ClosePending(i);
    }
    // The sockets polled are the first of pending, in order: all of them, or the
    // oldest alone when they hold too much; the listening socket comes last.
    const bool crowded = pendingBytes >= kMaxPendingBytes;
    const size_t polled = crowded ? std::min<size_t>(pending.size(), 1) : pending.size();
    const bool accepting = !crowded && !ending;
    waits.clear();
    int64_t wake = -1;
    for (size_t i = 0; i < pending.size(); ++i) {
      if (i < polled) waits.push_back({pending[i].Socket.Get(), POLLIN, 0});
      wake = wake < 0 ? pending[i].Deadline : std::min(wake, pending[i].Deadline);
    }
    if (accepting) waits.push_back({listenSocket, POLLIN, 0});
    timespec timeout{};
    if (wake >= 0) {
      const int64_t ms = std::max<int64_t>(wake - now, 0) + 1;
      timeout.tv_sec = static_cast<time_t>(ms / 1000);
      timeout.tv_nsec = static_cast<long>(ms % 1000) * 1000000;
    }
    if (ppoll(waits.data(), waits.size(), wake >= 0 ? &timeout : nullptr, &waitMask) < 0) {
      if (errno == EINTR) continue;
      RaiseErrno("poll", errno);
    }
    for (size_t i = polled; i-- > 0;)
      if (waits[i].revents != 0 && !ReadPending(pending[i], maxRequestBytes)) ClosePending(i);
    if (accepting && waits.back().revents != 0)
      AcceptPending(listenSocket, allowedAddresses, readTimeoutMs, maxRequestBytes);
  }
}

void WaitAgain(TDescriptor socket, const std::string& peer, int64_t readTimeoutMs,
               int64_t maxRequestBytes) {
  const int number = socket.Get();
  AddPending(std::move(socket), peer, readTimeoutMs);
  const std::string bytes = number == leftoverSocket ? std::move(leftover) : std::string();
  leftover.clear();
  leftoverSocket = -1;
  if (!bytes.empty() && !Feed(pending.back(), reinterpret_cast<const unsigned char*>(bytes.data()),
                              bytes.size(), maxRequestBytes))
    ClosePending(pending.size() - 1);
}

void MoveDescriptor(TDescriptor from, int to) {
  if (from.Get() == to) {
    from.Release();
    return;
  }
  dup2(from.Get(), to);
}

void TDescriptor::Reset() noexcept {
  if (FDescriptor >= 0) close(std::exchange(FDescriptor, -1));
}

}  // namespace platform
