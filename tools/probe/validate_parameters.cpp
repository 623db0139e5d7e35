// norva-probe validate: the parameters as the controller describes and converts them.
#include "validate_checks.h"

namespace norva::probe::validation {

// --- parameters -------------------------------------------------------------------------

namespace {

int32 expectedStepCount(const norva_param_desc &row) {
  if (row.kind == kParamKindList) return row.labelCount >= 2 ? row.labelCount - 1 : 1;
  if (row.kind == kParamKindToggle) return 1;
  return 0;
}

} // namespace

Reason parameters(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  const int32 count = controller->getParameterCount();
  if (count != static_cast<int32>(kParamCount))
    return std::to_string(count) + " parameters (expected " + std::to_string(kParamCount) + ")";
  for (int32 i = 0; i < count; ++i) {
    const norva_param_desc &row = NORVA_PARAMS[i];
    const std::string at = "parameter " + std::to_string(i) + ": ";
    ParameterInfo info{};
    if (controller->getParameterInfo(i, info) != kResultOk) return at + "getParameterInfo failed";
    if (info.id != static_cast<ParamID>(i)) return at + "id " + std::to_string(info.id);
    if (toAscii(info.title, 128) != row.title) return at + "title " + quoted(toAscii(info.title, 128));
    if (toAscii(info.shortTitle, 128) != row.title)
      return at + "short title " + quoted(toAscii(info.shortTitle, 128));
    if (toAscii(info.units, 128) != row.units) return at + "units " + quoted(toAscii(info.units, 128));
    if (info.stepCount != expectedStepCount(row)) return at + "step count " + std::to_string(info.stepCount);
    const int32 flags = ParameterInfo::kCanAutomate | (row.id == kBypassParamId ? ParameterInfo::kIsBypass : 0);
    if (info.flags != flags) return at + "flags " + std::to_string(info.flags);
    if (info.unitId != 0) return at + "unit " + std::to_string(info.unitId);
    if (info.defaultNormalizedValue != row.defaultNormalized)
      return at + "default " + number(info.defaultNormalizedValue) + " (expected " +
             number(row.defaultNormalized) + ")";
    if (controller->getParamNormalized(info.id) != row.defaultNormalized)
      return at + "starts at " + number(controller->getParamNormalized(info.id));
  }
  ParameterInfo info{};
  for (int32 index : {-1, count, 1000}) {
    if (controller->getParameterInfo(index, info) == kResultOk)
      return "parameter index " + std::to_string(index) + " was answered";
  }
  if (controller->setParamNormalized(kParamCount, 0.5) == kResultOk)
    return "parameter id " + std::to_string(kParamCount) + " was set";
  return kPass;
}

Reason parameterConversions(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  for (uint32 id = 0; id < kParamCount; ++id) {
    const norva_param_desc &row = NORVA_PARAMS[id];
    const std::string at = std::string(row.key) + ": ";
    const double span = row.max - row.min;
    for (double plain : {row.min, row.max, row.defaultPlain, row.min - span, row.max + span,
                         row.min + span * 0.37, row.min + span * 0.5}) {
      const double got = controller->plainParamToNormalized(id, plain);
      const double want = norva_param_normalize(&row, plain);
      if (got != want)
        return at + "plain " + number(plain) + " normalised to " + number(got) + " (expected " +
               number(want) + ")";
    }
    for (double normalized : {0.0, 0.25, 0.5, 0.51, 0.52, 1.0, -0.2, 1.7, row.defaultNormalized}) {
      const double got = controller->normalizedParamToPlain(id, normalized);
      const double want = paramToPlain(row, normalized);
      if (got != want)
        return at + "normalised " + number(normalized) + " gave plain " + number(got) +
               " (expected " + number(want) + ")";
    }
  }
  return kPass;
}

Reason parameterTexts(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  for (uint32 id = 0; id < kParamCount; ++id) {
    const norva_param_desc &row = NORVA_PARAMS[id];
    for (double normalized : {0.0, 0.5, 1.0, row.defaultNormalized}) {
      String128 text = {};
      if (controller->getParamStringByValue(id, normalized, text) != kResultOk)
        return std::string(row.key) + ": no text for " + number(normalized);
      char expected[129] = {};
      paramToText(row, normalized, expected, sizeof expected);
      if (toAscii(text, 128) != expected)
        return std::string(row.key) + ": " + number(normalized) + " reads " +
               quoted(toAscii(text, 128)) + " (expected " + quoted(expected) + ")";
    }
  }
  std::u16string text = u"140 BPM";
  ParamValue value = -1;
  if (controller->getParamValueByString(kParamBpm, text.data(), value) != kResultOk ||
      value != norva_param_normalize(&NORVA_PARAMS[kParamBpm], 140))
    return "\"140 BPM\" for tindrel.bpm gave " + number(value);
  text = u"64.5xyz";
  if (controller->getParamValueByString(kParamFirstStepVelocity, text.data(), value) != kResultOk ||
      value != 64.5 / 127)
    return "\"64.5xyz\" for tindrel.g1 gave " + number(value);
  text = u"abc";
  value = 0.25;
  if (controller->getParamValueByString(kParamBpm, text.data(), value) == kResultOk || value != 0.25)
    return "\"abc\" was read as a number";
  return kPass;
}

} // namespace norva::probe::validation
