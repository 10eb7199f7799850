// The archive's files on POSIX systems, examined and opened without following a
// symbolic link.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"
#include "runtime/Exception.h"

namespace platform {

std::vector<TFolderEntry> ListEntriesNoFollow(const std::string& dir) {
  std::vector<TFolderEntry> entries;
  const std::string folder = dir.empty() ? std::string(".") : dir;
  DIR* listing = ::opendir(folder.c_str());
  if (!listing) return entries;
  struct stat st;
  while (const dirent* e = ::readdir(listing)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (::lstat((folder + "/" + e->d_name).c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) continue;
    const auto size = static_cast<uint64_t>(st.st_size);
    entries.push_back({e->d_name, S_ISDIR(st.st_mode), static_cast<int64_t>(st.st_mtime), size,
                       std::max(size, static_cast<uint64_t>(st.st_blocks) * 512)});
  }
  ::closedir(listing);
  return entries;
}

bool IsFolderNoFollow(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ReadFileNoFollow(const std::string& path, size_t maxBytes) {
  // Not blocking: a named pipe in a copy's place must not hang the reader.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) throw EOSError("Cannot open file \"" + path + "\": " + SysErrorMessage(errno), errno);
  std::string data;
  std::string failure;
  int code = 0;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    code = errno;
  } else if (!S_ISREG(st.st_mode)) {
    failure = "not a file";
  } else {
    // Room for the whole file at once: a copy of megabytes is not grown by doubling.
    data.reserve(static_cast<size_t>(std::min<uint64_t>(st.st_size, maxBytes)));
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) code = errno;
      if (n <= 0) break;
      if (data.size() + static_cast<size_t>(n) > maxBytes) {
        failure = "larger than " + std::to_string(maxBytes) + " bytes";
        break;
      }
      data.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  if (code != 0)
    throw EOSError("Cannot read file \"" + path + "\": " + SysErrorMessage(code), code);
  if (!failure.empty()) throw EOSError("Cannot read file \"" + path + "\": " + failure);
  return data;
}

bool FreeSpace(const std::string& path, uint64_t& bytes, bool& canCreateFile) {
  struct statvfs fs;
  if (::statvfs(path.c_str(), &fs) != 0) return false;
  bytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  // Some file systems count no file entries at all (both counts 0): no limit.
  canCreateFile = fs.f_favail > 0 || fs.f_files == 0;
  return true;
}

}  // namespace platform
