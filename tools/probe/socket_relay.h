// A tap on sockets a plug-in hands the probe's run loop: the probe puts a
// socket pair of its own between the plug-in's descriptor and the socket's
// other end (the plug-in's descriptor number then names the probe's end) and
// a thread of its own relays the bytes both ways, reading the editor's
// frames as they pass. That is how the probe sees the page's messages and
// the controller's answers to them without anything in the plug-in written
// for it. The relay runs on its own thread so that it goes on while the
// plug-in holds the probe's thread (an editor that waits for its program
// while it is removed), and it keeps a tap until both ends have closed,
// however often the descriptor is registered and unregistered meanwhile.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "editor/editor_wire.h"

namespace norva::probe {

// Which way a tapped frame went.
enum class TapDirection { toPlugin, fromPlugin };

class SocketRelay {
public:
  // Called on the relay's thread with each whole frame it passes on.
  using Observer = std::function<void(TapDirection, const EditorFrame &)>;

  explicit SocketRelay(Observer observer);
  ~SocketRelay();
  SocketRelay(const SocketRelay &) = delete;
  SocketRelay &operator=(const SocketRelay &) = delete;

  // Taps the socket fd names, unless it is tapped already; false (fd
  // untouched) for a descriptor that is no socket or a tap that cannot be
  // made.
  bool tap(int fd);

private:
  struct Tap;
  void run();

  Observer observer_;
  std::mutex lock_;
  std::vector<std::unique_ptr<Tap>> taps_;
  int wake_[2] = {-1, -1};
  bool stopping_ = false;
  std::thread thread_;
};

} // namespace norva::probe
