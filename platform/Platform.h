// The one place that talks to the operating system. Expected outcomes come back as
// values (a file that is absent: false); failures raise EOSError with the system's
// text. Nothing outside platform/ includes an OS header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// ---- Process -------------------------------------------------------------------
// Blocks the termination signal for the life of the process, so that a request in
// flight is never cut short by the web server or by a library's own handler.
void BlockTerminationSignal();
// Ignores the signal that a write beyond the process's file-size limit raises, so
// that such a write fails with an error the caller sees instead of killing the
// process with the file half written.
void IgnoreFileSizeSignal();
// Flushes standard output and ends the process at once with code, running no
// exit-time handlers of loaded libraries.
[[noreturn]] void ExitNow(int code);

// ---- Persistent mode ----------------------------------------------------------
// A FastCGI process serves requests on a listening socket until the termination
// signal. These are the POSIX listener's (on Windows the wait and the socket
// owners are stubs: its listener is the section "Persistent mode on Windows").
// True when standard input is a listening socket (a process manager started the
// program); a connected socket, a pipe or a file is not.
bool StdinIsListeningSocket();
// Binds and listens on address: "HOST:PORT" (the address reuse option set), or
// the path of a Unix socket (an address with a "/"), whose file gets mode 0660 and
// the group named by group (empty: the process's own group). A socket file that
// no process listens on (a dead server's) is replaced; one that a process
// listens on, or a file of another kind, is an error. The socket does not block.
// Raises EOSError naming the address when any of this fails.
class TListeningSocket;
TListeningSocket ListenOn(const std::string& address, const std::string& group);
// True when a service manager passed this process a listening socket by systemd's
// socket-passing protocol: LISTEN_PID names this process, LISTEN_FDS is at least
// 1, and descriptor 3 listens.
bool ManagerPassedSocket();
// The listening socket a process manager handed over: the passed one (descriptor
// 3; LISTEN_PID, LISTEN_FDS and LISTEN_FDNAMES are unset, so children started
// later inherit the socket but never take the variables as meant for them), else
// standard input.
TListeningSocket TakeManagerSocket();
// A FastCGI server's listening socket. One that ListenOn opened is closed when its
// owner goes, and its Unix socket file removed if it is still the one made (a
// child process, which ends without destructors, leaves both to its parent); the
// default one is standard input as a process manager handed it over, left open.
class TListeningSocket {
 public:
  TListeningSocket() = default;
  ~TListeningSocket() { Close(); }
  TListeningSocket(TListeningSocket&& other) noexcept
      : FDescriptor(std::exchange(other.FDescriptor, 0)), FAddress(std::move(other.FAddress)) {}
  TListeningSocket& operator=(TListeningSocket&& other) noexcept {
    if (this != &other) {
      Close();
      FDescriptor = std::exchange(other.FDescriptor, 0);
      FAddress = std::move(other.FAddress);
    }
    return *this;
  }
  TListeningSocket(const TListeningSocket&) = delete;
  TListeningSocket& operator=(const TListeningSocket&) = delete;
  int Descriptor() const { return FDescriptor; }

 private:
  friend TListeningSocket ListenOn(const std::string& address, const std::string& group);
  friend TListeningSocket TakeManagerSocket();
  TListeningSocket(int descriptor, std::string address)
      : FDescriptor(descriptor), FAddress(std::move(address)) {}
  // Closes a socket ListenOn opened (standard input, descriptor 0, stays open).
  void Close() noexcept;
  int FDescriptor = 0;
  std::string FAddress;
};
// An open descriptor of an accepted connection or of a memory file: closed when
// its owner goes, unless given up with Release (to a library that then owns it).
class TDescriptor {
 public:
  TDescriptor() = default;
  explicit TDescriptor(int descriptor) : FDescriptor(descriptor) {}
  ~TDescriptor() { Reset(); }
  TDescriptor(TDescriptor&& other) noexcept : FDescriptor(other.Release()) {}
  TDescriptor& operator=(TDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      FDescriptor = other.Release();
    }
    return *this;
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return FDescriptor; }
  explicit operator bool() const { return FDescriptor >= 0; }
  int Release() noexcept { return std::exchange(FDescriptor, -1); }
  void Reset() noexcept;

 private:
  int FDescriptor = -1;
};
// A request that has arrived whole: Socket is its connection (blocking); Content,
// when set, a memory file at its start that holds the request's bytes (else the
// request is still in Socket, as it came at once); Peer the client's address
// ("-" on a Unix socket).
struct TWaitedRequest {
  TDescriptor Socket;
  TDescriptor Content;
  std::string Peer;
};
// Waits until a connection on listenSocket has delivered one whole FastCGI
// request (its records up to the end of the body), reading from every connection
// at once, so that a slow one holds nothing. A connection that has not delivered
// within readTimeoutMs of its accept is closed with a log line; one that ends
// early or sends more than maxRequestBytes is closed. Processes may share the
// socket: a connection another one took is not waited for. A TCP client whose
// address is not in allowedAddresses (FCGI_WEB_SERVER_ADDRS: comma-separated
// exact IPv4 or IPv6 addresses; empty: any) is closed at once. The termination
// signal is let in only during this wait; after it no connection is taken, those
// that have begun to send are still waited for, and false comes once none is
// left. Raises EOSError when the listening socket fails.
bool WaitForRequest(int listenSocket, const std::string& allowedAddresses, int64_t readTimeoutMs,
                    int64_t maxRequestBytes, TWaitedRequest& request);
// Puts back the connection of the last request (the web server keeps it open for
// the next one) among those waited on, with a new read limit.
void WaitAgain(TDescriptor socket, const std::string& peer, int64_t readTimeoutMs,
               int64_t maxRequestBytes);
// Makes the descriptor number to refer to what from refers to, and closes from.
void MoveDescriptor(TDescriptor from, int to);
// From now on the termination signal sets a flag (TerminationRequested) instead of
// ending the process, and a broken connection's signal is ignored. The signal stays
// blocked; AllowTermination opens it only where waiting may be cut short.
void CatchTerminationSignal();
// Unblocks (true) or blocks (false) the termination signal. While it is unblocked
// a wait for a connection or a child ends early when the signal arrives.
void AllowTermination(bool allow);
bool TerminationRequested();
// Runs child() in count child processes and starts a new one when one ends (at
// most one a second for a child that ended within a second of its start). At the
// termination signal passes it to every child, waits for all and returns 0. In a
// child, ends the process with child()'s result.
int RunChildren(int count, const std::function<int()>& child);

// ---- CGI environment and standard handles --------------------------------------
// The value of an environment variable; empty when it is not set.
std::string GetEnv(const std::string& name);
// Puts the standard handles into binary mode (no line-end translation).
void SetBinaryStdio();
// One read of standard input: bytes read, 0 at end of input, -1 on failure.
long ReadStdin(void* buffer, long count);
// One write to standard output: bytes written, -1 on failure.
long WriteStdout(const void* buffer, long count);
// Writes a whole line to standard error in one call where the system allows, so
// that lines of processes sharing the web server's log do not interleave. Errors
// are ignored: there is nowhere left to report them.
void WriteStderr(const std::string& line);
// Writes one line in the program's standard-error form (runtime/LogLine.h), with
// the current UTC time: "<time> <command>: <text>".
void WriteLogLine(std::string_view command, std::string_view text);

// ---- Files and folders ---------------------------------------------------------
std::string CurrentDir();
// Path of the running executable.
std::string ExecutablePath();
std::string PathDelimiter();               // "/" or "\\"
bool FileExists(const std::string& path);  // a regular file
bool DirectoryExists(const std::string& path);
// Creates one folder: true when created, false when the name is taken (by a
// folder or a file). Raises EOSError for any other failure.
bool CreateDir(const std::string& path);
// Names (not paths) of the regular files in dir whose name matches pattern, a
// file mask with "*" and "?"; in directory order.
std::vector<std::string> ListFiles(const std::string& dir, const std::string& pattern);
// At most maxBytes of a file's beginning; raises EOSError when it can't be read.
std::string ReadFilePrefix(const std::string& path, size_t maxBytes);
std::string ReadWholeFile(const std::string& path);
bool DeleteFile(const std::string& path);
// Names (not paths) of the folders in dir, without "." and ".."; in directory
// order. Empty when dir cannot be listed.
std::vector<std::string> ListDirs(const std::string& dir);
// The time a file was last written, in seconds since 1970-01-01 00:00:00 UTC;
// false when it does not exist or cannot be examined.
bool FileModifiedTime(const std::string& path, int64_t& unixSeconds);
// Gives a file a new path on the same volume, never replacing a file there:
// false when the new path is taken. Raises EOSError for any other failure.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// A file being written; closed when this object dies (a failure to close is then
// ignored: call Close to see it).
class TFileHandle {
 public:
  TFileHandle() = default;
  ~TFileHandle();
  TFileHandle(TFileHandle&& o) noexcept
      : FFd(std::exchange(o.FFd, -1)), FPath(std::move(o.FPath)) {}
  TFileHandle& operator=(TFileHandle o) noexcept {  // the old file closes with o
    std::swap(FFd, o.FFd);
    std::swap(FPath, o.FPath);
    return *this;
  }
  bool IsOpen() const { return FFd >= 0; }
  // Writes all bytes; raises EOSError at the write that fails or takes nothing.
  void WriteAll(const void* data, size_t count);
  // Closes the file; raises EOSError when closing fails (data may be lost).
  void Close();

 private:
  friend TFileHandle CreateFileExclusive(const std::string&, bool&);
  TFileHandle(int fd, std::string path) : FFd(fd), FPath(std::move(path)) {}
  int FFd = -1;
  std::string FPath;  // for messages
};
// Creates a new file; exists is set and the handle is closed when the name is
// taken. Raises EOSError for other failures.
TFileHandle CreateFileExclusive(const std::string& path, bool& exists);

// ---- The archive's files, never through a symbolic link ------------------------
// An entry of a folder as it is itself: a symbolic link (or a Windows reparse
// point) is neither a file nor a folder here, whatever it points to.
struct TFolderEntry {
  std::string Name;
  bool IsFolder = false;  // else a regular file
  int64_t Time = 0;       // last written, seconds since 1970 UTC; negative before
  uint64_t Size = 0;
  uint64_t DiskBytes = 0;  // the room it takes on its disk (whole blocks), at least Size
};
// The regular files and the folders in dir (not "." and ".."), links and other
// kinds left out; in directory order. Empty when dir cannot be listed.
std::vector<TFolderEntry> ListEntriesNoFollow(const std::string& dir);
// True when path is a folder itself, not a link to one.
bool IsFolderNoFollow(const std::string& path);
// A regular file's bytes, opened without following a link in its last part; raises
// EOSError when it cannot be read, is a link or no regular file, or holds more
// than maxBytes.
std::string ReadFileNoFollow(const std::string& path, size_t maxBytes);
// The bytes this process may still write on the file system that holds path, and
// whether a new file can be made there (a file system may run out of file entries
// before bytes); false when the system cannot say.
bool FreeSpace(const std::string& path, uint64_t& bytes, bool& canCreateFile);

// ---- Shared libraries ----------------------------------------------------------
// The file the system loads for a configured client library name: the Windows
// name "fbclient.dll" maps to this platform's client library; other names are
// used as they are.
std::string MapLibraryName(const std::string& name);
// nullptr when the library can't be loaded; LastLoadError() then tells why.
void* LoadLibrary(const std::string& name);
std::string LastLoadError();
void* GetProcAddress(void* library, const std::string& name);
void UnloadLibrary(void* library);
// The system's text for an error number (EOSError::Code()).
std::string SysErrorMessage(int code);

// ---- Clocks --------------------------------------------------------------------
// Seconds since 1970-01-01 00:00:00 UTC.
int64_t UnixTimeNow();
// A high-resolution counter; false when the system has none.
bool HighResolutionCounter(int64_t& value);
// Milliseconds since system start (wraps at 2^32).
uint32_t TickCount();
// The local date and time as days since 1899-12-30 with the time as the fraction.
double LocalNow();

// ---- Regional settings ---------------------------------------------------------
// The host's decimal symbol, short date and long time formats, read once. Formats
// use d, m, y, h, n (minute), s letters as in "dd.mm.yyyy" and "hh:nn:ss".
char RegionalDecimalMark();
std::string RegionalShortDateFormat();
std::string RegionalLongTimeFormat();

// ---- Floating point ------------------------------------------------------------
// Sets the processor's floating-point control to extended precision where the
// processor has such a setting.
void SetExtendedFpuPrecision();

// ---- Request deadline ----------------------------------------------------------
// Milliseconds of a clock that only moves forward (not the time of day).
int64_t SteadyMilliseconds();
// Watches one deadline at a time for the request in flight: Arm names a moment of
// SteadyMilliseconds and an action; the action runs once, on the watchdog's own
// thread, when that moment passes before Disarm. The thread (the only one the
// program starts) is started by the first Arm with every signal blocked, waits
// without polling, and is stopped and joined when the object dies. The action
// must be quick and safe to run beside the thread that armed it.
class TWatchdog {
 public:
  TWatchdog();
  ~TWatchdog();
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;
  // Replaces an earlier arming. Raises EOSError when the thread cannot start.
  void Arm(int64_t deadline, std::function<void()> action);
  // Ends the watch; once it returns the action neither runs nor will run (an
  // action running now is waited for). True when the action ran.
  bool Disarm();
  // True once the action of the current arming has started.
  bool Fired() const;

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// ---- Persistent mode on Windows ------------------------------------------------
// A Windows FastCGI server, one process: the named pipe IIS hands over as standard
// input (StdinIsListeningSocket tells it there), or a TCP address of its own. As on
// Linux the process reads every request whole itself before libfcgi sees it, so
// that a slow connection holds nothing; this object is also libfcgi's OS side
// there (its OS_* functions), which reads the request from memory and writes the
// answer to its connection. One per process.
class TFastCGIServer {
 public:
  // address empty: standard input's pipe; else HOST:PORT. Requests must arrive
  // within readTimeoutMs of their connection (on a pipe the web server keeps
  // open: of their first byte) and hold at most maxRequestBytes; a TCP client
  // not in allowedAddresses (as for WaitForRequest) is closed at once. The stop:
  // the event named by _FCGI_SHUTDOWN_EVENT_, Ctrl+C, Ctrl+Break or the closing
  // of the console, and on a pipe the end of the process that started this one
  // (the web server gone). Raises EOSError when the address cannot be listened on.
  TFastCGIServer(const std::string& address, const std::string& allowedAddresses,
                 int64_t readTimeoutMs, int64_t maxRequestBytes);
  ~TFastCGIServer();
  TFastCGIServer(const TFastCGIServer&) = delete;
  TFastCGIServer& operator=(const TFastCGIServer&) = delete;
  // Waits until a connection has delivered a whole request and makes it the one
  // libfcgi reads and writes: the number returned goes into FCGX_Request's
  // ipcFd. After the stop no connection is taken, one that has begun to send is
  // still waited for, and -1 comes once none is left. Raises EOSError when the
  // pipe or the listening socket fails.
  int WaitForRequest();
  // After the answer: a connection libfcgi left open (the web server keeps it)
  // waits for its next request among the others.
  void EndRequest();

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

}  // namespace platform
