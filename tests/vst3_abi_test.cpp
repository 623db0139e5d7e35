// The VST 3 layer against the published binary interface (identifiers,
// record layouts on x86-64 Linux, vtable slot order, result codes) and the
// reference counting of the SDK-role base classes. `norva-probe validate`
// drives the bundle through these same headers, so it cannot see a mistake
// in them; Ardour (tests/ardour) sees only what it happens to call.
#include "vst3/abi/ibstream.h"
#include "vst3/abi/iplugview.h"
#include "vst3/abi/ivstaudioprocessor.h"
#include "vst3/abi/ivstevents.h"
#include "vst3/abi/ivsthostapplication.h"
#include "vst3/abi/ivstmidicontrollers.h"
#include "vst3/abi/ivstparameterchanges.h"
#include "vst3/sdk/fobject.h"
#include "vst3/sdk/fstrdefs.h"
#include "vst3/sdk/pluginfactory.h"
#include "vst3/sdk/pluginview.h"
#include "vst3/sdk/ustring.h"
#include "vst3/sdk/vstaudioeffect.h"
#include "vst3/sdk/vsteditcontroller.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;

std::string hex(const char *tuid) {
  char out[33];
  for (int i = 0; i < 16; ++i)
    std::snprintf(out + 2 * i, 3, "%02X", static_cast<unsigned char>(tuid[i]));
  return out;
}

// A named value against the number it must have.
struct Value { const char *name; int64 actual; int64 expected; };
#define VALUE(x, expected) Value{#x, int64(x), int64(expected)}

void expectValues(std::initializer_list<Value> values) {
  for (const Value &v : values) EXPECT_EQ(v.actual, v.expected) << v.name;
}

// Identifiers

TEST(Vst3Iid, EveryInterfaceHasItsPublishedBytes) {
#define IID(I, bytes) {#I, I::iid, bytes}
  const struct { const char *name; const FUID &iid; const char *bytes; } rows[] = {
      IID(FUnknown, "0000000000000000C000000000000046"), IID(IPluginBase, "22888DDB156E45AE8358B34808190625"),
      IID(IPluginFactory, "7A4D811C52114A1FAED9D2EE0B43BF9F"), IID(IPluginFactory2, "0007B650F24B4C0BA464EDB9F00B2ABB"),
      IID(IPluginFactory3, "4555A2ABC1234E579B12291036878931"), IID(IBStream, "C3BF6EA2309947529B6BF9901EE33E9B"),
      IID(ISizeableStream, "04F9549EE02F4E6E87E86A8747F4E17F"), IID(IComponent, "E831FF31F2D54301928EBBEE25697802"),
      IID(IAudioProcessor, "42043F99B7DA453CA569E79D9AAEC33D"), IID(IProcessContextRequirements, "2A654303EF764E3D95B5FE83730EF6D0"),
      IID(IEventList, "3A2C4214346349FEB2C4F397B9695A44"), IID(IParamValueQueue, "01263A18ED074F6F98C9D3564686F9BA"),
      IID(IParameterChanges, "A47796630BB64A56B44384A8466FEB9D"), IID(IAttributeList, "1E5F0AEBCC7F4533A254401138AD5EE4"),
      IID(IMessage, "936F033BC6C047DBBB0882F813C1E613"), IID(IConnectionPoint, "70A4156F6E6E4026989148BFAA60D8D1"),
      IID(IHostApplication, "58E595CCDB2D49698B6AAF8C36A664E5"), IID(IComponentHandler, "93A0BEA30BD045DB8E890B0CC1E46AC6"),
      IID(IComponentHandler2, "F040B4B3A36045ECABCDC045B4D5A2CC"), IID(IEditController, "DCD7BBE37742448DA874AACC979C759E"),
      IID(IEditController2, "7F4EFE59F3204967AC27A3AEAFB63038"), IID(IMidiMapping, "DF0FF9F749B74669B63AB7327ADBF5E5"),
      IID(IUnitHandler, "4B5147F84654486B8DAB30BA163A3C56"), IID(IUnitInfo, "3D4BD6B5913A4FD2A886E768A5EB92C1"),
      IID(IPlugView, "5BC32507D06049EAA6151B522B755B29"), IID(IPlugFrame, "367FAF01AFA946938D4DA2A0ED0882A3"),
      IID(Linux::IEventHandler, "561E65C913A0496F813A2C35654D7983"), IID(Linux::ITimerHandler, "10BDD94F41424774821FAD8FECA72CA9"),
      IID(Linux::IRunLoop, "18C3536697764F1A9C5B83857A871389"),
  };
#undef IID
  for (const auto &row : rows)
    EXPECT_EQ(hex(row.iid.toTUID()), row.bytes) << row.name;
}

// Class ids are written as four words; hosts compare the bytes and the text.
TEST(Vst3Iid, WordsAreStoredMostSignificantByteFirstAndTextRoundTrips) {
  const FUID uid(0x00C0FFEE, 0xDEADBEEF, 0x01234567, 0x89ABCDEF);
  EXPECT_EQ(hex(uid), "00C0FFEEDEADBEEF0123456789ABCDEF");
  const TUID inlined = INLINE_UID(0x643D3396, 0x653D3529, 0x623D3070, 0x633D3203);
  EXPECT_EQ(hex(inlined), "643D3396653D3529623D3070633D3203");

  FUID::String text;
  uidToString(uid, text);
  EXPECT_STREQ(text, "00C0FFEEDEADBEEF0123456789ABCDEF");
  FUID back;
  ASSERT_TRUE(uidFromString(back, "00c0ffeedeadbeef0123456789abcdef"));
  EXPECT_EQ(hex(back), hex(uid));
  for (const char *bad : {"00C0FFEEDEADBEEF0123456789ABCDE", "00C0FFEEDEADBEEF0123456789ABCDEF0",
                          "00C0FFEEDEADBEEF0123456789ABCDEG"}) {
    EXPECT_FALSE(uidFromString(back, bad)) << bad;
    EXPECT_EQ(hex(back), hex(uid)) << "a refused text left the id changed";
  }
}

// Result codes and published constants

TEST(Vst3Constants, ResultCodesFlagsEnumerationsAndCategoryTexts) {
  // Result codes are the non-COM values.
  expectValues({VALUE(kNoInterface, -1), VALUE(kResultOk, 0), VALUE(kResultTrue, 0),
                VALUE(kResultFalse, 1), VALUE(kInvalidArgument, 2), VALUE(kNotImplemented, 3),
                VALUE(kInternalError, 4), VALUE(kNotInitialized, 5), VALUE(kOutOfMemory, 6)});
  expectValues({VALUE(PFactoryInfo::kUnicode, 0x10), VALUE(kDefaultFactoryFlags, 0x10),
      VALUE(PClassInfo::kManyInstances, 0x7FFFFFFF), VALUE(kDistributable, 1),
      VALUE(kSample32, 0), VALUE(kSample64, 1), VALUE(kRealtime, 0), VALUE(kPrefetch, 1),
      VALUE(kOffline, 2), VALUE(kAudio, 0), VALUE(kEvent, 1), VALUE(kInput, 0), VALUE(kOutput, 1),
      VALUE(BusInfo::kDefaultActive, 1), VALUE(Event::kNoteOnEvent, 0),
      VALUE(Event::kNoteOffEvent, 1), VALUE(Event::kLegacyMIDICCOutEvent, 65535),
      VALUE(Event::kIsLive, 1), VALUE(ParameterInfo::kCanAutomate, 1),
      VALUE(kRootUnitId, 0), VALUE(kNoParentUnitId, -1), VALUE(kNoProgramListId, -1),
      VALUE(SpeakerArr::kStereo, 3), VALUE(SpeakerArr::kMono, 1 << 19)});
  EXPECT_STREQ(kVstAudioEffectClass, "Audio Module Class");
  EXPECT_STREQ(kVstComponentControllerClass, "Component Controller Class");
  EXPECT_STREQ(kVstVersionString, "VST 3.8.1");
}

// Record layouts (x86-64 Linux; the same numbers hold on 64-bit macOS).
// Every field after the first is listed, so a swap of two fields of equal
// size shows even when the size stays. Records the plug-in never reads or
// writes (the other event kinds, audio buffers) count only through their
// sizes, which the offsets after them pin.

struct Field { const char *name; size_t offset; size_t expected; };

template <class T>
void expectRecord(const char *name, size_t size, size_t alignment,
                  std::initializer_list<Field> fields) {
  static_assert(std::is_standard_layout_v<T> && std::is_trivially_copyable_v<T>,
                "interface records must stay plain");
  EXPECT_EQ(sizeof(T), size) << name;
  EXPECT_EQ(alignof(T), alignment) << name;
  for (const Field &f : fields)
    EXPECT_EQ(f.offset, f.expected) << name << "::" << f.name;
}

// LAYOUT(Type, size, alignment, AT(field, offset)...)
#define LAYOUT(T, size, alignment, ...)                                                            \
  do {                                                                                             \
    using R = T;                                                                                   \
    expectRecord<T>(#T, size, alignment, {__VA_ARGS__});                                           \
  } while (0)
#define AT(field, offset) Field{#field, offsetof(R, field), offset}

// A virtual destructor or a data member would move every slot or field.
template <class... I> void expectBareInterfaces() {
  static_assert((!std::has_virtual_destructor_v<I> && ...));
  for (size_t size : {sizeof(I)...})
    EXPECT_EQ(size, sizeof(void *));
}

TEST(Vst3Layout, TypesInterfacesAndRecords) {
  expectValues({VALUE(sizeof(TUID), 16), VALUE(sizeof(String128), 256), VALUE(sizeof(TBool), 1),
                VALUE(sizeof(tresult), 4), VALUE(sizeof(ParamID), 4), VALUE(sizeof(ParamValue), 8),
                VALUE(sizeof(SpeakerArrangement), 8), VALUE(sizeof(TSamples), 8)});
  expectBareInterfaces<FUnknown, IComponent, IAudioProcessor, IEditController, IUnitInfo,
                       IPluginFactory3, IPlugView, IConnectionPoint, IMessage, IBStream>();
  LAYOUT(PFactoryInfo, 452, 4, AT(url, 64), AT(email, 320), AT(flags, 448));
  LAYOUT(PClassInfo, 116, 4, AT(cardinality, 16), AT(category, 20), AT(name, 52));
  LAYOUT(PClassInfo2, 440, 4, AT(cardinality, 16), AT(category, 20), AT(name, 52), AT(classFlags, 116),
        AT(subCategories, 120), AT(vendor, 248), AT(version, 312), AT(sdkVersion, 376));
  LAYOUT(PClassInfoW, 696, 4, AT(cardinality, 16), AT(category, 20), AT(name, 52), AT(classFlags, 180),
        AT(subCategories, 184), AT(vendor, 312), AT(version, 440), AT(sdkVersion, 568));

  LAYOUT(BusInfo, 276, 4, AT(direction, 4), AT(channelCount, 8), AT(name, 12), AT(busType, 268), AT(flags, 272));
  LAYOUT(RoutingInfo, 12, 4, AT(busIndex, 4), AT(channel, 8));
  LAYOUT(ParameterInfo, 792, 8, AT(title, 4), AT(shortTitle, 260), AT(units, 516), AT(stepCount, 772),
        AT(defaultNormalizedValue, 776), AT(unitId, 784), AT(flags, 788));
  LAYOUT(UnitInfo, 268, 4, AT(parentUnitId, 4), AT(name, 8), AT(programListId, 264));
  LAYOUT(ProgramListInfo, 264, 4, AT(name, 4), AT(programCount, 260));
  LAYOUT(ViewRect, 16, 4, AT(top, 4), AT(right, 8), AT(bottom, 12));
  LAYOUT(ProcessSetup, 24, 8, AT(symbolicSampleSize, 4), AT(maxSamplesPerBlock, 8), AT(sampleRate, 16));
  LAYOUT(ProcessData, 80, 8, AT(symbolicSampleSize, 4), AT(numSamples, 8), AT(numInputs, 12), AT(numOutputs, 16),
        AT(inputs, 24), AT(outputs, 32), AT(inputParameterChanges, 40), AT(outputParameterChanges, 48),
        AT(inputEvents, 56), AT(outputEvents, 64), AT(processContext, 72));
  LAYOUT(ProcessContext, 112, 8, AT(sampleRate, 8), AT(projectTimeSamples, 16), AT(systemTime, 24),
        AT(continousTimeSamples, 32), AT(projectTimeMusic, 40), AT(barPositionMusic, 48), AT(cycleStartMusic, 56),
        AT(cycleEndMusic, 64), AT(tempo, 72), AT(timeSigNumerator, 80), AT(timeSigDenominator, 84), AT(chord, 88),
        AT(smpteOffsetSubframes, 92), AT(frameRate, 96), AT(samplesToNextClock, 104));

  LAYOUT(NoteOnEvent, 20, 4, AT(pitch, 2), AT(tuning, 4), AT(velocity, 8), AT(length, 12), AT(noteId, 16));
  LAYOUT(NoteOffEvent, 16, 4, AT(pitch, 2), AT(velocity, 4), AT(noteId, 8), AT(tuning, 12));
  LAYOUT(LegacyMIDICCOutEvent, 4, 1, AT(channel, 1), AT(value, 2), AT(value2, 3));
  // The union starts at 24 and is as large as its largest member (24).
  LAYOUT(Event, 48, 8, AT(sampleOffset, 4), AT(ppqPosition, 8), AT(flags, 16), AT(type, 18), AT(noteOn, 24),
        AT(noteOff, 24), AT(midiCCOut, 24), AT(noteExpressionText, 24));
}

#undef AT
#undef LAYOUT

// Vtable slot order and the calling shape of every method, read from the
// pointers to members the compiler builds for the declared interfaces.
// Shapes: i<n>/f<n> an integer/floating value of n bytes, p a pointer or
// reference, v void; "f8(i4,f8)" returns a double and takes an int32 and a
// double.

// Itanium C++ ABI: a pointer to a virtual member holds the slot's byte offset
// (plus one on x86-64; ARM flags it in the adjustment instead).
template <class M> int slotOf(M method) {
  struct {
    std::uintptr_t ptr;
    std::ptrdiff_t adj;
  } raw;
  static_assert(sizeof raw == sizeof method);
  std::memcpy(&raw, &method, sizeof raw);
#if defined(__arm__) || defined(__aarch64__)
  return raw.adj == 1 ? int(raw.ptr / sizeof(void *)) : -1;
#else
  return (raw.ptr & 1) && raw.adj == 0 ? int((raw.ptr - 1) / sizeof(void *)) : -1;
#endif
}

template <class T> std::string shape() {
  if constexpr (std::is_void_v<T>)
    return "v";
  else if constexpr (std::is_pointer_v<T> || std::is_reference_v<T>)
    return "p";
  else
    return (std::is_floating_point_v<T> ? "f" : std::is_class_v<T> ? "s" : "i") +
           std::to_string(sizeof(T));
}

template <class R, class C, class... A> std::string shapeOf(R (C::*)(A...)) {
  std::string args;
  ((args += (args.empty() ? "" : ",") + shape<A>()), ...);
  return shape<R>() + "(" + args + ")";
}

struct Method { const char *name; int slot; std::string shape; const char *expected; };

void expectSlots(const char *name, int first, std::initializer_list<Method> methods) {
  int slot = first;
  for (const Method &m : methods) {
    EXPECT_EQ(m.slot, slot++) << name << "::" << m.name;
    EXPECT_EQ(m.shape, m.expected) << name << "::" << m.name;
  }
}

// SLOTS(Interface, first own slot, M(method, shape)...)
#define SLOTS(I, first, ...)                                                                       \
  do {                                                                                             \
    using X = I;                                                                                   \
    expectSlots(#I, first, {__VA_ARGS__});                                                         \
  } while (0)
#define M(method, shape) Method{#method, slotOf(&X::method), shapeOf(&X::method), shape}

TEST(Vst3Vtable, InterfacesKeepThePublishedSlotOrderAndShapes) {
  SLOTS(FUnknown, 0, M(queryInterface, "i4(p,p)"), M(addRef, "i4()"), M(release, "i4()"));
  SLOTS(IPluginBase, 3, M(initialize, "i4(p)"), M(terminate, "i4()"));
  SLOTS(IComponent, 5, M(getControllerClassId, "i4(p)"), M(setIoMode, "i4(i4)"), M(getBusCount, "i4(i4,i4)"),
        M(getBusInfo, "i4(i4,i4,i4,p)"), M(getRoutingInfo, "i4(p,p)"), M(activateBus, "i4(i4,i4,i4,i1)"),
        M(setActive, "i4(i1)"), M(setState, "i4(p)"), M(getState, "i4(p)"));
  SLOTS(IAudioProcessor, 3, M(setBusArrangements, "i4(p,i4,p,i4)"), M(getBusArrangement, "i4(i4,i4,p)"),
        M(canProcessSampleSize, "i4(i4)"), M(getLatencySamples, "i4()"), M(setupProcessing, "i4(p)"),
        M(setProcessing, "i4(i1)"), M(process, "i4(p)"), M(getTailSamples, "i4()"));
  SLOTS(IProcessContextRequirements, 3, M(getProcessContextRequirements, "i4()"));
  SLOTS(IEditController, 5, M(setComponentState, "i4(p)"), M(setState, "i4(p)"), M(getState, "i4(p)"),
        M(getParameterCount, "i4()"), M(getParameterInfo, "i4(i4,p)"), M(getParamStringByValue, "i4(i4,f8,p)"),
        M(getParamValueByString, "i4(i4,p,p)"), M(normalizedParamToPlain, "f8(i4,f8)"),
        M(plainParamToNormalized, "f8(i4,f8)"), M(getParamNormalized, "f8(i4)"), M(setParamNormalized, "i4(i4,f8)"),
        M(setComponentHandler, "i4(p)"), M(createView, "p(p)"));
  SLOTS(IEditController2, 3, M(setKnobMode, "i4(i4)"), M(openHelp, "i4(i1)"), M(openAboutBox, "i4(i1)"));
  SLOTS(IUnitInfo, 3, M(getUnitCount, "i4()"), M(getUnitInfo, "i4(i4,p)"), M(getProgramListCount, "i4()"),
        M(getProgramListInfo, "i4(i4,p)"), M(getProgramName, "i4(i4,i4,p)"), M(getProgramInfo, "i4(i4,i4,p,p)"),
        M(hasProgramPitchNames, "i4(i4,i4)"), M(getProgramPitchName, "i4(i4,i4,i2,p)"), M(getSelectedUnit, "i4()"),
        M(selectUnit, "i4(i4)"), M(getUnitByBus, "i4(i4,i4,i4,i4,p)"), M(setUnitProgramData, "i4(i4,i4,p)"));
  SLOTS(IMidiMapping, 3, M(getMidiControllerAssignment, "i4(i4,i2,i2,p)"));
  SLOTS(IPluginFactory, 3, M(getFactoryInfo, "i4(p)"), M(countClasses, "i4()"), M(getClassInfo, "i4(i4,p)"),
        M(createInstance, "i4(p,p,p)"));
  SLOTS(IPluginFactory2, 7, M(getClassInfo2, "i4(i4,p)"));
  SLOTS(IPluginFactory3, 8, M(getClassInfoUnicode, "i4(i4,p)"), M(setHostContext, "i4(p)"));
  SLOTS(IPlugView, 3, M(isPlatformTypeSupported, "i4(p)"), M(attached, "i4(p,p)"), M(removed, "i4()"),
        M(onWheel, "i4(f4)"), M(onKeyDown, "i4(i2,i2,i2)"), M(onKeyUp, "i4(i2,i2,i2)"), M(getSize, "i4(p)"),
        M(onSize, "i4(p)"), M(onFocus, "i4(i1)"), M(setFrame, "i4(p)"), M(canResize, "i4()"),
        M(checkSizeConstraint, "i4(p)"));
  // What the host hands the plug-in.
  SLOTS(IConnectionPoint, 3, M(connect, "i4(p)"), M(disconnect, "i4(p)"), M(notify, "i4(p)"));
  SLOTS(IMessage, 3, M(getMessageID, "p()"), M(setMessageID, "v(p)"), M(getAttributes, "p()"));
  SLOTS(IAttributeList, 3, M(setInt, "i4(p,i8)"), M(getInt, "i4(p,p)"), M(setFloat, "i4(p,f8)"),
        M(getFloat, "i4(p,p)"), M(setString, "i4(p,p)"), M(getString, "i4(p,p,i4)"), M(setBinary, "i4(p,p,i4)"),
        M(getBinary, "i4(p,p,p)"));
  SLOTS(IHostApplication, 3, M(getName, "i4(p)"), M(createInstance, "i4(p,p,p)"));
  SLOTS(IBStream, 3, M(read, "i4(p,i4,p)"), M(write, "i4(p,i4,p)"), M(seek, "i4(i8,i4,p)"), M(tell, "i4(p)"));
  SLOTS(IEventList, 3, M(getEventCount, "i4()"), M(getEvent, "i4(i4,p)"), M(addEvent, "i4(p)"));
  SLOTS(IParamValueQueue, 3, M(getParameterId, "i4()"), M(getPointCount, "i4()"), M(getPoint, "i4(i4,p,p)"),
        M(addPoint, "i4(i4,f8,p)"));
  SLOTS(IParameterChanges, 3, M(getParameterCount, "i4()"), M(getParameterData, "p(i4)"),
        M(addParameterData, "p(p,p)"));
  SLOTS(IComponentHandler, 3, M(beginEdit, "i4(i4)"), M(performEdit, "i4(i4,f8)"), M(endEdit, "i4(i4)"),
        M(restartComponent, "i4(i4)"));
  SLOTS(IComponentHandler2, 3, M(setDirty, "i4(i1)"), M(requestOpenEditor, "i4(p)"), M(startGroupEdit, "i4()"),
        M(finishGroupEdit, "i4()"));
}

#undef M
#undef SLOTS

// Reference counting and queryInterface of the base classes

int gDestroyed = 0;
struct Effect : AudioEffect {
  ~Effect() override { ++gDestroyed; }
};
struct Controller : EditControllerEx1 {};

struct FakeHandler : FObject, IComponentHandler, IComponentHandler2 {
  tresult PLUGIN_API beginEdit(ParamID) override { return kResultOk; }
  tresult PLUGIN_API performEdit(ParamID, ParamValue) override { return kResultOk; }
  tresult PLUGIN_API endEdit(ParamID) override { return kResultOk; }
  tresult PLUGIN_API restartComponent(int32) override { return kResultOk; }
  tresult PLUGIN_API setDirty(TBool) override { return kResultOk; }
  tresult PLUGIN_API requestOpenEditor(FIDString) override { return kResultOk; }
  tresult PLUGIN_API startGroupEdit() override { return kResultOk; }
  tresult PLUGIN_API finishGroupEdit() override { return kResultOk; }
  DEF_INTERFACES_2(IComponentHandler, IComponentHandler2, FObject)
  REFCOUNT_METHODS(FObject)
};

uint32 countOf(FUnknown *object) {
  object->addRef();
  return object->release();
}

// An interface an object must answer, with the subobject it must hand out.
struct Answer { const char *name; const FUID &iid; const void *expected; };
#define ANSWER(I, pointer) Answer{#I, I::iid, static_cast<I *>(pointer)}

// Every answer is the right subobject and takes one reference, the refused
// interface leaves a null pointer and no reference; the last release deletes.
void expectAnswers(FUnknown *object, std::initializer_list<Answer> answers, const FUID &refused) {
  const uint32 before = countOf(object);
  for (const Answer &a : answers) {
    void *out = nullptr;
    EXPECT_EQ(object->queryInterface(a.iid, &out), kResultOk) << a.name;
    EXPECT_EQ(out, a.expected) << a.name;
  }
  void *out = reinterpret_cast<void *>(1);
  EXPECT_EQ(object->queryInterface(refused, &out), kNoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(countOf(object), before + answers.size());
  for (size_t i = 0; i < answers.size(); ++i)
    object->release();
  EXPECT_EQ(object->release(), 0u);
}

TEST(Vst3RefCount, FObjectCountsAtomicallyAndDeletesOnLastRelease) {
  gDestroyed = 0;
  auto *effect = new Effect;
  auto churn = [effect] {
    for (int i = 0; i < 100000; ++i) effect->addRef(), effect->release();
  };
  std::thread a(churn), b(churn);
  a.join();
  b.join();
  EXPECT_EQ(effect->getRefCount(), 1);
  EXPECT_EQ(gDestroyed, 0);
  EXPECT_EQ(effect->release(), 0u);
  EXPECT_EQ(gDestroyed, 1);
}

TEST(Vst3RefCount, BaseClassesAnswerTheirInterfacesWithTheRightSubobjects) {
  auto *effect = new Effect;
  // Component has two IPluginBase bases (through ComponentBase and IComponent);
  // the query answers ComponentBase's, whose slots lead to the same methods.
  expectAnswers(effect->unknownCast(),
                {ANSWER(IComponent, effect), ANSWER(IAudioProcessor, effect),
                 ANSWER(IProcessContextRequirements, effect), ANSWER(IConnectionPoint, effect),
                 ANSWER(IPluginBase, static_cast<ComponentBase *>(effect)),
                 ANSWER(FUnknown, static_cast<FObject *>(effect))},
                IEditController::iid);
  auto *controller = new Controller;
  expectAnswers(controller->unknownCast(),
                {ANSWER(IEditController, controller), ANSWER(IEditController2, controller),
                 ANSWER(IUnitInfo, controller), ANSWER(IConnectionPoint, controller),
                 ANSWER(IPluginBase, static_cast<ComponentBase *>(controller)),
                 ANSWER(FUnknown, static_cast<FObject *>(controller))},
                IComponent::iid);
  auto *view = new CPluginView;
  expectAnswers(view->unknownCast(), {ANSWER(IPlugView, view), ANSWER(FUnknown, static_cast<FObject *>(view))},
                IComponent::iid);
  auto *factory = new CPluginFactory(makeFactoryInfo("Vendor", "", "", PFactoryInfo::kUnicode));
  expectAnswers(factory,
                {ANSWER(IPluginFactory, factory), ANSWER(IPluginFactory2, factory),
                 ANSWER(IPluginFactory3, factory), ANSWER(FUnknown, factory)},
                IComponent::iid);
}

#undef ANSWER

// Refusals of a second initialize and of connections; what terminate lets
// go of is checked on the bundle by `norva-probe validate` (release orders).
TEST(Vst3RefCount, ComponentRefusesRepeatedInitializeAndConnections) {
  auto *host = new FObject;
  Effect effect, peer, stranger;
  // Results and the peer's reference count, in call order (a braced list
  // evaluates left to right).
  const std::vector<int32> got{effect.initialize(host),      effect.initialize(host), effect.connect(nullptr),
                               effect.connect(&peer),        effect.connect(&peer),   peer.getRefCount(),
                               effect.disconnect(&stranger), effect.disconnect(&peer), peer.getRefCount(),
                               effect.terminate()};
  EXPECT_EQ(got, (std::vector<int32>{kResultOk, kResultFalse, kInvalidArgument, kResultOk, kResultFalse, 2,
                                     kResultFalse, kResultOk, 1, kResultOk}));
  EXPECT_EQ(host->release(), 0u);
}

TEST(Vst3RefCount, ControllerHoldsTheComponentHandlerUntilReplacedOrTerminated) {
  Controller controller;
  auto *handler = new FakeHandler;
  EXPECT_EQ(controller.setComponentHandler(handler), kResultTrue);
  EXPECT_EQ(handler->getRefCount(), 3); // as IComponentHandler and IComponentHandler2
  EXPECT_EQ(controller.startGroupEdit(), kResultOk);
  controller.setComponentHandler(nullptr);
  EXPECT_EQ(handler->getRefCount(), 1);
  EXPECT_EQ(controller.startGroupEdit(), kNotImplemented);
  controller.setComponentHandler(handler);
  controller.terminate();
  EXPECT_EQ(handler->getRefCount(), 1);
  handler->release();
}

// The creation reference is dropped: the caller holds the only one, and an
// instance that lacks the asked interface is destroyed again. (Refused
// creations as such are `norva-probe validate`'s.)
FUnknown *createEffect(void *) { return static_cast<IAudioProcessor *>(new Effect); }

TEST(Vst3RefCount, FactoryHandsOutInstancesWithOneReference) {
  auto *factory = new CPluginFactory(makeFactoryInfo("Norva Music", "", "", PFactoryInfo::kUnicode));
  gPluginFactory = factory;
  const FUID cid(0x643D3396, 0x653D3529, 0x623D3070, 0x633D3203);
  const PClassInfo2 info = makeClassInfo2(cid, PClassInfo::kManyInstances, kVstAudioEffectClass, "Tindrel", 0, "Fx",
                                          nullptr, "1", "v");
  ASSERT_TRUE(factory->registerClass(&info, createEffect));
  gDestroyed = 0;
  void *out = nullptr;
  ASSERT_EQ(factory->createInstance(cid, IComponent::iid, &out), kResultOk);
  EXPECT_EQ(static_cast<IComponent *>(out)->release(), 0u);
  EXPECT_EQ(factory->createInstance(cid, IEditController::iid, &out), kNoInterface);
  EXPECT_EQ(gDestroyed, 2);
  // The last release clears the module's factory pointer.
  EXPECT_EQ(factory->release(), 0u);
  EXPECT_EQ(gPluginFactory, nullptr);
}

// Text that crosses the interface stays within its fixed-size buffers

TEST(Vst3Strings, ConversionsAndClassRecordsStayWithinTheirBuffers) {
  char small[6];
  std::memset(small, 'x', sizeof small);
  UString128("Pluginval 1.0").toAscii(small, 5);
  EXPECT_EQ(std::string(small, 6), std::string("Plug\0x", 6));
  char16 wide[8] = u"#######";
  str8ToStr16(wide, "abcdefghij", 4);
  EXPECT_EQ(std::u16string(wide, 5), std::u16string(u"abc\0#", 5));
  const std::string longName(100, 'n');
  const PClassInfo2 info = makeClassInfo2(FUID(1, 2, 3, 4), 1, "Audio Module Class", longName.c_str(), 0, "Fx",
                                          nullptr, "1", "v");
  EXPECT_EQ(std::string(info.name), std::string(63, 'n'));
  EXPECT_EQ(std::u16string(classInfoWFromAscii(info).name), std::u16string(63, u'n'));
}

} // namespace
