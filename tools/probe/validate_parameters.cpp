// norva-probe validate: the parameters as the controller describes and converts them.
#include "validate_checks.h"

#include <algorithm>
#include <cmath>

#include "vst3/abi/ivstunits.h"

namespace norva::probe::validation {

// --- parameters -------------------------------------------------------------------------

namespace {

std::string hostText(IEditController *controller, ParamID id, ParamValue normalized) {
  String128 text = {};
  if (controller->getParamStringByValue(id, normalized, text) != kResultOk) return "(no text)";
  return toAscii(text, 128);
}

// The plain value a host gets back for its text, or NaN when it does not read.
double plainOfText(IEditController *controller, ParamID id, const std::string &text) {
  std::u16string wide(text.begin(), text.end());
  ParamValue value = -1;
  if (controller->getParamValueByString(id, wide.data(), value) != kResultOk) return std::nan("");
  return controller->normalizedParamToPlain(id, value);
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
    if (info.stepCount != paramStepCount(row)) return at + "step count " + std::to_string(info.stepCount);
    const int32 flags = ParameterInfo::kCanAutomate | (paramIsList(row) ? ParameterInfo::kIsList : 0) |
                        (row.id == kBypassParamId ? ParameterInfo::kIsBypass : 0);
    if (info.flags != flags) return at + "flags " + std::to_string(info.flags);
    if (info.unitId != paramUnitId(row)) return at + "unit " + std::to_string(info.unitId);
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
  // Every value of a stepped parameter reads back from its own text.
  for (uint32 id = 0; id < kParamCount; ++id) {
    const int32 steps = paramStepCount(NORVA_PARAMS[id]);
    for (int32 k = 0; k <= steps && steps > 0; ++k) {
      const double plain = controller->normalizedParamToPlain(id, double(k) / steps);
      const std::string shown = hostText(controller, id, double(k) / steps);
      if (plainOfText(controller, id, shown) != plain)
        return std::string(NORVA_PARAMS[id].key) + ": " + quoted(shown) + " does not read back as " + number(plain);
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

Reason units(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  IUnitInfo *unitInfo = nullptr;
  if (controller->queryInterface(IUnitInfo::iid, reinterpret_cast<void **>(&unitInfo)) != kResultOk ||
      unitInfo == nullptr)
    return "the controller has no IUnitInfo";
  IPtr<IUnitInfo> held = owned(unitInfo);
  // Unit id -> name and parent.
  std::map<UnitID, std::pair<std::string, UnitID>> found;
  const int32 count = unitInfo->getUnitCount();
  for (int32 i = 0; i < count; ++i) {
    UnitInfo info{};
    if (unitInfo->getUnitInfo(i, info) != kResultOk) return "unit " + std::to_string(i) + ": getUnitInfo failed";
    if (!found.emplace(info.id, std::pair{toAscii(info.name, 128), info.parentUnitId}).second)
      return "unit id " + std::to_string(info.id) + " twice";
    if (info.programListId != kNoProgramListId) return "unit " + std::to_string(info.id) + " has a program list";
  }
  UnitInfo info{};
  for (int32 index : {-1, count}) {
    if (unitInfo->getUnitInfo(index, info) == kResultOk) return "unit index " + std::to_string(index) + " was answered";
  }
  const auto root = found.find(kRootUnitId);
  if (root == found.end() || root->second.second != kNoParentUnitId) return "no root unit 0 without a parent";
  for (const auto &[id, unit] : found) {
    if (id == kRootUnitId) continue;
    if (unit.first.empty()) return "unit " + std::to_string(id) + " has no name";
    if (found.count(unit.second) == 0 || unit.second == id)
      return "unit " + std::to_string(id) + ": no parent unit " + std::to_string(unit.second);
  }
  for (int32 i = 0; i < controller->getParameterCount(); ++i) {
    ParameterInfo parameter{};
    if (controller->getParameterInfo(i, parameter) != kResultOk) return "parameter " + std::to_string(i) + ": no info";
    const auto unit = found.find(parameter.unitId);
    if (unit == found.end())
      return "parameter " + std::to_string(i) + ": no unit " + std::to_string(parameter.unitId);
    if (i < int32(kParamCount) && unit->second.first != NORVA_PARAMS[i].group)
      return "parameter " + std::to_string(i) + " in unit " + quoted(unit->second.first) + ", not " +
             quoted(NORVA_PARAMS[i].group);
  }
  return kPass;
}

// A host that quantises a stepped parameter holds its value in 32 bits and
// sends step k as k / steps. Every step must be one plain value of the row,
// in order, and the normalised value of that plain value, through 32 bits and
// the host's quantisation (min(steps, value * (steps + 1))), the same step.
Reason parameterSteps(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  for (uint32 id = 0; id < kParamCount; ++id) {
    const norva_param_desc &row = NORVA_PARAMS[id];
    ParameterInfo info{};
    if (controller->getParameterInfo(int32(id), info) != kResultOk) return std::string(row.key) + ": no info";
    const int32 steps = info.stepCount;
    for (int32 k = 0; k <= steps && steps > 0; ++k) {
      const std::string at = std::string(row.key) + " step " + std::to_string(k) + ": ";
      const double plain = controller->normalizedParamToPlain(id, double(k) / steps);
      if (plain != row.min + k * (row.max - row.min) / steps) return at + "plain " + number(plain);
      const float held = float(controller->plainParamToNormalized(id, plain));
      const int32 back = std::min(steps, int32(double(held) * (steps + 1)));
      if (back != k) return at + "comes back as step " + std::to_string(back);
      if (controller->normalizedParamToPlain(id, held) != plain)
        return at + "comes back as plain " + number(controller->normalizedParamToPlain(id, held));
    }
  }
  return kPass;
}

} // namespace norva::probe::validation
