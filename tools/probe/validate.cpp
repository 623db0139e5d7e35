#include "validate.h"

#include <memory>

#include "validate_checks.h"

namespace norva::probe {

namespace {

using namespace validation;

// Where a check belongs; each area's checks live in validate_<area>.cpp.
enum class Area { Factory, Component, Parameters, Processing, State, Lifecycle };

struct Check {
  Area area;
  const char *name;
  Reason (*run)(Context &);
};

// Every check, in the order it runs and prints.
const Check kChecks[] = {
    {Area::Factory, "module entry is reference counted", moduleEntryCounted},
    {Area::Factory, "factory is one object", factorySingleton},
    {Area::Factory, "factory info", factoryInfo},
    {Area::Factory, "factory interfaces", factoryInterfaces},
    {Area::Factory, "processor class record", processorClassRecord},
    {Area::Factory, "controller class record", controllerClassRecord},
    {Area::Factory, "class records agree", classRecordsAgree},
    {Area::Factory, "class index out of range", classIndexRange},
    {Area::Factory, "creation refusals", createRefusals},
    {Area::Factory, "processor interfaces and reference counts", processorInterfaces},
    {Area::Factory, "controller interfaces and reference counts", controllerInterfaces},
    {Area::Factory, "controller MIDI mapping", controllerMidiMapping},
    {Area::Factory, "controller class id", controllerClassId},
    {Area::Factory, "no host context", withoutHostContext},
    {Area::Component, "buses", buses},
    {Area::Parameters, "parameters", parameters},
    {Area::Parameters, "parameter conversions", parameterConversions},
    {Area::Parameters, "parameter texts", parameterTexts},
    {Area::Parameters, "parameter steps", parameterSteps},
    {Area::Parameters, "units", units},
    {Area::Component, "sample sizes", sampleSizes},
    {Area::Component, "bus arrangements", busArrangements},
    {Area::Component, "latency", latency},
    {Area::Component, "set-up at several rates and block sizes", setupRange},
    {Area::Component, "set-up limits", setupLimits},
    {Area::Processing, "empty blocks", emptyBlocks},
    {Area::Processing, "default pattern", defaultPattern},
    {Area::Processing, "parameter changes", parameterChangesApply},
    {Area::Processing, "parameter ids above the catalogue", unknownParameterIds},
    {Area::Processing, "bypass parameter", bypassParameter},
    {Area::Processing, "crowded block", crowdedBlock},
    {Area::Processing, "refusing output list", refusingOutputList},
    {Area::Processing, "note-on with velocity 0", velocityZeroNoteOn},
    {Area::Processing, "parameter change before note", parameterBeforeNote},
    {Area::Processing, "64-bit process", process64},
    {Area::Processing, "separate instances", separateInstances},
    {Area::State, "state between instances", stateBetweenInstances},
    {Area::State, "state set and saved again", stateIdempotent},
    {Area::State, "state in 7-byte reads", [](Context &c) { return stateInPieces(c, 7); }},
    {Area::State, "state in 4096-byte reads", [](Context &c) { return stateInPieces(c, 4096); }},
    {Area::State, "empty, null and failing streams", emptyAndNullStreams},
    {Area::State, "bad state documents", badDocuments},
    {Area::State, "tempo-only state document", tempoOnlyDocument},
    {Area::State, "controller state", controllerOwnState},
    {Area::Lifecycle, "messages to the processor", messagesToProcessor},
    {Area::Lifecycle, "messages to the controller", messagesToController},
    {Area::Lifecycle, "activation cycles", activationCycles},
    {Area::Lifecycle, "33 instances at once", manyInstances},
    {Area::Lifecycle, "instances one after another", instancesFreed},
    {Area::Lifecycle, "release orders", releaseOrders},
    {Area::Lifecycle, "host objects released", hostObjectsReleased},
};

} // namespace

bool validatePlugin(const std::string &bundlePath, std::ostream &out) {
  std::string error;
  std::unique_ptr<Vst3Module> module = Vst3Module::load(bundlePath, error);
  if (module == nullptr) {
    out << "FAIL module loads: " << error << "\n0 passed, 1 failed\n";
    return false;
  }
  out << "PASS module loads\n";
  int passed = 1;
  int failed = 0;
  {
    Context context{*module, owned(new HostApplication())};
    for (const Check &check : kChecks) {
      const Reason reason = check.run(context);
      if (reason.empty()) {
        out << "PASS " << check.name << '\n';
        ++passed;
      } else {
        out << "FAIL " << check.name << ": " << reason << '\n';
        ++failed;
      }
      out.flush();
    }
  }
  module.reset();
  out << passed << " passed, " << failed << " failed\n";
  return failed == 0;
}

} // namespace norva::probe
