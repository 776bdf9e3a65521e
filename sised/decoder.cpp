#include "sised/decoder.hpp"

namespace velto::sised {

std::expected<std::uint32_t, SisedError> Decoder::read_varint() noexcept {
  auto marker = read_u8();
  if (!marker) return std::unexpected(std::move(marker.error()));
  const std::uint8_t b = *marker;
  if (b <= 251) return b;

  const std::size_t k = static_cast<std::size_t>(b - 0xFB);
  auto bytes = take(k);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < k; ++i) v |= static_cast<std::uint32_t>((*bytes)[i]) << (8 * i);

  // Shortest form: behind FC the value needs the marker (at least 252);
  // behind FD..FF the most significant byte must carry something.
  const bool shortest = k == 1 ? v >= 252 : (*bytes)[k - 1] != 0;
  if (!shortest) return std::unexpected(SisedError::invalid_varint_encoding());
  return v;
}

std::expected<void, SisedError> Decoder::charge(std::uint64_t count, std::size_t item_size) noexcept {
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  std::size_t amount = kMax;
  if (item_size == 0 || count <= kMax / item_size) amount = static_cast<std::size_t>(count) * item_size;
  heap_charged_ = amount > kMax - heap_charged_ ? kMax : heap_charged_ + amount;
  if (heap_charged_ > heap_limit_) return std::unexpected(SisedError::heap_size_limit_exceeded());
  return {};
}

}  // namespace velto::sised
