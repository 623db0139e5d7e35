// The checks of `norva-probe validate`, one function each, grouped by the
// file that holds them. validate.cpp lists them in one table, in the order
// they run.
#pragma once

#include "validate_support.h"

namespace norva::probe::validation {

// validate_factory.cpp: the factory, the class records, the interfaces.
Reason moduleEntryCounted(Context &c);
Reason factorySingleton(Context &c);
Reason factoryInfo(Context &c);
Reason factoryInterfaces(Context &c);
Reason processorClassRecord(Context &c);
Reason controllerClassRecord(Context &c);
Reason classRecordsAgree(Context &c);
Reason classIndexRange(Context &c);
Reason createRefusals(Context &c);
Reason processorInterfaces(Context &c);
Reason controllerInterfaces(Context &c);
Reason controllerMidiMapping(Context &c);
Reason controllerClassId(Context &c);
Reason withoutHostContext(Context &c);

// validate_component.cpp: buses and processing set-up.
Reason buses(Context &c);
Reason sampleSizes(Context &c);
Reason busArrangements(Context &c);
Reason latency(Context &c);
Reason setupRange(Context &c);
Reason setupLimits(Context &c);

// validate_parameters.cpp
Reason parameters(Context &c);
Reason parameterConversions(Context &c);
Reason parameterTexts(Context &c);
Reason units(Context &c);
Reason parameterSteps(Context &c);

// validate_processing.cpp
Reason emptyBlocks(Context &c);
Reason defaultPattern(Context &c);
Reason parameterChangesApply(Context &c);
Reason unknownParameterIds(Context &c);
Reason bypassParameter(Context &c);
Reason crowdedBlock(Context &c);
Reason refusingOutputList(Context &c);
Reason velocityZeroNoteOn(Context &c);
Reason parameterBeforeNote(Context &c);
Reason process64(Context &c);
Reason separateInstances(Context &c);

// validate_state.cpp
Reason stateBetweenInstances(Context &c);
Reason stateIdempotent(Context &c);
Reason stateInPieces(Context &c, int32_t piece);
Reason emptyAndNullStreams(Context &c);
Reason badDocuments(Context &c);
Reason tempoOnlyDocument(Context &c);
Reason controllerOwnState(Context &c);

// validate_lifecycle.cpp: messages, activation, instances, release.
Reason messagesToProcessor(Context &c);
Reason messagesToController(Context &c);
Reason activationCycles(Context &c);
Reason manyInstances(Context &c);
Reason instancesFreed(Context &c);
Reason releaseOrders(Context &c);
Reason hostObjectsReleased(Context &c);

} // namespace norva::probe::validation
