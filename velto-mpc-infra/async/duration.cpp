#include "velto-mpc-infra/async/duration.hpp"

#include <cstdint>

namespace velto::async {

namespace {

// integer part, then '.' and the fraction's significant digits; `divisor` is
// the place value of the fraction's first digit.
std::string decimal(std::uint64_t integer, std::uint64_t fraction, std::uint64_t divisor,
                    const char* unit) {
  std::string out = std::to_string(integer);
  if (fraction > 0) {
    out += '.';
    while (fraction > 0 && divisor > 0) {
      out += static_cast<char>('0' + fraction / divisor);
      fraction %= divisor;
      divisor /= 10;
    }
  }
  out += unit;
  return out;
}

}  // namespace

std::string format_duration(Duration d) {
  constexpr std::uint64_t kNanosPerSec = 1'000'000'000;
  constexpr std::uint64_t kNanosPerMilli = 1'000'000;
  constexpr std::uint64_t kNanosPerMicro = 1'000;
  const auto total = static_cast<std::uint64_t>(d.count() < 0 ? 0 : d.count());
  const std::uint64_t secs = total / kNanosPerSec;
  const std::uint64_t nanos = total % kNanosPerSec;
  if (secs > 0) return decimal(secs, nanos, kNanosPerSec / 10, "s");
  if (nanos >= kNanosPerMilli)
    return decimal(nanos / kNanosPerMilli, nanos % kNanosPerMilli, kNanosPerMilli / 10, "ms");
  if (nanos >= kNanosPerMicro)
    return decimal(nanos / kNanosPerMicro, nanos % kNanosPerMicro, kNanosPerMicro / 10, "\xC2\xB5s");
  return decimal(nanos, 0, 1, "ns");
}

}  // namespace velto::async
