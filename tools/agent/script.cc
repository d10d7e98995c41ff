#include "script.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

#include "body.h"
#include "words.h"

namespace zvagent {
namespace {

// What a directive changes; it decides which directives go together.
enum class Kind { none, shaping, content, writing, action };

struct Directive {
  std::string_view name;
  bool valued;
  Kind kind;
};

constexpr Directive kDirectives[] = {
    {"agent", false, Kind::none},           {"status", true, Kind::shaping},
    {"reason", true, Kind::shaping},        {"status-line", true, Kind::shaping},
    {"lf", false, Kind::shaping},           {"no-length", false, Kind::shaping},
    {"length", true, Kind::shaping},        {"body", true, Kind::content},
    {"body-bytes", true, Kind::content},    {"body-mib", true, Kind::content},
    {"raw", true, Kind::content},           {"endless-header", false, Kind::content},
    {"endless-body", false, Kind::content}, {"extra", true, Kind::writing},
    {"split", true, Kind::writing},         {"trickle", true, Kind::writing},
    {"pause", true, Kind::writing},         {"cut", true, Kind::writing},
    {"hold", false, Kind::writing},         {"early", false, Kind::writing},
    {"stall", true, Kind::action},          {"reset", false, Kind::action},
    {"refuse", false, Kind::action},        {"close", false, Kind::action},
    {"never-answer", false, Kind::action},  {"never-read", false, Kind::action},
};

bool parse_split(std::string_view text, SplitPoint& point) {
  long long n = 0;
  if (text.substr(0, 4) != "body") {
    if (!parse_number(text, 0, 1LL << 50, n)) return false;
    point = {false, n};
    return true;
  }
  text.remove_prefix(4);
  if (text.empty()) {
    point = {true, 0};
    return true;
  }
  char sign = text.front();
  if ((sign != '+' && sign != '-') || !parse_number(text.substr(1), 0, 1LL << 50, n)) return false;
  point = {true, sign == '-' ? -n : n};
  return true;
}

constexpr const char* kOffsetHelp = "offsets such as 16, body, body+4 or body-1";

// Applies one directive that has passed the name and value checks.
bool apply(ScriptStep& step, const std::string& name, const std::string& value,
           std::string& error) {
  long long n = 0;
  auto number = [&](long long low, long long high) {
    if (parse_number(value, low, high, n)) return true;
    error = name + " needs a number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  };
  using Action = ScriptStep::Action;
  if (name == "status") {
    if (!number(0, 999)) return false;
    step.status = static_cast<int>(n);
  } else if (name == "reason") {
    step.reason = value;
  } else if (name == "status-line") {
    step.status_line = value;
  } else if (name == "lf") {
    step.lf_only = true;
  } else if (name == "no-length") {
    step.no_length = true;
  } else if (name == "length") {
    if (!number(0, 1LL << 50)) return false;
    step.length = static_cast<std::uint64_t>(n);
  } else if (name == "body") {
    step.body = value;
  } else if (name == "body-bytes" || name == "body-mib") {
    bool mib = name == "body-mib";
    if (!number(mib ? 1 : static_cast<long long>(bulk_minimum()),
                static_cast<long long>(mib ? kMaxBodyMib : kMaxBodyMib << 20)))
      return false;
    step.body_bytes = static_cast<std::uint64_t>(n) << (mib ? 20 : 0);
  } else if (name == "raw") {
    step.raw = value;
  } else if (name == "endless-header") {
    step.endless_header = true;
  } else if (name == "endless-body") {
    step.endless_body = true;
  } else if (name == "extra") {
    step.extra = value;
  } else if (name == "split") {
    for (std::size_t begin = 0; begin <= value.size();) {
      std::size_t comma = std::min(value.find(',', begin), value.size());
      SplitPoint point;
      if (!parse_split(std::string_view(value).substr(begin, comma - begin), point)) {
        error = std::string("split needs ") + kOffsetHelp + ", separated by commas";
        return false;
      }
      step.splits.push_back(point);
      begin = comma + 1;
    }
  } else if (name == "cut") {
    SplitPoint point;
    if (!parse_split(value, point)) {
      error = std::string("cut needs one of the ") + kOffsetHelp;
      return false;
    }
    step.cut = point;
  } else if (name == "trickle") {
    if (!number(1, 1 << 20)) return false;
    step.trickle = static_cast<std::size_t>(n);
  } else if (name == "pause") {
    if (!number(0, kMaxWaitMs)) return false;
    step.pause_ms = static_cast<long>(n);
  } else if (name == "hold") {
    step.ending = ScriptStep::Ending::hold;
  } else if (name == "early") {
    step.early = true;
  } else if (name == "stall") {
    if (!number(0, kMaxWaitMs)) return false;
    step.action = Action::stall;
    step.stall_ms = static_cast<long>(n);
  } else if (name == "reset") {
    step.action = Action::reset;
  } else if (name == "refuse") {
    step.action = Action::refuse;
  } else if (name == "close") {
    step.action = Action::close;
  } else if (name == "never-answer") {
    step.action = Action::never_answer;
  } else if (name == "never-read") {
    step.action = Action::never_read;
  }
  return true;
}

// Checks that the directives of one line go together; `count` is indexed by Kind.
bool compatible(ScriptStep& step, int (&count)[5], std::string& error) {
  auto of = [&](Kind kind) { return count[static_cast<int>(kind)]; };
  using Ending = ScriptStep::Ending;
  // After a cut, reset says how the connection ends rather than replacing the reply.
  if (step.action == ScriptStep::Action::reset && step.cut && step.ending == Ending::close) {
    step.action = ScriptStep::Action::reply;
    step.ending = Ending::reset;
    --count[static_cast<int>(Kind::action)];
    ++count[static_cast<int>(Kind::writing)];
  }
  if (of(Kind::content) > 1 || of(Kind::action) > 1 ||
      (of(Kind::action) && (of(Kind::content) || of(Kind::shaping) || of(Kind::writing)))) {
    error =
        "directives that exclude each other: one body, or one of stall, reset, refuse, close, "
        "never-answer, never-read (reset goes with cut only)";
    return false;
  }
  if (step.raw && of(Kind::shaping)) {
    error = "raw gives the whole reply; only extra, split, trickle, pause, cut and hold go with it";
    return false;
  }
  if (step.length && (step.no_length || step.endless_header || step.endless_body)) {
    error =
        "length announces a Content-Length; no-length, endless-header and endless-body send none";
    return false;
  }
  return true;
}

}  // namespace

std::optional<ScriptStep> script_parse_line(std::string_view line, std::string& error) {
  std::vector<Word> words;
  if (!split_words(line, words, error)) return std::nullopt;
  ScriptStep step;
  int count[5] = {};
  for (const Word& word : words) {
    const std::string& name = word.name;
    auto known = std::find_if(std::begin(kDirectives), std::end(kDirectives),
                              [&](const Directive& d) { return d.name == name; });
    if (known == std::end(kDirectives)) {
      error = name.empty() ? "a directive name is missing" : "unknown directive " + name;
      return std::nullopt;
    }
    if (known->valued != word.value.has_value()) {
      error = name + (known->valued ? " needs a value" : " takes no value");
      return std::nullopt;
    }
    if (!apply(step, name, word.value.value_or(""), error)) return std::nullopt;
    ++count[static_cast<int>(known->kind)];
  }
  if (!compatible(step, count, error)) return std::nullopt;
  return step;
}

bool script_load_file(const std::string& path, std::vector<ScriptStep>& steps, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    std::optional<ScriptStep> step = script_parse_line(line, error);
    if (!step) {
      error = path + ":" + std::to_string(number) + ": " + error;
      return false;
    }
    steps.push_back(std::move(*step));
  }
  return true;
}

std::optional<ScriptStep> Script::take() {
  if (steps_.empty()) return std::nullopt;
  ScriptStep step = std::move(steps_.front());
  steps_.pop_front();
  return step;
}

}  // namespace zvagent
