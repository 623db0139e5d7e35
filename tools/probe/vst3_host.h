// The host side of the VST 3 binary interface, as norva-probe needs it: a
// module loader, the host application object, messages and attribute lists,
// a connection proxy between the two halves of a plug-in, memory streams,
// parameter changes and event lists, and the transport handed to process.
//
// Every object here is reference counted the VST 3 way: it is created with
// one reference, which the creator owns, and destroyed by the release that
// drops the count to zero. Hold them in Steinberg::IPtr with owned(...).
// None of them is thread-safe beyond the atomic count: the probe is a
// single-threaded host.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "vst3/abi/ibstream.h"
#include "vst3/abi/ipluginbase.h"
#include "vst3/abi/ipluginfactory.h"
#include "vst3/abi/ivstattributes.h"
#include "vst3/abi/ivstaudioprocessor.h"
#include "vst3/abi/ivstcomponent.h"
#include "vst3/abi/ivsteditcontroller.h"
#include "vst3/abi/ivstevents.h"
#include "vst3/abi/ivsthostapplication.h"
#include "vst3/abi/ivstmessage.h"
#include "vst3/abi/ivstparameterchanges.h"
#include "vst3/abi/ivstprocesscontext.h"
#include "vst3/sdk/funknownimpl.h"

namespace norva::probe {

// How many host objects of each kind are alive, so a host can tell whether a
// plug-in released everything it was given or created through the host.
struct HostCensus {
  std::atomic<int> messages{0};
  std::atomic<int> attributeLists{0};
  std::atomic<int> streams{0};
  std::atomic<int> proxies{0};
};
HostCensus &hostCensus();

// The reference count every host object carries.
class RefCount {
public:
  Steinberg::uint32 add() { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
  Steinberg::uint32 drop() { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

private:
  std::atomic<Steinberg::uint32> count_{1};
};

#define NORVA_PROBE_REFCOUNT                                                                       \
  Steinberg::uint32 PLUGIN_API addRef() override { return refs_.add(); }                           \
  Steinberg::uint32 PLUGIN_API release() override {                                                \
    const Steinberg::uint32 left = refs_.drop();                                                   \
    if (left == 0) delete this;                                                                    \
    return left;                                                                                   \
  }                                                                                                \
  RefCount refs_;

// Text helpers for the interfaces' fixed UTF-16 buffers.
std::string toAscii(const Steinberg::char16 *text, size_t capacity);
std::u16string toUtf16(const std::string &text);
// 32 upper-case hex digits of a class id.
std::string uidHex(const Steinberg::TUID uid);

// --- module -----------------------------------------------------------------

// One loaded VST 3 module: dlopen, ModuleEntry, GetPluginFactory. Destroying
// it releases the factory, calls ModuleExit and closes the library, so every
// object created from the factory must be released first.
class Vst3Module {
public:
  // path: a bundle folder (X.vst3, whose library is
  // Contents/x86_64-linux/X.so) or the library itself.
  static std::unique_ptr<Vst3Module> load(const std::string &path, std::string &error);
  ~Vst3Module();
  Vst3Module(const Vst3Module &) = delete;
  Vst3Module &operator=(const Vst3Module &) = delete;

  Steinberg::IPluginFactory *factory() const { return factory_; }
  // Null when the factory does not offer the interface.
  Steinberg::IPluginFactory2 *factory2() const { return factory2_; }
  Steinberg::IPluginFactory3 *factory3() const { return factory3_; }
  const std::string &libraryPath() const { return libraryPath_; }
  void *handle() const { return handle_; }

  // GetPluginFactory as exported, for callers that test the entry point; the
  // caller owns the reference it returns.
  Steinberg::IPluginFactory *callGetPluginFactory() const;

  // An exported symbol of the library, or null.
  void *symbol(const char *name) const;
  // The first class of the category, or -1.
  int findClass(const char *category, Steinberg::PClassInfo &info) const;

private:
  Vst3Module() = default;

  void *handle_ = nullptr;
  bool entered_ = false;
  GetFactoryProc getFactory_ = nullptr;
  Steinberg::IPluginFactory *factory_ = nullptr;
  Steinberg::IPluginFactory2 *factory2_ = nullptr;
  Steinberg::IPluginFactory3 *factory3_ = nullptr;
  std::string libraryPath_;
};

// The shared object inside a bundle folder, or path itself when it names a
// file. False (with error) when neither exists.
bool resolveModulePath(const std::string &path, std::string &libraryPath, std::string &error);

// --- attributes and messages --------------------------------------------------

class HostAttributeList final : public Steinberg::Vst::IAttributeList {
public:
  HostAttributeList();
  ~HostAttributeList();

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  Steinberg::tresult PLUGIN_API setInt(AttrID id, Steinberg::int64 value) override;
  Steinberg::tresult PLUGIN_API getInt(AttrID id, Steinberg::int64 &value) override;
  Steinberg::tresult PLUGIN_API setFloat(AttrID id, double value) override;
  Steinberg::tresult PLUGIN_API getFloat(AttrID id, double &value) override;
  Steinberg::tresult PLUGIN_API setString(AttrID id, const Steinberg::Vst::TChar *string) override;
  Steinberg::tresult PLUGIN_API getString(AttrID id, Steinberg::Vst::TChar *string,
                                          Steinberg::uint32 sizeInBytes) override;
  Steinberg::tresult PLUGIN_API setBinary(AttrID id, const void *data,
                                          Steinberg::uint32 sizeInBytes) override;
  Steinberg::tresult PLUGIN_API getBinary(AttrID id, const void *&data,
                                          Steinberg::uint32 &sizeInBytes) override;

private:
  using Value = std::variant<Steinberg::int64, double, std::u16string, std::vector<uint8_t>>;
  std::map<std::string, Value, std::less<>> values_;
};

class HostMessage final : public Steinberg::Vst::IMessage {
public:
  HostMessage();
  ~HostMessage();

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  Steinberg::FIDString PLUGIN_API getMessageID() override;
  void PLUGIN_API setMessageID(Steinberg::FIDString id) override;
  Steinberg::Vst::IAttributeList *PLUGIN_API getAttributes() override;

private:
  std::string id_;
  bool hasId_ = false;
  HostAttributeList *attributes_;
};

// --- host application ---------------------------------------------------------

class HostApplication final : public Steinberg::Vst::IHostApplication {
public:
  explicit HostApplication(std::string name = "Norva Probe");

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  Steinberg::tresult PLUGIN_API getName(Steinberg::Vst::String128 name) override;
  // Makes IMessage and IAttributeList objects (the class id and the interface
  // id must both name the same one of the two).
  Steinberg::tresult PLUGIN_API createInstance(Steinberg::TUID cid, Steinberg::TUID iid,
                                               void **obj) override;

private:
  std::string name_;
};

// Records what a controller reports to its host.
class HostComponentHandler final : public Steinberg::Vst::IComponentHandler,
                                   public Steinberg::Vst::IComponentHandler2 {
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  // IComponentHandler2: the project marked changed is counted.
  Steinberg::tresult PLUGIN_API setDirty(Steinberg::TBool state) override;
  Steinberg::tresult PLUGIN_API requestOpenEditor(Steinberg::FIDString) override { return Steinberg::kNotImplemented; }
  Steinberg::tresult PLUGIN_API startGroupEdit() override { return Steinberg::kNotImplemented; }
  Steinberg::tresult PLUGIN_API finishGroupEdit() override { return Steinberg::kNotImplemented; }
  int dirtyMarks = 0;

  Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID) override;
  Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID,
                                            Steinberg::Vst::ParamValue) override;
  Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID) override;
  Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32 flags) override;

  // One call: an edit's kind with its id (and value for perform), or a
  // restart with its flags.
  struct Call {
    enum Kind { begin, perform, end, restart } kind;
    Steinberg::Vst::ParamID id = 0;
    Steinberg::Vst::ParamValue value = 0;
    Steinberg::int32 flags = 0;
    bool operator==(const Call &) const = default;
  };

  int edits = 0;
  int restarts = 0;
  std::vector<Call> calls;
  // Called for each performEdit after it is recorded, when set.
  std::function<void(Steinberg::Vst::ParamID, Steinberg::Vst::ParamValue)> onPerformEdit;
};

// --- connection -----------------------------------------------------------------

// One message that crossed a proxy: its id, the size of its "json"
// attribute (-1 when it has none), the attribute's bytes and the transport
// poll's "reset" flag.
struct MessageRecord {
  std::string id;
  int64_t jsonSize = -1;
  std::string json;
  int64_t reset = -1; // the integer attribute "reset"; -1 when it has none
};

// Sits between one side's connection point (the source, which talks to the
// proxy as its peer) and the other side's (the destination). Messages from
// the source are logged and passed on.
class ConnectionProxy final : public Steinberg::Vst::IConnectionPoint {
public:
  explicit ConnectionProxy(Steinberg::Vst::IConnectionPoint *source);
  ~ConnectionProxy();

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  // The host connects the proxy to the destination; the proxy then connects
  // itself to the source.
  Steinberg::tresult PLUGIN_API connect(Steinberg::Vst::IConnectionPoint *other) override;
  // From the host with the destination, or from the source with itself
  // (a component's terminate does that).
  Steinberg::tresult PLUGIN_API disconnect(Steinberg::Vst::IConnectionPoint *other) override;
  Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage *message) override;

  bool connected() const { return destination_ != nullptr; }
  const std::vector<MessageRecord> &log() const { return log_; }
  void clearLog() { log_.clear(); }

private:
  Steinberg::Vst::IConnectionPoint *source_;
  Steinberg::Vst::IConnectionPoint *destination_ = nullptr;
  std::vector<MessageRecord> log_;
};

// A connection point that only records what it is sent: the peer for a
// component tested without its other half.
class MessageSink final : public Steinberg::Vst::IConnectionPoint {
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  Steinberg::tresult PLUGIN_API connect(Steinberg::Vst::IConnectionPoint *) override;
  Steinberg::tresult PLUGIN_API disconnect(Steinberg::Vst::IConnectionPoint *) override;
  Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage *message) override;

  std::vector<MessageRecord> log;
};

// --- streams ----------------------------------------------------------------------

// A growable byte stream in memory. readPiece > 0 limits what one read
// delivers, as a host that hands out its data in pieces would.
class MemoryStream final : public Steinberg::IBStream, public Steinberg::ISizeableStream {
public:
  MemoryStream();
  explicit MemoryStream(std::vector<uint8_t> bytes, int32_t readPiece = 0);
  explicit MemoryStream(const std::string &text, int32_t readPiece = 0);
  ~MemoryStream();

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  Steinberg::tresult PLUGIN_API read(void *buffer, Steinberg::int32 numBytes,
                                     Steinberg::int32 *numBytesRead) override;
  Steinberg::tresult PLUGIN_API write(void *buffer, Steinberg::int32 numBytes,
                                      Steinberg::int32 *numBytesWritten) override;
  Steinberg::tresult PLUGIN_API seek(Steinberg::int64 pos, Steinberg::int32 mode,
                                     Steinberg::int64 *result) override;
  Steinberg::tresult PLUGIN_API tell(Steinberg::int64 *pos) override;
  Steinberg::tresult PLUGIN_API getStreamSize(Steinberg::int64 &size) override;
  Steinberg::tresult PLUGIN_API setStreamSize(Steinberg::int64 size) override;

  const std::vector<uint8_t> &bytes() const { return bytes_; }
  std::string text() const { return std::string(bytes_.begin(), bytes_.end()); }
  void rewind() { position_ = 0; }
  // Sizes of the reads the stream has answered, in order.
  const std::vector<int32_t> &reads() const { return reads_; }
  int writes() const { return writes_; }
  Steinberg::uint32 referenceCount() {
    addRef();
    return release();
  }

private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
  int32_t readPiece_ = 0;
  std::vector<int32_t> reads_;
  int writes_ = 0;
};

// A stream whose every call fails, as a full disk or a closed file would.
class FailingStream final : public Steinberg::IBStream {
public:
  FailingStream();
  ~FailingStream();

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  Steinberg::tresult PLUGIN_API read(void *, Steinberg::int32, Steinberg::int32 *numBytesRead) override;
  Steinberg::tresult PLUGIN_API write(void *, Steinberg::int32,
                                      Steinberg::int32 *numBytesWritten) override;
  Steinberg::tresult PLUGIN_API seek(Steinberg::int64, Steinberg::int32,
                                     Steinberg::int64 *result) override;
  Steinberg::tresult PLUGIN_API tell(Steinberg::int64 *pos) override;
};

// --- parameter changes and events -------------------------------------------------

class ParamValueQueue final : public Steinberg::Vst::IParamValueQueue {
public:
  explicit ParamValueQueue(Steinberg::Vst::ParamID id) : id_(id) {}

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  Steinberg::Vst::ParamID PLUGIN_API getParameterId() override { return id_; }
  Steinberg::int32 PLUGIN_API getPointCount() override;
  Steinberg::tresult PLUGIN_API getPoint(Steinberg::int32 index, Steinberg::int32 &sampleOffset,
                                         Steinberg::Vst::ParamValue &value) override;
  // Points stay in offset order; a second point at the same offset replaces
  // the first.
  Steinberg::tresult PLUGIN_API addPoint(Steinberg::int32 sampleOffset,
                                         Steinberg::Vst::ParamValue value,
                                         Steinberg::int32 &index) override;

private:
  struct Point {
    Steinberg::int32 offset;
    Steinberg::Vst::ParamValue value;
  };
  Steinberg::Vst::ParamID id_;
  std::vector<Point> points_;
};

// One block's parameter changes; queues are kept between blocks so that
// clear() does not allocate again.
class ParameterChanges final : public Steinberg::Vst::IParameterChanges {
public:
  ParameterChanges() = default;
  ~ParameterChanges();

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  Steinberg::int32 PLUGIN_API getParameterCount() override;
  Steinberg::Vst::IParamValueQueue *PLUGIN_API getParameterData(Steinberg::int32 index) override;
  // The queue of id, made on first use; index is its position.
  Steinberg::Vst::IParamValueQueue *PLUGIN_API addParameterData(const Steinberg::Vst::ParamID &id,
                                                                Steinberg::int32 &index) override;

  // Adds one point for id at offset.
  bool add(Steinberg::Vst::ParamID id, Steinberg::int32 offset, Steinberg::Vst::ParamValue value);
  void clear();

private:
  std::vector<ParamValueQueue *> queues_; // one reference each
  size_t used_ = 0;
};

// A list of events with a fixed capacity; addEvent refuses beyond it.
class EventList final : public Steinberg::Vst::IEventList {
public:
  explicit EventList(size_t capacity = 4096);

  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void **obj) override;
  NORVA_PROBE_REFCOUNT

  Steinberg::int32 PLUGIN_API getEventCount() override;
  Steinberg::tresult PLUGIN_API getEvent(Steinberg::int32 index, Steinberg::Vst::Event &e) override;
  Steinberg::tresult PLUGIN_API addEvent(Steinberg::Vst::Event &e) override;

  void clear() {
    events_.clear();
    refusedAdds_ = 0;
  }
  const std::vector<Steinberg::Vst::Event> &events() const { return events_; }
  // addEvent calls refused since the last clear().
  int refusedAdds() const { return refusedAdds_; }

private:
  std::vector<Steinberg::Vst::Event> events_;
  size_t capacity_;
  int refusedAdds_ = 0;
};

// --- transport ---------------------------------------------------------------------

// The host's transport as a host hands it to process: each block gets a
// ProcessContext holding what the plug-in asked for
// (IProcessContextRequirements flags), and the positions move on by the
// block's frames while the transport plays. The sample times are always
// given, the continuous one marked valid only when asked for.
struct HostTransport {
  Steinberg::uint32 requirements = 0;
  double sampleRate = 48000.0;
  double tempo = 120.0;
  Steinberg::int32 numerator = 4;
  Steinberg::int32 denominator = 4;
  bool playing = true;
  bool recording = false;
  bool cycleActive = false;
  double cycleStartPpq = 0;
  double cycleEndPpq = 16;
  Steinberg::int64 projectFrame = 0;    // moves while playing
  Steinberg::int64 continuousFrame = 0; // always moves

  // The context of the next block.
  Steinberg::Vst::ProcessContext context() const;
  void advance(Steinberg::int32 frames);
};

// Event helpers.
Steinberg::Vst::Event makeNoteOn(int32_t offset, int16_t pitch, float velocity, int16_t channel = 0);
Steinberg::Vst::Event makeNoteOff(int32_t offset, int16_t pitch, int16_t channel = 0);

} // namespace norva::probe
