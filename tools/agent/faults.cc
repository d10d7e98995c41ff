#include "faults.h"

#include <algorithm>
#include <iterator>

#include "words.h"

namespace zvagent {
namespace {

constexpr std::string_view kNames[kFaultKinds] = {"reset-before-read", "reset-after-read",
                                                  "close-after-read", "trickle"};

ScriptStep step_for(Fault fault) {
  ScriptStep step;
  switch (fault) {
    case Fault::reset_before_read: step.action = ScriptStep::Action::refuse; break;
    case Fault::reset_after_read: step.action = ScriptStep::Action::reset; break;
    case Fault::close_after_read: step.action = ScriptStep::Action::close; break;
    case Fault::trickle:
      step.trickle = kFaultTrickleBytes;
      step.pause_ms = kFaultPauseMs;
      break;
  }
  return step;
}

}  // namespace

std::optional<FaultMix> faults_parse(std::string_view text, std::string& error) {
  FaultMix mix;
  std::size_t colon = text.find(':');
  long long n = 0;
  if (colon == std::string_view::npos ||
      !parse_number(text.substr(0, colon), 0, 999999999999999999LL, n)) {
    error = "--faults needs SEED:NAME=PERCENT,... with a decimal seed";
    return std::nullopt;
  }
  mix.seed = static_cast<std::uint64_t>(n);
  int total = 0;
  for (std::string_view rest = text.substr(colon + 1); !rest.empty();) {
    std::string_view item = rest.substr(0, rest.find(','));
    rest.remove_prefix(std::min(rest.size(), item.size() + 1));
    std::size_t eq = item.find('=');
    std::string_view name = item.substr(0, eq);
    auto known = std::find(std::begin(kNames), std::end(kNames), name);
    if (known == std::end(kNames)) {
      error = "--faults: unknown fault \"" + std::string(name) +
              "\" (reset-before-read, reset-after-read, close-after-read, trickle)";
      return std::nullopt;
    }
    if (eq == std::string_view::npos || !parse_number(item.substr(eq + 1), 0, 100, n)) {
      error = "--faults: " + std::string(name) + " needs a percentage from 0 to 100";
      return std::nullopt;
    }
    mix.percent[static_cast<std::size_t>(known - std::begin(kNames))] = static_cast<int>(n);
    total += static_cast<int>(n);
  }
  if (total > 100) {
    error = "--faults: the percentages add up to more than 100";
    return std::nullopt;
  }
  return mix;
}

// SplitMix64: small, fully determined by the seed, and the same everywhere,
// unlike the distributions of the standard library.
std::uint64_t FaultDraw::random() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::optional<ScriptStep> FaultDraw::next() {
  int roll = static_cast<int>(random() % 100);
  for (std::size_t i = 0; i < kFaultKinds; ++i) {
    if (roll < mix_.percent[i]) return step_for(static_cast<Fault>(i));
    roll -= mix_.percent[i];
  }
  return std::nullopt;
}

}  // namespace zvagent
