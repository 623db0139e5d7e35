// Messages between the two halves of a plug-in and the connection points
// that carry them.
#pragma once

#include "vst3/abi/ivstattributes.h"

namespace Steinberg {
namespace Vst {

// Created by the host (IHostApplication::createInstance).
class IMessage : public FUnknown {
public:
  virtual FIDString PLUGIN_API getMessageID() = 0;
  virtual void PLUGIN_API setMessageID(FIDString id) = 0;
  virtual IAttributeList *PLUGIN_API getAttributes() = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IMessage, 0x936F033B, 0xC6C047DB, 0xBB0882F8, 0x13C1E613)

// The host may place a proxy between the two points.
class IConnectionPoint : public FUnknown {
public:
  virtual tresult PLUGIN_API connect(IConnectionPoint *other) = 0;
  virtual tresult PLUGIN_API disconnect(IConnectionPoint *other) = 0;
  virtual tresult PLUGIN_API notify(IMessage *message) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IConnectionPoint, 0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1)

} // namespace Vst
} // namespace Steinberg
