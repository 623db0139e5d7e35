// Command line of norva-probe: which command, which bundle, and for render
// what to play and where to write it.
//
// Parsing is strict: every number must be finite, in range and free of
// trailing characters. A failure leaves one line of error text and never
// throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norva::probe {

inline constexpr uint32_t kDefaultSampleRate = 48000;
inline constexpr double kDefaultSeconds = 8.0;
inline constexpr uint32_t kDefaultBlockFrames = 512;
inline constexpr uint32_t kMinSampleRate = 1000;
inline constexpr uint32_t kMaxSampleRate = 768000;
inline constexpr double kMaxSeconds = 3600.0;
// The largest block the probe announces to a plug-in as its maximum.
inline constexpr uint32_t kMaxBlockFrames = 16384;

// One --set: a catalogue row and a plain value inside its range.
struct ParameterSetting {
  uint32_t id = 0;
  double value = 0.0;
};

// One --note, with its frame resolved against the sample rate.
struct NoteInput {
  double seconds = 0.0;
  uint64_t frame = 0;
  uint32_t note = 0;
  bool on = true;
  double velocity = 1.0; // 0..1; always 0 for a note off
};

struct RenderOptions {
  std::string bundlePath;
  uint32_t sampleRate = kDefaultSampleRate;
  double seconds = kDefaultSeconds;
  uint32_t blockFrames = kDefaultBlockFrames;
  uint64_t totalFrames = 0; // round(seconds * sampleRate), filled by the parser
  std::vector<ParameterSetting> settings; // in command-line order
  std::vector<NoteInput> notes;           // in command-line order
  std::string outPath;
  std::string saveStatePath; // empty: do not save
  std::string loadStatePath; // empty: start from the plug-in's defaults
  std::string patternPath;   // empty: the factory plane (or the loaded state's)
};

enum class CommandKind { Help, Info, Render, Validate, BankCheck, Bridge, Editor };

// editor: how long the page shows before a screenshot, and the most
// attach-and-detach cycles one run makes.
inline constexpr double kDefaultScreenshotSeconds = 3.0;
inline constexpr double kMaxScreenshotSeconds = 600.0;
inline constexpr uint64_t kMaxEditorCycles = 1000;

struct EditorOptions {
  std::string screenshotPath; // empty: no screenshot
  double afterSeconds = kDefaultScreenshotSeconds;
  uint32_t cycles = 0;        // attach-and-remove cycles before the screenshot or the session
  bool closeWindowFirst = false; // each cycle closes the window before it removes the view
};

struct ParsedCommand {
  CommandKind kind = CommandKind::Help;
  std::string bundlePath; // info, validate and bridge
  std::string bridgeRenderPath; // bridge --render; empty: no file
  EditorOptions editor;
  RenderOptions render;
  std::string bankFolder;   // bank check
  std::string instrumentId; // bank check --instrument; empty: the bank's first
};

// args excludes the program name. On failure returns false and sets error to
// one line without the program prefix.
bool parseCommandLine(const std::vector<std::string> &args, ParsedCommand &command,
                      std::string &error);

// The whole text is one finite decimal number (an optional leading '+' is
// allowed); no white space, no trailing characters.
bool parseStrictNumber(std::string_view text, double &value);
// The whole text is a decimal whole number that fits in 64 bits.
bool parseStrictWholeNumber(std::string_view text, uint64_t &value);

// Resolves KEY=VALUE against the parameter catalogue: KEY is a key such as
// "tindrel.bpm" or a row id "1"; VALUE must be a plain value the row accepts.
bool parseParameterSetting(std::string_view text, ParameterSetting &setting, std::string &error);
// Parses SECONDS:NOTE:on|off[:VELOCITY]; the frame is left for the caller.
bool parseNoteInput(std::string_view text, NoteInput &note, std::string &error);

// Shortest text that reads back as the same double ("120", "0.05", "-24").
std::string formatNumber(double value);

// The plain value a render uses for a row: the last --set for it, else the
// catalogue default.
double effectiveParameterValue(const RenderOptions &options, uint32_t id);

const char *usageText();

} // namespace norva::probe
