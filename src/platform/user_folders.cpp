#include "platform/user_folders.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norva {
namespace {

bool absolute(const char *path) { return path != nullptr && path[0] == '/'; }

std::string passwdHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? size_t(size) : size_t(16384), '\0');
  struct passwd entry {};
  struct passwd *found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return absolute(found->pw_dir) ? std::string(found->pw_dir) : std::string();
}

// nftw has no user pointer; each thread counts its own removal failures.
thread_local bool removalFailed = false;

int removeOne(const char *path, const struct stat *, int kind, struct FTW *) {
  const int result = kind == FTW_DP ? ::rmdir(path) : ::unlink(path);
  if (result != 0 && errno != ENOENT) removalFailed = true;
  return 0; // keep going: remove as much as possible
}

} // namespace

std::string userDataFolder() {
  const char *data = std::getenv("XDG_DATA_HOME");
  if (absolute(data)) return data;
  const char *home = std::getenv("HOME");
  std::string base = absolute(home) ? std::string(home) : passwdHome();
  if (base.empty()) return {};
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return (base == "/" ? std::string() : base) + "/.local/share";
}

bool createFolders(const std::string &path) {
  if (path.empty()) return false;
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool createFolderExclusive(const std::string &path) { return ::mkdir(path.c_str(), 0700) == 0; }

bool isFolder(const std::string &path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool pathExists(const std::string &path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool listFolder(const std::string &folder, std::vector<FolderEntry> &out) {
  out.clear();
  DIR *dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  while (const struct dirent *entry = ::readdir(dir)) {
    const std::string name(entry->d_name);
    if (name == "." || name == "..") continue;
    out.push_back({name, isFolder(folder + "/" + name)});
  }
  ::closedir(dir);
  return true;
}

bool removeTree(const std::string &path) {
  if (!pathExists(path)) return true;
  removalFailed = false;
  // Depth first, links never followed, never into another file system; at
  // most 16 folders held open however deep the tree.
  if (::nftw(path.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) != 0) removalFailed = true;
  return !removalFailed && !pathExists(path);
}

MoveOutcome moveWithoutReplacing(const std::string &from, const std::string &to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return MoveOutcome::moved;
  if (errno == EEXIST) return MoveOutcome::targetExists;
  if (errno != EINVAL && errno != ENOSYS) return MoveOutcome::failed;
  // A file system without the no-replace flag: rename(2) still refuses a
  // folder that is not empty, and the test narrows the rest to a moment.
  if (pathExists(to)) return MoveOutcome::targetExists;
  if (::rename(from.c_str(), to.c_str()) == 0) return MoveOutcome::moved;
  return errno == EEXIST || errno == ENOTEMPTY ? MoveOutcome::targetExists : MoveOutcome::failed;
}

bool secureRandom(uint64_t &out) {
  uint8_t *bytes = reinterpret_cast<uint8_t *>(&out);
  size_t done = 0;
  while (done < sizeof out) {
    const ssize_t got = ::getrandom(bytes + done, sizeof out - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += size_t(got);
  }
  return true;
}

} // namespace norva
