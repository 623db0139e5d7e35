// The sequencer kernel's plain-function interface.
//
// Sixteen C functions, exported with default visibility from every shared
// object that links the kernel. Handles, kinds, frames and numbers are
// unsigned 32-bit integers; values and sample rates are 64-bit floats; every
// status and result comes back as a 64-bit float except `collect`.
//
// The interface is not thread-safe: instances live in module-wide tables and
// the caller (the kernel engine) serialises every call.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define NORVA_KERNEL_API extern "C" __attribute__((visibility("default")))
#else
#define NORVA_KERNEL_API __attribute__((visibility("default")))
#endif

#define NORVA_KERNEL_SYMBOL_PREFIX "lmpr_music_norva_tindrel_bf9421541c27_"

enum {
  NORVA_KERNEL_ABI_VERSION = 2,
  NORVA_KERNEL_MAX_INSTANCES = 32,
  NORVA_KERNEL_MAX_FRAMES = 128,
  NORVA_KERNEL_MAX_EVENTS = 64,
  NORVA_KERNEL_PARAMETER_COUNT = 53,
  NORVA_KERNEL_MAX_EVENT_OUTPUTS = 256,
  NORVA_KERNEL_STATE_MAX_BYTES = 9400,

  NORVA_KERNEL_EVENT_PARAMETER = 1,
  NORVA_KERNEL_EVENT_NOTE_ON = 2,
  NORVA_KERNEL_EVENT_NOTE_OFF = 3,
  NORVA_KERNEL_EVENT_CONTROL_CHANGE = 4,
};

// Status codes. `push_event`: 0 queued, 1 unknown handle or frame out of range,
// 2 invalid event, 3 non-finite value or queue full, 4 out of frame order.
// `process`: 0 done, 1 unknown handle or too many frames, 2 an event or a
// sub-block was rejected (the block still ran and its output is readable),
// 3 output could not be delivered. `destroy`/`reset`: 0 done, 1 unknown handle,
// 2 (reset) a default was rejected.

// Receives the panic record of an internal fault: byte 1, the message, byte
// 31, the trap code ("LM4013".."LM4026"), byte 31, the entry symbol. Called at
// most once per program run.
typedef void (*norva_kernel_panic_sink)(void *context, const char *record,
                                        size_t length, const void *codeAddress);

NORVA_KERNEL_API void lmpr_music_norva_tindrel_bf9421541c27_runtime_init(void);
NORVA_KERNEL_API void lmpr_music_norva_tindrel_bf9421541c27_set_panic_sink(
    norva_kernel_panic_sink sink, void *context);
NORVA_KERNEL_API uint32_t lmpr_music_norva_tindrel_bf9421541c27_collect(void);
NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_abi_version(void);

NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_create(
    double sampleRate, uint32_t maxFrames, uint32_t inputs, uint32_t outputs);
NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_destroy(uint32_t handle);
NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_reset(uint32_t handle);

NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_push_event(
    uint32_t handle, uint32_t kind, uint32_t frame, uint32_t a, double value);
NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_process(uint32_t handle,
                                                                      uint32_t frames);

NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_event_output_count(uint32_t handle);
NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_event_output_frame(uint32_t handle,
                                                                                 uint32_t index);
NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_event_output_kind(uint32_t handle,
                                                                                uint32_t index);
NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_event_output_a(uint32_t handle,
                                                                             uint32_t index);
NORVA_KERNEL_API double lmpr_music_norva_tindrel_bf9421541c27_event_output_b(uint32_t handle,
                                                                             uint32_t index);

// The kernel has no audio: both views are always empty (length 0). A returned
// view stays valid until the next entry into the library.
NORVA_KERNEL_API void lmpr_music_norva_tindrel_bf9421541c27_input_view(uint32_t handle,
                                                                       float **data,
                                                                       uint32_t *length);
NORVA_KERNEL_API void lmpr_music_norva_tindrel_bf9421541c27_output_view(uint32_t handle,
                                                                        float **data,
                                                                        uint32_t *length);
