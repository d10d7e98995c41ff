// How long the client waits for the agent before it gives an exchange up.
#pragma once

namespace zv {

/// Limits in milliseconds; 0 means wait for ever.
struct TimeLimits {
  /// A connect that has not completed by then fails with ETIMEDOUT.
  int connect_ms = 10000;
  /// A write or a read that makes no progress for this long fails with
  /// ETIMEDOUT.  Progress restarts the clock, so a slow reply is never cut
  /// while bytes keep arriving.
  int io_ms = 60000;
  /// An exchange (connect, request, reply) that has not ended by then
  /// fails with ETIMEDOUT, however its bytes trickle: long enough for a
  /// 256 MiB reply over a slow link.
  int exchange_ms = 3600000;
};

/// Names of the environment variables that set the limits, in seconds.
inline constexpr const char* kConnectTimeoutVariable = "ZVCLIENT_CONNECT_TIMEOUT";
inline constexpr const char* kIoTimeoutVariable = "ZVCLIENT_IO_TIMEOUT";
inline constexpr const char* kExchangeTimeoutVariable = "ZVCLIENT_EXCHANGE_TIMEOUT";

/// Reads a limit in seconds ("10", "0.25", "0" for no limit) as whole
/// milliseconds, rounding a positive fraction up to at least 1 ms.  Returns
/// `fallback` for nullptr, an empty text, a negative or malformed number,
/// or one beyond about 24 days.
int time_limit_ms(const char* seconds, int fallback);

/// The limits that the environment variables set, defaults elsewhere.
/// `malformed`, when given, receives the name of the first variable that is
/// set to something that is no number of seconds (its default is used),
/// or nullptr.
TimeLimits time_limits_from_environment(const char** malformed = nullptr);

}  // namespace zv
