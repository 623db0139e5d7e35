#include "socket_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace norva::probe {

namespace {

constexpr size_t kPiece = 65536;

// Reads what fd has into into, passing each whole frame to observer; false
// once fd has ended or failed.
bool drain(int fd, std::string &into, EditorFrameReader &reader, TapDirection direction,
           const SocketRelay::Observer &observer) {
  char piece[kPiece];
  for (;;) {
    const ssize_t got = ::recv(fd, piece, sizeof piece, 0);
    if (got > 0) {
      into.append(piece, size_t(got));
      reader.feed(piece, size_t(got));
      EditorFrame frame;
      while (reader.next(frame) == EditorFrameReader::Result::frame) {
        if (observer) observer(direction, frame);
      }
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

// Writes what is pending; false when fd takes nothing any more (what was
// pending is then dropped).
bool push(int fd, std::string &pending) {
  while (!pending.empty()) {
    const ssize_t sent = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      pending.erase(0, size_t(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      pending.clear();
      return false;
    }
  }
  return true;
}

} // namespace

struct SocketRelay::Tap {
  int real = -1;   // the socket's own end, now held by the relay alone
  int probe = -1;  // the relay's end of the pair whose other end the plug-in holds
  dev_t pluginDevice = 0;
  ino_t pluginInode = 0;
  std::string toReal;
  std::string toPlugin;
  EditorFrameReader fromPlugin;
  EditorFrameReader fromProgram;
  bool realEnded = false;
  bool pluginEnded = false;

  ~Tap() {
    ::close(real);
    ::close(probe);
  }

  void pump(const Observer &observer) {
    if (!realEnded && !drain(real, toPlugin, fromProgram, TapDirection::toPlugin, observer)) realEnded = true;
    if (!pluginEnded && !drain(probe, toReal, fromPlugin, TapDirection::fromPlugin, observer)) pluginEnded = true;
    push(probe, toPlugin);
    push(real, toReal);
    // An end that closed is passed on once what it sent has gone through.
    if (realEnded && toPlugin.empty()) ::shutdown(probe, SHUT_WR);
    if (pluginEnded && toReal.empty()) ::shutdown(real, SHUT_WR);
  }
  bool done() const { return realEnded && pluginEnded; }
};

SocketRelay::SocketRelay(Observer observer) : observer_(std::move(observer)) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) == 0) thread_ = std::thread([this] { run(); });
}

SocketRelay::~SocketRelay() {
  if (thread_.joinable()) {
    {
      const std::lock_guard guard(lock_);
      stopping_ = true;
    }
    const char stop = 0;
    (void)!::write(wake_[1], &stop, 1);
    thread_.join();
  }
  taps_.clear();
  for (const int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
}

bool SocketRelay::tap(int fd) {
  struct stat status {};
  if (!thread_.joinable() || ::fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode)) return false;
  {
    const std::lock_guard guard(lock_);
    for (const std::unique_ptr<Tap> &tap : taps_) {
      if (tap->pluginDevice == status.st_dev && tap->pluginInode == status.st_ino && !tap->pluginEnded) return true;
    }
  }
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) return false;
  const int real = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (real < 0 || ::dup3(pair[0], fd, O_CLOEXEC) < 0) {
    if (real >= 0) ::close(real);
    ::close(pair[0]);
    ::close(pair[1]);
    return false;
  }
  ::close(pair[0]);
  ::fcntl(real, F_SETFL, ::fcntl(real, F_GETFL) | O_NONBLOCK);
  auto tap = std::make_unique<Tap>();
  tap->real = real;
  tap->probe = pair[1];
  if (::fstat(fd, &status) == 0) {
    tap->pluginDevice = status.st_dev;
    tap->pluginInode = status.st_ino;
  }
  {
    const std::lock_guard guard(lock_);
    taps_.push_back(std::move(tap));
  }
  const char wake = 1;
  (void)!::write(wake_[1], &wake, 1);
  return true;
}

void SocketRelay::run() {
  std::vector<pollfd> watched;
  for (;;) {
    watched.assign(1, pollfd{wake_[0], POLLIN, 0});
    {
      const std::lock_guard guard(lock_);
      if (stopping_) return;
      for (const std::unique_ptr<Tap> &tap : taps_) {
        watched.push_back({tap->real, short((tap->realEnded ? 0 : POLLIN) | (tap->toReal.empty() ? 0 : POLLOUT)), 0});
        watched.push_back(
            {tap->probe, short((tap->pluginEnded ? 0 : POLLIN) | (tap->toPlugin.empty() ? 0 : POLLOUT)), 0});
      }
    }
    if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) return;
    char drained[64];
    while (::read(wake_[0], drained, sizeof drained) > 0) {
    }
    const std::lock_guard guard(lock_);
    if (stopping_) return;
    for (const std::unique_ptr<Tap> &tap : taps_) tap->pump(observer_);
    std::erase_if(taps_, [](const std::unique_ptr<Tap> &tap) { return tap->done(); });
  }
}

} // namespace norva::probe
