#include "script.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

#include "body.h"

namespace zvagent {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One word of a line: its directive and, after '=', the unescaped value.
struct Word {
  std::string name;
  std::optional<std::string> value;
};

bool split_words(std::string_view line, std::vector<Word>& words, std::string& error) {
  std::size_t i = 0;
  while (i < line.size()) {
    if (is_blank(line[i])) {
      ++i;
      continue;
    }
    Word word;
    while (i < line.size() && !is_blank(line[i]) && line[i] != '=') word.name += line[i++];
    if (i < line.size() && line[i] == '=') {
      ++i;
      std::string value;
      bool quoted = i < line.size() && line[i] == '"';
      if (quoted) ++i;
      for (;;) {
        if (i >= line.size()) {
          if (quoted) {
            error = "unterminated quote in " + word.name;
            return false;
          }
          break;
        }
        char c = line[i];
        if (quoted ? c == '"' : is_blank(c)) {
          if (quoted) ++i;
          break;
        }
        ++i;
        if (c != '\\') {
          value += c;
          continue;
        }
        if (i >= line.size()) {
          error = "a lone backslash ends the value of " + word.name;
          return false;
        }
        char e = line[i++];
        switch (e) {
          case 'r': value += '\r'; break;
          case 'n': value += '\n'; break;
          case 't': value += '\t'; break;
          case 's': value += ' '; break;
          case '"': value += '"'; break;
          case '\\': value += '\\'; break;
          case 'x': {
            int high = i < line.size() ? hex_digit(line[i]) : -1;
            int low = i + 1 < line.size() ? hex_digit(line[i + 1]) : -1;
            if (high < 0 || low < 0) {
              error = "\\x needs two hex digits in " + word.name;
              return false;
            }
            value += static_cast<char>(high * 16 + low);
            i += 2;
            break;
          }
          default:
            error = std::string("unknown escape \\") + e + " in " + word.name;
            return false;
        }
      }
      word.value = std::move(value);
    }
    words.push_back(std::move(word));
  }
  return true;
}

bool parse_number(std::string_view text, long long low, long long high, long long& out) {
  if (text.empty() || text.size() > 18) return false;
  long long n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < low || n > high) return false;
  out = n;
  return true;
}

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

}  // namespace

std::optional<ScriptStep> script_parse_line(std::string_view line, std::string& error) {
  std::vector<Word> words;
  if (!split_words(line, words, error)) return std::nullopt;
  ScriptStep step;
  int bodies = 0, actions = 0, shaping = 0;
  for (const Word& word : words) {
    const std::string& name = word.name;
    static constexpr std::string_view kFlags[] = {"agent", "lf", "no-length", "reset", "refuse", "close"};
    static constexpr std::string_view kValued[] = {"status", "reason", "status-line", "body", "body-bytes",
                                                   "body-mib", "raw", "split", "pause", "stall"};
    bool flag = std::find(std::begin(kFlags), std::end(kFlags), name) != std::end(kFlags);
    bool valued = std::find(std::begin(kValued), std::end(kValued), name) != std::end(kValued);
    if (!flag && !valued) {
      error = name.empty() ? "a directive name is missing" : "unknown directive " + name;
      return std::nullopt;
    }
    if (flag == word.value.has_value()) {
      error = name + (flag ? " takes no value" : " needs a value");
      return std::nullopt;
    }
    const std::string value = word.value.value_or("");
    long long n = 0;
    auto number = [&](long long low, long long high) {
      if (parse_number(value, low, high, n)) return true;
      error = name + " needs a number from " + std::to_string(low) + " to " + std::to_string(high);
      return false;
    };
    if (name == "agent") {
    } else if (name == "status") {
      if (!number(0, 999)) return std::nullopt;
      step.status = static_cast<int>(n);
      ++shaping;
    } else if (name == "reason") {
      step.reason = value;
      ++shaping;
    } else if (name == "status-line") {
      step.status_line = value;
      ++shaping;
    } else if (name == "lf") {
      step.lf_only = true;
      ++shaping;
    } else if (name == "no-length") {
      step.no_length = true;
      ++shaping;
    } else if (name == "body") {
      step.body = value;
      ++bodies;
    } else if (name == "body-bytes" || name == "body-mib") {
      bool mib = name == "body-mib";
      if (!number(mib ? 1 : static_cast<long long>(bulk_minimum()),
                  static_cast<long long>(mib ? kMaxBodyMib : kMaxBodyMib << 20)))
        return std::nullopt;
      step.body_bytes = static_cast<std::uint64_t>(n) << (mib ? 20 : 0);
      ++bodies;
    } else if (name == "raw") {
      step.raw = value;
      ++bodies;
    } else if (name == "split") {
      for (std::size_t begin = 0; begin <= value.size();) {
        std::size_t comma = value.find(',', begin);
        if (comma == std::string::npos) comma = value.size();
        SplitPoint point;
        if (!parse_split(std::string_view(value).substr(begin, comma - begin), point)) {
          error = "split needs offsets such as 16, body, body+4 or body-1, separated by commas";
          return std::nullopt;
        }
        step.splits.push_back(point);
        begin = comma + 1;
      }
    } else if (name == "pause") {
      if (!number(0, kMaxWaitMs)) return std::nullopt;
      step.pause_ms = static_cast<long>(n);
    } else if (name == "stall") {
      if (!number(0, kMaxWaitMs)) return std::nullopt;
      step.action = ScriptStep::Action::stall;
      step.stall_ms = static_cast<long>(n);
      ++actions;
    } else if (name == "reset") {
      step.action = ScriptStep::Action::reset;
      ++actions;
    } else if (name == "refuse") {
      step.action = ScriptStep::Action::refuse;
      ++actions;
    } else if (name == "close") {
      step.action = ScriptStep::Action::close;
      ++actions;
    }
  }
  if (bodies > 1 || actions > 1 || (actions && (bodies || shaping || !step.splits.empty()))) {
    error = "directives that exclude each other: one body, or one of stall, reset, refuse, close";
    return std::nullopt;
  }
  if (step.raw && shaping) {
    error = "raw gives the whole reply; only split and pause go with it";
    return std::nullopt;
  }
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
