#include "platform/zip_extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace norva {
namespace {

// libarchive's archive_write_disk is not used: creating one sets the
// process's umask to 0 for a moment, which races every other thread of the
// host, and it cannot refuse absolute names while writing below an absolute
// destination. The checks below do its secure-extraction work (no "..", no
// absolute names, nothing through a link) with openat and O_NOFOLLOW.

class Fd {
public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd() { reset(-1); }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

private:
  int fd_;
};

// The calling thread reads names in the UTF-8 locale while the reader
// lives (uselocale is per thread: the host's other threads are untouched).
// In the C locale libarchive has no form at all for a non-ASCII name.
class Utf8Names {
public:
  Utf8Names() : utf8_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0))) {
    if (utf8_ != locale_t(0)) previous_ = ::uselocale(utf8_);
  }
  Utf8Names(const Utf8Names &) = delete;
  Utf8Names &operator=(const Utf8Names &) = delete;
  ~Utf8Names() {
    if (utf8_ == locale_t(0)) return;
    ::uselocale(previous_);
    ::freelocale(utf8_);
  }

private:
  locale_t utf8_;
  locale_t previous_ = locale_t(0);
};

struct Reader {
  archive *handle = archive_read_new();
  ~Reader() {
    if (handle != nullptr) archive_read_free(handle);
  }
};

// The name's segments, "" and "." dropped. False when the name may not be
// written: empty, absolute, too long, with a ".." segment, or naming nothing.
bool nameSegments(const char *name, std::vector<std::string> &segments) {
  segments.clear();
  if (name == nullptr || name[0] == '\0' || name[0] == '/' || std::strlen(name) > kZipMaxNameBytes) return false;
  const char *start = name;
  for (const char *c = name;; ++c) {
    if (*c != '/' && *c != '\0') continue;
    const std::string segment(start, c);
    if (segment == "..") return false;
    if (!segment.empty() && segment != ".") segments.push_back(segment);
    if (*c == '\0') break;
    start = c + 1;
  }
  return !segments.empty();
}

// Opens the folders segments[0, count) below root, creating the missing
// ones; a link or a file on the way fails. -1 on failure.
int openFolders(int root, const std::vector<std::string> &segments, size_t count) {
  int fd = ::openat(root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (size_t i = 0; i < count && fd >= 0; ++i) {
    const char *segment = segments[i].c_str();
    if (::mkdirat(fd, segment, 0755) != 0 && errno != EEXIST) {
      ::close(fd);
      return -1;
    }
    const int next = ::openat(fd, segment, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  return fd;
}

bool writeAll(int fd, const void *data, size_t size) {
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    const ssize_t wrote = ::write(fd, bytes, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes += wrote;
    size -= size_t(wrote);
  }
  return true;
}

ZipOutcome fail(ZipOutcome outcome, std::string &detail, std::string text) {
  detail = std::move(text);
  return outcome;
}

} // namespace

const char *zipOutcomeName(ZipOutcome outcome) {
  switch (outcome) {
    case ZipOutcome::ok: return "ok";
    case ZipOutcome::unreadable: return "unreadable";
    case ZipOutcome::unsafeEntry: return "unsafe-entry";
    case ZipOutcome::overLimit: return "over-limit";
    case ZipOutcome::writeFailed: return "write-failed";
  }
  return "unreadable";
}

ZipOutcome extractZip(const void *bytes, size_t length, const std::string &folder, std::string &detail,
                      const ZipLimits &limits) {
  detail.clear();
  if (bytes == nullptr || length == 0) return fail(ZipOutcome::unreadable, detail, "no bytes");
  const Fd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (root.get() < 0) return fail(ZipOutcome::writeFailed, detail, "cannot open " + folder);

  const Utf8Names names;
  Reader reader;
  archive *zip = reader.handle;
  if (zip == nullptr || archive_read_support_format_zip(zip) != ARCHIVE_OK ||
      archive_read_open_memory(zip, bytes, length) != ARCHIVE_OK) {
    return fail(ZipOutcome::unreadable, detail,
                zip != nullptr && archive_error_string(zip) ? archive_error_string(zip) : "cannot open the archive");
  }

  uint64_t entries = 0;
  uint64_t unpacked = 0;
  std::vector<std::string> segments;
  for (;;) {
    archive_entry *entry = nullptr;
    const int read = archive_read_next_header(zip, &entry);
    if (read == ARCHIVE_EOF) break;
    // A warning is about metadata (a name's character set, say); the name
    // is checked below all the same.
    if (read != ARCHIVE_OK && read != ARCHIVE_WARN) {
      const char *why = archive_error_string(zip);
      return fail(ZipOutcome::unreadable, detail, why != nullptr ? why : "unreadable entry");
    }
    if (++entries > limits.maxEntries) {
      return fail(ZipOutcome::overLimit, detail, "more than " + std::to_string(limits.maxEntries) + " entries");
    }
    const char *name = archive_entry_pathname(entry);
    const std::string shown = name != nullptr ? name : "";
    if (!nameSegments(name, segments)) return fail(ZipOutcome::unsafeEntry, detail, "unsafe name \"" + shown + "\"");
    const mode_t type = archive_entry_filetype(entry);
    if (archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr ||
        (type != AE_IFREG && type != AE_IFDIR)) {
      return fail(ZipOutcome::unsafeEntry, detail, "\"" + shown + "\" is a link or a special file");
    }

    if (type == AE_IFDIR) {
      const Fd made(openFolders(root.get(), segments, segments.size()));
      if (made.get() < 0) return fail(ZipOutcome::writeFailed, detail, "cannot create folder \"" + shown + "\"");
      continue;
    }
    if (archive_entry_size_is_set(entry) && uint64_t(archive_entry_size(entry)) > limits.maxUnpackedBytes - unpacked) {
      return fail(ZipOutcome::overLimit, detail, "more than " + std::to_string(limits.maxUnpackedBytes) + " bytes");
    }
    const Fd parent(openFolders(root.get(), segments, segments.size() - 1));
    if (parent.get() < 0) return fail(ZipOutcome::writeFailed, detail, "cannot create the folder of \"" + shown + "\"");
    const Fd file(
        ::openat(parent.get(), segments.back().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.get() < 0) {
      return errno == EEXIST ? fail(ZipOutcome::unsafeEntry, detail, "\"" + shown + "\" is there already")
                             : fail(ZipOutcome::writeFailed, detail, "cannot create \"" + shown + "\"");
    }
    int64_t position = 0;
    for (;;) {
      const void *block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      const int got = archive_read_data_block(zip, &block, &size, &offset);
      if (got == ARCHIVE_EOF) break;
      // A warning here is a damaged entry (a CRC that does not match).
      if (got != ARCHIVE_OK || offset != position) {
        const char *why = archive_error_string(zip);
        return fail(ZipOutcome::unreadable, detail, why != nullptr ? why : "unreadable data in \"" + shown + "\"");
      }
      if (size > limits.maxUnpackedBytes - unpacked) {
        return fail(ZipOutcome::overLimit, detail, "more than " + std::to_string(limits.maxUnpackedBytes) + " bytes");
      }
      if (!writeAll(file.get(), block, size))
        return fail(ZipOutcome::writeFailed, detail, "cannot write \"" + shown + "\"");
      unpacked += size;
      position += int64_t(size);
    }
  }
  return ZipOutcome::ok;
}

} // namespace norva
