#include "cli/progress.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace zv {

namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(100);
// Back to the start of the line, and clear it.
constexpr std::string_view kErase = "\r\033[K";

void put(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n <= 0) return;  // a progress line is no reason to stop or to retry
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

bool TerminalProgress::wanted() {
  const char* setting = std::getenv(kProgressVariable);
  if (setting != nullptr && std::string_view(setting) == "0") return false;
  return ::isatty(STDERR_FILENO) == 1;
}

TerminalProgress::TerminalProgress() : started_(Clock::now()) {}

TerminalProgress::~TerminalProgress() {
  if (drawn_) put(kErase);
}

void TerminalProgress::line_done(const Session& session, std::uint64_t done, std::uint64_t total) {
  Clock::time_point now = Clock::now();
  if (now - started_ < kQuietStart || (drawn_ && now - drawn_at_ < kRedraw)) return;
  double seconds = std::chrono::duration<double>(now - started_).count();
  char line[160];
  int length = 0;
  if (total > 0) {
    length = std::snprintf(line, sizeof line,
                           "%s%llu handled (%.0f%% of the file), %llu kept, %.0f/s, %.0f s",
                           kErase.data(), static_cast<unsigned long long>(session.submissions),
                           100.0 * static_cast<double>(done) / static_cast<double>(total),
                           static_cast<unsigned long long>(session.kept),
                           static_cast<double>(session.submissions) / seconds, seconds);
  } else {
    length = std::snprintf(line, sizeof line, "%s%llu handled, %llu kept, %.0f/s, %.0f s",
                           kErase.data(), static_cast<unsigned long long>(session.submissions),
                           static_cast<unsigned long long>(session.kept),
                           static_cast<double>(session.submissions) / seconds, seconds);
  }
  if (length <= 0) return;
  put(std::string_view(line,
                       std::min<std::size_t>(static_cast<std::size_t>(length), sizeof line - 1)));
  drawn_ = true;
  drawn_at_ = now;
}

}  // namespace zv
