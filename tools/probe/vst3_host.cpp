#include "vst3_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace norva::probe {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Answers iid with one of the listed interfaces of self, adding a reference.
template <class Self, class First, class... Rest>
tresult answer(Self *self, const TUID iid, void **obj) {
  if (FUnknownPrivate::iidEqual(iid, First::iid)) {
    *obj = static_cast<First *>(self);
    self->addRef();
    return kResultOk;
  }
  if constexpr (sizeof...(Rest) > 0) {
    return answer<Self, Rest...>(self, iid, obj);
  } else {
    *obj = nullptr;
    return kNoInterface;
  }
}

// queryInterface of an object with one interface I besides FUnknown.
template <class I, class Self> tresult answerOne(Self *self, const TUID iid, void **obj) {
  if (obj == nullptr) return kInvalidArgument;
  if (FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
    *obj = static_cast<FUnknown *>(static_cast<I *>(self));
    self->addRef();
    return kResultOk;
  }
  return answer<Self, I>(self, iid, obj);
}

using ModuleEntryProc = bool (*)(void *);
using ModuleExitProc = bool (*)();

} // namespace

HostCensus &hostCensus() {
  static HostCensus census;
  return census;
}

std::string toAscii(const char16 *text, size_t capacity) {
  std::string out;
  if (text == nullptr) return out;
  for (size_t i = 0; i < capacity && text[i] != 0; ++i)
    out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  return out;
}

std::u16string toUtf16(const std::string &text) {
  std::u16string out;
  for (unsigned char c : text) out += static_cast<char16_t>(c);
  return out;
}

std::string uidHex(const TUID uid) {
  char8 text[33];
  uidToString(uidFromTUID(uid), text);
  return text;
}

// --- module -------------------------------------------------------------------

bool resolveModulePath(const std::string &path, std::string &libraryPath, std::string &error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    error = "cannot find '" + path + "'";
    return false;
  }
  if (!fs::is_directory(status)) {
    libraryPath = path;
    return true;
  }
  // "X.vst3/", "X.vst3/Contents/x86_64-linux/../.." and the like name X.vst3.
  fs::path bundle = fs::absolute(path, ec).lexically_normal();
  if (!bundle.has_filename()) bundle = bundle.parent_path();
  std::string name = bundle.filename().string();
  if (name.size() > 5 && name.compare(name.size() - 5, 5, ".vst3") == 0)
    name.resize(name.size() - 5);
  const fs::path library = bundle / "Contents" / "x86_64-linux" / (name + ".so");
  if (!fs::is_regular_file(library, ec)) {
    error = "'" + path + "' holds no Contents/x86_64-linux/" + name + ".so";
    return false;
  }
  libraryPath = library.string();
  return true;
}

std::unique_ptr<Vst3Module> Vst3Module::load(const std::string &path, std::string &error) {
  std::unique_ptr<Vst3Module> module(new Vst3Module());
  if (!resolveModulePath(path, module->libraryPath_, error)) return nullptr;
  const std::string &library = module->libraryPath_;

  dlerror();
  module->handle_ = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module->handle_ == nullptr) {
    const char *reason = dlerror();
    error = "cannot load '" + library + "': " + (reason != nullptr ? reason : "unknown reason");
    return nullptr;
  }
  auto entry = reinterpret_cast<ModuleEntryProc>(dlsym(module->handle_, "ModuleEntry"));
  if (entry == nullptr) {
    error = "'" + library + "' exports no ModuleEntry";
    return nullptr;
  }
  if (!entry(module->handle_)) {
    error = "ModuleEntry of '" + library + "' failed";
    return nullptr;
  }
  module->entered_ = true;
  module->getFactory_ = reinterpret_cast<GetFactoryProc>(dlsym(module->handle_, "GetPluginFactory"));
  if (module->getFactory_ == nullptr) {
    error = "'" + library + "' exports no GetPluginFactory";
    return nullptr;
  }
  module->factory_ = module->getFactory_();
  if (module->factory_ == nullptr) {
    error = "GetPluginFactory of '" + library + "' returned no factory";
    return nullptr;
  }
  if (module->factory_->queryInterface(IPluginFactory2::iid,
                                       reinterpret_cast<void **>(&module->factory2_)) != kResultOk)
    module->factory2_ = nullptr;
  if (module->factory_->queryInterface(IPluginFactory3::iid,
                                       reinterpret_cast<void **>(&module->factory3_)) != kResultOk)
    module->factory3_ = nullptr;
  return module;
}

Vst3Module::~Vst3Module() {
  if (factory3_ != nullptr) factory3_->release();
  if (factory2_ != nullptr) factory2_->release();
  if (factory_ != nullptr) factory_->release();
  if (entered_) {
    auto exitProc = reinterpret_cast<ModuleExitProc>(dlsym(handle_, "ModuleExit"));
    if (exitProc != nullptr) exitProc();
  }
  if (handle_ != nullptr) dlclose(handle_);
}

IPluginFactory *Vst3Module::callGetPluginFactory() const {
  return getFactory_ != nullptr ? getFactory_() : nullptr;
}

void *Vst3Module::symbol(const char *name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

int Vst3Module::findClass(const char *category, PClassInfo &info) const {
  const int32 count = factory_->countClasses();
  for (int32 i = 0; i < count; ++i) {
    PClassInfo candidate;
    if (factory_->getClassInfo(i, &candidate) != kResultOk) continue;
    if (std::strncmp(candidate.category, category, sizeof candidate.category) == 0) {
      info = candidate;
      return i;
    }
  }
  return -1;
}

// --- attributes and messages ----------------------------------------------------

HostAttributeList::HostAttributeList() { ++hostCensus().attributeLists; }
HostAttributeList::~HostAttributeList() { --hostCensus().attributeLists; }

tresult PLUGIN_API HostAttributeList::queryInterface(const TUID iid, void **obj) {
  return answerOne<IAttributeList>(this, iid, obj);
}

tresult PLUGIN_API HostAttributeList::setInt(AttrID id, int64 value) {
  if (id == nullptr) return kInvalidArgument;
  values_[id] = value;
  return kResultOk;
}

tresult PLUGIN_API HostAttributeList::getInt(AttrID id, int64 &value) {
  if (id == nullptr) return kInvalidArgument;
  const auto it = values_.find(std::string_view(id));
  if (it == values_.end() || !std::holds_alternative<int64>(it->second)) return kResultFalse;
  value = std::get<int64>(it->second);
  return kResultOk;
}

tresult PLUGIN_API HostAttributeList::setFloat(AttrID id, double value) {
  if (id == nullptr) return kInvalidArgument;
  values_[id] = value;
  return kResultOk;
}

tresult PLUGIN_API HostAttributeList::getFloat(AttrID id, double &value) {
  if (id == nullptr) return kInvalidArgument;
  const auto it = values_.find(std::string_view(id));
  if (it == values_.end() || !std::holds_alternative<double>(it->second)) return kResultFalse;
  value = std::get<double>(it->second);
  return kResultOk;
}

tresult PLUGIN_API HostAttributeList::setString(AttrID id, const TChar *string) {
  if (id == nullptr || string == nullptr) return kInvalidArgument;
  values_[id] = std::u16string(string);
  return kResultOk;
}

tresult PLUGIN_API HostAttributeList::getString(AttrID id, TChar *string, uint32 sizeInBytes) {
  if (id == nullptr || string == nullptr) return kInvalidArgument;
  const auto it = values_.find(std::string_view(id));
  if (it == values_.end() || !std::holds_alternative<std::u16string>(it->second)) return kResultFalse;
  const uint32 capacity = sizeInBytes / sizeof(TChar);
  if (capacity == 0) return kInvalidArgument;
  const std::u16string &text = std::get<std::u16string>(it->second);
  const size_t count = std::min<size_t>(text.size(), capacity - 1);
  std::copy_n(text.begin(), count, string);
  string[count] = 0;
  return kResultOk;
}

tresult PLUGIN_API HostAttributeList::setBinary(AttrID id, const void *data, uint32 sizeInBytes) {
  if (id == nullptr || (data == nullptr && sizeInBytes > 0)) return kInvalidArgument;
  const auto *bytes = static_cast<const uint8_t *>(data);
  values_[id] = std::vector<uint8_t>(bytes, bytes + sizeInBytes);
  return kResultOk;
}

tresult PLUGIN_API HostAttributeList::getBinary(AttrID id, const void *&data, uint32 &sizeInBytes) {
  if (id == nullptr) return kInvalidArgument;
  const auto it = values_.find(std::string_view(id));
  if (it == values_.end() || !std::holds_alternative<std::vector<uint8_t>>(it->second))
    return kResultFalse;
  const std::vector<uint8_t> &bytes = std::get<std::vector<uint8_t>>(it->second);
  data = bytes.data();
  sizeInBytes = static_cast<uint32>(bytes.size());
  return kResultOk;
}

HostMessage::HostMessage() : attributes_(new HostAttributeList()) { ++hostCensus().messages; }

HostMessage::~HostMessage() {
  attributes_->release();
  --hostCensus().messages;
}

tresult PLUGIN_API HostMessage::queryInterface(const TUID iid, void **obj) {
  return answerOne<IMessage>(this, iid, obj);
}

FIDString PLUGIN_API HostMessage::getMessageID() { return hasId_ ? id_.c_str() : nullptr; }

void PLUGIN_API HostMessage::setMessageID(FIDString id) {
  hasId_ = id != nullptr;
  id_ = hasId_ ? id : "";
}

IAttributeList *PLUGIN_API HostMessage::getAttributes() { return attributes_; }

// --- host application -------------------------------------------------------------

HostApplication::HostApplication(std::string name) : name_(std::move(name)) {}

tresult PLUGIN_API HostApplication::queryInterface(const TUID iid, void **obj) {
  return answerOne<IHostApplication>(this, iid, obj);
}

tresult PLUGIN_API HostApplication::getName(String128 name) {
  if (name == nullptr) return kInvalidArgument;
  const std::u16string text = toUtf16(name_);
  const size_t count = std::min<size_t>(text.size(), 127);
  std::copy_n(text.begin(), count, name);
  name[count] = 0;
  return kResultOk;
}

tresult PLUGIN_API HostApplication::createInstance(TUID cid, TUID iid, void **obj) {
  if (obj == nullptr) return kInvalidArgument;
  *obj = nullptr;
  if (cid == nullptr || iid == nullptr) return kInvalidArgument;
  FUnknown *made = nullptr;
  if (FUnknownPrivate::iidEqual(cid, IMessage::iid)) {
    made = static_cast<IMessage *>(new HostMessage());
  } else if (FUnknownPrivate::iidEqual(cid, IAttributeList::iid)) {
    made = static_cast<IAttributeList *>(new HostAttributeList());
  } else {
    return kResultFalse;
  }
  const tresult result = made->queryInterface(iid, obj);
  made->release();
  return result == kResultOk ? kResultOk : kResultFalse;
}

tresult PLUGIN_API HostComponentHandler::queryInterface(const TUID iid, void **obj) {
  if (obj != nullptr && FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
    *obj = static_cast<FUnknown *>(static_cast<IComponentHandler *>(this));
    addRef();
    return kResultOk;
  }
  if (obj == nullptr) return kInvalidArgument;
  return answer<HostComponentHandler, IComponentHandler, IComponentHandler2>(this, iid, obj);
}
tresult PLUGIN_API HostComponentHandler::setDirty(TBool state) {
  if (state) ++dirtyMarks;
  return kResultOk;
}
tresult PLUGIN_API HostComponentHandler::beginEdit(ParamID id) {
  calls.push_back({Call::begin, id});
  return kResultOk;
}
tresult PLUGIN_API HostComponentHandler::performEdit(ParamID id, ParamValue value) {
  ++edits;
  calls.push_back({Call::perform, id, value});
  if (onPerformEdit) onPerformEdit(id, value);
  return kResultOk;
}
tresult PLUGIN_API HostComponentHandler::endEdit(ParamID id) {
  calls.push_back({Call::end, id});
  return kResultOk;
}
tresult PLUGIN_API HostComponentHandler::restartComponent(int32 flags) {
  ++restarts;
  calls.push_back({Call::restart, 0, 0, flags});
  return kResultOk;
}

// --- connection -------------------------------------------------------------------

namespace {

MessageRecord recordOf(IMessage *message) {
  MessageRecord record;
  const char *id = message->getMessageID();
  record.id = id != nullptr ? id : "";
  if (IAttributeList *attributes = message->getAttributes()) {
    const void *data = nullptr;
    uint32 size = 0;
    if (attributes->getBinary("json", data, size) == kResultOk) {
      record.jsonSize = size;
      if (data != nullptr) record.json.assign(static_cast<const char *>(data), size);
    }
    int64 reset = 0;
    if (attributes->getInt("reset", reset) == kResultOk) record.reset = reset;
  }
  return record;
}

} // namespace

ConnectionProxy::ConnectionProxy(IConnectionPoint *source) : source_(source) {
  source_->addRef();
  ++hostCensus().proxies;
}

ConnectionProxy::~ConnectionProxy() {
  if (destination_ != nullptr) destination_->release();
  source_->release();
  --hostCensus().proxies;
}

tresult PLUGIN_API ConnectionProxy::queryInterface(const TUID iid, void **obj) {
  return answerOne<IConnectionPoint>(this, iid, obj);
}

tresult PLUGIN_API ConnectionProxy::connect(IConnectionPoint *other) {
  if (other == nullptr) return kInvalidArgument;
  if (destination_ != nullptr) return kResultFalse;
  destination_ = other;
  destination_->addRef();
  const tresult result = source_->connect(this);
  if (result != kResultOk) {
    destination_->release();
    destination_ = nullptr;
  }
  return result;
}

tresult PLUGIN_API ConnectionProxy::disconnect(IConnectionPoint *other) {
  if (other == nullptr) return kInvalidArgument;
  if (destination_ == nullptr) return kResultFalse;
  if (other != destination_ && other != source_) return kInvalidArgument;
  IConnectionPoint *destination = destination_;
  destination_ = nullptr;
  // The source lets go of the proxy; when it is the source that asks, it has
  // already done so and answers kResultFalse.
  if (other == destination) source_->disconnect(this);
  destination->release();
  return kResultOk;
}

tresult PLUGIN_API ConnectionProxy::notify(IMessage *message) {
  if (message == nullptr) return kInvalidArgument;
  if (destination_ == nullptr) return kResultFalse;
  log_.push_back(recordOf(message));
  return destination_->notify(message);
}

tresult PLUGIN_API MessageSink::queryInterface(const TUID iid, void **obj) {
  return answerOne<IConnectionPoint>(this, iid, obj);
}
tresult PLUGIN_API MessageSink::connect(IConnectionPoint *) { return kResultOk; }
tresult PLUGIN_API MessageSink::disconnect(IConnectionPoint *) { return kResultOk; }
tresult PLUGIN_API MessageSink::notify(IMessage *message) {
  if (message == nullptr) return kInvalidArgument;
  log.push_back(recordOf(message));
  return kResultOk;
}

// --- streams ------------------------------------------------------------------------

MemoryStream::MemoryStream() { ++hostCensus().streams; }

MemoryStream::MemoryStream(std::vector<uint8_t> bytes, int32_t readPiece)
    : bytes_(std::move(bytes)), readPiece_(readPiece) {
  ++hostCensus().streams;
}

MemoryStream::MemoryStream(const std::string &text, int32_t readPiece)
    : bytes_(text.begin(), text.end()), readPiece_(readPiece) {
  ++hostCensus().streams;
}

MemoryStream::~MemoryStream() { --hostCensus().streams; }

tresult PLUGIN_API MemoryStream::queryInterface(const TUID iid, void **obj) {
  if (obj == nullptr) return kInvalidArgument;
  if (FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
    *obj = static_cast<FUnknown *>(static_cast<IBStream *>(this));
    addRef();
    return kResultOk;
  }
  return answer<MemoryStream, IBStream, ISizeableStream>(this, iid, obj);
}

tresult PLUGIN_API MemoryStream::read(void *buffer, int32 numBytes, int32 *numBytesRead) {
  if (numBytesRead != nullptr) *numBytesRead = 0;
  if (numBytes < 0 || (buffer == nullptr && numBytes > 0)) return kInvalidArgument;
  size_t count = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
  count = std::min<size_t>(count, static_cast<size_t>(numBytes));
  if (readPiece_ > 0) count = std::min<size_t>(count, static_cast<size_t>(readPiece_));
  if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
  reads_.push_back(static_cast<int32_t>(count));
  if (numBytesRead != nullptr) *numBytesRead = static_cast<int32>(count);
  return kResultOk;
}

tresult PLUGIN_API MemoryStream::write(void *buffer, int32 numBytes, int32 *numBytesWritten) {
  if (numBytesWritten != nullptr) *numBytesWritten = 0;
  if (numBytes < 0 || (buffer == nullptr && numBytes > 0)) return kInvalidArgument;
  ++writes_;
  const size_t count = static_cast<size_t>(numBytes);
  if (position_ + count > bytes_.size()) bytes_.resize(position_ + count);
  if (count > 0) std::memcpy(bytes_.data() + position_, buffer, count);
  position_ += count;
  if (numBytesWritten != nullptr) *numBytesWritten = numBytes;
  return kResultOk;
}

tresult PLUGIN_API MemoryStream::seek(int64 pos, int32 mode, int64 *result) {
  int64 base = 0;
  switch (mode) {
  case kIBSeekSet: base = 0; break;
  case kIBSeekCur: base = static_cast<int64>(position_); break;
  case kIBSeekEnd: base = static_cast<int64>(bytes_.size()); break;
  default: return kInvalidArgument;
  }
  if (base + pos < 0) return kResultFalse;
  position_ = static_cast<size_t>(base + pos);
  if (result != nullptr) *result = static_cast<int64>(position_);
  return kResultOk;
}

tresult PLUGIN_API MemoryStream::tell(int64 *pos) {
  if (pos == nullptr) return kInvalidArgument;
  *pos = static_cast<int64>(position_);
  return kResultOk;
}

tresult PLUGIN_API MemoryStream::getStreamSize(int64 &size) {
  size = static_cast<int64>(bytes_.size());
  return kResultOk;
}

tresult PLUGIN_API MemoryStream::setStreamSize(int64 size) {
  if (size < 0) return kInvalidArgument;
  bytes_.resize(static_cast<size_t>(size));
  position_ = std::min(position_, bytes_.size());
  return kResultOk;
}

FailingStream::FailingStream() { ++hostCensus().streams; }
FailingStream::~FailingStream() { --hostCensus().streams; }

tresult PLUGIN_API FailingStream::queryInterface(const TUID iid, void **obj) {
  return answerOne<IBStream>(this, iid, obj);
}
tresult PLUGIN_API FailingStream::read(void *, int32, int32 *numBytesRead) {
  if (numBytesRead != nullptr) *numBytesRead = 0;
  return kInternalError;
}
tresult PLUGIN_API FailingStream::write(void *, int32, int32 *numBytesWritten) {
  if (numBytesWritten != nullptr) *numBytesWritten = 0;
  return kInternalError;
}
tresult PLUGIN_API FailingStream::seek(int64, int32, int64 *) { return kInternalError; }
tresult PLUGIN_API FailingStream::tell(int64 *) { return kInternalError; }

// --- parameter changes and events -------------------------------------------------------

tresult PLUGIN_API ParamValueQueue::queryInterface(const TUID iid, void **obj) {
  return answerOne<IParamValueQueue>(this, iid, obj);
}

int32 PLUGIN_API ParamValueQueue::getPointCount() { return static_cast<int32>(points_.size()); }

tresult PLUGIN_API ParamValueQueue::getPoint(int32 index, int32 &sampleOffset, ParamValue &value) {
  if (index < 0 || index >= getPointCount()) return kResultFalse;
  sampleOffset = points_[static_cast<size_t>(index)].offset;
  value = points_[static_cast<size_t>(index)].value;
  return kResultOk;
}

tresult PLUGIN_API ParamValueQueue::addPoint(int32 sampleOffset, ParamValue value, int32 &index) {
  size_t at = 0;
  while (at < points_.size() && points_[at].offset < sampleOffset) ++at;
  if (at < points_.size() && points_[at].offset == sampleOffset) {
    points_[at].value = value;
  } else {
    points_.insert(points_.begin() + static_cast<std::ptrdiff_t>(at), Point{sampleOffset, value});
  }
  index = static_cast<int32>(at);
  return kResultOk;
}

ParameterChanges::~ParameterChanges() {
  for (ParamValueQueue *queue : queues_) queue->release();
}

tresult PLUGIN_API ParameterChanges::queryInterface(const TUID iid, void **obj) {
  return answerOne<IParameterChanges>(this, iid, obj);
}

int32 PLUGIN_API ParameterChanges::getParameterCount() { return static_cast<int32>(queues_.size()); }

IParamValueQueue *PLUGIN_API ParameterChanges::getParameterData(int32 index) {
  if (index < 0 || index >= getParameterCount()) return nullptr;
  return queues_[static_cast<size_t>(index)];
}

IParamValueQueue *PLUGIN_API ParameterChanges::addParameterData(const ParamID &id, int32 &index) {
  for (size_t i = 0; i < queues_.size(); ++i) {
    if (queues_[i]->getParameterId() == id) {
      index = static_cast<int32>(i);
      return queues_[i];
    }
  }
  queues_.push_back(new ParamValueQueue(id));
  index = static_cast<int32>(queues_.size() - 1);
  return queues_.back();
}

bool ParameterChanges::add(ParamID id, int32 offset, ParamValue value) {
  int32 index = 0;
  IParamValueQueue *queue = addParameterData(id, index);
  return queue != nullptr && queue->addPoint(offset, value, index) == kResultOk;
}

void ParameterChanges::clear() {
  for (ParamValueQueue *queue : queues_) queue->release();
  queues_.clear();
}

EventList::EventList(size_t capacity) : capacity_(capacity) { events_.reserve(std::min<size_t>(capacity, 4096)); }

tresult PLUGIN_API EventList::queryInterface(const TUID iid, void **obj) {
  return answerOne<IEventList>(this, iid, obj);
}

int32 PLUGIN_API EventList::getEventCount() { return static_cast<int32>(events_.size()); }

tresult PLUGIN_API EventList::getEvent(int32 index, Event &e) {
  if (index < 0 || index >= getEventCount()) return kInvalidArgument;
  e = events_[static_cast<size_t>(index)];
  return kResultOk;
}

tresult PLUGIN_API EventList::addEvent(Event &e) {
  if (events_.size() >= capacity_) {
    ++refusedAdds_;
    return kResultFalse;
  }
  events_.push_back(e);
  return kResultOk;
}

ProcessContext HostTransport::context() const {
  using Needs = IProcessContextRequirements;
  const auto asked = [this](uint32 need) { return (requirements & need) != 0; };
  ProcessContext c{};
  c.sampleRate = sampleRate;
  c.projectTimeSamples = projectFrame;
  c.continousTimeSamples = continuousFrame;
  // A constant tempo: the musical position follows from the frames played.
  const double ppq = sampleRate > 0 ? double(projectFrame) / sampleRate * tempo / 60.0 : 0.0;
  if (asked(Needs::kNeedTransportState)) {
    if (playing) c.state |= ProcessContext::kPlaying;
    if (recording) c.state |= ProcessContext::kRecording;
    if (cycleActive) c.state |= ProcessContext::kCycleActive;
  }
  if (asked(Needs::kNeedContinousTimeSamples)) c.state |= ProcessContext::kContTimeValid;
  if (asked(Needs::kNeedTempo)) {
    c.state |= ProcessContext::kTempoValid;
    c.tempo = tempo;
  }
  if (asked(Needs::kNeedTimeSignature)) {
    c.state |= ProcessContext::kTimeSigValid;
    c.timeSigNumerator = numerator;
    c.timeSigDenominator = denominator;
  }
  if (asked(Needs::kNeedProjectTimeMusic)) {
    c.state |= ProcessContext::kProjectTimeMusicValid;
    c.projectTimeMusic = ppq;
  }
  if (asked(Needs::kNeedBarPositionMusic) && numerator > 0 && denominator > 0) {
    const double bar = numerator * 4.0 / denominator;
    c.state |= ProcessContext::kBarPositionValid;
    c.barPositionMusic = std::floor(ppq / bar) * bar;
  }
  if (asked(Needs::kNeedCycleMusic)) {
    c.state |= ProcessContext::kCycleValid;
    c.cycleStartMusic = cycleStartPpq;
    c.cycleEndMusic = cycleEndPpq;
  }
  return c;
}

void HostTransport::advance(int32 frames) {
  continuousFrame += frames;
  if (playing) projectFrame += frames;
}

Event makeNoteOn(int32_t offset, int16_t pitch, float velocity, int16_t channel) {
  Event event{};
  event.busIndex = 0;
  event.sampleOffset = offset;
  event.flags = Event::kIsLive;
  event.type = Event::kNoteOnEvent;
  event.noteOn.channel = channel;
  event.noteOn.pitch = pitch;
  event.noteOn.velocity = velocity;
  event.noteOn.noteId = -1;
  return event;
}

Event makeNoteOff(int32_t offset, int16_t pitch, int16_t channel) {
  Event event{};
  event.busIndex = 0;
  event.sampleOffset = offset;
  event.flags = Event::kIsLive;
  event.type = Event::kNoteOffEvent;
  event.noteOff.channel = channel;
  event.noteOff.pitch = pitch;
  event.noteOff.noteId = -1;
  return event;
}

} // namespace norva::probe
