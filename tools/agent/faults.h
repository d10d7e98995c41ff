// A seeded mix of faults for the requests that the script does not cover.
//
// Written SEED:NAME=PERCENT,NAME=PERCENT,... with SEED a decimal number and
// NAME one of
//   reset-before-read   reset the connection at once, reading nothing
//   reset-after-read    read the request, then reset the connection
//   close-after-read    read the request, then close without answering
//   trickle             the agent's own reply, kFaultTrickleBytes at a time
//                       with kFaultPauseMs between the pieces
// Percentages are whole numbers adding up to at most 100; the rest of the
// connections get the agent's own reply.  One draw is made for each
// connection served once the script is used up, from a generator that the
// seed alone determines: the same seed gives the same sequence of faults.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "script.h"

namespace zvagent {

inline constexpr std::size_t kFaultTrickleBytes = 4;
inline constexpr long kFaultPauseMs = 1;

enum class Fault { reset_before_read, reset_after_read, close_after_read, trickle };
inline constexpr std::size_t kFaultKinds = 4;

/// The seed and the share of each fault, in percent, indexed by Fault.
struct FaultMix {
  std::uint64_t seed = 0;
  std::array<int, kFaultKinds> percent{};
};

/// Parses a fault mix.  Returns nothing, with the reason in `error`, for a
/// bad seed, an unknown name, a bad percentage or a total above 100.
std::optional<FaultMix> faults_parse(std::string_view text, std::string& error);

/// Draws the faults of a mix, one per call, in the order the seed fixes.
class FaultDraw {
 public:
  explicit FaultDraw(const FaultMix& mix) : mix_(mix), state_(mix.seed) {}
  /// The step carrying out the next fault, or nothing for the agent's own reply.
  std::optional<ScriptStep> next();

 private:
  std::uint64_t random();
  FaultMix mix_;
  std::uint64_t state_;
};

}  // namespace zvagent
