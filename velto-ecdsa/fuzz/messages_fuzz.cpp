// The ECDSA protocol messages: presign pair records, partial signatures,
// committed discrete-log openings and the random-VOLE correction. Each
// decoded message re-encodes to a message that decodes to the same value;
// records without a normalising point encoding re-encode byte for byte; a
// set of decoded partial signatures is combined without a panic.
//
// Input: a selector byte, then the message.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "sised/fuzz/roundtrip.hpp"
#include "velto-ecdsa/partial_sig.hpp"
#include "velto-ecdsa/rvole.hpp"
#include "velto-ecdsa/sign.hpp"
#include "velto-ecdsa/zkpok_comm.hpp"

namespace {

namespace crypto = velto::crypto;
namespace ecdsa = velto::ecdsa;
using velto::fuzz::Encoding;
using velto::fuzz::sised_roundtrip;

void check_presign(crypto::ByteSpan payload) {
  auto records = ecdsa::decode_presign_records(payload);
  // The message reader and the generic sequence codec agree.
  auto generic = velto::sised::decode<std::vector<ecdsa::PresignPairRecord>>(payload);
  VELTO_FUZZ_CHECK(records.has_value() == generic.has_value());
  if (!records) return;
  auto bytes = velto::sised::encode(*records);
  VELTO_FUZZ_CHECK(bytes.has_value());
  auto again = ecdsa::decode_presign_records(*bytes);
  VELTO_FUZZ_CHECK(again && again->size() == records->size());
  for (std::size_t i = 0; i < records->size(); ++i) {
    VELTO_FUZZ_CHECK((*again)[i].gamma_u == (*records)[i].gamma_u && (*again)[i].psi == (*records)[i].psi &&
                     (*again)[i].gamma_v == (*records)[i].gamma_v &&
                     (*again)[i].public_share == (*records)[i].public_share);
  }
}

void check_partial_signatures(crypto::ByteSpan payload) {
  // Up to three signatures back to back, then their combination.
  velto::sised::Decoder d(payload);
  std::vector<ecdsa::PartialSignature> sigs;
  for (int i = 0; i < 3; ++i) {
    const auto start = d.position();
    auto sig = velto::sised::Codec<ecdsa::PartialSignature>::decode(d);
    if (!sig) break;
    auto one = sised_roundtrip<ecdsa::PartialSignature>(payload.subspan(start), Encoding::Normalising);
    VELTO_FUZZ_CHECK(one.has_value());
    sigs.push_back(*sig);
  }
  if (!sigs.empty()) (void)ecdsa::combine_partial_signatures(sigs);
}

void check_rvole(crypto::ByteSpan payload) {
  auto m = ecdsa::decode_scalar_vec(payload);
  if (!m) return;
  auto bytes = ecdsa::encode_rvole_correction(*m);
  VELTO_FUZZ_CHECK(bytes.has_value());
  // Scalars are canonical: the encoding is the consumed input.
  VELTO_FUZZ_CHECK(bytes->size() <= payload.size() && std::equal(bytes->begin(), bytes->end(), payload.begin()));
  auto again = ecdsa::decode_scalar_vec(*bytes);
  VELTO_FUZZ_CHECK(again && again->width == m->width && again->tau == m->tau && again->eta0 == m->eta0 &&
                   again->eta1 == m->eta1 && again->mu == m->mu);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t selector = in.u8();
  const crypto::ByteSpan body = in.rest();
  switch (selector % 4) {
    case 0: check_presign(body); break;
    case 1: check_partial_signatures(body); break;
    case 2: sised_roundtrip<ecdsa::DlogOpening>(body, Encoding::Normalising); break;
    default: check_rvole(body); break;
  }
  return 0;
}
