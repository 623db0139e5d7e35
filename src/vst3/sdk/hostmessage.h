// Messages made by the host's IHostApplication.
#pragma once

#include <cstring>

#include "vst3/abi/ivsthostapplication.h"

namespace Steinberg {
namespace Vst {

// A new message from the host, or null; the caller releases it.
inline IMessage *allocateMessage(IHostApplication *host) {
  if (!host)
    return nullptr;
  TUID messageIid;
  std::memcpy(messageIid, IMessage::iid.toTUID(), sizeof(TUID));
  IMessage *message = nullptr;
  if (host->createInstance(messageIid, messageIid, reinterpret_cast<void **>(&message)) ==
      kResultOk)
    return message;
  return nullptr;
}

} // namespace Vst
} // namespace Steinberg
