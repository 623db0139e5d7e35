// What the kernel is asked to do, read from the engine's trace: how a host
// block is cut into kernel calls and which values are pushed into each call.
//
// The trace file is opened once per process, on first use, from
// NORVA_KERNEL_TRACE; this executable points it at a file of its own before
// any engine exists. Every test reads only the lines its own engine wrote
// after the test began.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/kernel_engine.h"
#include "params/params.h"

namespace {

using norva::KernelEngine;

std::string gTracePath;
const bool gTraceEnabled = [] {
  gTracePath = (std::filesystem::temp_directory_path() /
                ("kernel_engine_trace_" + std::to_string(getpid()) + ".txt"))
                   .string();
  std::remove(gTracePath.c_str());
  setenv("NORVA_KERNEL_TRACE", gTracePath.c_str(), 1);
  std::atexit([] { std::remove(gTracePath.c_str()); });
  return true;
}();

constexpr uint32_t kBpm = 1, kOctave = 7, kChainStart = 12, kChainEnd = 13, kSeed = 19;

bool queuePlain(KernelEngine &e, uint32_t index, double plain, int32_t frame) {
  const norva::norva_param_desc &row = norva::NORVA_PARAMS[index];
  return e.pushParamNormalized(index, (plain - row.min) / (row.max - row.min), frame);
}

void run(KernelEngine &e, int32_t frames) { e.processBlock(nullptr, 0, nullptr, 0, frames); }

// The value of `key=` in a trace line, "" when absent.
std::string field(const std::string &line, const std::string &key) {
  const std::string marker = " " + key + "=";
  const size_t at = line.find(marker);
  if (at == std::string::npos) return "";
  const size_t start = at + marker.size();
  return line.substr(start, line.find(' ', start) - start);
}

// One kernel call as traced: its B line's fields and the E lines after it.
struct Call {
  std::string off, chunk, frames, events, blk;
  std::vector<std::string> pushes; // E lines without the engine prefix
};

// Parameter pushes of a call as "a=value@frame/src".
std::vector<std::string> params(const Call &call) {
  std::vector<std::string> out;
  for (const std::string &e : call.pushes)
    if (field(e, "kind") == "1")
      out.push_back(field(e, "a") + "=" + field(e, "value") + "@" + field(e, "frame") + "/" +
                    field(e, "src"));
  return out;
}

class KernelEngineTrace : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(gTraceEnabled);
    engine_ = std::make_unique<KernelEngine>();
    ASSERT_TRUE(engine_->setup(48000, 512));
    run(*engine_, 512);
    mark();
  }

  // Lines this test's engine wrote since the last mark().
  std::vector<std::string> lines() {
    char self[32];
    std::snprintf(self, sizeof self, "this=%p ", static_cast<void *>(engine_.get()));
    std::ifstream in(gTracePath);
    in.seekg(std::streamoff(start_));
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
      if (line.find(self) != std::string::npos) out.push_back(line);
    return out;
  }

  void mark() {
    start_ = std::filesystem::exists(gTracePath) ? std::filesystem::file_size(gTracePath) : 0;
  }

  // The kernel calls traced since the last mark(); an E line before the
  // first B line fails the test.
  std::vector<Call> calls() {
    std::vector<Call> out;
    for (const std::string &line : lines()) {
      if (line.rfind("B ", 0) == 0) {
        out.push_back({field(line, "off"), field(line, "chunk"), field(line, "frames"),
                       field(line, "events"), field(line, "blk"), {}});
      } else if (line.rfind("E ", 0) == 0) {
        EXPECT_FALSE(out.empty()) << "push outside a kernel call: " << line;
        if (!out.empty()) out.back().pushes.push_back(line.substr(line.find(" blk=")));
      }
    }
    return out;
  }

  std::unique_ptr<KernelEngine> engine_;
  uintmax_t start_ = 0;
};

TEST_F(KernelEngineTrace, SetupWritesTheInstanceItCreated) {
  ASSERT_TRUE(engine_->setup(44100.5, 256));
  const std::vector<std::string> written = lines();
  ASSERT_EQ(written.size(), 1u);
  char expected[160];
  std::snprintf(expected, sizeof expected, "S this=%p rate=44100.5 kernelRate=44100.5 handle=%u",
                static_cast<void *>(engine_.get()), engine_->kernelHandle());
  EXPECT_EQ(written[0], expected);

  mark();
  EXPECT_FALSE(engine_->setup(700, 16384)); // refused before any kernel is created
  EXPECT_TRUE(lines().empty());
}

TEST_F(KernelEngineTrace, A300FrameBlockIsThreeKernelCalls) {
  engine_->pushNoteOn(64, 0.75, 200, 0, 0);
  engine_->pushController(7, 100, 258, 0, 0);
  run(*engine_, 300);
  const std::vector<Call> traced = calls();
  ASSERT_EQ(traced.size(), 3u);
  const char *offs[] = {"0", "128", "256"};
  const char *chunks[] = {"128", "128", "44"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(traced[i].off, offs[i]);
    EXPECT_EQ(traced[i].chunk, chunks[i]);
    EXPECT_EQ(traced[i].frames, "300");
    EXPECT_EQ(traced[i].events, "2");
    EXPECT_EQ(traced[i].blk, traced[0].blk);
  }
  EXPECT_TRUE(traced[0].pushes.empty());
  ASSERT_EQ(traced[1].pushes.size(), 1u);
  EXPECT_EQ(traced[1].pushes[0],
            " blk=" + traced[0].blk + " frame=72 kind=2 a=64 value=0.75 src=queue status=0");
  ASSERT_EQ(traced[2].pushes.size(), 1u); // a controller is traced but not delivered
  EXPECT_EQ(traced[2].pushes[0],
            " blk=" + traced[0].blk + " frame=2 kind=0 a=0 value=100 src=queue status=-1");

  mark();
  run(*engine_, 1);
  const std::vector<Call> next = calls();
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(std::stoull(next[0].blk), std::stoull(traced[0].blk) + 1);
  EXPECT_EQ(next[0].chunk, "1");
}

TEST_F(KernelEngineTrace, AFrameZeroChangeIsNotAlsoRepublished) {
  engine_->setParamValue(kBpm, 150);
  engine_->setParamValue(kOctave, 3);
  queuePlain(*engine_, kBpm, 200, 0);
  queuePlain(*engine_, kOctave, 2, 5); // not at frame 0: the stored value goes first
  run(*engine_, 512);
  const std::vector<Call> traced = calls();
  ASSERT_EQ(traced.size(), 4u);
  EXPECT_EQ(params(traced[0]),
            (std::vector<std::string>{"7=3@0/republish", "1=200@0/queue", "7=2@5/queue"}));
  for (int i = 1; i < 4; ++i) EXPECT_TRUE(params(traced[i]).empty()) << "call " << i;
  EXPECT_EQ(engine_->paramValue(kBpm), 200.0);
}

TEST_F(KernelEngineTrace, AZeroFrameBlockLeavesTheKernelAlone) {
  queuePlain(*engine_, kBpm, 160, 7);
  run(*engine_, 0);
  EXPECT_TRUE(lines().empty());
  EXPECT_EQ(engine_->paramValue(kBpm), 160.0);

  run(*engine_, 256);
  const std::vector<Call> traced = calls();
  ASSERT_EQ(traced.size(), 2u);
  EXPECT_EQ(traced[0].events, "0");
  EXPECT_EQ(params(traced[0]), (std::vector<std::string>{"1=160@0/republish"}));
  EXPECT_TRUE(params(traced[1]).empty());
}

TEST_F(KernelEngineTrace, AValueKeptRefusedIsOfferedAloneEveryCall) {
  engine_->setParamValue(kChainStart, 20); // above chain end 7
  engine_->setParamValue(kSeed, 5);
  run(*engine_, 512);
  std::vector<Call> traced = calls();
  ASSERT_EQ(traced.size(), 4u);
  EXPECT_EQ(params(traced[0]), (std::vector<std::string>{"12=20@0/republish", "19=5@0/republish"}));
  // Both are offered again, one per call and in turn; the seed, which the
  // kernel takes, only once.
  int seedRetries = 0;
  for (int i = 1; i < 4; ++i) {
    const std::vector<std::string> pushed = params(traced[i]);
    ASSERT_EQ(pushed.size(), 1u) << "call " << i;
    if (i < 3 && pushed[0] == "19=5@0/republish") {
      ++seedRetries;
    } else {
      EXPECT_EQ(pushed[0], "12=20@0/republish") << "call " << i;
    }
  }
  EXPECT_EQ(seedRetries, 1);

  mark();
  run(*engine_, 512);
  traced = calls();
  ASSERT_EQ(traced.size(), 4u);
  for (const Call &call : traced)
    EXPECT_EQ(params(call), (std::vector<std::string>{"12=20@0/republish"}));
}

TEST_F(KernelEngineTrace, ValuesKeptRefusedTakeTurns) {
  engine_->setParamValue(kChainStart, 9);
  engine_->setParamValue(kChainEnd, 10);
  run(*engine_, 512);
  // Neither can land while the other stands: start above 10, end below 9.
  mark();
  engine_->setParamValue(kChainStart, 20);
  engine_->setParamValue(kChainEnd, 5);
  run(*engine_, 512);
  run(*engine_, 512);
  const std::vector<Call> traced = calls();
  ASSERT_EQ(traced.size(), 8u);
  EXPECT_EQ(params(traced[0]), (std::vector<std::string>{"12=20@0/republish", "13=5@0/republish"}));
  std::string previous;
  for (size_t i = 1; i < traced.size(); ++i) {
    const std::vector<std::string> pushed = params(traced[i]);
    ASSERT_EQ(pushed.size(), 1u) << "call " << i;
    EXPECT_NE(pushed[0], previous) << "call " << i;
    previous = pushed[0];
  }
}

TEST_F(KernelEngineTrace, AFrameZeroValueRefusedIsRetriedLikeAnyOther) {
  queuePlain(*engine_, kChainStart, 20, 0); // above chain end 7
  run(*engine_, 512);
  run(*engine_, 512);
  const std::vector<Call> traced = calls();
  ASSERT_EQ(traced.size(), 8u);
  EXPECT_EQ(params(traced[0]), (std::vector<std::string>{"12=20@0/queue"}));
  // The value stays excluded for the rest of its own block at most.
  for (size_t i = 4; i < traced.size(); ++i)
    EXPECT_EQ(params(traced[i]), (std::vector<std::string>{"12=20@0/republish"})) << "call " << i;
}

} // namespace
