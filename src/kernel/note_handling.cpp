#include <cmath>

#include "kernel/kernel_state.h"

namespace norva::kernel {
namespace {

// round(x): floor, plus one when the fraction is at least one half.
double roundHalfUp(double x) {
  const double f = floorOf(x);
  return x - f >= 0.5 ? f + 1 : f;
}

int32_t level127(double value) {
  const double level = roundHalfUp(value * 127);
  return level < 0 ? 0 : (level > 127 ? 127 : int32_t(level));
}

// Sorted insertion by frame; equal frames keep insertion order. A full queue
// drops the message.
template <int Capacity>
void insertSorted(MessageQueue<Capacity> &q, double frame, int32_t status, int32_t number,
                  int32_t level) {
  if (q.count >= Capacity) return;
  int at = q.count;
  while (at > 0 && q.frames[at - 1] > frame) {
    q.frames[at] = q.frames[at - 1];
    q.status[at] = q.status[at - 1];
    q.number[at] = q.number[at - 1];
    q.level[at] = q.level[at - 1];
    --at;
  }
  q.frames[at] = frame;
  q.status[at] = status;
  q.number[at] = number;
  q.level[at] = level;
  ++q.count;
}

// Low bits of a value taken as a signed 32-bit integer (two's complement).
int32_t lowBits(int32_t value, uint32_t mask) { return int32_t(uint32_t(value) & mask); }

} // namespace

bool handleEvent(KernelState &s, EventKind kind, int a, double value) {
  if (kind != EventKind::noteOn && kind != EventKind::noteOff && kind != EventKind::controlChange)
    return false;
  if (s.in.count >= kInputCapacity || a < 0 || a > 127) return false;
  if (!std::isfinite(value)) return false;
  const int32_t channel = int32_t(s.channel);
  int32_t status = 0;
  int32_t level = 0;
  switch (kind) {
  case EventKind::noteOn:
    status = 144 + channel;
    level = level127(value);
    break;
  case EventKind::noteOff:
    status = 128 + channel;
    break;
  default:
    status = 176 + channel;
    level = level127(value);
    break;
  }
  const int i = s.in.count++;
  s.in.frames[i] = s.baseFrame + s.cursorFrame;
  s.in.status[i] = status;
  s.in.number[i] = a;
  s.in.level[i] = level;
  return true;
}

void handleInputEntry(KernelState &s, int index, double frame) {
  const int32_t status = s.in.status[index];
  const int32_t number = s.in.number[index];
  const int32_t level = s.in.level[index];
  const int32_t type = status & 240;
  if (type == 176 && number == 123) {
    flushSustain(s, frame);
    appendOutput(s, frame, status, 123, level);
    return;
  }
  if (type == 144 && level > 0) {
    if (s.keyFollow == 1) {
      s.keyShift = number - 60 + 128;
      return;
    }
    uint8_t &passed = s.passedNotes[number & 127];
    if (passed < 255) ++passed;
    appendOutput(s, frame, status, number, level);
    return;
  }
  if (type == 128 || type == 144) {
    // A note let through ends even if key following took over meanwhile.
    uint8_t &passed = s.passedNotes[number & 127];
    if (passed > 0) {
      --passed;
    } else if (s.keyFollow == 1) {
      return;
    }
    appendOutput(s, frame, status, number, level);
    return;
  }
  appendOutput(s, frame, status, number, level);
}

void appendOutput(KernelState &s, double frame, int32_t status, int32_t number, int32_t level) {
  insertSorted(s.out, frame, lowBits(status, 255), lowBits(number, 127), lowBits(level, 127));
}

void queueEvent(KernelState &s, double frame, int32_t status, int32_t number, int32_t level) {
  insertSorted(s.pending, frame, status, number, level);
}

void cancelOff(KernelState &s, int32_t status, int32_t note) {
  auto &q = s.pending;
  int kept = 0;
  for (int i = 0; i < q.count; ++i) {
    if (q.status[i] == status && q.number[i] == note) continue;
    if (kept != i) {
      q.frames[kept] = q.frames[i];
      q.status[kept] = q.status[i];
      q.number[kept] = q.number[i];
      q.level[kept] = q.level[i];
    }
    ++kept;
  }
  q.count = kept;
}

void endHeld(KernelState &s, double frame) {
  const int32_t off = 128 + int32_t(s.sustainChannel);
  const int32_t note = int32_t(s.sustainNote);
  cancelOff(s, off, note);
  appendOutput(s, frame, off, note, 0);
  s.sustainActive = 0;
}

void flushSustain(KernelState &s, double frame) {
  const auto &q = s.pending;
  for (int i = 0; i < q.count; ++i) {
    if (q.frames[i] < frame) {
      appendOutput(s, q.frames[i], q.status[i], q.number[i], q.level[i]);
    } else if ((q.status[i] & 240) == 128) {
      appendOutput(s, frame, q.status[i], q.number[i], 0);
    }
    // A note-on scheduled after the flush never sounds.
  }
  s.pending.count = 0;
  s.sustainActive = 0;
  s.previousTie = 0;
}

// Appends one message, at `frame`, to the view of the call that starts at
// `base`; messages of other types are left out.
inline void addToView(OutputView &view, double base, double frame, int32_t status, int32_t number,
                      int32_t level) {
  const int32_t type = status & 240;
  MidiEvent event;
  if (type == 144 && level >= 1) {
    event.kind = EventKind::noteOn;
    event.value = uint8_t(level);
  } else if (type == 144 || type == 128) {
    event.kind = EventKind::noteOff;
  } else if (type == 176) {
    event.kind = EventKind::controlChange;
    event.value = uint8_t(level);
  } else {
    return;
  }
  // Output frames are offsets inside the call just run: bounded by its
  // length, never negative.
  const double offset = frame - base;
  event.frame = offset > 0 ? (offset < 2147483647.0 ? uint32_t(offset) : 2147483647u) : 0;
  event.channel = uint8_t(status & 15);
  event.number = uint8_t(number);
  view.events[view.count++] = event;
}

bool emitEvents(KernelState &s, OutputView &view) {
  bool delivered = true;
  for (int i = 0; i < s.out.count; ++i) {
    if (view.count >= view.capacity) {
      delivered = false;
      break;
    }
    addToView(view, s.baseFrame, s.out.frames[i], s.out.status[i], s.out.number[i], s.out.level[i]);
  }
  s.out.count = 0;
  s.baseFrame += s.cursorFrame;
  s.cursorFrame = 0;
  return delivered;
}

void emitScheduled(KernelState &s, double end, OutputView &view) {
  auto &q = s.pending;
  int due = 0;
  // In frame order, as appendOutput would have sorted them; the queue holds
  // fewer messages than a view.
  for (; due < q.count && q.frames[due] < end; ++due) {
    addToView(view, s.baseFrame, q.frames[due], lowBits(q.status[due], 255), lowBits(q.number[due], 127),
              lowBits(q.level[due], 127));
  }
  if (due > 0) {
    for (int i = due; i < q.count; ++i) {
      q.frames[i - due] = q.frames[i];
      q.status[i - due] = q.status[i];
      q.number[i - due] = q.number[i];
      q.level[i - due] = q.level[i];
    }
    q.count -= due;
  }
  s.baseFrame = end;
}

} // namespace norva::kernel
