// What a person watching a long file run on a terminal sees: one progress
// line on standard error, redrawn in place at most ten times a second once
// the run has lasted a second, and erased when the run ends.
#pragma once

#include <chrono>
#include <cstdint>

#include "operations/session.h"

namespace zv {

/// The variable that turns the progress line off ("0").
inline constexpr const char* kProgressVariable = "ZVCLIENT_PROGRESS";

class TerminalProgress final : public ProgressSink {
 public:
  /// True when a progress line may be shown: standard error is a terminal
  /// and ZVCLIENT_PROGRESS is not "0".
  static bool wanted();

  TerminalProgress();
  /// Erases the line, if one was drawn.
  ~TerminalProgress() override;
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  void line_done(const Session& session, std::uint64_t done, std::uint64_t total) override;

 private:
  using Clock = std::chrono::steady_clock;
  Clock::time_point started_;
  Clock::time_point drawn_at_{};
  bool drawn_ = false;
};

}  // namespace zv
