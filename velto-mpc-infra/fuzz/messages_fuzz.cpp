// The session engine's own messages: UC tags, commitment digests, and the
// point lists of verifiable secret sharing (echo-broadcast by the dealer).
// Each decoded message re-encodes to a message that decodes to the same
// value; tags and digests re-encode byte for byte; a point list is charged
// against the heap budget before anything is allocated.
//
// Input: a selector byte, then the message.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "sised/fuzz/roundtrip.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-mpc-infra/commit.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using velto::fuzz::Encoding;
  using velto::fuzz::sised_roundtrip;
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t selector = in.u8();
  const velto::crypto::ByteSpan body = in.rest();
  switch (selector % 3) {
    case 0: sised_roundtrip<velto::UcTag>(body, Encoding::Canonical); break;
    case 1: sised_roundtrip<velto::Commitment>(body, Encoding::Canonical); break;
    default: {
      // A small budget half the time, so the refusal before allocation is reached.
      const std::size_t limit = (selector & 0x80) ? velto::sised::kMessageHeapLimit : 1024;
      auto points = sised_roundtrip<std::vector<velto::crypto::Point>>(body, Encoding::Normalising, limit);
      if (points) VELTO_FUZZ_CHECK(points->size() * velto::sised::heap_size_v<velto::crypto::Point> <= limit);
      break;
    }
  }
  return 0;
}
