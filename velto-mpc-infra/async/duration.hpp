// The short text form of durations used in error texts: "100ms", "30s",
// "1.5s", "250µs", "0ns".
#pragma once

#include <chrono>
#include <string>

namespace velto::async {

using Duration = std::chrono::nanoseconds;

// Whole seconds when at least one second ("30s", "1.5s"), else milliseconds,
// microseconds or nanoseconds, with the fractional digits that are not zero.
std::string format_duration(Duration d);

}  // namespace velto::async
