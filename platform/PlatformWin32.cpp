// The Windows side of platform/Platform.h, with the Win32 API (ANSI calls: every
// text in the system is 8-bit, in the host's code page).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// <windows.h> maps these names to their ANSI or wide variants by macro; here they
// name the functions of Platform.h.
#undef LoadLibrary
#undef DeleteFile

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Platform.h"
#include "runtime/Exception.h"
#include "runtime/LogLine.h"

namespace platform {
namespace {

[[noreturn]] void RaiseOSError(const std::string& what, DWORD code) {
  throw EOSError(what + ": " + SysErrorMessage(static_cast<int>(code)), static_cast<int>(code));
}

[[noreturn]] void RaiseLastOSError(const std::string& what) { RaiseOSError(what, GetLastError()); }

HANDLE StdHandle(DWORD which) {
  const HANDLE h = GetStdHandle(which);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// "*" and "?" against a name, letters compared without regard to ASCII case as the
// file system does. FindFirstFile alone would also match the short 8.3 aliases
// ("*.def" finds "a.define" through "A~1.DEF"), so every name is matched again.
bool MatchMask(const char* mask, const char* name) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  const char* starMask = nullptr;
  const char* starName = nullptr;
  while (*name) {
    if (*mask == '*') {
      starMask = ++mask;
      starName = name;
    } else if (*mask == '?' || (*mask && lower(*mask) == lower(*name))) {
      ++mask;
      ++name;
    } else if (starMask) {
      mask = starMask;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*mask == '*') ++mask;
  return *mask == 0;
}

std::string LocaleText(LCTYPE type) {
  char buf[128];
  const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n - 1)) : std::string();
}

// A Windows date or time picture ("dd.MM.yyyy", "h:mm:ss tt") in the d/m/y/h/n/s
// letters of the text forms. Day and month names become numbers, the era and
// the AM/PM mark are left out (times are shown on the 24-hour clock), quoted text
// stays quoted. separator is set to the first character between two fields.
std::string ConvertPicture(const std::string& picture, char& separator, bool time) {
  std::string out;
  size_t i = 0;
  while (i < picture.size()) {
    const char c = picture[i];
    if (c == '\'') {
      const size_t close = picture.find('\'', i + 1);
      const size_t end = close == std::string::npos ? picture.size() : close;
      out += '"';
      out.append(picture, i + 1, end - i - 1);
      out += '"';
      i = end + 1;
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    switch (c) {
      case 'd':
        out += run == 1 ? "d" : run == 2 ? "dd" : "";
        break;
      case 'M':
        out += run == 1 ? "m" : "mm";
        break;
      case 'y':
        out += run <= 2 ? "yy" : "yyyy";
        break;
      case 'h':
      case 'H':
        out += run == 1 ? "h" : "hh";
        break;
      case 'm':
        out += time ? (run == 1 ? "n" : "nn") : (run == 1 ? "m" : "mm");
        break;
      case 's':
        out += run == 1 ? "s" : "ss";
        break;
      case 'g':
      case 't':
        break;
      default:
        out.append(run, c);
        if (!separator && c != ' ' && c != ',') separator = c;
        break;
    }
    i += run;
  }
  while (!out.empty() && (out.back() == ' ' || out.front() == ' ')) {
    if (out.back() == ' ')
      out.pop_back();
    else
      out.erase(0, 1);
  }
  if (out.empty()) out = time ? "hh:nn:ss" : "mm/dd/yy";
  return out;
}

struct TRegional {
  char decimalMark = '.';
  char dateSeparator = '/';
  char timeSeparator = ':';
  std::string shortDate = "mm/dd/yy";
  std::string longTime = "hh:nn:ss";
};

// The user's regional settings (Control Panel, Region), read once.
const TRegional& Regional() {
  static const TRegional regional = [] {
    TRegional r;
    const std::string dp = LocaleText(LOCALE_SDECIMAL);
    if (dp.size() == 1) r.decimalMark = dp[0];
    const std::string date = LocaleText(LOCALE_SSHORTDATE);
    const std::string time = LocaleText(LOCALE_STIMEFORMAT);
    char ds = 0, ts = 0;
    if (!date.empty()) r.shortDate = ConvertPicture(date, ds, false);
    if (!time.empty()) r.longTime = ConvertPicture(time, ts, true);
    if (ds) r.dateSeparator = ds;
    if (ts) r.timeSeparator = ts;
    return r;
  }();
  return regional;
}

thread_local std::string gLastLoadError;

}  // namespace

// Windows has no termination signal to block. A web server ends a CGI program
// with TerminateProcess (IIS on its CGI timeout, on a recycle of the application
// pool), which no program can see coming or handle. For a request in flight that
// means: the process stops where it is, no destructor runs, no answer is
// completed. A database transaction not yet committed is rolled back by the
// server when it notices the lost connection; one already committed stays. An
// archive copy being written stays behind, possibly short, under its own fresh
// name (names are never reused); the terminal gets no "ok" and posts the order
// again, whose identifier check then decides whether it is imported.
void BlockTerminationSignal() {}

// The Linux listener's calls: the Windows FastCGI server is TFastCGIServer
// (PlatformWin32FastCGI.cpp, which also tells IIS's pipe on standard input), one
// process with no children.
TListeningSocket ListenOn(const std::string& address, const std::string&) {
  throw EOSError("Cannot listen on \"" + address + "\": FastCGI is not available on Windows");
}
bool ManagerPassedSocket() { return false; }
TListeningSocket TakeManagerSocket() { return TListeningSocket(); }
void TListeningSocket::Close() noexcept {}
bool WaitForRequest(int, const std::string&, int64_t, int64_t, TWaitedRequest&) {
  throw EOSError("FastCGI is not available on Windows");
}
void WaitAgain(TDescriptor, const std::string&, int64_t, int64_t) {}
void MoveDescriptor(TDescriptor, int) {}
void TDescriptor::Reset() noexcept { FDescriptor = -1; }
void CatchTerminationSignal() {}
void AllowTermination(bool) {}
bool TerminationRequested() { return false; }
int RunChildren(int, const std::function<int()>& child) { return child(); }

// Windows raises no signal for a write past a size limit: such a write fails
// with an error, as the archive expects.
void IgnoreFileSizeSignal() {}

// TerminateProcess rather than ExitProcess, as _exit on Linux: ExitProcess runs
// every loaded DLL's detach code under the loader lock (the client library's
// shuts down its own threads there), which costs time after the answer is out and
// can hang when such a thread is stuck. Every component, the database connection
// among them, is already destroyed when this runs. The answer was written with
// WriteFile, unbuffered, so it sits in the pipe already; stdio is flushed first
// all the same.
void ExitNow(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  ExitProcess(static_cast<UINT>(code));  // not reached
}

std::string GetEnv(const std::string& name) {
  std::string value(256, '\0');
  for (;;) {
    const DWORD n =
        GetEnvironmentVariableA(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return std::string();
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);  // n is the size needed, with the terminating zero
  }
}

void SetBinaryStdio() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

long ReadStdin(void* buffer, long count) {
  const HANDLE h = StdHandle(STD_INPUT_HANDLE);
  if (!h || count <= 0) return 0;
  DWORD got = 0;
  if (!ReadFile(h, buffer, static_cast<DWORD>(count), &got, nullptr)) {
    const DWORD e = GetLastError();
    // The writer closed its end of the pipe: end of input.
    if (e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF) return 0;
    return -1;
  }
  return static_cast<long>(got);
}

long WriteStdout(const void* buffer, long count) {
  const HANDLE h = StdHandle(STD_OUTPUT_HANDLE);
  if (!h) return -1;
  long done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < count) {
    DWORD n = 0;
    if (!WriteFile(h, p + done, static_cast<DWORD>(count - done), &n, nullptr) || n == 0)
      return done > 0 ? done : -1;
    done += static_cast<long>(n);
  }
  return done;
}

void WriteStderr(const std::string& line) {
  const HANDLE h = StdHandle(STD_ERROR_HANDLE);
  if (!h) return;
  size_t done = 0;
  while (done < line.size()) {
    DWORD n = 0;
    if (!WriteFile(h, line.data() + done, static_cast<DWORD>(line.size() - done), &n, nullptr) ||
        n == 0)
      return;
    done += n;
  }
}

void WriteLogLine(std::string_view command, std::string_view text) {
  WriteStderr(FormatLogLine(UnixTimeNow(), command, text));
}

std::string CurrentDir() {
  const DWORD size = GetCurrentDirectoryA(0, nullptr);
  if (size == 0) RaiseLastOSError("GetCurrentDirectory");
  std::string dir(size, '\0');
  const DWORD n = GetCurrentDirectoryA(size, dir.data());
  if (n == 0 || n >= size) RaiseLastOSError("GetCurrentDirectory");
  dir.resize(n);
  return dir;
}

std::string ExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) RaiseLastOSError("GetModuleFileName");
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // truncated
  }
}

std::string PathDelimiter() { return "\\"; }

bool FileExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

bool DirectoryExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDir(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return false;
  RaiseLastOSError("Cannot create folder \"" + path + "\"");
}

std::vector<std::string> ListFiles(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> names;
  const std::string base = dir.empty() ? std::string() : dir + "\\";
  WIN32_FIND_DATAA fd;
  const HANDLE find = FindFirstFileA((base + pattern).c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (fd.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) continue;
    if (MatchMask(pattern.c_str(), fd.cFileName)) names.emplace_back(fd.cFileName);
  } while (FindNextFileA(find, &fd));
  FindClose(find);
  return names;
}

namespace {

// Reads from an open file up to limit bytes (all of it when limit is 0).
std::string ReadFileBytes(const std::string& path, size_t limit) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) RaiseLastOSError("Cannot open file \"" + path + "\"");
  std::string data;
  char buf[65536];
  for (;;) {
    DWORD want = sizeof buf;
    if (limit > 0) {
      if (data.size() >= limit) break;
      want = static_cast<DWORD>(std::min<size_t>(sizeof buf, limit - data.size()));
    }
    DWORD n = 0;
    if (!ReadFile(h, buf, want, &n, nullptr)) {
      const DWORD code = GetLastError();
      CloseHandle(h);
      throw EOSError("Cannot read file \"" + path +
                     "\": " + SysErrorMessage(static_cast<int>(code)));
    }
    if (n == 0) break;
    data.append(buf, n);
  }
  CloseHandle(h);
  return data;
}

}  // namespace

std::string ReadFilePrefix(const std::string& path, size_t maxBytes) {
  if (maxBytes == 0) return ReadFileBytes(path, 1).substr(0, 0);
  return ReadFileBytes(path, maxBytes);
}

std::string ReadWholeFile(const std::string& path) { return ReadFileBytes(path, 0); }

bool DeleteFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::vector<std::string> ListDirs(const std::string& dir) {
  std::vector<std::string> names;
  const std::string base = dir.empty() ? std::string() : dir + "\\";
  WIN32_FIND_DATAA fd;
  const HANDLE find = FindFirstFileA((base + "*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (std::strcmp(fd.cFileName, ".") == 0 || std::strcmp(fd.cFileName, "..") == 0) continue;
    names.emplace_back(fd.cFileName);
  } while (FindNextFileA(find, &fd));
  FindClose(find);
  return names;
}

bool FileModifiedTime(const std::string& path, int64_t& unixSeconds) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  // 100-nanosecond steps since 1601-01-01; 11644473600 s from then to 1970.
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
  const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
  unixSeconds = static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  return true;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails where the name is taken.
  if (MoveFileExA(from.c_str(), to.c_str(), 0)) return true;
  const DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return false;
  RaiseOSError("Cannot move file \"" + from + "\" to \"" + to + "\"", code);
}

// The handle is kept as a C runtime descriptor over the Win32 handle (binary, so
// nothing is translated); closing the descriptor closes the handle.
TFileHandle::~TFileHandle() {
  if (FFd >= 0) _close(FFd);
}

void TFileHandle::WriteAll(const void* data, size_t count) {
  const std::string what = "Cannot write file \"" + FPath + "\"";
  if (FFd < 0) throw EOSError(what + ": the file is not open");
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(FFd));
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(h, p, chunk, &n, nullptr)) RaiseLastOSError(what);
    // A write that takes nothing sets no error: it must not report an old one.
    if (n == 0) throw EOSError(what + ": no byte was written");
    p += n;
    count -= n;
  }
}

void TFileHandle::Close() {
  if (FFd < 0) return;
  const int fd = std::exchange(FFd, -1);
  // The data must reach the file before the order counts as archived.
  const bool flushed = FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != 0;
  const DWORD code = GetLastError();
  const bool closed = _close(fd) == 0;
  if (!flushed) RaiseOSError("Cannot close file \"" + FPath + "\"", code);
  if (!closed) RaiseOSError("Cannot close file \"" + FPath + "\"", ERROR_WRITE_FAULT);
}

namespace {

// A descriptor over a new file's handle (TFileHandle's own constructor is only
// for the two create functions).
int DescriptorOf(HANDLE h, const std::string& path) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_WRONLY);
  if (fd < 0) {
    CloseHandle(h);
    throw EOSError("Cannot create file \"" + path +
                   "\": " + SysErrorMessage(ERROR_TOO_MANY_OPEN_FILES));
  }
  return fd;
}

}  // namespace

TFileHandle CreateFileExclusive(const std::string& path, bool& exists) {
  exists = false;
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) {
      exists = true;
      return TFileHandle();
    }
    RaiseLastOSError("Cannot create file \"" + path + "\"");
  }
  return TFileHandle(DescriptorOf(h, path), path);
}

// "fbclient.dll" is the library's own name here: LoadLibrary finds it beside the
// program, in the system folders or on PATH.
std::string MapLibraryName(const std::string& name) { return name; }

void* LoadLibrary(const std::string& name) {
  // No message box for a missing or broken DLL: nobody sits at a CGI program's
  // screen, and the web server would wait for the box to be closed.
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  const HMODULE h = LoadLibraryA(MapLibraryName(name).c_str());
  const DWORD code = GetLastError();
  SetThreadErrorMode(oldMode, nullptr);
  if (!h) {
    // The file named first, as the Linux loader names it. The system's text has
    // "%1" where the file goes in some messages ("Bad EXE format for %1."):
    // the name goes there too.
    const std::string file = MapLibraryName(name);
    std::string text = SysErrorMessage(static_cast<int>(code));
    for (size_t at = text.find("%1"); at != std::string::npos;
         at = text.find("%1", at + file.size()))
      text.replace(at, 2, file);
    gLastLoadError = file + ": " + text;
  }
  return reinterpret_cast<void*>(h);
}

std::string LastLoadError() { return gLastLoadError; }

void* GetProcAddress(void* library, const std::string& name) {
  if (!library) return nullptr;
  const FARPROC p = ::GetProcAddress(static_cast<HMODULE>(library), name.c_str());
  void* out = nullptr;
  static_assert(sizeof out == sizeof p);
  std::memcpy(&out, &p, sizeof out);
  return out;
}

void UnloadLibrary(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

std::string SysErrorMessage(int code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s = n && text ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

bool HighResolutionCounter(int64_t& value) {
  LARGE_INTEGER c;
  if (!QueryPerformanceCounter(&c)) return false;
  value = c.QuadPart;
  return true;
}

uint32_t TickCount() { return GetTickCount(); }

int64_t UnixTimeNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  // 100-ns intervals since 1601-01-01; 11644473600 s lie between 1601 and 1970.
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000u) - 11644473600;
}

double LocalNow() {
  // The local wall clock as a FILETIME: 100 ns steps since 1601-01-01, which is
  // 109205 days before 1899-12-30.
  SYSTEMTIME st;
  GetLocalTime(&st);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const uint64_t perDay = 864000000000ULL;
  return static_cast<double>(ticks / perDay) - 109205.0 +
         static_cast<double>(ticks % perDay) / static_cast<double>(perDay);
}

char RegionalDecimalMark() { return Regional().decimalMark; }
std::string RegionalShortDateFormat() { return Regional().shortDate; }
std::string RegionalLongTimeFormat() { return Regional().longTime; }

// Doubles are computed with SSE2 on x64, which has no precision control; the x87
// unit still serves long double, and a client library built for it may have set
// its precision lower. _controlfp cannot set _MCW_PC on x64, so the control word is
// set directly, as on Linux.
void SetExtendedFpuPrecision() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned short cw = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  cw = static_cast<unsigned short>(cw | 0x0300);
  __asm__ __volatile__("fldcw %0" : : "m"(cw));
#endif
}

}  // namespace platform
