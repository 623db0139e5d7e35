#include "vst3/sdk/vstcomponentbase.h"

#include "vst3/sdk/hostmessage.h"

namespace Steinberg {
namespace Vst {

ComponentBase::ComponentBase() : hostContext(nullptr), peerConnection(nullptr) {}

ComponentBase::~ComponentBase() {
  // A host that never called terminate still gets its references back.
  SafeRelease(peerConnection);
  SafeRelease(hostContext);
}

tresult PLUGIN_API ComponentBase::initialize(FUnknown *context) {
  if (hostContext)
    return kResultFalse;
  hostContext = context;
  if (hostContext)
    hostContext->addRef();
  return kResultOk;
}

tresult PLUGIN_API ComponentBase::terminate() {
  SafeRelease(hostContext);
  if (peerConnection) {
    IConnectionPoint *peer = peerConnection;
    peerConnection = nullptr;
    peer->disconnect(this);
    peer->release();
  }
  return kResultOk;
}

tresult PLUGIN_API ComponentBase::connect(IConnectionPoint *other) {
  if (!other)
    return kInvalidArgument;
  if (peerConnection)
    return kResultFalse;
  peerConnection = other;
  peerConnection->addRef();
  return kResultOk;
}

tresult PLUGIN_API ComponentBase::disconnect(IConnectionPoint *other) {
  if (!peerConnection || other != peerConnection)
    return kResultFalse;
  SafeRelease(peerConnection);
  return kResultOk;
}

tresult PLUGIN_API ComponentBase::notify(IMessage *message) {
  return message ? kResultFalse : kInvalidArgument;
}

IMessage *ComponentBase::allocateMessage() {
  FUnknownPtr<IHostApplication> host(hostContext);
  return host ? Vst::allocateMessage(host) : nullptr;
}

tresult ComponentBase::sendMessage(IMessage *message) {
  if (!message || !peerConnection)
    return kResultFalse;
  return peerConnection->notify(message);
}

} // namespace Vst
} // namespace Steinberg
