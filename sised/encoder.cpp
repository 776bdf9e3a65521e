#include "sised/encoder.hpp"

namespace velto::sised {

void write_varint(Sink& sink, std::uint64_t v) {
  if (v > kMaxVarint) {
    sink.fail(EncodeError::length_limit());
    return;
  }
  if (v <= 251) {
    sink.write_byte(static_cast<std::uint8_t>(v));
    return;
  }
  const std::size_t k = varint_size(v) - 1;
  std::uint8_t b[5];
  b[0] = static_cast<std::uint8_t>(0xFB + k);
  for (std::size_t i = 0; i < k; ++i) b[1 + i] = static_cast<std::uint8_t>(v >> (8 * i));
  sink.write({b, k + 1});
}

}  // namespace velto::sised
