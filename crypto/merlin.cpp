#include "crypto/merlin.hpp"

#include <array>
#include <limits>

#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

std::array<std::uint8_t, 4> le32_length(std::size_t n) {
  if (n > std::numeric_limits<std::uint32_t>::max()) panic("A Merlin transcript frames at most 2^32 - 1 bytes. Bug!");
  return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
          static_cast<std::uint8_t>(n >> 24)};
}

}  // namespace

MerlinTranscript::MerlinTranscript(ByteSpan label) : strobe_(as_bytes("Merlin v1.0")) {
  append_message(as_bytes("dom-sep"), label);
}

void MerlinTranscript::append_message(ByteSpan label, ByteSpan message) {
  strobe_.meta_ad(label, false);
  strobe_.meta_ad(le32_length(message.size()), true);
  strobe_.ad(message, false);
}

void MerlinTranscript::challenge_bytes(ByteSpan label, MutByteSpan out) {
  strobe_.meta_ad(label, false);
  strobe_.meta_ad(le32_length(out.size()), true);
  strobe_.prf(out, false);
}

}  // namespace velto::crypto
