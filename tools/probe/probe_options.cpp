#include "probe_options.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "params/params.h"

namespace norva::probe {
namespace {

std::string quoted(std::string_view text) {
  std::string out = "'";
  out.append(text);
  out += '\'';
  return out;
}

uint64_t roundedFrame(double seconds, uint32_t sampleRate) {
  return static_cast<uint64_t>(std::floor(seconds * sampleRate + 0.5));
}

bool isMultipleOf(double value, double step) {
  const double steps = std::round(value / step);
  return std::fabs(steps * step - value) <= 1e-9 * std::fmax(1.0, std::fabs(value));
}

// The plain values a row accepts, for error text.
std::string expectedValues(const norva_param_desc &row) {
  switch (row.kind) {
  case kParamKindToggle:
    return "0 or 1";
  case kParamKindList:
    return "a whole number from 0 to " + std::to_string(row.labelCount > 0 ? row.labelCount - 1 : 0);
  default:
    break;
  }
  const std::string bounds = "from " + formatNumber(row.min) + " to " + formatNumber(row.max);
  if (row.step == 0) return "a number " + bounds;
  if (row.step == 1) return "a whole number " + bounds;
  return "a multiple of " + formatNumber(row.step) + " " + bounds;
}

bool acceptsPlainValue(const norva_param_desc &row, double value) {
  switch (row.kind) {
  case kParamKindToggle:
    return value == 0 || value == 1;
  case kParamKindList:
    return value >= 0 && value <= (row.labelCount > 0 ? row.labelCount - 1 : 0) &&
           value == std::floor(value);
  default:
    if (value < row.min || value > row.max) return false;
    return row.step == 0 || isMultipleOf(value, row.step);
  }
}

bool parseWholeNumberInRange(std::string_view option, std::string_view text, uint64_t min,
                             uint64_t max, uint64_t &value, std::string &error) {
  if (!parseStrictWholeNumber(text, value) || value < min || value > max) {
    error = "bad value " + quoted(text) + " for " + std::string(option) +
            " (expected a whole number from " + std::to_string(min) + " to " +
            std::to_string(max) + ")";
    return false;
  }
  return true;
}

bool isHelpWord(std::string_view word) {
  return word == "--help" || word == "-h" || word == "help";
}

bool parseRenderOptions(const std::vector<std::string> &args, size_t first, ParsedCommand &command,
                        std::string &error) {
  RenderOptions &options = command.render;
  bool haveOut = false;
  for (size_t i = first; i < args.size(); ++i) {
    std::string_view word = args[i];
    if (isHelpWord(word)) {
      command.kind = CommandKind::Help;
      return true;
    }
    if (word.size() < 3 || word.substr(0, 2) != "--") {
      error = "unexpected argument " + quoted(word) + " (try --help)";
      return false;
    }
    std::string_view name = word;
    std::string_view value;
    bool haveValue = false;
    if (const size_t eq = word.find('='); eq != std::string_view::npos) {
      name = word.substr(0, eq);
      value = word.substr(eq + 1);
      haveValue = true;
    }
    if (name != "--rate" && name != "--seconds" && name != "--block" && name != "--set" &&
        name != "--note" && name != "--out" && name != "--save-state" && name != "--load-state" &&
        name != "--pattern") {
      error = "unknown option " + quoted(name) + " (try --help)";
      return false;
    }
    if (!haveValue) {
      if (i + 1 >= args.size()) {
        error = "option " + quoted(name) + " needs a value";
        return false;
      }
      value = args[++i];
    }

    if (name == "--rate") {
      uint64_t rate = 0;
      if (!parseWholeNumberInRange(name, value, kMinSampleRate, kMaxSampleRate, rate, error))
        return false;
      options.sampleRate = static_cast<uint32_t>(rate);
    } else if (name == "--seconds") {
      double seconds = 0;
      if (!parseStrictNumber(value, seconds) || seconds <= 0 || seconds > kMaxSeconds) {
        error = "bad value " + quoted(value) + " for --seconds (expected a number above 0, at most " +
                formatNumber(kMaxSeconds) + ")";
        return false;
      }
      options.seconds = seconds;
    } else if (name == "--block") {
      uint64_t block = 0;
      if (!parseWholeNumberInRange(name, value, 1, kMaxBlockFrames, block, error)) return false;
      options.blockFrames = static_cast<uint32_t>(block);
    } else if (name == "--set") {
      ParameterSetting setting;
      if (!parseParameterSetting(value, setting, error)) return false;
      options.settings.push_back(setting);
    } else if (name == "--note") {
      NoteInput note;
      if (!parseNoteInput(value, note, error)) return false;
      options.notes.push_back(note);
    } else {
      if (value.empty()) {
        error = "bad value '' for " + std::string(name) + " (expected a file name)";
        return false;
      }
      if (name == "--out") {
        options.outPath = std::string(value);
        haveOut = true;
      } else if (name == "--save-state") {
        options.saveStatePath = std::string(value);
      } else if (name == "--pattern") {
        options.patternPath = std::string(value);
      } else {
        options.loadStatePath = std::string(value);
      }
    }
  }

  if (!haveOut) {
    error = "render needs --out FILE.mid";
    return false;
  }
  if (!options.patternPath.empty() && !options.loadStatePath.empty()) {
    error = "--pattern and --load-state cannot be combined (a state carries its own patterns)";
    return false;
  }
  options.totalFrames = roundedFrame(options.seconds, options.sampleRate);
  if (options.totalFrames == 0) {
    error = "bad value '" + formatNumber(options.seconds) + "' for --seconds (shorter than one frame)";
    return false;
  }
  for (NoteInput &note : options.notes) {
    note.frame = roundedFrame(note.seconds, options.sampleRate);
    if (note.frame >= options.totalFrames) {
      error = "note at " + formatNumber(note.seconds) + " s lies outside the render (" +
              formatNumber(options.seconds) + " s)";
      return false;
    }
  }
  return true;
}

// bank check FOLDER [--instrument ID]
bool parseBankCommand(const std::vector<std::string> &args, ParsedCommand &command, std::string &error) {
  if (args.size() < 2 || args[1] != "check") {
    error = args.size() < 2 ? "bank needs a command: check (try --help)"
                            : "unknown bank command " + quoted(args[1]) + " (try --help)";
    return false;
  }
  command.kind = CommandKind::BankCheck;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string &word = args[i];
    if (isHelpWord(word)) {
      command.kind = CommandKind::Help;
      return true;
    }
    if (word == "--instrument" || word.rfind("--instrument=", 0) == 0) {
      if (word == "--instrument" && i + 1 >= args.size()) {
        error = "option '--instrument' needs a value";
        return false;
      }
      command.instrumentId = word == "--instrument" ? args[++i] : word.substr(word.find('=') + 1);
    } else if (command.bankFolder.empty() && !word.empty() && word.rfind("--", 0) != 0) {
      command.bankFolder = word;
    } else {
      error = "unexpected argument " + quoted(word) + " (try --help)";
      return false;
    }
  }
  if (command.bankFolder.empty()) {
    error = "bank check needs a FOLDER (a bank folder with bank.json)";
    return false;
  }
  return true;
}

// bridge BUNDLE [--render FILE.mid]
bool parseBridgeOptions(const std::vector<std::string> &args, ParsedCommand &command, std::string &error) {
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string &word = args[i];
    if (word != "--render" && word.rfind("--render=", 0) != 0) {
      error = "unexpected argument " + quoted(word) + " (try --help)";
      return false;
    }
    if (word == "--render" && i + 1 >= args.size()) {
      error = "option '--render' needs a value";
      return false;
    }
    command.bridgeRenderPath = word == "--render" ? args[++i] : word.substr(word.find('=') + 1);
    if (command.bridgeRenderPath.empty()) {
      error = "bad value '' for --render (expected a file name)";
      return false;
    }
  }
  return true;
}

} // namespace

std::string formatNumber(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool parseStrictNumber(std::string_view text, double &value) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) return false;
  }
  if (text.empty()) return false;
  double parsed = 0;
  const auto result =
      std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bool parseStrictWholeNumber(std::string_view text, uint64_t &value) {
  if (text.empty()) return false;
  uint64_t parsed = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

bool parseParameterSetting(std::string_view text, ParameterSetting &setting, std::string &error) {
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0) {
    error = "bad --set " + quoted(text) + " (expected KEY=VALUE)";
    return false;
  }
  const std::string_view key = text.substr(0, eq);
  const std::string_view valueText = text.substr(eq + 1);

  const norva_param_desc *row = nullptr;
  if (key.front() >= '0' && key.front() <= '9') {
    uint64_t id = 0;
    if (!parseStrictWholeNumber(key, id) || id >= kParamCount) {
      error = "unknown parameter id " + quoted(key) + " (ids run from 0 to " +
              std::to_string(kParamCount - 1) + ")";
      return false;
    }
    row = &NORVA_PARAMS[id];
  } else {
    row = findParamByKey(key);
    if (row == nullptr) {
      error = "unknown parameter key " + quoted(key);
      return false;
    }
  }

  double value = 0;
  if (!parseStrictNumber(valueText, value) || !acceptsPlainValue(*row, value)) {
    error = "bad value " + quoted(valueText) + " for " + row->key + " (expected " +
            expectedValues(*row) + ")";
    return false;
  }
  setting.id = row->id;
  setting.value = value;
  return true;
}

bool parseNoteInput(std::string_view text, NoteInput &note, std::string &error) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    const size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (fields.size() != 3 && fields.size() != 4) {
    error = "bad --note " + quoted(text) + " (expected SECONDS:NOTE:on|off[:VELOCITY])";
    return false;
  }

  NoteInput parsed;
  if (!parseStrictNumber(fields[0], parsed.seconds) || parsed.seconds < 0) {
    error = "bad note time " + quoted(fields[0]) + " in --note " + quoted(text) +
            " (expected seconds, 0 or more)";
    return false;
  }
  uint64_t number = 0;
  if (!parseStrictWholeNumber(fields[1], number) || number > 127) {
    error = "bad note number " + quoted(fields[1]) + " in --note " + quoted(text) +
            " (expected a whole number from 0 to 127)";
    return false;
  }
  parsed.note = static_cast<uint32_t>(number);
  if (fields[2] == "on") {
    parsed.on = true;
  } else if (fields[2] == "off") {
    parsed.on = false;
  } else {
    error = "bad note action " + quoted(fields[2]) + " in --note " + quoted(text) +
            " (expected on or off)";
    return false;
  }
  parsed.velocity = parsed.on ? 1.0 : 0.0;
  if (fields.size() == 4) {
    if (!parsed.on) {
      error = "a note off takes no velocity: --note " + quoted(text);
      return false;
    }
    if (!parseStrictNumber(fields[3], parsed.velocity) || parsed.velocity < 0 ||
        parsed.velocity > 1) {
      error = "bad velocity " + quoted(fields[3]) + " in --note " + quoted(text) +
              " (expected a number from 0 to 1)";
      return false;
    }
  }
  note = parsed;
  return true;
}

bool parseCommandLine(const std::vector<std::string> &args, ParsedCommand &command,
                      std::string &error) {
  command = ParsedCommand{};
  if (args.empty()) {
    error = "no command given (try --help)";
    return false;
  }
  if (isHelpWord(args[0])) {
    command.kind = CommandKind::Help;
    return true;
  }
  const std::string &name = args[0];
  if (name == "bank") return parseBankCommand(args, command, error);
  if (name == "info") {
    command.kind = CommandKind::Info;
  } else if (name == "render") {
    command.kind = CommandKind::Render;
  } else if (name == "validate") {
    command.kind = CommandKind::Validate;
  } else if (name == "bridge") {
    command.kind = CommandKind::Bridge;
  } else {
    error = "unknown command " + quoted(name) + " (try --help)";
    return false;
  }
  if (args.size() > 1 && isHelpWord(args[1])) {
    command.kind = CommandKind::Help;
    return true;
  }
  if (args.size() < 2 || args[1].empty() || args[1].rfind("--", 0) == 0) {
    error = name + " needs a BUNDLE (a .vst3 folder or its .so)";
    return false;
  }
  command.bundlePath = args[1];
  if (command.kind == CommandKind::Bridge) return parseBridgeOptions(args, command, error);
  if (command.kind != CommandKind::Render) {
    if (args.size() > 2) {
      error = "unexpected argument " + quoted(args[2]) + " (try --help)";
      return false;
    }
    return true;
  }
  command.render.bundlePath = command.bundlePath;
  return parseRenderOptions(args, 2, command, error);
}

double effectiveParameterValue(const RenderOptions &options, uint32_t id) {
  double value = NORVA_PARAMS[id].defaultPlain;
  for (const ParameterSetting &setting : options.settings) {
    if (setting.id == id) value = setting.value;
  }
  return value;
}

const char *usageText() {
  return "usage: norva-probe info BUNDLE\n"
         "       norva-probe render BUNDLE [options] --out FILE.mid\n"
         "       norva-probe validate BUNDLE\n"
         "       norva-probe bank check FOLDER [--instrument ID]\n"
         "       norva-probe bridge BUNDLE [--render FILE.mid]\n"
         "       norva-probe --help\n"
         "\n"
         "Loads a VST 3 plug-in as a host does. BUNDLE is a .vst3 folder (its library\n"
         "is Contents/x86_64-linux/NAME.so) or the .so itself.\n"
         "\n"
         "info      prints the factory, its classes, the processor's buses and the\n"
         "          controller's parameters.\n"
         "render    runs the plug-in offline and writes what it plays as a Standard\n"
         "          MIDI File (format 0, one track, 480 ticks per quarter note).\n"
         "validate  runs the probe's checks on the plug-in, one line each\n"
         "          (\"PASS name\" or \"FAIL name: reason\"), then a count.\n"
         "bank check\n"
         "          loads a bank folder as the plug-in does (verifying every asset and\n"
         "          decoding the chosen instrument's WAV files) and prints the outcome,\n"
         "          the error, the bank, its instruments and kits, presets, zones and\n"
         "          arena frames. --instrument ID chooses an instrument or kit; without\n"
         "          it the bank's first one.\n"
         "bridge    drives the plug-in's controller over its diagnostic bridge: each\n"
         "          line on standard input is one editor message (JSON), each message\n"
         "          the controller sends is one line on standard output. The\n"
         "          processor runs in real time (512-frame blocks at 48 kHz) and the\n"
         "          cadence ticks 30 times a second until the input ends; then\n"
         "          --render FILE.mid writes what the processor played, at the tempo\n"
         "          tindrel.bpm ends on.\n"
         "\n"
         "render options:\n"
         "  --rate HZ                 sample rate, a whole number from 1000 to 768000\n"
         "                            (default 48000)\n"
         "  --seconds S               length of the render in seconds (default 8)\n"
         "  --block N                 frames per process call, 1 to 16384; also the\n"
         "                            maximum block announced to the plug-in (default 512)\n"
         "  --set KEY=VALUE           plain parameter value by key or id, applied at\n"
         "                            frame 0 in the order given; repeatable\n"
         "                            (e.g. --set tindrel.bpm=140 --set 8=2)\n"
         "  --note S:NOTE:on|off[:V]  input note at S seconds, NOTE 0 to 127, note-on\n"
         "                            velocity V from 0 to 1 (default 1); repeatable\n"
         "  --load-state FILE         restore this processor state before rendering\n"
         "  --pattern FILE.json       load these authored patterns before rendering\n"
         "                            ({\"patterns\":[{\"index\":0,\"steps\":[...]}]}, see\n"
         "                            the README); the selected pattern's velocities\n"
         "                            and length become the step-velocity parameters\n"
         "                            and Length\n"
         "  --save-state FILE         write the processor's state after rendering\n"
         "  --out FILE.mid            the MIDI file to write\n"
         "\n"
         "The file carries the tempo of tindrel.bpm and every note and controller on\n"
         "the channel the plug-in played it on. The summary lists the note-ons, the\n"
         "first and last note-on frame and the distinct pitches played.\n"
         "\n"
         "Exit status: 0 done (validate: every check passed), 1 the plug-in, the\n"
         "render, a file, a check, the bank or the bridge failed, 2 bad command line.\n";
}

} // namespace norva::probe
