// BridgeHost: the controller as the editor's web view (and a test harness in
// its place) sees it. Texts travel both ways as whole JSON objects: inbound
// through handleBridgeMessage, outbound through the installed sink. All of
// it runs on the thread that owns the controller.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace norva {

// Takes one complete outbound JSON text.
using BridgeSink = std::function<void(const std::string &)>;

class BridgeHost {
public:
  // One inbound editor message (any bytes; a malformed one is reported and
  // dropped).
  virtual void handleBridgeMessage(const char *json, size_t length) = 0;
  // Replaces the sink; an empty one removes it. While there is none, every
  // outbound text is dropped.
  virtual void setBridgeSink(BridgeSink sink) = 0;
  virtual void onEditorOpened() = 0;
  virtual void onEditorClosed() = 0;
  // reason may be null.
  virtual void onEditorError(const char *reason) = 0;

protected:
  ~BridgeHost() = default;
};

} // namespace norva
