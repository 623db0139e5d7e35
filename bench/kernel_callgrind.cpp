// Runs N 128-frame process calls of one configuration, for instruction counts
// under callgrind:
//
//   valgrind --tool=callgrind
//     --toggle-collect=lmpr_music_norva_tindrel_bf9421541c27_process
//     build-bench/bench/kernel_callgrind busy 10000
//
// (one command line).
//
// The collected total divided by N (or the difference between two runs with
// different N, divided by the difference in N) is the cost of one call.
#include <cstdio>
#include <cstdlib>

#include "bench_configs.h"
#include "kernel/kernel_interface.h"

#define K(op) lmpr_music_norva_tindrel_bf9421541c27_##op

int main(int argc, char **argv) {
  norva::bench::Config config = norva::bench::Config::Default;
  char *end = nullptr;
  const long calls = argc == 3 ? std::strtol(argv[2], &end, 10) : -1;
  if (argc != 3 || !norva::bench::parseConfig(argv[1], &config) || end == argv[2] || *end != '\0' ||
      calls < 0) {
    std::fprintf(stderr, "usage: kernel_callgrind default|busy CALLS\n");
    return 2;
  }
  const norva::bench::Instance instance = norva::bench::createInstance(config);
  if (instance.error != nullptr) {
    std::fprintf(stderr, "kernel_callgrind: %s\n", instance.error);
    return 1;
  }
  double outputs = 0;
  for (long i = 0; i < calls; ++i) {
    if (K(process)(instance.handle, norva::bench::kBlockFrames) != 0) {
      std::fprintf(stderr, "kernel_callgrind: process failed at call %ld\n", i);
      return 1;
    }
    outputs += K(event_output_count)(instance.handle);
  }
  std::printf("config %s%s, %ld calls, %.0f output records\n", norva::bench::configName(config),
              config == norva::bench::Config::Busy
                  ? (instance.authoredRestored ? " (ratchet 8 authored)" : " (parameters only)")
                  : "",
              calls, outputs);
  K(destroy)(instance.handle);
  return 0;
}
