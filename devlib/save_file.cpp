// Replacing a file whole or not at all: the programs' backups, maps and
// history must never be left half-written or reported saved when they are not.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "internal.h"

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path's links

std::string folder_of(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write to path lands in: links followed, a dangling one naming
// the file to create. False with errno set when the chain does not end.
bool final_target(const char *path, std::string &target) {
  target = path;
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    struct stat info {};
    if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t n = readlink(target.c_str(), link, sizeof link - 1);
    if (n < 0) return false;
    link[n] = '\0';
    target = link[0] == '/' ? std::string(link) : folder_of(target) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

// Every byte, or false with errno set.
bool write_all(int fd, const unsigned char *bytes, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes += n;
    length -= size_t(n);
  }
  return true;
}

// A device or FIFO cannot be renamed over; it takes the bytes as they come.
bool write_in_place(const std::string &target, const unsigned char *bytes, size_t length) {
  const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  const bool written = write_all(fd, bytes, length);
  const int saved = errno;
  if (close(fd) != 0 && written) return false;
  errno = saved;
  return written;
}

// The permissions the replaced file had, or those a new file gets.
mode_t mode_for(const struct stat *existing) {
  if (existing) return existing->st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool replace(const std::string &target, const struct stat *existing, const unsigned char *bytes,
             size_t length) {
  const size_t slash = target.rfind('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = folder_of(target) + "/." + name + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode_for(existing)) == 0 && write_all(fd, bytes, length) && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    errno = saved;
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int dir = open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

}  // namespace

int zk_save_file(const char *path, const void *data, size_t length) {
  if (!path || !*path || (!data && length > 0)) {
    errno = EINVAL;
    return ZK_ERR_FILE_IO;
  }
  std::string target;
  if (!final_target(path, target)) return ZK_ERR_FILE_IO;
  const auto *bytes = static_cast<const unsigned char *>(data);
  struct stat info {};
  const bool exists = stat(target.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) return ZK_ERR_FILE_IO;
  if (exists && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return ZK_ERR_FILE_IO;
  }
  bool ok = exists && !S_ISREG(info.st_mode)
                ? write_in_place(target, bytes, length)
                : replace(target, exists ? &info : nullptr, bytes, length);
  return ok ? 0 : ZK_ERR_FILE_IO;
}
