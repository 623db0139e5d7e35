// ComponentBase: what the processor and the controller share — the host
// context from initialize, the connection to the other half and messaging.
#pragma once

#include "vst3/abi/ipluginbase.h"
#include "vst3/abi/ivsthostapplication.h"
#include "vst3/abi/ivstmessage.h"
#include "vst3/sdk/fobject.h"

namespace Steinberg {
namespace Vst {

class ComponentBase : public FObject, public IPluginBase, public IConnectionPoint {
public:
  ComponentBase();
  ~ComponentBase() override;

  // The context given to initialize (null before initialize / after terminate).
  FUnknown *getHostContext() const { return hostContext; }
  // The connected peer; only notify() may be used on it.
  IConnectionPoint *getPeer() const { return peerConnection; }

  // A new message from the host's IHostApplication, or null when the host
  // context provides none. The caller releases it.
  IMessage *allocateMessage();
  // Delivers message to the peer's notify; kResultFalse without a peer.
  tresult sendMessage(IMessage *message);

  // IPluginBase: keeps a reference to the context; a second initialize
  // without terminate fails with kResultFalse.
  tresult PLUGIN_API initialize(FUnknown *context) override;
  // Releases the context and disconnects from a peer the host left connected.
  tresult PLUGIN_API terminate() override;

  // IConnectionPoint
  tresult PLUGIN_API connect(IConnectionPoint *other) override;
  tresult PLUGIN_API disconnect(IConnectionPoint *other) override;
  // Receiver of messages the subclass does not handle: kResultFalse.
  tresult PLUGIN_API notify(IMessage *message) override;

  OBJ_METHODS(ComponentBase, FObject)
  DEFINE_INTERFACES
  DEF_INTERFACE(IPluginBase)
  DEF_INTERFACE(IConnectionPoint)
  END_DEFINE_INTERFACES(FObject)
  REFCOUNT_METHODS(FObject)

protected:
  FUnknown *hostContext;
  IConnectionPoint *peerConnection;
};

} // namespace Vst
} // namespace Steinberg
