// The Windows FastCGI listener (platform/Platform.h, TFastCGIServer): IIS's named
// pipe or a TCP socket, every connection read with overlapped I/O so that one
// wait covers them all, the stop events and the deadlines; and libfcgi's OS side.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
// After winsock2.h:
#include <windows.h>
#include <ws2tcpip.h>
// After windows.h:
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/ClientAddress.h"
#include "platform/FastCGIFramer.h"
#include "platform/Platform.h"
#include "platform/PlatformWin32Sockets.h"
#include "runtime/Exception.h"

namespace platform {
namespace {

[[noreturn]] void RaiseWin(const std::string& what, DWORD code) {
  throw EOSError(what + ": " + SysErrorMessage(static_cast<int>(code)), static_cast<int>(code));
}

bool ValidHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
// The number libfcgi knows the request in hand by.
constexpr int kIpcFd = 3;
// Wait slots: the stop, the shutdown event, the web server's process, the
// listener; the rest for connections.
constexpr size_t kMaxPending = MAXIMUM_WAIT_OBJECTS - 4;

// Set by a console's Ctrl+C, Ctrl+Break or close.
HANDLE gConsoleStop = nullptr;

// A pipe handle made without overlapped I/O blocks in ConnectNamedPipe and
// ReadFile: set around those calls, so that the stop can cut them short
// (CancelSynchronousIo; see TServerState::Watch).
std::atomic<bool> gInPipeCall{false};

BOOL WINAPI OnConsoleEvent(DWORD) {
  SetEvent(gConsoleStop);
  return TRUE;
}

// A connection delivering a request: its bytes are kept as they come.
struct TConnection {
  HANDLE Pipe = INVALID_HANDLE_VALUE;  // the server's pipe (not owned), or
  SOCKET Socket = INVALID_SOCKET;      // a socket, owned
  OVERLAPPED Ov{};
  bool Reading = false;
  std::vector<char> Buffer = std::vector<char>(65536);
  std::string Request;
  std::string Leftover;  // bytes after the request: the next one's
  TRequestFramer Framer;
  int64_t Deadline = kNever;
  std::string Peer = "-";

  TConnection() { Ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~TConnection() {
    Cancel();
    if (Socket != INVALID_SOCKET) closesocket(Socket);
    if (Ov.hEvent) CloseHandle(Ov.hEvent);
  }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  bool IsPipe() const { return Socket == INVALID_SOCKET; }
  HANDLE Handle() const { return IsPipe() ? Pipe : reinterpret_cast<HANDLE>(Socket); }
  // Ends a read in progress (its buffer must stay until the system lets go).
  void Cancel() {
    if (!Reading) return;
    CancelIoEx(Handle(), &Ov);
    DWORD n = 0;
    GetOverlappedResult(Handle(), &Ov, &n, TRUE);
    Reading = false;
  }
  // Starts a read; false when the connection is gone.
  bool StartRead() {
    ResetEvent(Ov.hEvent);
    const DWORD size = static_cast<DWORD>(Buffer.size());
    if (IsPipe()) {
      gInPipeCall = true;
      const BOOL done = ReadFile(Pipe, Buffer.data(), size, nullptr, &Ov);
      gInPipeCall = false;
      if (!done && GetLastError() != ERROR_IO_PENDING) return false;
      if (done) SetEvent(Ov.hEvent);  // a synchronous handle's read is over
    } else {
      WSABUF buffer{size, Buffer.data()};
      DWORD flags = 0;
      if (WSARecv(Socket, &buffer, 1, nullptr, &flags, &Ov, nullptr) != 0 &&
          WSAGetLastError() != WSA_IO_PENDING)
        return false;
    }
    Reading = true;
    return true;
  }
  // A finished read's byte count: 0 at the end or on failure, -1 when not done.
  long Finished() {
    DWORD n = 0;
    if (IsPipe()) {
      if (!GetOverlappedResult(Pipe, &Ov, &n, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) return -1;
        n = 0;
      }
    } else {
      DWORD flags = 0;
      if (!WSAGetOverlappedResult(Socket, &Ov, &n, FALSE, &flags)) {
        if (WSAGetLastError() == WSA_IO_INCOMPLETE) return -1;
        n = 0;
      }
    }
    Reading = false;
    return static_cast<long>(n);
  }
  // Keeps bytes of the request; false when it is over the limit.
  bool Feed(const char* data, size_t size, int64_t timeoutMs, int64_t maxBytes) {
    if (size == 0) return true;
    if (Deadline == kNever) Deadline = SteadyMilliseconds() + timeoutMs;
    const size_t used = Framer.Take(reinterpret_cast<const unsigned char*>(data), size);
    if (static_cast<int64_t>(Request.size() + used) > maxBytes) return false;
    Request.append(data, used);
    if (Framer.Complete()) Leftover.assign(data + used, size - used);
    return true;
  }
  // Writes all bytes; false when the connection failed.
  bool WriteAll(const char* data, size_t size) {
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
      DWORD n = 0;
      if (IsPipe()) {
        ResetEvent(Ov.hEvent);
        if (!WriteFile(Pipe, data, chunk, nullptr, &Ov) && GetLastError() != ERROR_IO_PENDING)
          return false;
        if (!GetOverlappedResult(Pipe, &Ov, &n, TRUE)) return false;
      } else {
        const int sent = send(Socket, data, static_cast<int>(chunk), 0);
        if (sent <= 0) return false;
        n = static_cast<DWORD>(sent);
      }
      if (n == 0) return false;
      data += n;
      size -= n;
    }
    return true;
  }
};

// The process that started this one, to wait on; nullptr when not found.
HANDLE ParentProcess() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  return parent ? OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr;
}

// What a TFastCGIServer holds: the listener, the connections and the request in
// hand, which libfcgi's OS side (below) reads and writes.
struct TServerState {
  std::string AllowedAddresses;
  int64_t ReadTimeoutMs = 0;
  int64_t MaxRequestBytes = 0;
  // The pipe (standard input), while no connection is on it: a connect in progress.
  HANDLE Pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED ConnectOv{};
  bool Connecting = false;
  bool PipeInUse = false;  // a connection is on the pipe
  SOCKET Listen = INVALID_SOCKET;
  HANDLE AcceptEvent = nullptr;
  bool WinsockStarted = false;
  HANDLE ShutdownEvent = nullptr;  // the web server's (not owned)
  HANDLE Parent = nullptr;
  HANDLE MainThread = nullptr;   // the one that waits, for the watcher
  HANDLE WatcherQuit = nullptr;  // ends the watcher
  HANDLE Watcher = nullptr;
  bool Stopping = false;
  std::vector<std::unique_ptr<TConnection>> Pending;
  // The request libfcgi works on.
  std::unique_ptr<TConnection> Current;
  size_t ReadAt = 0;

  TServerState() = default;
  TServerState(const TServerState&) = delete;
  TServerState& operator=(const TServerState&) = delete;
  ~TServerState() {
    Pending.clear();
    Current.reset();
    if (Connecting) {
      CancelIoEx(Pipe, &ConnectOv);
      DWORD n = 0;
      GetOverlappedResult(Pipe, &ConnectOv, &n, TRUE);
    }
    if (ConnectOv.hEvent) CloseHandle(ConnectOv.hEvent);
    if (Listen != INVALID_SOCKET) closesocket(Listen);
    if (AcceptEvent) WSACloseEvent(AcceptEvent);
    if (Watcher) {
      SetEvent(WatcherQuit);
      WaitForSingleObject(Watcher, INFINITE);
      CloseHandle(Watcher);
    }
    for (const HANDLE h : {WatcherQuit, MainThread, Parent})
      if (h) CloseHandle(h);
    if (WinsockStarted) WSACleanup();
  }

  void Drop(std::unique_ptr<TConnection>& c) {
    if (!c) return;
    c->Cancel();
    if (c->IsPipe()) {
      DisconnectNamedPipe(Pipe);
      PipeInUse = false;
    }
    c.reset();
  }
  void DropPending(size_t i) {
    Drop(Pending[i]);
    Pending.erase(Pending.begin() + static_cast<std::ptrdiff_t>(i));
  }
  bool StopSignalled() {
    const HANDLE stops[] = {gConsoleStop, ShutdownEvent, Parent};
    for (const HANDLE h : stops)
      if (h && WaitForSingleObject(h, 0) == WAIT_OBJECT_0) return true;
    return false;
  }
  void AddConnection(std::unique_ptr<TConnection> c) {
    c->Deadline = SteadyMilliseconds() + ReadTimeoutMs;
    if (Pending.size() >= kMaxPending) DropPending(0);  // the longest waiting makes room
    Pending.push_back(std::move(c));
  }
  // A finished connect on the pipe, or a failure of it.
  void PipeConnected() {
    Connecting = false;
    PipeInUse = true;
    auto c = std::make_unique<TConnection>();
    c->Pipe = Pipe;
    AddConnection(std::move(c));
  }
  void StartConnect() {
    ResetEvent(ConnectOv.hEvent);
    gInPipeCall = true;
    const BOOL connected = ConnectNamedPipe(Pipe, &ConnectOv);
    const DWORD e = GetLastError();
    gInPipeCall = false;
    if (connected) return PipeConnected();
    switch (e) {
      case ERROR_PIPE_CONNECTED:
        return PipeConnected();
      case ERROR_IO_PENDING:
        Connecting = true;
        return;
      case ERROR_NO_DATA:  // the client came and went before it was taken
        DisconnectNamedPipe(Pipe);
        return;
      case ERROR_OPERATION_ABORTED:  // the stop cut a synchronous wait short
        return;
      default:
        RaiseWin("ConnectNamedPipe", e);
    }
  }
  void AcceptAll() {
    WSANETWORKEVENTS events{};
    WSAEnumNetworkEvents(Listen, AcceptEvent, &events);
    for (;;) {
      sockaddr_storage address{};
      int size = sizeof address;
      const SOCKET s = accept(Listen, reinterpret_cast<sockaddr*>(&address), &size);
      if (s == INVALID_SOCKET) {
        const int e = WSAGetLastError();
        if (e == WSAEWOULDBLOCK || e == WSAECONNRESET || e == WSAEINTR) return;
        RaiseWin("accept", static_cast<DWORD>(e));
      }
      auto c = std::make_unique<TConnection>();
      c->Socket = s;
      // The accepted socket inherits the listener's event selection and with it
      // non-blocking mode: answers are written blocking.
      WSAEventSelect(s, nullptr, 0);
      u_long blocking = 0;
      ioctlsocket(s, FIONBIO, &blocking);
      SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
      if (!ClientAllowed(address, AllowedAddresses)) continue;  // c closes it
      const BOOL on = TRUE;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
      c->Peer = PeerText(address);
      AddConnection(std::move(c));
    }
  }
  // The watcher thread: once a stop has come, a synchronous pipe call of the
  // main thread is cancelled (checked every 50 ms, as one may begin just after).
  static DWORD WINAPI Watch(void* state) {
    TServerState& s = *static_cast<TServerState*>(state);
    std::vector<HANDLE> waits{s.WatcherQuit};
    for (const HANDLE h : {gConsoleStop, s.ShutdownEvent, s.Parent})
      if (h) waits.push_back(h);
    if (WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE) ==
        WAIT_OBJECT_0)
      return 0;
    while (WaitForSingleObject(s.WatcherQuit, 50) == WAIT_TIMEOUT)
      if (gInPipeCall) CancelSynchronousIo(s.MainThread);
    return 0;
  }
  // Takes what a finished read brought; false when the connection goes.
  bool TakeRead(TConnection& c) {
    const long n = c.Finished();
    if (n < 0) return true;
    if (n == 0) return false;
    return c.Feed(c.Buffer.data(), static_cast<size_t>(n), ReadTimeoutMs, MaxRequestBytes);
  }
};

TServerState* gServing = nullptr;  // the one libfcgi's OS side works on

}  // namespace

struct TFastCGIServer::TState : TServerState {};

TFastCGIServer::TFastCGIServer(const std::string& address, const std::string& allowedAddresses,
                               int64_t readTimeoutMs, int64_t maxRequestBytes)
    : FState(std::make_unique<TState>()) {
  TState& s = *FState;
  s.AllowedAddresses = allowedAddresses;
  s.ReadTimeoutMs = readTimeoutMs;
  s.MaxRequestBytes = maxRequestBytes;
  if (!gConsoleStop) {
    gConsoleStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  }
  // The handle's value in decimal, inherited from the web server.
  const std::string shutdown = GetEnv("_FCGI_SHUTDOWN_EVENT_");
  if (!shutdown.empty()) {
    const HANDLE h = reinterpret_cast<HANDLE>(std::strtoull(shutdown.c_str(), nullptr, 10));
    if (ValidHandle(h) && WaitForSingleObject(h, 0) != WAIT_FAILED) s.ShutdownEvent = h;
  }
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw EOSError("Windows Sockets did not start");
  s.WinsockStarted = true;
  if (address.empty()) {
    s.Pipe = GetStdHandle(STD_INPUT_HANDLE);
    s.ConnectOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s.Parent = ParentProcess();
    // The stop cuts a blocking pipe call short: the watcher waits for it.
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &s.MainThread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    s.WatcherQuit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s.Watcher = CreateThread(nullptr, 0, TServerState::Watch, &s, 0, nullptr);
  } else {
    s.Listen = ListenTcp(address);
    s.AcceptEvent = WSACreateEvent();
    if (WSAEventSelect(s.Listen, s.AcceptEvent, FD_ACCEPT) != 0)
      RaiseWin("WSAEventSelect", static_cast<DWORD>(WSAGetLastError()));
  }
}

TFastCGIServer::~TFastCGIServer() {
  if (gServing == FState.get()) gServing = nullptr;
}

int TFastCGIServer::WaitForRequest() {
  TState& s = *FState;
  gServing = &s;
  std::vector<HANDLE> waits;
  for (;;) {
    for (size_t i = 0; i < s.Pending.size(); ++i) {
      if (!s.Pending[i]->Framer.Complete()) continue;
      s.Current = std::move(s.Pending[i]);
      s.Pending.erase(s.Pending.begin() + static_cast<std::ptrdiff_t>(i));
      s.ReadAt = 0;
      return kIpcFd;
    }
    const int64_t now = SteadyMilliseconds();
    if (!s.Stopping && s.StopSignalled()) s.Stopping = true;
    if (s.Stopping && s.Connecting) {
      CancelIoEx(s.Pipe, &s.ConnectOv);
      DWORD n = 0;
      GetOverlappedResult(s.Pipe, &s.ConnectOv, &n, TRUE);
      s.Connecting = false;
    }
    if (s.Stopping) {
      // Requests that have begun to arrive are still answered, those whose bytes
      // wait unread too; nothing new is taken.
      for (size_t i = s.Pending.size(); i-- > 0;) {
        TConnection& c = *s.Pending[i];
        if (!c.Request.empty()) continue;
        if ((c.Reading || c.StartRead()) && WaitForSingleObject(c.Ov.hEvent, 0) == WAIT_OBJECT_0 &&
            s.TakeRead(c) && !c.Request.empty())
          continue;
        s.DropPending(i);
      }
      if (s.Pending.empty()) return -1;
    }
    for (size_t i = s.Pending.size(); i-- > 0;) {
      if (s.Pending[i]->Deadline > now) continue;
      WriteLogLine("-", "error: a connection from " + s.Pending[i]->Peer +
                            " did not deliver its request within " +
                            std::to_string(s.ReadTimeoutMs / 1000) + " s; closed");
      s.DropPending(i);
    }
    // Reads go on where they stopped; one that finishes at once is taken next turn.
    bool progressed = false;
    for (size_t i = s.Pending.size(); i-- > 0;) {
      TConnection& c = *s.Pending[i];
      if (c.Reading) continue;
      if (!c.Leftover.empty()) {
        const std::string bytes = std::move(c.Leftover);
        c.Leftover.clear();
        if (!c.Feed(bytes.data(), bytes.size(), s.ReadTimeoutMs, s.MaxRequestBytes))
          s.DropPending(i);
        progressed = true;
      } else if (!c.Framer.Complete() && !c.StartRead()) {
        s.DropPending(i);
        progressed = true;
      }
    }
    if (s.Pipe != INVALID_HANDLE_VALUE && !s.PipeInUse && !s.Connecting && !s.Stopping) {
      s.StartConnect();
      progressed = true;
    }
    if (progressed) continue;
    waits.clear();
    for (const HANDLE h : {gConsoleStop, s.ShutdownEvent, s.Parent})
      if (h && !s.Stopping) waits.push_back(h);
    if (s.Connecting && !s.Stopping) waits.push_back(s.ConnectOv.hEvent);
    if (s.AcceptEvent && !s.Stopping) waits.push_back(s.AcceptEvent);
    int64_t wake = kNever;
    for (const auto& c : s.Pending) {
      if (c->Reading) waits.push_back(c->Ov.hEvent);
      wake = std::min(wake, c->Deadline);
    }
    const DWORD timeout = wake == kNever
                              ? INFINITE
                              : static_cast<DWORD>(std::min<int64_t>(
                                    std::max<int64_t>(wake - now, 0) + 1, 24 * 3600 * 1000));
    if (waits.empty()) return -1;
    if (WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, timeout) ==
        WAIT_FAILED)
      RaiseWin("WaitForMultipleObjects", GetLastError());
    if (s.Connecting && WaitForSingleObject(s.ConnectOv.hEvent, 0) == WAIT_OBJECT_0) {
      DWORD n = 0;
      if (GetOverlappedResult(s.Pipe, &s.ConnectOv, &n, FALSE))
        s.PipeConnected();
      else if (GetLastError() != ERROR_IO_INCOMPLETE)
        RaiseWin("ConnectNamedPipe", GetLastError());
    }
    if (s.AcceptEvent && WaitForSingleObject(s.AcceptEvent, 0) == WAIT_OBJECT_0) s.AcceptAll();
    for (size_t i = s.Pending.size(); i-- > 0;)
      if (s.Pending[i]->Reading &&
          WaitForSingleObject(s.Pending[i]->Ov.hEvent, 0) == WAIT_OBJECT_0 &&
          !s.TakeRead(*s.Pending[i]))
        s.DropPending(i);
  }
}

void TFastCGIServer::EndRequest() {
  TState& s = *FState;
  if (!s.Current) return;
  // Kept by the web server: its next request has its own deadline (on the pipe,
  // from its first byte: the web server may keep it idle as long as it likes).
  std::unique_ptr<TConnection> c = std::move(s.Current);
  c->Request.clear();
  c->Framer = TRequestFramer();
  c->Deadline = c->IsPipe() ? kNever : SteadyMilliseconds() + s.ReadTimeoutMs;
  if (s.Pending.size() >= kMaxPending) s.DropPending(0);
  s.Pending.push_back(std::move(c));
}

// The one program-wide test of how the process was started: by IIS's FastCGI
// module (a named pipe's server end as standard input, standard output and
// standard error invalid) or not. Wine's C runtime turns the invalid handles into
// none at all before main, which counts the same. A CGI process and one run from
// a console always have standard output.
bool StdinIsListeningSocket() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (ValidHandle(GetStdHandle(STD_OUTPUT_HANDLE)) || ValidHandle(GetStdHandle(STD_ERROR_HANDLE)) ||
      !ValidHandle(in) || GetFileType(in) != FILE_TYPE_PIPE)
    return false;
  DWORD flags = 0;
  return GetNamedPipeInfo(in, &flags, nullptr, nullptr, nullptr) && (flags & PIPE_SERVER_END);
}

}  // namespace platform

// ---- libfcgi's OS side ------------------------------------------------------------
// The record layer (fcgiapp.c) calls these. It reads the request in hand from
// memory (it arrived whole) and writes the answer to its connection; it never
// accepts a connection itself.
extern "C" {

int OS_LibInit(int*) { return 0; }
int OS_Accept(int, int, const char*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return -1;
}
int OS_IsFcgi(int) { return 1; }
int OS_CreateLocalIpcFd(const char*, int) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return -1;
}
void OS_ShutdownPending(void) {}

int OS_Read(int fd, char* buffer, size_t length) {
  platform::TServerState* s = platform::gServing;
  if (fd != platform::kIpcFd || !s || !s->Current) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  const std::string& request = s->Current->Request;
  const size_t n = std::min(length, request.size() - s->ReadAt);
  std::memcpy(buffer, request.data() + s->ReadAt, n);
  s->ReadAt += n;
  return static_cast<int>(n);
}

int OS_Write(int fd, char* buffer, size_t length) {
  platform::TServerState* s = platform::gServing;
  if (fd != platform::kIpcFd || !s || !s->Current) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  if (!s->Current->WriteAll(buffer, length)) {
    if (GetLastError() == 0) SetLastError(ERROR_BROKEN_PIPE);
    return -1;
  }
  return static_cast<int>(length);
}

// The web server does not keep the connection, or it failed: the answer waits
// until the web server has read it, then the pipe is free for the next one.
int OS_IpcClose(int fd, int) {
  platform::TServerState* s = platform::gServing;
  if (fd != platform::kIpcFd || !s || !s->Current) return 0;
  if (s->Current->IsPipe()) FlushFileBuffers(s->Pipe);
  s->Drop(s->Current);
  return 0;
}

}  // extern "C"
