#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norva {

FileReadStatus readFileLimited(const std::string &path, size_t maxBytes, std::vector<uint8_t> &out) {
  // Non-blocking, so that a FIFO or a device is refused below instead of
  // holding the caller on its open; regular files read the same either way.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return FileReadStatus::unreadable;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
    ::close(fd);
    return FileReadStatus::unreadable;
  }
  if (uint64_t(info.st_size) > maxBytes) {
    ::close(fd);
    return FileReadStatus::tooLarge;
  }
  std::vector<uint8_t> bytes(size_t(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += size_t(got);
  }
  ::close(fd);
  if (done != bytes.size()) return FileReadStatus::unreadable;
  out.swap(bytes);
  return FileReadStatus::ok;
}

bool realPathInside(const std::string &folder, const std::string &path) {
  std::string real;
  return realPathInside(folder, path, real);
}

bool realPathInside(const std::string &folder, const std::string &path, std::string &real) {
  char root[PATH_MAX];
  char resolved[PATH_MAX];
  if (::realpath(folder.c_str(), root) == nullptr || ::realpath(path.c_str(), resolved) == nullptr) return false;
  const std::string base(root);
  std::string target(resolved);
  const bool inside = target == base || base == "/" ||
                      (target.size() > base.size() && target.compare(0, base.size(), base) == 0 &&
                       target[base.size()] == '/');
  if (inside) real = std::move(target);
  return inside;
}

} // namespace norva
