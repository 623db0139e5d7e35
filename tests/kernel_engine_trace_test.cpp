// What the kernel is asked to do, read from the engine's trace: how a host
// block is cut into kernel calls and which values are pushed into each call.
// The trace file, named by NORVA_KERNEL_TRACE and opened on first use, is
// this executable's own; each test reads only its own engine's lines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "engine/kernel_engine.h"
#include "params/params.h"

namespace {

using norva::KernelEngine;
using namespace norva; // parameter ids
using Strings = std::vector<std::string>;

const std::string gTracePath = [] {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("kernel_engine_trace_" + std::to_string(getpid()) + ".txt"))
                               .string();
  std::remove(path.c_str());
  setenv("NORVA_KERNEL_TRACE", path.c_str(), 1);
  std::atexit([] { std::remove(gTracePath.c_str()); });
  return path;
}();


void queuePlain(KernelEngine &e, uint32_t index, double plain, int32_t frame) {
  ASSERT_TRUE(e.pushParamNormalized(index, norva::norva_param_normalize(&norva::NORVA_PARAMS[index], plain), frame));
}

void run(KernelEngine &e, int32_t frames) { e.processBlock(frames); }

// One kernel call as traced: its block number; its B line from "off=" on,
// followed by " | " and each E line from "frame=" on; and its parameter
// pushes as "a=value@frame/src", joined by spaces.
struct Call {
  std::string blk, text, params;
};

class KernelEngineTrace : public ::testing::Test {
protected:
  void SetUp() override {
    engine_ = std::make_unique<KernelEngine>();
    ASSERT_TRUE(engine_->setup(48000, 512));
    run(*engine_, 512);
    mark();
  }

  void mark() { start_ = std::filesystem::exists(gTracePath) ? std::filesystem::file_size(gTracePath) : 0; }

  // The kernel calls this test's engine made since the last mark(); an E line
  // outside a call or of another block fails the test.
  std::vector<Call> calls() {
    static const std::regex call("B this=\\S+ blk=(\\d+) (.*)"),
        push("E this=\\S+ blk=(\\d+) (frame=(\\d+) kind=(\\d+) a=(\\d+) value=(\\S+) src=(\\S+) .*)");
    char self[32];
    std::snprintf(self, sizeof self, "this=%p ", static_cast<void *>(engine_.get()));
    std::ifstream in(gTracePath);
    in.seekg(std::streamoff(start_));
    std::vector<Call> out;
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
      if (line.find(self) == std::string::npos) continue;
      if (std::regex_match(line, m, call)) {
        out.push_back({m[1], m[2], ""});
      } else if (line[0] == 'E') {
        if (!std::regex_match(line, m, push) || out.empty() || m[1] != out.back().blk) {
          ADD_FAILURE() << "push outside its kernel call: " << line;
          continue;
        }
        out.back().text += " | " + m[2].str();
        if (m[4] == "1")
          out.back().params += (out.back().params.empty() ? "" : " ") + m[5].str() + "=" + m[6].str() + "@" +
                               m[3].str() + "/" + m[7].str();
      }
    }
    return out;
  }

  // One part of each call since the last mark().
  Strings each(std::string Call::*part) {
    Strings out;
    for (const Call &call : calls()) out.push_back(call.*part);
    return out;
  }

  std::unique_ptr<KernelEngine> engine_;
  uintmax_t start_ = 0;
};

TEST_F(KernelEngineTrace, BlocksAreCutIntoCallsOf128Frames) {
  engine_->pushNoteOn(64, 0.75, 200);
  engine_->pushNoteOff(64, 258);
  run(*engine_, 300);
  const Strings blocks = each(&Call::blk);
  ASSERT_EQ(blocks, Strings(3, blocks.at(0))) << "one host block";
  EXPECT_EQ(each(&Call::text),
            (Strings{"off=0 chunk=128 frames=300 events=2",
                     "off=128 chunk=128 frames=300 events=2 | frame=72 kind=2 a=64 value=0.75 src=queue status=0",
                     "off=256 chunk=44 frames=300 events=2 | frame=2 kind=3 a=64 value=0 src=queue status=0"}));
  mark();
  run(*engine_, 1);
  EXPECT_EQ(each(&Call::text), Strings{"off=0 chunk=1 frames=1 events=0"});
  EXPECT_EQ(each(&Call::blk), Strings{std::to_string(std::stoull(blocks[0]) + 1)});
}

TEST_F(KernelEngineTrace, EachValueReachesTheKernelOnce) {
  queuePlain(*engine_, kParamBpm, 160, 7);
  run(*engine_, 0); // stores the value, leaves the kernel alone
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(engine_->paramValue(kParamBpm), 160.0);
  run(*engine_, 256);
  EXPECT_EQ(each(&Call::text), (Strings{"off=0 chunk=128 frames=256 events=0 | frame=0 kind=1 a=1 "
                                        "value=160 src=republish status=0",
                                        "off=128 chunk=128 frames=256 events=0"}));
  mark();
  engine_->setParamValue(kParamBpm, 150);
  engine_->setParamValue(kParamOctave, 3);
  queuePlain(*engine_, kParamBpm, 200, 0);  // a frame-0 change is not also republished
  queuePlain(*engine_, kParamOctave, 2, 5); // not at frame 0: the stored value goes first
  run(*engine_, 512);
  EXPECT_EQ(each(&Call::params), (Strings{"7=3@0/republish 1=200@0/queue 7=2@5/queue", "", "", ""}));
  EXPECT_EQ(engine_->paramValue(kParamBpm), 200.0);
}

// Values the kernel refuses are offered again, alone, one per call and in
// turn. The chain bounds below can never land (the start above 10, the end
// below 9) and take turns; the seed, pushed into the same call, is offered
// just once more.
TEST_F(KernelEngineTrace, ValuesKeptRefusedAreOfferedAloneAndInTurn) {
  engine_->setParamValue(kParamChainStart, 9);
  engine_->setParamValue(kParamChainEnd, 10);
  run(*engine_, 512);
  mark();
  engine_->setParamValue(kParamChainStart, 20);
  engine_->setParamValue(kParamChainEnd, 5);
  engine_->setParamValue(kParamSeed, 5);
  for (int block = 0; block < 3; ++block) run(*engine_, 512);
  Strings pushed = each(&Call::params);
  ASSERT_EQ(pushed.size(), 12u);
  for (const char *value : {"12=20@0/republish", "13=5@0/republish", "19=5@0/republish"})
    EXPECT_NE(pushed[0].find(value), std::string::npos) << value;
  EXPECT_EQ(std::erase(pushed, "19=5@0/republish"), 1u);
  for (size_t i = 1; i < pushed.size(); ++i) {
    EXPECT_TRUE(pushed[i] == "12=20@0/republish" || pushed[i] == "13=5@0/republish") << pushed[i];
    EXPECT_NE(pushed[i], pushed[i - 1]) << "call " << i;
  }
}

} // namespace
