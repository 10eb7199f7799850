#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <langinfo.h>
#include <locale.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <fpu_control.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "platform/Platform.h"
#include "runtime/Dates.h"
#include "runtime/Exception.h"
#include "runtime/LogLine.h"

namespace platform {
namespace {

[[noreturn]] void RaiseOSError(const std::string& what, int code) {
  throw EOSError(what + ": " + SysErrorMessage(code), code);
}

// Raises for the call that just failed; errno is read here, before anything else
// can change it.
[[noreturn]] void RaiseLastOSError(const std::string& what) { RaiseOSError(what, errno); }

constexpr mode_t kNewFileMode = 0666;  // less the process's umask
constexpr mode_t kNewDirMode = 0777;

// A file descriptor opened for reading; closed when this object dies.
class TReadDescriptor {
 public:
  explicit TReadDescriptor(const std::string& path)
      : FFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (FFd < 0) RaiseLastOSError("Cannot open file \"" + path + "\"");
  }
  ~TReadDescriptor() { ::close(FFd); }
  TReadDescriptor(const TReadDescriptor&) = delete;
  TReadDescriptor& operator=(const TReadDescriptor&) = delete;
  int Fd() const { return FFd; }

 private:
  int FFd;
};

// One read of up to count bytes, repeated when a signal interrupts it; raises
// "Cannot read file" for any other failure. 0 at the end of the file.
size_t ReadSome(const TReadDescriptor& file, const std::string& path, char* buffer, size_t count) {
  for (;;) {
    const ssize_t n = ::read(file.Fd(), buffer, count);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) RaiseLastOSError("Cannot read file \"" + path + "\"");
  }
}

// An open directory listing; closed when this object dies.
class TDirectoryListing {
 public:
  explicit TDirectoryListing(const std::string& dir) : FDir(opendir(dir.c_str())) {}
  ~TDirectoryListing() {
    if (FDir) closedir(FDir);
  }
  TDirectoryListing(const TDirectoryListing&) = delete;
  TDirectoryListing& operator=(const TDirectoryListing&) = delete;
  bool IsOpen() const { return FDir != nullptr; }
  // The next entry's name; nullptr after the last.
  const char* Next() {
    const dirent* e = readdir(FDir);
    return e ? e->d_name : nullptr;
  }

 private:
  DIR* FDir;
};

struct TRegional {
  char decimalMark = '.';
  std::string shortDate = "mm/dd/yy";
  std::string longTime = "hh:nn:ss";
};

// strftime letters to the d/m/y/h/n/s pattern letters used by the text forms.
std::string ConvertPattern(const char* fmt, bool time) {
  std::string out;
  for (const char* p = fmt; *p; ++p) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    ++p;
    if (*p == 'E' || *p == 'O') ++p;
    switch (*p) {
      case 'd':
      case 'e':
        out += "dd";
        break;
      case 'm':
        out += "mm";
        break;
      case 'Y':
        out += "yyyy";
        break;
      case 'y':
        out += "yy";
        break;
      case 'H':
      case 'k':
      case 'I':
      case 'l':
        out += "hh";
        break;
      case 'M':
        out += "nn";
        break;
      case 'S':
        out += "ss";
        break;
      case 'T':
        out += "hh:nn:ss";
        break;
      case 'r':
        out += "hh:nn:ss";
        break;
      case 'D':
        out += "mm/dd/yy";
        break;
      case 'p':
      case 'P':
        break;
      case '\0':
        return out;
      default:
        break;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (out.empty()) out = time ? "hh:nn:ss" : "mm/dd/yy";
  return out;
}

// The host's regional settings come from the locale the environment names
// (LC_ALL, LC_NUMERIC, LC_TIME, LANG); read once, then the C locale is restored so
// that nothing else in the process depends on it.
const TRegional& Regional() {
  static const TRegional regional = [] {
    TRegional r;
    if (locale_t loc = newlocale(LC_ALL_MASK, "", nullptr)) {
      const char* dp = nl_langinfo_l(RADIXCHAR, loc);
      if (dp && dp[0] && !dp[1]) r.decimalMark = dp[0];
      r.shortDate = ConvertPattern(nl_langinfo_l(D_FMT, loc), false);
      r.longTime = ConvertPattern(nl_langinfo_l(T_FMT, loc), true);
      freelocale(loc);
    }
    return r;
  }();
  return regional;
}

}  // namespace

void BlockTerminationSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void IgnoreFileSizeSignal() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGXFSZ, &action, nullptr);
}

void ExitNow(int code) {
  std::fflush(stdout);
  _exit(code);
}

// ---- Persistent mode ----------------------------------------------------------

namespace {

volatile sig_atomic_t terminationRequested = 0;

extern "C" void OnTerminationSignal(int) { terminationRequested = 1; }

}  // namespace

bool StdinIsListeningSocket() {
  int listening = 0;
  socklen_t size = sizeof listening;
  return getsockopt(STDIN_FILENO, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 &&
         listening != 0;
}

namespace {

void InstallTerminationHandler() {
  // No restart flag: a wait for a connection or a child returns when it comes.
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

void CatchTerminationSignal() {
  BlockTerminationSignal();
  InstallTerminationHandler();
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

void AllowTermination(bool allow) {
  // The client library puts a handler of its own in place when it loads, one
  // that restarts the wait and shuts the library down: ours goes back first.
  if (allow) InstallTerminationHandler();
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigprocmask(allow ? SIG_UNBLOCK : SIG_BLOCK, &set, nullptr);
}

bool TerminationRequested() { return terminationRequested != 0; }

int RunChildren(int count, const std::function<int()>& child) {
  std::set<pid_t> children;
  auto start = [&]() {
    const pid_t pid = fork();
    if (pid < 0) RaiseLastOSError("fork");
    if (pid == 0) ExitNow(child());
    children.insert(pid);
    return UnixTimeNow();
  };
  int64_t lastStart = 0;
  for (int i = 0; i < count; ++i) lastStart = start();
  bool passedOn = false;
  while (!children.empty()) {
    if (TerminationRequested() && !passedOn) {
      for (pid_t pid : children) kill(pid, SIGTERM);
      passedOn = true;
    }
    AllowTermination(true);
    int status = 0;
    pid_t pid = -1;
    errno = EINTR;
    if (!TerminationRequested() || passedOn) pid = waitpid(-1, &status, 0);
    AllowTermination(false);
    if (pid < 0) {
      if (errno == ECHILD) break;
      continue;
    }
    children.erase(pid);
    if (TerminationRequested()) continue;
    // A child that dies at once (a bad library, a full disk) is not restarted in a
    // tight loop.
    if (UnixTimeNow() - lastStart < 1) sleep(1);
    lastStart = start();
  }
  return 0;
}

std::string GetEnv(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? std::string(v) : std::string();
}

void SetBinaryStdio() {}  // POSIX handles never translate line ends

long ReadStdin(void* buffer, long count) {
  for (;;) {
    const ssize_t n = ::read(0, buffer, static_cast<size_t>(count));
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

long WriteStdout(const void* buffer, long count) {
  long done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < count) {
    const ssize_t n = ::write(1, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? done : -1;
    done += n;
  }
  return done;
}

void WriteStderr(const std::string& line) {
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(2, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void WriteLogLine(std::string_view command, std::string_view text) {
  WriteStderr(FormatLogLine(UnixTimeNow(), command, text));
}

std::string CurrentDir() {
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) RaiseLastOSError("getcwd");
  return buf;
}

std::string ExecutablePath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n < 0) RaiseLastOSError("readlink");
  return std::string(buf, static_cast<size_t>(n));
}

std::string PathDelimiter() { return "/"; }

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) {
  if (::mkdir(path.c_str(), kNewDirMode) == 0) return true;
  if (errno == EEXIST) return false;
  RaiseLastOSError("Cannot create folder \"" + path + "\"");
}

std::vector<std::string> ListFiles(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> names;
  const std::string folder = dir.empty() ? std::string(".") : dir;
  TDirectoryListing listing(folder);
  if (!listing.IsOpen()) return names;
  while (const char* name = listing.Next()) {
    if (fnmatch(pattern.c_str(), name, 0) != 0) continue;
    if (FileExists(folder + "/" + name)) names.emplace_back(name);
  }
  return names;
}

std::string ReadFilePrefix(const std::string& path, size_t maxBytes) {
  const TReadDescriptor file(path);
  std::string data(maxBytes, '\0');
  size_t got = 0;
  while (got < maxBytes) {
    const size_t n = ReadSome(file, path, data.data() + got, maxBytes - got);
    if (n == 0) break;
    got += n;
  }
  data.resize(got);
  return data;
}

std::string ReadWholeFile(const std::string& path) {
  constexpr size_t kChunkBytes = 65536;
  std::string all;
  const TReadDescriptor file(path);
  char buf[kChunkBytes];
  while (const size_t n = ReadSome(file, path, buf, sizeof buf)) all.append(buf, n);
  return all;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::vector<std::string> ListDirs(const std::string& dir) {
  std::vector<std::string> names;
  const std::string folder = dir.empty() ? std::string(".") : dir;
  TDirectoryListing listing(folder);
  if (!listing.IsOpen()) return names;
  while (const char* name = listing.Next()) {
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (DirectoryExists(folder + "/" + name)) names.emplace_back(name);
  }
  return names;
}

bool FileModifiedTime(const std::string& path, int64_t& unixSeconds) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  unixSeconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
  // A hard link is made only where no name exists, atomically: two moves of one
  // name can never replace each other's file. The old name goes afterwards.
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return false;
    RaiseLastOSError("Cannot move file \"" + from + "\" to \"" + to + "\"");
  }
  if (::unlink(from.c_str()) != 0) {
    const int code = errno;
    ::unlink(to.c_str());
    RaiseOSError("Cannot move file \"" + from + "\" to \"" + to + "\"", code);
  }
  return true;
}

TFileHandle::~TFileHandle() {
  if (FFd >= 0) ::close(FFd);
}

void TFileHandle::WriteAll(const void* data, size_t count) {
  const std::string what = "Cannot write file \"" + FPath + "\"";
  if (FFd < 0) throw EOSError(what + ": the file is not open");
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::write(FFd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseLastOSError(what);
    // A write that takes nothing sets no error number: it must not report an old one.
    if (n == 0) throw EOSError(what + ": no byte was written");
    p += n;
    count -= static_cast<size_t>(n);
  }
}

void TFileHandle::Close() {
  if (FFd < 0) return;
  if (::close(std::exchange(FFd, -1)) != 0) RaiseLastOSError("Cannot close file \"" + FPath + "\"");
}

TFileHandle CreateFileExclusive(const std::string& path, bool& exists) {
  exists = false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
  if (fd < 0) {
    if (errno == EEXIST) {
      exists = true;
      return TFileHandle();
    }
    RaiseLastOSError("Cannot create file \"" + path + "\"");
  }
  return TFileHandle(fd, path);
}

std::string MapLibraryName(const std::string& name) {
  if (name == "fbclient.dll" || name == "FBCLIENT.DLL") return "libfbclient.so.2";
  return name;
}

namespace {
thread_local std::string gLastLoadError;
}

void* LoadLibrary(const std::string& name) {
  void* h = dlopen(MapLibraryName(name).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* e = dlerror();
    gLastLoadError = e ? e : "unknown error";
  }
  return h;
}

std::string LastLoadError() { return gLastLoadError; }

void* GetProcAddress(void* library, const std::string& name) {
  return library ? dlsym(library, name.c_str()) : nullptr;
}

void UnloadLibrary(void* library) {
  if (library) dlclose(library);
}

std::string SysErrorMessage(int code) {
  char buf[256];
  const char* s = strerror_r(code, buf, sizeof buf);  // GNU variant returns the text
  return s ? s : "";
}

bool HighResolutionCounter(int64_t& value) {
  timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  value = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  return true;
}

int64_t UnixTimeNow() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec);
}

uint32_t TickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

double LocalNow() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t t = ts.tv_sec;
  struct tm lt;
  localtime_r(&t, &lt);
  const double date = static_cast<double>(DayNumberFromUnixDays(DaysFromCivil(
      lt.tm_year + 1900, static_cast<unsigned>(lt.tm_mon + 1), static_cast<unsigned>(lt.tm_mday))));
  const double time =
      (lt.tm_hour * 3600.0 + lt.tm_min * 60.0 + lt.tm_sec + ts.tv_nsec / 1e9) / 86400.0;
  return date + time;
}

char RegionalDecimalMark() { return Regional().decimalMark; }
std::string RegionalShortDateFormat() { return Regional().shortDate; }
std::string RegionalLongTimeFormat() { return Regional().longTime; }

void SetExtendedFpuPrecision() {
#if defined(__x86_64__) || defined(__i386__)
  fpu_control_t cw;
  _FPU_GETCW(cw);
  cw = (cw & ~_FPU_EXTENDED) | _FPU_EXTENDED;
  _FPU_SETCW(cw);
#endif
}

}  // namespace platform
