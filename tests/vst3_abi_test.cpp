// The VST 3 layer against the published binary interface (identifiers,
// record layouts on x86-64 Linux, vtable slot order, result codes) and the
// behaviour of the SDK-role base classes the plug-in builds on.
#include "vst3/fobject.h"
#include "vst3/fstrdefs.h"
#include "vst3/ibstream.h"
#include "vst3/iplugview.h"
#include "vst3/ivstaudioprocessor.h"
#include "vst3/ivstevents.h"
#include "vst3/ivsthostapplication.h"
#include "vst3/ivstmidicontrollers.h"
#include "vst3/ivstparameterchanges.h"
#include "vst3/pluginfactory.h"
#include "vst3/pluginview.h"
#include "vst3/ustring.h"
#include "vst3/vstaudioeffect.h"
#include "vst3/vsteditcontroller.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;

std::string hex(const char *bytes, size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    out += digits[byte >> 4];
    out += digits[byte & 15];
  }
  return out;
}

std::string ascii(const char16 *text) {
  std::string out;
  for (; *text; ++text)
    out += static_cast<char>(*text);
  return out;
}

// ---------------------------------------------------------------------------
// Identifiers

TEST(Vst3Iid, EveryInterfaceHasItsPublishedBytes) {
  struct Row {
    const char *name;
    const FUID &iid;
    const char *bytes;
  };
  const Row rows[] = {
      {"FUnknown", FUnknown::iid, "0000000000000000C000000000000046"},
      {"IPluginBase", IPluginBase::iid, "22888DDB156E45AE8358B34808190625"},
      {"IPluginFactory", IPluginFactory::iid, "7A4D811C52114A1FAED9D2EE0B43BF9F"},
      {"IPluginFactory2", IPluginFactory2::iid, "0007B650F24B4C0BA464EDB9F00B2ABB"},
      {"IPluginFactory3", IPluginFactory3::iid, "4555A2ABC1234E579B12291036878931"},
      {"IBStream", IBStream::iid, "C3BF6EA2309947529B6BF9901EE33E9B"},
      {"ISizeableStream", ISizeableStream::iid, "04F9549EE02F4E6E87E86A8747F4E17F"},
      {"IComponent", IComponent::iid, "E831FF31F2D54301928EBBEE25697802"},
      {"IAudioProcessor", IAudioProcessor::iid, "42043F99B7DA453CA569E79D9AAEC33D"},
      {"IProcessContextRequirements", IProcessContextRequirements::iid,
       "2A654303EF764E3D95B5FE83730EF6D0"},
      {"IEventList", IEventList::iid, "3A2C4214346349FEB2C4F397B9695A44"},
      {"IParamValueQueue", IParamValueQueue::iid, "01263A18ED074F6F98C9D3564686F9BA"},
      {"IParameterChanges", IParameterChanges::iid, "A47796630BB64A56B44384A8466FEB9D"},
      {"IAttributeList", IAttributeList::iid, "1E5F0AEBCC7F4533A254401138AD5EE4"},
      {"IMessage", IMessage::iid, "936F033BC6C047DBBB0882F813C1E613"},
      {"IConnectionPoint", IConnectionPoint::iid, "70A4156F6E6E4026989148BFAA60D8D1"},
      {"IHostApplication", IHostApplication::iid, "58E595CCDB2D49698B6AAF8C36A664E5"},
      {"IComponentHandler", IComponentHandler::iid, "93A0BEA30BD045DB8E890B0CC1E46AC6"},
      {"IComponentHandler2", IComponentHandler2::iid, "F040B4B3A36045ECABCDC045B4D5A2CC"},
      {"IEditController", IEditController::iid, "DCD7BBE37742448DA874AACC979C759E"},
      {"IEditController2", IEditController2::iid, "7F4EFE59F3204967AC27A3AEAFB63038"},
      {"IMidiMapping", IMidiMapping::iid, "DF0FF9F749B74669B63AB7327ADBF5E5"},
      {"IUnitHandler", IUnitHandler::iid, "4B5147F84654486B8DAB30BA163A3C56"},
      {"IUnitInfo", IUnitInfo::iid, "3D4BD6B5913A4FD2A886E768A5EB92C1"},
      {"IPlugView", IPlugView::iid, "5BC32507D06049EAA6151B522B755B29"},
      {"IPlugFrame", IPlugFrame::iid, "367FAF01AFA946938D4DA2A0ED0882A3"},
      {"Linux::IEventHandler", Linux::IEventHandler::iid, "561E65C913A0496F813A2C35654D7983"},
      {"Linux::ITimerHandler", Linux::ITimerHandler::iid, "10BDD94F41424774821FAD8FECA72CA9"},
      {"Linux::IRunLoop", Linux::IRunLoop::iid, "18C3536697764F1A9C5B83857A871389"},
  };
  for (const Row &row : rows)
    EXPECT_EQ(hex(row.iid.toTUID(), 16), row.bytes) << row.name;
  // The raw constant and the member agree.
  EXPECT_EQ(hex(IComponent_iid, 16), hex(IComponent::iid, 16));
}

TEST(Vst3Iid, WordsAreStoredMostSignificantByteFirst) {
  const FUID controller(0x67EE543A, 0x68EE55CD, 0x65EE5114, 0x66EE52A7);
  EXPECT_EQ(hex(controller, 16), "67EE543A68EE55CD65EE511466EE52A7");
  const TUID inlined = INLINE_UID(0x643D3396, 0x653D3529, 0x623D3070, 0x633D3203);
  EXPECT_EQ(hex(inlined, 16), "643D3396653D3529623D3070633D3203");
  EXPECT_EQ(controller.getLong1(), 0x67EE543Au);
  EXPECT_EQ(controller.getLong4(), 0x66EE52A7u);
  EXPECT_TRUE(controller.isValid());
  EXPECT_FALSE(FUID().isValid());
}

TEST(Vst3Iid, TextFormRoundTripsAndRejectsMalformedText) {
  const FUID uid(0x00C0FFEE, 0xDEADBEEF, 0x01234567, 0x89ABCDEF);
  FUID::String text;
  uid.toString(text);
  EXPECT_STREQ(text, "00C0FFEEDEADBEEF0123456789ABCDEF");
  FUID back;
  ASSERT_TRUE(back.fromString("00c0ffeedeadbeef0123456789abcdef"));
  EXPECT_EQ(back, uid);
  FUID untouched = uid;
  EXPECT_FALSE(untouched.fromString("00C0FFEEDEADBEEF0123456789ABCDE"));   // 31 digits
  EXPECT_FALSE(untouched.fromString("00C0FFEEDEADBEEF0123456789ABCDEF0")); // 33 digits
  EXPECT_FALSE(untouched.fromString("00C0FFEEDEADBEEF0123456789ABCDEG"));
  EXPECT_EQ(untouched, uid);
}

// ---------------------------------------------------------------------------
// Result codes and published constants

TEST(Vst3Constants, ResultCodesAreTheNonComValues) {
  EXPECT_EQ(kNoInterface, -1);
  EXPECT_EQ(kResultOk, 0);
  EXPECT_EQ(kResultTrue, 0);
  EXPECT_EQ(kResultFalse, 1);
  EXPECT_EQ(kInvalidArgument, 2);
  EXPECT_EQ(kNotImplemented, 3);
  EXPECT_EQ(kInternalError, 4);
  EXPECT_EQ(kNotInitialized, 5);
  EXPECT_EQ(kOutOfMemory, 6);
}

TEST(Vst3Constants, FlagAndEnumerationValues) {
  EXPECT_EQ(PFactoryInfo::kUnicode, 0x10);
  EXPECT_EQ(kDefaultFactoryFlags, 0x10);
  EXPECT_EQ(PClassInfo::kManyInstances, 0x7FFFFFFF);
  EXPECT_EQ(kDistributable, 1);
  EXPECT_EQ(kSample32, 0);
  EXPECT_EQ(kSample64, 1);
  EXPECT_EQ(kRealtime, 0);
  EXPECT_EQ(kPrefetch, 1);
  EXPECT_EQ(kOffline, 2);
  EXPECT_EQ(kAudio, 0);
  EXPECT_EQ(kEvent, 1);
  EXPECT_EQ(kInput, 0);
  EXPECT_EQ(kOutput, 1);
  EXPECT_EQ(BusInfo::kDefaultActive, 1);
  EXPECT_EQ(Event::kNoteOnEvent, 0);
  EXPECT_EQ(Event::kNoteOffEvent, 1);
  EXPECT_EQ(Event::kLegacyMIDICCOutEvent, 65535);
  EXPECT_EQ(Event::kIsLive, 1);
  EXPECT_EQ(ParameterInfo::kCanAutomate, 1);
  EXPECT_EQ(kMidiCCAssignmentChanged, 32);
  EXPECT_EQ(kRootUnitId, 0);
  EXPECT_EQ(kNoParentUnitId, -1);
  EXPECT_EQ(kNoProgramListId, -1);
  EXPECT_EQ(SpeakerArr::kStereo, 3u);
  EXPECT_EQ(SpeakerArr::kMono, 1u << 19);
  EXPECT_EQ(kCtrlAllNotesOff, 123);
  EXPECT_EQ(kPitchBend, 129);
  EXPECT_EQ(IProcessContextRequirements::kNeedTransportState, 1 << 10);
  EXPECT_STREQ(kVstAudioEffectClass, "Audio Module Class");
  EXPECT_STREQ(kVstComponentControllerClass, "Component Controller Class");
  EXPECT_STREQ(kVstVersionString, "VST 3.8.1");
}

// ---------------------------------------------------------------------------
// Record layouts (x86-64 Linux; the same numbers hold on 64-bit macOS)

#define EXPECT_AT(Type, field, offset) EXPECT_EQ(offsetof(Type, field), size_t(offset)) << #field

template <class T> void expectPlainRecord(size_t size, size_t alignment) {
  static_assert(std::is_standard_layout_v<T> && std::is_trivially_copyable_v<T>,
                "interface records must stay plain");
  EXPECT_EQ(sizeof(T), size);
  EXPECT_EQ(alignof(T), alignment);
}

TEST(Vst3Layout, BasicTypes) {
  EXPECT_EQ(sizeof(TUID), 16u);
  EXPECT_EQ(sizeof(String128), 256u);
  EXPECT_EQ(sizeof(TBool), 1u);
  EXPECT_EQ(sizeof(tresult), 4u);
  EXPECT_EQ(sizeof(ParamID), 4u);
  EXPECT_EQ(sizeof(ParamValue), 8u);
  EXPECT_EQ(sizeof(SpeakerArrangement), 8u);
  EXPECT_EQ(sizeof(TSamples), 8u);
}

TEST(Vst3Layout, FactoryRecords) {
  expectPlainRecord<PFactoryInfo>(452, 4);
  EXPECT_AT(PFactoryInfo, vendor, 0);
  EXPECT_AT(PFactoryInfo, url, 64);
  EXPECT_AT(PFactoryInfo, email, 320);
  EXPECT_AT(PFactoryInfo, flags, 448);

  expectPlainRecord<PClassInfo>(116, 4);
  EXPECT_AT(PClassInfo, cid, 0);
  EXPECT_AT(PClassInfo, cardinality, 16);
  EXPECT_AT(PClassInfo, category, 20);
  EXPECT_AT(PClassInfo, name, 52);

  expectPlainRecord<PClassInfo2>(440, 4);
  EXPECT_AT(PClassInfo2, cardinality, 16);
  EXPECT_AT(PClassInfo2, category, 20);
  EXPECT_AT(PClassInfo2, name, 52);
  EXPECT_AT(PClassInfo2, classFlags, 116);
  EXPECT_AT(PClassInfo2, subCategories, 120);
  EXPECT_AT(PClassInfo2, vendor, 248);
  EXPECT_AT(PClassInfo2, version, 312);
  EXPECT_AT(PClassInfo2, sdkVersion, 376);

  expectPlainRecord<PClassInfoW>(696, 4);
  EXPECT_AT(PClassInfoW, cardinality, 16);
  EXPECT_AT(PClassInfoW, category, 20);
  EXPECT_AT(PClassInfoW, name, 52);
  EXPECT_AT(PClassInfoW, classFlags, 180);
  EXPECT_AT(PClassInfoW, subCategories, 184);
  EXPECT_AT(PClassInfoW, vendor, 312);
  EXPECT_AT(PClassInfoW, version, 440);
  EXPECT_AT(PClassInfoW, sdkVersion, 568);
}

TEST(Vst3Layout, ComponentAndControllerRecords) {
  expectPlainRecord<BusInfo>(276, 4);
  EXPECT_AT(BusInfo, mediaType, 0);
  EXPECT_AT(BusInfo, direction, 4);
  EXPECT_AT(BusInfo, channelCount, 8);
  EXPECT_AT(BusInfo, name, 12);
  EXPECT_AT(BusInfo, busType, 268);
  EXPECT_AT(BusInfo, flags, 272);

  expectPlainRecord<RoutingInfo>(12, 4);
  EXPECT_AT(RoutingInfo, busIndex, 4);
  EXPECT_AT(RoutingInfo, channel, 8);

  expectPlainRecord<ParameterInfo>(792, 8);
  EXPECT_AT(ParameterInfo, id, 0);
  EXPECT_AT(ParameterInfo, title, 4);
  EXPECT_AT(ParameterInfo, shortTitle, 260);
  EXPECT_AT(ParameterInfo, units, 516);
  EXPECT_AT(ParameterInfo, stepCount, 772);
  EXPECT_AT(ParameterInfo, defaultNormalizedValue, 776);
  EXPECT_AT(ParameterInfo, unitId, 784);
  EXPECT_AT(ParameterInfo, flags, 788);

  expectPlainRecord<UnitInfo>(268, 4);
  EXPECT_AT(UnitInfo, parentUnitId, 4);
  EXPECT_AT(UnitInfo, name, 8);
  EXPECT_AT(UnitInfo, programListId, 264);

  expectPlainRecord<ProgramListInfo>(264, 4);
  EXPECT_AT(ProgramListInfo, name, 4);
  EXPECT_AT(ProgramListInfo, programCount, 260);

  expectPlainRecord<ViewRect>(16, 4);
  EXPECT_AT(ViewRect, top, 4);
  EXPECT_AT(ViewRect, right, 8);
  EXPECT_AT(ViewRect, bottom, 12);
}

TEST(Vst3Layout, ProcessRecords) {
  expectPlainRecord<ProcessSetup>(24, 8);
  EXPECT_AT(ProcessSetup, symbolicSampleSize, 4);
  EXPECT_AT(ProcessSetup, maxSamplesPerBlock, 8);
  EXPECT_AT(ProcessSetup, sampleRate, 16);

  expectPlainRecord<AudioBusBuffers>(24, 8);
  EXPECT_AT(AudioBusBuffers, silenceFlags, 8);
  EXPECT_AT(AudioBusBuffers, channelBuffers32, 16);
  EXPECT_AT(AudioBusBuffers, channelBuffers64, 16);

  expectPlainRecord<ProcessData>(80, 8);
  EXPECT_AT(ProcessData, symbolicSampleSize, 4);
  EXPECT_AT(ProcessData, numSamples, 8);
  EXPECT_AT(ProcessData, numInputs, 12);
  EXPECT_AT(ProcessData, numOutputs, 16);
  EXPECT_AT(ProcessData, inputs, 24);
  EXPECT_AT(ProcessData, outputs, 32);
  EXPECT_AT(ProcessData, inputParameterChanges, 40);
  EXPECT_AT(ProcessData, outputParameterChanges, 48);
  EXPECT_AT(ProcessData, inputEvents, 56);
  EXPECT_AT(ProcessData, outputEvents, 64);
  EXPECT_AT(ProcessData, processContext, 72);

  expectPlainRecord<Chord>(4, 2);
  expectPlainRecord<FrameRate>(8, 4);
  expectPlainRecord<ProcessContext>(112, 8);
  EXPECT_AT(ProcessContext, sampleRate, 8);
  EXPECT_AT(ProcessContext, projectTimeSamples, 16);
  EXPECT_AT(ProcessContext, systemTime, 24);
  EXPECT_AT(ProcessContext, continousTimeSamples, 32);
  EXPECT_AT(ProcessContext, projectTimeMusic, 40);
  EXPECT_AT(ProcessContext, barPositionMusic, 48);
  EXPECT_AT(ProcessContext, cycleStartMusic, 56);
  EXPECT_AT(ProcessContext, cycleEndMusic, 64);
  EXPECT_AT(ProcessContext, tempo, 72);
  EXPECT_AT(ProcessContext, timeSigNumerator, 80);
  EXPECT_AT(ProcessContext, timeSigDenominator, 84);
  EXPECT_AT(ProcessContext, chord, 88);
  EXPECT_AT(ProcessContext, smpteOffsetSubframes, 92);
  EXPECT_AT(ProcessContext, frameRate, 96);
  EXPECT_AT(ProcessContext, samplesToNextClock, 104);
}

TEST(Vst3Layout, EventRecords) {
  expectPlainRecord<NoteOnEvent>(20, 4);
  EXPECT_AT(NoteOnEvent, pitch, 2);
  EXPECT_AT(NoteOnEvent, tuning, 4);
  EXPECT_AT(NoteOnEvent, velocity, 8);
  EXPECT_AT(NoteOnEvent, length, 12);
  EXPECT_AT(NoteOnEvent, noteId, 16);

  expectPlainRecord<NoteOffEvent>(16, 4);
  EXPECT_AT(NoteOffEvent, pitch, 2);
  EXPECT_AT(NoteOffEvent, velocity, 4);
  EXPECT_AT(NoteOffEvent, noteId, 8);
  EXPECT_AT(NoteOffEvent, tuning, 12);

  expectPlainRecord<LegacyMIDICCOutEvent>(4, 1);
  EXPECT_AT(LegacyMIDICCOutEvent, channel, 1);
  EXPECT_AT(LegacyMIDICCOutEvent, value, 2);
  EXPECT_AT(LegacyMIDICCOutEvent, value2, 3);

  expectPlainRecord<DataEvent>(16, 8);
  EXPECT_AT(DataEvent, bytes, 8);
  expectPlainRecord<PolyPressureEvent>(12, 4);
  expectPlainRecord<NoteExpressionValueEvent>(16, 8);
  EXPECT_AT(NoteExpressionValueEvent, value, 8);
  expectPlainRecord<NoteExpressionTextEvent>(24, 8);
  EXPECT_AT(NoteExpressionTextEvent, textLen, 8);
  EXPECT_AT(NoteExpressionTextEvent, text, 16);
  expectPlainRecord<ChordEvent>(16, 8);
  EXPECT_AT(ChordEvent, textLen, 6);
  EXPECT_AT(ChordEvent, text, 8);
  expectPlainRecord<ScaleEvent>(16, 8);
  EXPECT_AT(ScaleEvent, textLen, 4);
  EXPECT_AT(ScaleEvent, text, 8);

  // The union starts at 24 and is as large as its largest member (24).
  expectPlainRecord<Event>(48, 8);
  EXPECT_AT(Event, sampleOffset, 4);
  EXPECT_AT(Event, ppqPosition, 8);
  EXPECT_AT(Event, flags, 16);
  EXPECT_AT(Event, type, 18);
  EXPECT_AT(Event, noteOn, 24);
  EXPECT_AT(Event, noteOff, 24);
  EXPECT_AT(Event, midiCCOut, 24);
  EXPECT_AT(Event, noteExpressionText, 24);
}

TEST(Vst3Layout, InterfacesAreOneVtablePointerWithoutDestructor) {
  // A virtual destructor or a data member would move every slot or field.
  static_assert(!std::has_virtual_destructor_v<IComponent>);
  static_assert(!std::has_virtual_destructor_v<IAudioProcessor>);
  static_assert(!std::has_virtual_destructor_v<IEditController>);
  static_assert(!std::has_virtual_destructor_v<IPluginFactory3>);
  static_assert(!std::has_virtual_destructor_v<IPlugView>);
  EXPECT_EQ(sizeof(IComponent), sizeof(void *));
  EXPECT_EQ(sizeof(IPluginFactory3), sizeof(void *));
  EXPECT_EQ(sizeof(IUnitInfo), sizeof(void *));
}

// ---------------------------------------------------------------------------
// Vtable slot order. Each recorder method notes its published slot number;
// calling slot n through the raw vtable must reach the method numbered n.
// The recorders ignore their arguments, so the slots can be called bare.

template <class R> R none() {
  if constexpr (!std::is_void_v<R>)
    return R{};
}

#define RECORD(n, R, name, ...)                                                                    \
  R PLUGIN_API name(__VA_ARGS__) override {                                                        \
    hit = n;                                                                                       \
    return none<R>();                                                                              \
  }
#define RECORD_FUNKNOWN                                                                            \
  int hit = -1;                                                                                    \
  RECORD(0, tresult, queryInterface, const TUID, void **)                                          \
  RECORD(1, uint32, addRef)                                                                        \
  RECORD(2, uint32, release)

using Slot = void (*)();

void callSlot(void *iface, int slot) {
  Slot *vtable = *static_cast<Slot **>(iface);
  reinterpret_cast<void (*)(void *)>(vtable[slot])(iface);
}

template <class I, class Recorder> void expectSlotOrder(Recorder &recorder, int slotCount) {
  I *iface = &recorder;
  for (int slot = 0; slot < slotCount; ++slot) {
    recorder.hit = -1;
    callSlot(iface, slot);
    EXPECT_EQ(recorder.hit, slot) << "slot " << slot;
  }
}

struct ComponentRecorder : IComponent {
  RECORD_FUNKNOWN
  RECORD(3, tresult, initialize, FUnknown *)
  RECORD(4, tresult, terminate)
  RECORD(5, tresult, getControllerClassId, TUID)
  RECORD(6, tresult, setIoMode, IoMode)
  RECORD(7, int32, getBusCount, MediaType, BusDirection)
  RECORD(8, tresult, getBusInfo, MediaType, BusDirection, int32, BusInfo &)
  RECORD(9, tresult, getRoutingInfo, RoutingInfo &, RoutingInfo &)
  RECORD(10, tresult, activateBus, MediaType, BusDirection, int32, TBool)
  RECORD(11, tresult, setActive, TBool)
  RECORD(12, tresult, setState, IBStream *)
  RECORD(13, tresult, getState, IBStream *)
};

struct AudioProcessorRecorder : IAudioProcessor {
  RECORD_FUNKNOWN
  RECORD(3, tresult, setBusArrangements, SpeakerArrangement *, int32, SpeakerArrangement *, int32)
  RECORD(4, tresult, getBusArrangement, BusDirection, int32, SpeakerArrangement &)
  RECORD(5, tresult, canProcessSampleSize, int32)
  RECORD(6, uint32, getLatencySamples)
  RECORD(7, tresult, setupProcessing, ProcessSetup &)
  RECORD(8, tresult, setProcessing, TBool)
  RECORD(9, tresult, process, ProcessData &)
  RECORD(10, uint32, getTailSamples)
};

struct EditControllerRecorder : IEditController {
  RECORD_FUNKNOWN
  RECORD(3, tresult, initialize, FUnknown *)
  RECORD(4, tresult, terminate)
  RECORD(5, tresult, setComponentState, IBStream *)
  RECORD(6, tresult, setState, IBStream *)
  RECORD(7, tresult, getState, IBStream *)
  RECORD(8, int32, getParameterCount)
  RECORD(9, tresult, getParameterInfo, int32, ParameterInfo &)
  RECORD(10, tresult, getParamStringByValue, ParamID, ParamValue, String128)
  RECORD(11, tresult, getParamValueByString, ParamID, TChar *, ParamValue &)
  RECORD(12, ParamValue, normalizedParamToPlain, ParamID, ParamValue)
  RECORD(13, ParamValue, plainParamToNormalized, ParamID, ParamValue)
  RECORD(14, ParamValue, getParamNormalized, ParamID)
  RECORD(15, tresult, setParamNormalized, ParamID, ParamValue)
  RECORD(16, tresult, setComponentHandler, IComponentHandler *)
  RECORD(17, IPlugView *, createView, FIDString)
};

struct UnitInfoRecorder : IUnitInfo {
  RECORD_FUNKNOWN
  RECORD(3, int32, getUnitCount)
  RECORD(4, tresult, getUnitInfo, int32, UnitInfo &)
  RECORD(5, int32, getProgramListCount)
  RECORD(6, tresult, getProgramListInfo, int32, ProgramListInfo &)
  RECORD(7, tresult, getProgramName, ProgramListID, int32, String128)
  RECORD(8, tresult, getProgramInfo, ProgramListID, int32, Vst::CString, String128)
  RECORD(9, tresult, hasProgramPitchNames, ProgramListID, int32)
  RECORD(10, tresult, getProgramPitchName, ProgramListID, int32, int16, String128)
  RECORD(11, UnitID, getSelectedUnit)
  RECORD(12, tresult, selectUnit, UnitID)
  RECORD(13, tresult, getUnitByBus, MediaType, BusDirection, int32, int32, UnitID &)
  RECORD(14, tresult, setUnitProgramData, int32, int32, IBStream *)
};

struct PluginFactoryRecorder : IPluginFactory3 {
  RECORD_FUNKNOWN
  RECORD(3, tresult, getFactoryInfo, PFactoryInfo *)
  RECORD(4, int32, countClasses)
  RECORD(5, tresult, getClassInfo, int32, PClassInfo *)
  RECORD(6, tresult, createInstance, FIDString, FIDString, void **)
  RECORD(7, tresult, getClassInfo2, int32, PClassInfo2 *)
  RECORD(8, tresult, getClassInfoUnicode, int32, PClassInfoW *)
  RECORD(9, tresult, setHostContext, FUnknown *)
};

struct PlugViewRecorder : IPlugView {
  RECORD_FUNKNOWN
  RECORD(3, tresult, isPlatformTypeSupported, FIDString)
  RECORD(4, tresult, attached, void *, FIDString)
  RECORD(5, tresult, removed)
  RECORD(6, tresult, onWheel, float)
  RECORD(7, tresult, onKeyDown, char16, int16, int16)
  RECORD(8, tresult, onKeyUp, char16, int16, int16)
  RECORD(9, tresult, getSize, ViewRect *)
  RECORD(10, tresult, onSize, ViewRect *)
  RECORD(11, tresult, onFocus, TBool)
  RECORD(12, tresult, setFrame, IPlugFrame *)
  RECORD(13, tresult, canResize)
  RECORD(14, tresult, checkSizeConstraint, ViewRect *)
};

struct AttributeListRecorder : IAttributeList {
  RECORD_FUNKNOWN
  RECORD(3, tresult, setInt, AttrID, int64)
  RECORD(4, tresult, getInt, AttrID, int64 &)
  RECORD(5, tresult, setFloat, AttrID, double)
  RECORD(6, tresult, getFloat, AttrID, double &)
  RECORD(7, tresult, setString, AttrID, const TChar *)
  RECORD(8, tresult, getString, AttrID, TChar *, uint32)
  RECORD(9, tresult, setBinary, AttrID, const void *, uint32)
  RECORD(10, tresult, getBinary, AttrID, const void *&, uint32 &)
};

struct HostSideRecorder : IMessage,
                          IConnectionPoint,
                          IHostApplication,
                          IBStream,
                          IEventList,
                          IParamValueQueue,
                          IParameterChanges,
                          IComponentHandler,
                          IComponentHandler2,
                          IUnitHandler,
                          IMidiMapping,
                          IPlugFrame,
                          Linux::IRunLoop {
  // Shared by all bases: each interface's slots 3.. are distinct methods.
  RECORD_FUNKNOWN
  RECORD(3, FIDString, getMessageID)
  RECORD(4, void, setMessageID, FIDString)
  RECORD(5, IAttributeList *, getAttributes)
  RECORD(3, tresult, connect, IConnectionPoint *)
  RECORD(4, tresult, disconnect, IConnectionPoint *)
  RECORD(5, tresult, notify, IMessage *)
  RECORD(3, tresult, getName, String128)
  RECORD(4, tresult, createInstance, TUID, TUID, void **)
  RECORD(3, tresult, read, void *, int32, int32 *)
  RECORD(4, tresult, write, void *, int32, int32 *)
  RECORD(5, tresult, seek, int64, int32, int64 *)
  RECORD(6, tresult, tell, int64 *)
  RECORD(3, int32, getEventCount)
  RECORD(4, tresult, getEvent, int32, Event &)
  RECORD(5, tresult, addEvent, Event &)
  RECORD(3, ParamID, getParameterId)
  RECORD(4, int32, getPointCount)
  RECORD(5, tresult, getPoint, int32, int32 &, ParamValue &)
  RECORD(6, tresult, addPoint, int32, ParamValue, int32 &)
  RECORD(3, int32, getParameterCount)
  RECORD(4, IParamValueQueue *, getParameterData, int32)
  RECORD(5, IParamValueQueue *, addParameterData, const ParamID &, int32 &)
  RECORD(3, tresult, beginEdit, ParamID)
  RECORD(4, tresult, performEdit, ParamID, ParamValue)
  RECORD(5, tresult, endEdit, ParamID)
  RECORD(6, tresult, restartComponent, int32)
  RECORD(3, tresult, setDirty, TBool)
  RECORD(4, tresult, requestOpenEditor, FIDString)
  RECORD(5, tresult, startGroupEdit)
  RECORD(6, tresult, finishGroupEdit)
  RECORD(3, tresult, notifyUnitSelection, UnitID)
  RECORD(4, tresult, notifyProgramListChange, ProgramListID, int32)
  RECORD(3, tresult, resizeView, IPlugView *, ViewRect *)
  RECORD(3, tresult, getMidiControllerAssignment, int32, int16, CtrlNumber, ParamID &)
  RECORD(3, tresult, registerEventHandler, Linux::IEventHandler *, Linux::FileDescriptor)
  RECORD(4, tresult, unregisterEventHandler, Linux::IEventHandler *)
  RECORD(5, tresult, registerTimer, Linux::ITimerHandler *, Linux::TimerInterval)
  RECORD(6, tresult, unregisterTimer, Linux::ITimerHandler *)
};

struct PlugInExtrasRecorder : IEditController2,
                              IProcessContextRequirements,
                              Linux::ITimerHandler,
                              Linux::IEventHandler {
  RECORD_FUNKNOWN
  RECORD(3, tresult, setKnobMode, KnobMode)
  RECORD(4, tresult, openHelp, TBool)
  RECORD(5, tresult, openAboutBox, TBool)
  RECORD(3, uint32, getProcessContextRequirements)
  RECORD(3, void, onTimer)
  RECORD(3, void, onFDIsSet, Linux::FileDescriptor)
};

TEST(Vst3Vtable, PlugInSideInterfacesKeepThePublishedSlotOrder) {
  ComponentRecorder component;
  expectSlotOrder<IComponent>(component, 14);
  AudioProcessorRecorder processor;
  expectSlotOrder<IAudioProcessor>(processor, 11);
  EditControllerRecorder controller;
  expectSlotOrder<IEditController>(controller, 18);
  UnitInfoRecorder units;
  expectSlotOrder<IUnitInfo>(units, 15);
  PluginFactoryRecorder factory;
  expectSlotOrder<IPluginFactory3>(factory, 10);
  PlugViewRecorder view;
  expectSlotOrder<IPlugView>(view, 15);
  PlugInExtrasRecorder extras;
  expectSlotOrder<IEditController2>(extras, 6);
  expectSlotOrder<IProcessContextRequirements>(extras, 4);
  expectSlotOrder<Linux::ITimerHandler>(extras, 4);
  expectSlotOrder<Linux::IEventHandler>(extras, 4);
}

TEST(Vst3Vtable, HostSideInterfacesKeepThePublishedSlotOrder) {
  AttributeListRecorder attributes;
  expectSlotOrder<IAttributeList>(attributes, 11);
  HostSideRecorder host;
  expectSlotOrder<IMessage>(host, 6);
  expectSlotOrder<IConnectionPoint>(host, 6);
  expectSlotOrder<IHostApplication>(host, 5);
  expectSlotOrder<IBStream>(host, 7);
  expectSlotOrder<IEventList>(host, 6);
  expectSlotOrder<IParamValueQueue>(host, 7);
  expectSlotOrder<IParameterChanges>(host, 6);
  expectSlotOrder<IComponentHandler>(host, 7);
  expectSlotOrder<IComponentHandler2>(host, 7);
  expectSlotOrder<IUnitHandler>(host, 5);
  expectSlotOrder<IPlugFrame>(host, 4);
  expectSlotOrder<IMidiMapping>(host, 4);
  expectSlotOrder<Linux::IRunLoop>(host, 7);
}

// ---------------------------------------------------------------------------
// Test doubles for the base classes

struct Effect : AudioEffect {
  explicit Effect(int *destroyedCount = nullptr) : destroyed(destroyedCount) {}
  ~Effect() override {
    if (destroyed)
      ++*destroyed;
  }
  int *destroyed;
};

struct Controller : EditControllerEx1 {
  explicit Controller(int *destroyedCount = nullptr) : destroyed(destroyedCount) {}
  ~Controller() override {
    if (destroyed)
      ++*destroyed;
  }
  ParameterContainer &params() { return parameters; }
  int *destroyed;
};

class FakeMessage : public FObject, public IMessage {
public:
  FIDString PLUGIN_API getMessageID() override { return id.c_str(); }
  void PLUGIN_API setMessageID(FIDString newId) override { id = newId ? newId : ""; }
  IAttributeList *PLUGIN_API getAttributes() override { return nullptr; }
  DEF_INTERFACES_1(IMessage, FObject)
  REFCOUNT_METHODS(FObject)
  std::string id;
};

class FakeHost : public FObject, public IHostApplication {
public:
  tresult PLUGIN_API getName(String128 name) override {
    UString(name, 128).fromAscii("Fake Host");
    return kResultOk;
  }
  tresult PLUGIN_API createInstance(TUID cid, TUID _iid, void **obj) override {
    if (FUnknownPrivate::iidEqual(cid, IMessage::iid) &&
        FUnknownPrivate::iidEqual(_iid, IMessage::iid)) {
      *obj = static_cast<IMessage *>(new FakeMessage);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  DEF_INTERFACES_1(IHostApplication, FObject)
  REFCOUNT_METHODS(FObject)
};

class FakePeer : public FObject, public IConnectionPoint {
public:
  tresult PLUGIN_API connect(IConnectionPoint *) override { return kResultOk; }
  tresult PLUGIN_API disconnect(IConnectionPoint *other) override {
    disconnectedFrom = other;
    return kResultOk;
  }
  tresult PLUGIN_API notify(IMessage *message) override {
    lastMessage = message->getMessageID();
    return kResultOk;
  }
  DEF_INTERFACES_1(IConnectionPoint, FObject)
  REFCOUNT_METHODS(FObject)
  IConnectionPoint *disconnectedFrom = nullptr;
  std::string lastMessage;
};

class FakeHandler : public FObject, public IComponentHandler {
public:
  tresult PLUGIN_API beginEdit(ParamID id) override { return note("begin", id, -1); }
  tresult PLUGIN_API performEdit(ParamID id, ParamValue v) override {
    return note("perform", id, v);
  }
  tresult PLUGIN_API endEdit(ParamID id) override { return note("end", id, -1); }
  tresult PLUGIN_API restartComponent(int32) override { return kResultOk; }
  DEF_INTERFACES_1(IComponentHandler, FObject)
  REFCOUNT_METHODS(FObject)

  tresult note(const char *what, ParamID id, ParamValue v) {
    log += std::string(what) + " " + std::to_string(id) + " " + std::to_string(v) + ";";
    return kResultOk;
  }
  std::string log;
};

class FakeHandler2 : public FakeHandler, public IComponentHandler2 {
public:
  tresult PLUGIN_API setDirty(TBool) override { return kResultOk; }
  tresult PLUGIN_API requestOpenEditor(FIDString) override { return kResultOk; }
  tresult PLUGIN_API startGroupEdit() override { return note("group", 0, -1); }
  tresult PLUGIN_API finishGroupEdit() override { return kResultOk; }
  DEF_INTERFACES_1(IComponentHandler2, FakeHandler)
  REFCOUNT_METHODS(FakeHandler)
};

template <class I, class T> I *query(T *object) {
  void *out = nullptr;
  EXPECT_EQ(object->queryInterface(I::iid, &out), kResultOk);
  return static_cast<I *>(out);
}

// ---------------------------------------------------------------------------
// Reference counting and queryInterface

TEST(Vst3RefCount, FObjectStartsAtOneAndDeletesOnLastRelease) {
  int destroyed = 0;
  auto *effect = new Effect(&destroyed);
  EXPECT_EQ(effect->getRefCount(), 1);
  EXPECT_EQ(effect->addRef(), 2u);
  EXPECT_EQ(effect->release(), 1u);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(effect->release(), 0u);
  EXPECT_EQ(destroyed, 1);
}

TEST(Vst3RefCount, ConcurrentAddRefAndReleaseLoseNothing) {
  int destroyed = 0;
  auto *effect = new Effect(&destroyed);
  auto churn = [effect] {
    for (int i = 0; i < 100000; ++i) {
      effect->addRef();
      effect->release();
    }
  };
  std::thread a(churn), b(churn);
  a.join();
  b.join();
  EXPECT_EQ(effect->getRefCount(), 1);
  EXPECT_EQ(destroyed, 0);
  effect->release();
  EXPECT_EQ(destroyed, 1);

  // The helper behind SDK-style counters returns the new value.
  int32 count = 1;
  EXPECT_EQ(FUnknownPrivate::atomicAdd(count, 1), 2);
  EXPECT_EQ(FUnknownPrivate::atomicAdd(count, -2), 0);
}

TEST(Vst3RefCount, AudioEffectAnswersItsInterfacesWithTheRightPointers) {
  int destroyed = 0;
  auto *effect = new Effect(&destroyed);
  IComponent *component = query<IComponent>(effect);
  EXPECT_EQ(component, static_cast<IComponent *>(effect));
  IAudioProcessor *processor = query<IAudioProcessor>(effect);
  EXPECT_EQ(processor, static_cast<IAudioProcessor *>(effect));
  EXPECT_EQ(query<IProcessContextRequirements>(effect),
            static_cast<IProcessContextRequirements *>(effect));
  // Component has two IPluginBase bases (through ComponentBase and IComponent);
  // the query answers ComponentBase's, whose slots lead to the same methods.
  EXPECT_EQ(query<IPluginBase>(effect),
            static_cast<IPluginBase *>(static_cast<ComponentBase *>(effect)));
  EXPECT_EQ(query<IConnectionPoint>(effect), static_cast<IConnectionPoint *>(effect));
  EXPECT_EQ(query<FUnknown>(effect), static_cast<FUnknown *>(static_cast<FObject *>(effect)));
  EXPECT_EQ(effect->getRefCount(), 7);
  for (int i = 0; i < 4; ++i)
    effect->release();

  // Asking through a secondary interface reaches the same object.
  void *out = reinterpret_cast<void *>(1);
  EXPECT_EQ(processor->queryInterface(IComponent::iid, &out), kResultOk);
  EXPECT_EQ(out, component);
  EXPECT_EQ(processor->queryInterface(IEditController::iid, &out), kNoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(effect->getRefCount(), 4);

  // Every reference, through whichever interface, counts the one object.
  component->release();
  component->release();
  processor->release();
  EXPECT_EQ(destroyed, 0);
  processor->release();
  EXPECT_EQ(destroyed, 1);
}

TEST(Vst3RefCount, ControllerViewAndFactoryAnswerTheirInterfaces) {
  auto *controller = new Controller;
  EXPECT_EQ(query<IEditController>(controller), static_cast<IEditController *>(controller));
  EXPECT_EQ(query<IEditController2>(controller), static_cast<IEditController2 *>(controller));
  EXPECT_EQ(query<IUnitInfo>(controller), static_cast<IUnitInfo *>(controller));
  EXPECT_EQ(query<IConnectionPoint>(controller), static_cast<IConnectionPoint *>(controller));
  void *out = nullptr;
  EXPECT_EQ(controller->queryInterface(IComponent::iid, &out), kNoInterface);
  EXPECT_EQ(controller->getRefCount(), 5);
  while (controller->release() != 0) {
  }

  auto *view = new CPluginView;
  EXPECT_EQ(query<IPlugView>(view), static_cast<IPlugView *>(view));
  EXPECT_EQ(view->release(), 1u);
  EXPECT_EQ(view->release(), 0u);

  auto *factory = new CPluginFactory(PFactoryInfo("Vendor", "", "", PFactoryInfo::kUnicode));
  IPluginFactory *v1 = query<IPluginFactory>(factory);
  EXPECT_EQ(static_cast<void *>(query<IPluginFactory3>(factory)), static_cast<void *>(v1));
  EXPECT_EQ(static_cast<void *>(query<FUnknown>(factory)), static_cast<void *>(v1));
  EXPECT_EQ(factory->release(), 3u);
  EXPECT_EQ(factory->release(), 2u);
  EXPECT_EQ(factory->release(), 1u);
  EXPECT_EQ(factory->release(), 0u);
}

TEST(Vst3RefCount, BaseClassMethodsAreReachedThroughTheRawVtables) {
  Effect effect;
  effect.addEventInput(u"Event In");
  IComponent *component = &effect;
  Slot *componentSlots = *reinterpret_cast<Slot **>(component);
  auto getBusCount = reinterpret_cast<int32 (*)(void *, int32, int32)>(componentSlots[7]);
  EXPECT_EQ(getBusCount(component, kEvent, kInput), 1);
  EXPECT_EQ(getBusCount(component, kEvent, kOutput), 0);

  IAudioProcessor *processor = &effect;
  Slot *processorSlots = *reinterpret_cast<Slot **>(processor);
  auto canProcess = reinterpret_cast<tresult (*)(void *, int32)>(processorSlots[5]);
  EXPECT_EQ(canProcess(processor, kSample32), kResultTrue);
  EXPECT_EQ(canProcess(processor, kSample64), kResultFalse);

  Controller controller;
  controller.params().addParameter(u"Gain");
  IEditController *edit = &controller;
  Slot *editSlots = *reinterpret_cast<Slot **>(edit);
  EXPECT_EQ(reinterpret_cast<int32 (*)(void *)>(editSlots[8])(edit), 1);
}

// ---------------------------------------------------------------------------
// ComponentBase: host context, connection, messages

TEST(Vst3ComponentBase, HostContextIsHeldFromInitializeToTerminate) {
  auto *host = new FakeHost;
  Effect effect;
  EXPECT_EQ(effect.initialize(host->unknownCast()), kResultOk);
  EXPECT_EQ(host->getRefCount(), 2);
  EXPECT_EQ(effect.initialize(host->unknownCast()), kResultFalse);
  EXPECT_EQ(host->getRefCount(), 2);
  EXPECT_EQ(effect.terminate(), kResultOk);
  EXPECT_EQ(host->getRefCount(), 1);
  EXPECT_EQ(effect.getHostContext(), nullptr);
  host->release();
}

TEST(Vst3ComponentBase, MessagesAreAllocatedFromTheHostAndSentToThePeer) {
  Effect effect;
  EXPECT_EQ(effect.allocateMessage(), nullptr); // no host yet
  auto *host = new FakeHost;
  effect.initialize(host->unknownCast());
  IMessage *message = effect.allocateMessage();
  ASSERT_NE(message, nullptr);
  message->setMessageID("norva.test");
  EXPECT_EQ(effect.sendMessage(message), kResultFalse); // not connected

  auto *peer = new FakePeer;
  EXPECT_EQ(effect.connect(nullptr), kInvalidArgument);
  EXPECT_EQ(effect.connect(peer), kResultOk);
  EXPECT_EQ(effect.connect(peer), kResultFalse);
  EXPECT_EQ(peer->getRefCount(), 2);
  EXPECT_EQ(effect.sendMessage(message), kResultOk);
  EXPECT_EQ(peer->lastMessage, "norva.test");
  EXPECT_EQ(effect.sendMessage(nullptr), kResultFalse);
  message->release();

  // A message the component does not handle is refused.
  FakeMessage other;
  EXPECT_EQ(effect.notify(&other), kResultFalse);
  EXPECT_EQ(effect.notify(nullptr), kInvalidArgument);

  // terminate disconnects a peer the host left connected.
  effect.terminate();
  EXPECT_EQ(peer->disconnectedFrom, static_cast<IConnectionPoint *>(&effect));
  EXPECT_EQ(peer->getRefCount(), 1);
  EXPECT_EQ(effect.getPeer(), nullptr);
  peer->release();
  host->release();
}

TEST(Vst3ComponentBase, DisconnectOnlyFromTheConnectedPeer) {
  Effect effect;
  FakePeer *peer = new FakePeer, *stranger = new FakePeer;
  effect.connect(peer);
  EXPECT_EQ(effect.disconnect(stranger), kResultFalse);
  EXPECT_EQ(effect.disconnect(peer), kResultOk);
  EXPECT_EQ(peer->getRefCount(), 1);
  EXPECT_EQ(effect.disconnect(peer), kResultFalse);
  peer->release();
  stranger->release();
}

// ---------------------------------------------------------------------------
// Component and AudioEffect

TEST(Vst3AudioEffect, EventBusesAreDescribedAndActivated) {
  Effect effect;
  effect.addEventInput(u"Event In", 16);
  effect.addEventOutput(u"Event Out", 1);
  EXPECT_EQ(effect.getBusCount(kEvent, kInput), 1);
  EXPECT_EQ(effect.getBusCount(kEvent, kOutput), 1);
  EXPECT_EQ(effect.getBusCount(kAudio, kInput), 0);
  EXPECT_EQ(effect.getBusCount(kAudio + 7, kInput), 0);

  BusInfo info{};
  ASSERT_EQ(effect.getBusInfo(kEvent, kOutput, 0, info), kResultTrue);
  EXPECT_EQ(info.mediaType, kEvent);
  EXPECT_EQ(info.direction, kOutput);
  EXPECT_EQ(info.channelCount, 1);
  EXPECT_EQ(ascii(info.name), "Event Out");
  EXPECT_EQ(info.busType, kMain);
  EXPECT_EQ(info.flags, uint32(BusInfo::kDefaultActive));
  EXPECT_EQ(effect.getBusInfo(kEvent, kOutput, 1, info), kInvalidArgument);
  EXPECT_EQ(effect.getBusInfo(kEvent, kOutput, -1, info), kInvalidArgument);

  EXPECT_FALSE(effect.getEventInput(0)->isActive());
  EXPECT_EQ(effect.activateBus(kEvent, kInput, 0, true), kResultTrue);
  EXPECT_TRUE(effect.getEventInput(0)->isActive());
  EXPECT_EQ(effect.activateBus(kEvent, kInput, 1, true), kInvalidArgument);
  EXPECT_EQ(effect.getEventInput(1), nullptr);
  EXPECT_EQ(effect.getAudioInput(0), nullptr);

  effect.terminate();
  EXPECT_EQ(effect.getBusCount(kEvent, kInput), 0);
}

TEST(Vst3AudioEffect, BusArrangementsApplyOnlyToExistingAudioBuses) {
  Effect effect;
  EXPECT_EQ(effect.setBusArrangements(nullptr, 0, nullptr, 0), kResultTrue);
  SpeakerArrangement stereo = SpeakerArr::kStereo;
  EXPECT_EQ(effect.setBusArrangements(nullptr, 0, &stereo, 1), kResultFalse);
  EXPECT_EQ(effect.setBusArrangements(nullptr, -1, nullptr, 0), kInvalidArgument);
  EXPECT_EQ(effect.setBusArrangements(nullptr, 1, nullptr, 0), kInvalidArgument);

  effect.addAudioOutput(u"Out", SpeakerArr::kMono);
  SpeakerArrangement arrangement = 0;
  ASSERT_EQ(effect.getBusArrangement(kOutput, 0, arrangement), kResultTrue);
  EXPECT_EQ(arrangement, SpeakerArr::kMono);
  EXPECT_EQ(effect.setBusArrangements(nullptr, 0, &stereo, 1), kResultTrue);
  effect.getBusArrangement(kOutput, 0, arrangement);
  EXPECT_EQ(arrangement, SpeakerArr::kStereo);
  BusInfo info{};
  effect.getBusInfo(kAudio, kOutput, 0, info);
  EXPECT_EQ(info.channelCount, 2);
  EXPECT_EQ(effect.getBusArrangement(kInput, 0, arrangement), kInvalidArgument);
}

TEST(Vst3AudioEffect, SetupIsStoredAndOnly32BitSamplesAreAccepted) {
  struct Probe : Effect {
    ProcessSetup setup() const { return processSetup; }
  } effect;
  EXPECT_EQ(effect.setup().sampleRate, 44100.0);
  ProcessSetup setup{kOffline, kSample32, 256, 96000.0};
  EXPECT_EQ(effect.setupProcessing(setup), kResultOk);
  EXPECT_EQ(effect.setup().sampleRate, 96000.0);
  EXPECT_EQ(effect.setup().maxSamplesPerBlock, 256);
  EXPECT_EQ(effect.setup().processMode, kOffline);

  ProcessSetup wide{kRealtime, kSample64, 512, 48000.0};
  EXPECT_EQ(effect.setupProcessing(wide), kResultFalse);
  EXPECT_EQ(effect.setup().symbolicSampleSize, kSample32);

  ProcessData data;
  EXPECT_EQ(effect.process(data), kNotImplemented);
  EXPECT_EQ(effect.getTailSamples(), kNoTail);
  EXPECT_EQ(effect.getLatencySamples(), 0u);
  EXPECT_EQ(effect.getProcessContextRequirements(), 0u);
}

TEST(Vst3AudioEffect, ControllerClassIdIsOnlyReportedOnceSet) {
  Effect effect;
  TUID cid = {};
  EXPECT_EQ(effect.getControllerClassId(cid), kResultFalse);
  effect.setControllerClass(FUID(0x67EE543A, 0x68EE55CD, 0x65EE5114, 0x66EE52A7));
  ASSERT_EQ(effect.getControllerClassId(cid), kResultTrue);
  EXPECT_EQ(hex(cid, 16), "67EE543A68EE55CD65EE511466EE52A7");
}

// ---------------------------------------------------------------------------
// Parameter, ParameterContainer, EditController, EditControllerEx1

struct Doubling : Parameter {
  Doubling() : Parameter(u"Doubling", 9) {}
  ParamValue toPlain(ParamValue v) const override { return 2 * v; }
};

TEST(Vst3Parameters, ValuesAreClampedAndTextsHaveTheDefaultForm) {
  Parameter level(u"Level", 3, u"dB", 0.25);
  EXPECT_EQ(level.getNormalized(), 0.25);
  EXPECT_EQ(ascii(level.getInfo().units), "dB");
  EXPECT_TRUE(level.setNormalized(1.5));
  EXPECT_EQ(level.getNormalized(), 1.0);
  EXPECT_FALSE(level.setNormalized(2.0)); // clamps to the same value
  EXPECT_TRUE(level.setNormalized(-1.0));
  EXPECT_EQ(level.getNormalized(), 0.0);

  String128 text;
  level.toString(0.5, text);
  EXPECT_EQ(ascii(text), "0.5000");
  Parameter toggle(u"Run", 0, nullptr, 0.0, 1);
  toggle.toString(0.5, text);
  EXPECT_EQ(ascii(text), "Off");
  toggle.toString(0.51, text);
  EXPECT_EQ(ascii(text), "On");

  ParamValue value = -1;
  EXPECT_TRUE(level.fromString(u"0.75 dB", value));
  EXPECT_EQ(value, 0.75);
  value = -1;
  EXPECT_FALSE(level.fromString(u"loud", value));
  EXPECT_EQ(value, -1);
}

TEST(Vst3Parameters, ContainerFindsByIndexAndById) {
  ParameterContainer container;
  container.addParameter(u"A", nullptr, 0, 0.0, ParameterInfo::kCanAutomate, 7);
  container.addParameter(u"B"); // next index: 1
  EXPECT_EQ(container.addParameter(static_cast<Parameter *>(nullptr)), nullptr);
  EXPECT_EQ(container.addParameter(nullptr, nullptr), nullptr);
  ASSERT_EQ(container.getParameterCount(), 2);
  EXPECT_EQ(container.getParameter(7), container.getParameterByIndex(0));
  EXPECT_EQ(container.getParameter(1), container.getParameterByIndex(1));
  EXPECT_EQ(container.getParameter(0), nullptr);
  EXPECT_EQ(container.getParameterByIndex(2), nullptr);
  EXPECT_EQ(container.getParameterByIndex(-1), nullptr);
  container.removeAll();
  EXPECT_EQ(container.getParameter(7), nullptr);
}

TEST(Vst3EditController, ParameterCallsRouteThroughTheParameterObjects) {
  Controller controller;
  controller.params().addParameter(new Doubling);
  ParameterInfo info{};
  ASSERT_EQ(controller.getParameterInfo(0, info), kResultTrue);
  EXPECT_EQ(info.id, 9u);
  EXPECT_EQ(controller.getParameterInfo(1, info), kResultFalse);
  EXPECT_EQ(controller.normalizedParamToPlain(9, 0.25), 0.5); // the override
  EXPECT_EQ(controller.normalizedParamToPlain(4, 0.25), 0.25);
  EXPECT_EQ(controller.setParamNormalized(9, 1.5), kResultTrue);
  EXPECT_EQ(controller.getParamNormalized(9), 1.0);
  EXPECT_EQ(controller.setParamNormalized(4, 0.5), kResultFalse);
  EXPECT_EQ(controller.getParamNormalized(4), 0.0);
  String128 text;
  EXPECT_EQ(controller.getParamStringByValue(4, 0.5, text), kResultFalse);
  TChar input[] = u"0.125";
  ParamValue value = 0;
  EXPECT_EQ(controller.getParamValueByString(9, input, value), kResultTrue);
  EXPECT_EQ(value, 0.125);
  EXPECT_EQ(controller.createView("editor"), nullptr);
}

TEST(Vst3EditController, EditsGoToTheComponentHandler) {
  Controller controller;
  EXPECT_EQ(controller.performEdit(1, 0.5), kResultFalse);
  EXPECT_EQ(controller.startGroupEdit(), kNotImplemented);

  auto *handler = new FakeHandler;
  EXPECT_EQ(controller.setComponentHandler(handler), kResultTrue);
  EXPECT_EQ(handler->getRefCount(), 2);
  controller.beginEdit(3);
  controller.performEdit(3, 0.25);
  controller.endEdit(3);
  EXPECT_EQ(handler->log, "begin 3 -1.000000;perform 3 0.250000;end 3 -1.000000;");
  EXPECT_EQ(controller.startGroupEdit(), kNotImplemented); // no IComponentHandler2

  auto *handler2 = new FakeHandler2;
  controller.setComponentHandler(handler2);
  EXPECT_EQ(handler->getRefCount(), 1);
  EXPECT_EQ(handler2->getRefCount(), 3); // as IComponentHandler and IComponentHandler2
  EXPECT_EQ(controller.startGroupEdit(), kResultOk);
  EXPECT_EQ(handler2->log, "group 0 -1.000000;");

  controller.params().addParameter(u"A");
  controller.terminate();
  EXPECT_EQ(handler2->getRefCount(), 1);
  EXPECT_EQ(controller.getComponentHandler(), nullptr);
  EXPECT_EQ(controller.getParameterCount(), 0);
  handler->release();
  handler2->release();
}

TEST(Vst3EditController, UnitInfoReportsARootUnitUntilUnitsAreAdded) {
  Controller controller;
  ASSERT_EQ(controller.getUnitCount(), 1);
  UnitInfo unit{};
  ASSERT_EQ(controller.getUnitInfo(0, unit), kResultTrue);
  EXPECT_EQ(unit.id, kRootUnitId);
  EXPECT_EQ(unit.parentUnitId, kNoParentUnitId);
  EXPECT_EQ(unit.programListId, kNoProgramListId);
  EXPECT_EQ(controller.getUnitInfo(1, unit), kResultFalse);
  EXPECT_EQ(controller.getProgramListCount(), 0);
  EXPECT_EQ(controller.getSelectedUnit(), kRootUnitId);

  String128 name;
  UString(name, 128).fromAscii("Top");
  controller.addUnit(new Unit(name, kRootUnitId, kNoParentUnitId));
  controller.addUnit(new Unit(name, 5));
  ASSERT_EQ(controller.getUnitCount(), 2);
  ASSERT_EQ(controller.getUnitInfo(1, unit), kResultTrue);
  EXPECT_EQ(unit.id, 5);
  EXPECT_EQ(unit.parentUnitId, kRootUnitId);
  EXPECT_EQ(ascii(unit.name), "Top");
  EXPECT_EQ(controller.getUnitInfo(2, unit), kResultFalse);
}

// ---------------------------------------------------------------------------
// CPluginFactory

int gCreated = 0;
int gDestroyed = 0;
FUnknown *createEffect(void *) {
  ++gCreated;
  return static_cast<IAudioProcessor *>(new Effect(&gDestroyed));
}

TEST(Vst3Factory, RegisteredClassesAreDescribedAndCreated) {
  auto *factory = new CPluginFactory(
      PFactoryInfo("Norva Music", "https://example.invalid", "mailto:x@example.invalid", 0x10));
  gPluginFactory = factory;
  const FUID processorId(0x643D3396, 0x653D3529, 0x623D3070, 0x633D3203);
  const PClassInfo2 processorClass(processorId, PClassInfo::kManyInstances, kVstAudioEffectClass,
                                   "Tindrel", kDistributable, PlugType::kFx, nullptr, "1.0.0",
                                   kVstVersionString);
  EXPECT_FALSE(factory->registerClass(&processorClass, nullptr));
  ASSERT_TRUE(factory->registerClass(&processorClass, createEffect));
  const PClassInfoW wideClass(FUID(1, 2, 3, 4), 1, "Other", u"Wide", 0, "", nullptr, u"2",
                              u"VST 3.8.1");
  ASSERT_TRUE(factory->registerClass(&wideClass, createEffect));
  EXPECT_EQ(factory->countClasses(), 2);
  EXPECT_TRUE(factory->isClassRegistered(processorId));

  PFactoryInfo factoryInfo;
  ASSERT_EQ(factory->getFactoryInfo(&factoryInfo), kResultOk);
  EXPECT_STREQ(factoryInfo.vendor, "Norva Music");
  EXPECT_EQ(factoryInfo.flags, 0x10);

  PClassInfo2 info2;
  ASSERT_EQ(factory->getClassInfo2(0, &info2), kResultOk);
  EXPECT_EQ(hex(info2.cid, 16), hex(processorId, 16));
  EXPECT_STREQ(info2.category, "Audio Module Class");
  EXPECT_STREQ(info2.subCategories, "Fx");
  EXPECT_STREQ(info2.sdkVersion, "VST 3.8.1");
  EXPECT_EQ(info2.classFlags, 1u);
  EXPECT_EQ(factory->getClassInfo2(1, &info2), kResultFalse); // registered in UTF-16 form
  EXPECT_EQ(factory->getClassInfo2(2, &info2), kInvalidArgument);
  EXPECT_EQ(factory->getClassInfo2(-1, &info2), kInvalidArgument);

  PClassInfo info1;
  ASSERT_EQ(factory->getClassInfo(0, &info1), kResultOk);
  EXPECT_STREQ(info1.name, "Tindrel");
  EXPECT_EQ(info1.cardinality, PClassInfo::kManyInstances);

  PClassInfoW infoW;
  ASSERT_EQ(factory->getClassInfoUnicode(0, &infoW), kResultOk);
  EXPECT_EQ(ascii(infoW.name), "Tindrel");
  EXPECT_EQ(ascii(infoW.version), "1.0.0");
  EXPECT_STREQ(infoW.subCategories, "Fx");
  ASSERT_EQ(factory->getClassInfoUnicode(1, &infoW), kResultOk);
  EXPECT_EQ(ascii(infoW.name), "Wide");

  // The creation reference is dropped: the caller holds the only one.
  void *out = nullptr;
  ASSERT_EQ(factory->createInstance(processorId, IComponent::iid, &out), kResultOk);
  auto *component = static_cast<IComponent *>(out);
  EXPECT_EQ(static_cast<Effect *>(component)->getRefCount(), 1);
  component->release();
  EXPECT_EQ(gDestroyed, 1);

  // An interface the class lacks: nothing handed out, nothing leaked.
  EXPECT_EQ(factory->createInstance(processorId, IEditController::iid, &out), kNoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(gCreated, 2);
  EXPECT_EQ(gDestroyed, 2);
  EXPECT_EQ(factory->createInstance(FUID(9, 9, 9, 9), IComponent::iid, &out), kNoInterface);
  EXPECT_EQ(gCreated, 2);

  EXPECT_EQ(factory->release(), 0u);
  EXPECT_EQ(gPluginFactory, nullptr);
}

TEST(Vst3Factory, ClassRecordTextsAreTruncatedAndTerminated) {
  const std::string longName(100, 'n');
  const PClassInfo2 info(FUID(1, 2, 3, 4), 1, "Audio Module Class", longName.c_str(), 0, "Fx",
                         nullptr, "1", "v");
  EXPECT_EQ(std::string(info.name), std::string(63, 'n'));
  PClassInfoW wide;
  wide.fromAscii(info);
  EXPECT_EQ(ascii(wide.name), std::string(63, 'n'));
}

// ---------------------------------------------------------------------------
// CPluginView and text helpers

TEST(Vst3PluginView, KeepsRectangleParentAndFrame) {
  ViewRect initial(0, 0, 1120, 760);
  CPluginView view(&initial);
  ViewRect size;
  EXPECT_EQ(view.getSize(nullptr), kInvalidArgument);
  ASSERT_EQ(view.getSize(&size), kResultTrue);
  EXPECT_EQ(size.getWidth(), 1120);
  EXPECT_EQ(size.getHeight(), 760);
  ViewRect smaller(10, 20, 630, 440);
  EXPECT_EQ(view.onSize(&smaller), kResultTrue);
  EXPECT_EQ(view.getRect().getWidth(), 620);
  EXPECT_EQ(view.getRect().top, 20);

  int parent = 0;
  EXPECT_FALSE(view.isAttached());
  EXPECT_EQ(view.attached(&parent, kPlatformTypeNSView), kResultOk);
  EXPECT_TRUE(view.isAttached());
  EXPECT_EQ(view.removed(), kResultOk);
  EXPECT_FALSE(view.isAttached());
  EXPECT_EQ(view.isPlatformTypeSupported(kPlatformTypeNSView), kNotImplemented);
  EXPECT_EQ(view.canResize(), kResultFalse);
}

TEST(Vst3Strings, ConversionsStayWithinTheirBuffers) {
  UString128 text("Pluginval 1.0");
  char small[6];
  std::memset(small, 'x', sizeof small);
  text.toAscii(small, 5);
  EXPECT_STREQ(small, "Plug");
  EXPECT_EQ(small[5], 'x');

  char16 wide[8];
  for (char16 &c : wide)
    c = u'#';
  str8ToStr16(wide, "abcdefghij", 4);
  EXPECT_EQ(ascii(wide), "abc");
  EXPECT_EQ(wide[4], u'#');

  // The SDK's narrowing keeps the low byte of a non-ASCII code unit.
  const char16 smiley[] = {u'a', char16(0x263A), 0};
  char narrow[4];
  UString(const_cast<char16 *>(smiley), 3).toAscii(narrow, 4);
  EXPECT_EQ(narrow[1], char(0x3A));

  String128 number;
  UString(number, 128).printInt(-42);
  EXPECT_EQ(ascii(number), "-42");
  int64 parsed = 0;
  EXPECT_TRUE(UString(number, 128).scanInt(parsed));
  EXPECT_EQ(parsed, -42);
}

} // namespace
