// The web view program as the plug-in runs it: a child process started with
// posix_spawn, holding one end of a socket pair on kWebViewSocketFd and
// nothing else of the host's that this code opened (every descriptor here is
// close-on-exec). Frames go out through a queue that never blocks the host;
// what comes back is read as far as it has arrived. Closing tells the
// program to close, closes the socket (the program also ends on its own when
// the socket closes) and reaps it within bounded waits, killing it if it
// does not end. The host may ignore SIGPIPE or not: sends never raise it.
//
// Used on the host's user-interface thread only.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

#include "editor/editor_wire.h"

namespace norva {

// How long close() waits for the program to end after the socket closes,
// and again after killing it.
inline constexpr int kWebViewExitWaitMs = 1000;
// Outbound bytes the queue holds for a program that does not read; past
// this the connection counts as broken.
inline constexpr size_t kWebViewQueueLimit = size_t(32) << 20;

class WebViewProcess {
public:
  WebViewProcess() = default;
  ~WebViewProcess() { close(); }
  WebViewProcess(const WebViewProcess &) = delete;
  WebViewProcess &operator=(const WebViewProcess &) = delete;

  // Starts program with the socket; false with error (one line) when the
  // socket or the process cannot be made, or one is running already.
  bool start(const std::string &program, std::string &error);
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The plug-in's end of the socket, or -1.
  int socket() const { return socket_; }

  // Queues a frame and writes what the socket takes now; false once the
  // connection is broken (the frame is dropped).
  bool send(EditorFrameKind kind, std::string_view payload);
  // Writes what the queue holds as far as the socket takes it.
  bool flush();

  enum class Received { open, ended, broken };
  // Reads what has arrived and calls onFrame for each whole frame. ended:
  // the program closed its end between frames; broken: a read failed, the
  // stream broke the framing (error says how) or ended inside a frame.
  Received receive(const std::function<void(const EditorFrame &)> &onFrame, std::string &error);

  // Waits up to waitMs for a frame of kind, handing every other frame that
  // comes first to onOther; false when it did not come in time or the
  // connection ended or broke.
  bool await(EditorFrameKind kind, int waitMs, const std::function<void(const EditorFrame &)> &onOther);

  // Sends close, closes the socket and reaps the program (see above). Safe
  // to call again and when nothing runs.
  void close();

private:
  bool broken_ = false;
  pid_t pid_ = -1;
  int socket_ = -1;
  std::string queue_;
  size_t queueSent_ = 0;
  EditorFrameReader reader_;
};

// Reaps child pid: waits up to waitMs for it to end, then kills it and waits
// as long again. True when it was reaped (or is no child of ours any more);
// false leaves it to the next call of reapLeftoverWebViews.
bool reapWebView(pid_t pid, int waitMs);
// Tries once more, without waiting, every child a reap gave up on.
void reapLeftoverWebViews();

} // namespace norva
