#include "editor/webview_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

extern char **environ;

namespace norva {

namespace {

constexpr size_t kReadPiece = 65536;
// A call to receive reads at most this much; the run loop calls again while
// more is waiting.
constexpr size_t kReadPerCall = size_t(4) << 20;
// Signals the program starts with at their default action, whatever the
// host did with them (an ignored signal would stay ignored across exec).
constexpr int kDefaultSignals[] = {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

std::string errorText(const char *what, int code) { return std::string(what) + ": " + std::strerror(code); }

struct Leftovers {
  std::mutex lock;
  std::vector<pid_t> pids;
};

Leftovers &leftovers() {
  static Leftovers left;
  return left;
}

// Waits up to waitMs for pid to end. True once it is reaped, or is no child
// of ours any more (a host that ignores SIGCHLD, or reaps every child
// itself, leaves nothing to reap).
bool waitForExit(pid_t pid, int waitMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid) return true;
    if (reaped < 0 && errno != EINTR) return true;
    if (reaped == 0 && Clock::now() >= deadline) return false;
    const timespec pause{0, 500000};
    ::nanosleep(&pause, nullptr);
  }
}

} // namespace

bool reapWebView(pid_t pid, int waitMs) {
  if (pid <= 0) return true;
  if (waitForExit(pid, waitMs)) return true;
  // Still our unreaped child: the pid cannot belong to anyone else.
  ::kill(pid, SIGKILL);
  if (waitForExit(pid, waitMs)) return true;
  Leftovers &left = leftovers();
  const std::lock_guard guard(left.lock);
  left.pids.push_back(pid);
  return false;
}

void reapLeftoverWebViews() {
  Leftovers &left = leftovers();
  const std::lock_guard guard(left.lock);
  std::erase_if(left.pids, [](pid_t pid) { return waitForExit(pid, 0); });
}

bool WebViewProcess::start(const std::string &program, std::string &error) {
  if (running() || socket_ >= 0) {
    error = "a web view program is running already";
    return false;
  }
  reapLeftoverWebViews();
  // The program's end starts blocking, as a program expects its
  // descriptors; the plug-in's end never blocks.
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0 ||
      ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK) != 0) {
    error = errorText("cannot make the web view's socket", errno);
    return false;
  }
  // dup2 onto the program's descriptor clears close-on-exec there; a socket
  // already on that number is moved first, as dup2 onto itself would not.
  if (ends[1] == kWebViewSocketFd) {
    const int moved = ::fcntl(ends[1], F_DUPFD_CLOEXEC, kWebViewSocketFd + 1);
    ::close(ends[1]);
    ends[1] = moved;
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  if (ends[1] >= 0) posix_spawn_file_actions_adddup2(&actions, ends[1], kWebViewSocketFd);
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int signal : kDefaultSignals) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char *argv[] = {const_cast<char *>(kWebViewProgramName), nullptr};
  pid_t pid = -1;
  const int spawned = ends[1] >= 0 ? ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ) : errno;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (ends[1] >= 0) ::close(ends[1]);
  if (spawned != 0) {
    ::close(ends[0]);
    error = errorText(("cannot start " + program).c_str(), spawned);
    return false;
  }
  pid_ = pid;
  socket_ = ends[0];
  broken_ = false;
  return true;
}

bool WebViewProcess::send(EditorFrameKind kind, std::string_view payload) {
  if (broken_ || socket_ < 0) return false;
  if (queue_.size() - queueSent_ + kEditorFrameHeaderBytes + payload.size() > kWebViewQueueLimit ||
      !appendEditorFrame(queue_, kind, payload)) {
    broken_ = true;
    return false;
  }
  return flush();
}

bool WebViewProcess::flush() {
  if (broken_ || socket_ < 0) return false;
  while (queueSent_ < queue_.size()) {
    const ssize_t sent = ::send(socket_, queue_.data() + queueSent_, queue_.size() - queueSent_, MSG_NOSIGNAL);
    if (sent > 0) {
      queueSent_ += size_t(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      broken_ = true;
      return false;
    }
  }
  if (queueSent_ == queue_.size()) {
    queue_.clear();
    queueSent_ = 0;
  } else if (queueSent_ > kReadPiece && queueSent_ * 2 > queue_.size()) {
    queue_.erase(0, queueSent_);
    queueSent_ = 0;
  }
  return true;
}

WebViewProcess::Received WebViewProcess::receive(const std::function<void(const EditorFrame &)> &onFrame,
                                                 std::string &error) {
  if (socket_ < 0) return Received::ended;
  char piece[kReadPiece];
  size_t total = 0;
  bool ended = false;
  while (total < kReadPerCall) {
    const ssize_t got = ::recv(socket_, piece, sizeof piece, 0);
    if (got > 0) {
      reader_.feed(piece, size_t(got));
      total += size_t(got);
    } else if (got == 0) {
      ended = true;
      break;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      break;
    } else {
      error = errorText("cannot read from the web view", errno);
      broken_ = true;
      return Received::broken;
    }
  }
  EditorFrame frame;
  for (;;) {
    const EditorFrameReader::Result status = reader_.next(frame);
    if (status == EditorFrameReader::Result::needMore) break;
    if (status == EditorFrameReader::Result::refused) {
      error = std::string("the web view sent ") + reader_.error();
      broken_ = true;
      return Received::broken;
    }
    onFrame(frame);
    if (socket_ < 0) return Received::ended;  // onFrame closed the connection
  }
  if (!ended) return Received::open;
  if (reader_.midFrame()) {
    error = "the web view's stream ended inside a frame";
    return Received::broken;
  }
  return Received::ended;
}

bool WebViewProcess::await(EditorFrameKind kind, int waitMs,
                           const std::function<void(const EditorFrame &)> &onOther) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  bool found = false;
  const auto onFrame = [&](const EditorFrame &frame) {
    if (found || frame.kind != kind) {
      onOther(frame);
    } else {
      found = true;
    }
  };
  for (;;) {
    std::string error;
    const Received received = receive(onFrame, error);
    if (found) return true;
    if (received != Received::open) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd readable{socket_, POLLIN, 0};
    if (::poll(&readable, 1, int(left)) < 0 && errno != EINTR) return false;
  }
}

void WebViewProcess::close() {
  if (socket_ >= 0) {
    if (!broken_) send(EditorFrameKind::close, {});
    ::shutdown(socket_, SHUT_RDWR);
    ::close(socket_);
    socket_ = -1;
  }
  if (pid_ > 0) reapWebView(pid_, kWebViewExitWaitMs);
  pid_ = -1;
  broken_ = false;
  queue_.clear();
  queueSent_ = 0;
  reader_ = EditorFrameReader();
}

} // namespace norva
