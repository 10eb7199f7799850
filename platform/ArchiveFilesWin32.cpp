// The archive's files on Windows, examined and opened without following a
// reparse point (a symbolic link or junction).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#undef LoadLibrary
#undef DeleteFile

#include <cstring>

#include "platform/Platform.h"
#include "runtime/Exception.h"

namespace platform {
namespace {

// 100-nanosecond steps since 1601-01-01 as seconds since 1970, rounding down
// (times before 1970 are negative).
int64_t UnixSecondsOf(const FILETIME& ft) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
}

[[noreturn]] void RaiseRead(const std::string& path, const std::string& why, DWORD code) {
  throw EOSError("Cannot read file \"" + path + "\": " + why, static_cast<int>(code));
}

}  // namespace

std::vector<TFolderEntry> ListEntriesNoFollow(const std::string& dir) {
  std::vector<TFolderEntry> entries;
  const std::string base = dir.empty() ? std::string() : dir + "\\";
  WIN32_FIND_DATAA fd;
  const HANDLE find = FindFirstFileA((base + "*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    if (std::strcmp(fd.cFileName, ".") == 0 || std::strcmp(fd.cFileName, "..") == 0) continue;
    if (fd.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) continue;
    const uint64_t size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    // NTFS keeps a file in clusters of 4 KiB as a rule.
    constexpr uint64_t kCluster = 4096;
    entries.push_back({fd.cFileName, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                       UnixSecondsOf(fd.ftLastWriteTime), size,
                       (size + kCluster - 1) / kCluster * kCluster});
  } while (FindNextFileA(find, &fd));
  FindClose(find);
  return entries;
}

bool IsFolderNoFollow(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) &&
         !(a & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string ReadFileNoFollow(const std::string& path, size_t maxBytes) {
  // The reparse point itself is opened, not what it names; it is then refused.
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    throw EOSError("Cannot open file \"" + path + "\": " + SysErrorMessage(static_cast<int>(code)),
                   static_cast<int>(code));
  }
  BY_HANDLE_FILE_INFORMATION info;
  std::string data, failure;
  DWORD code = 0;
  if (!GetFileInformationByHandle(h, &info)) {
    code = GetLastError();
  } else if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY) ||
             GetFileType(h) != FILE_TYPE_DISK) {
    failure = "not a file";
  } else {
    char buf[65536];
    for (;;) {
      DWORD n = 0;
      if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) code = GetLastError();
      if (code != 0 || n == 0) break;
      if (data.size() + n > maxBytes) {
        failure = "larger than " + std::to_string(maxBytes) + " bytes";
        break;
      }
      data.append(buf, n);
    }
  }
  CloseHandle(h);
  if (code != 0) RaiseRead(path, SysErrorMessage(static_cast<int>(code)), code);
  if (!failure.empty()) RaiseRead(path, failure, 0);
  return data;
}

bool FreeSpace(const std::string& path, uint64_t& bytes, bool& canCreateFile) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(path.c_str(), &available, nullptr, nullptr)) return false;
  bytes = available.QuadPart;
  canCreateFile = true;  // NTFS has no fixed count of file entries
  return true;
}

}  // namespace platform
