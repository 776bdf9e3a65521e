#include "velto-ecdsa/refresh.hpp"

#include <utility>

#include "crypto/secp256k1.hpp"
#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/lagrange.hpp"

namespace velto::ecdsa {

boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_keygen_inner(
    const ProtocolExecutor& executor, const KeyPair& old_key, std::span<const PartyId> old_ids,
    std::uint16_t new_threshold, DlogProofStep proof_step) {
  const NumDen start{crypto::Scalar::one(), crypto::Scalar::one()};
  const crypto::Scalar lambda =
      lagrange_fraction(lagrange_num_den(old_ids, old_key.party_id, party_scalar(old_key.party_id), start));
  crypto::Scalar a0 = lambda * old_key.secret_share;
  const crypto::ByteArray<32> chain_code = old_key.chain_code;
  const crypto::Point old_public_key = old_key.public_key;

  ProtocolExecutor inner = executor.child(kKeygenInnerLabel);
  const PartyId me = inner.my_party_id();
  const std::uint16_t n = inner.number_of_parties();
  auto out = co_await keygen_core(std::move(inner), std::move(a0), new_threshold, proof_step);
  if (!out) co_return std::unexpected(EcdsaRefreshLibError::Keygen{std::move(out.error())});
  if (out->public_key.is_identity() || !(out->public_key == old_public_key)) {
    co_return std::unexpected(EcdsaRefreshLibError::RefreshIsNotOfSameSecret{});
  }
  KeyPair key{out->secret_share, chain_code, out->public_key, me, new_threshold, n};
  co_return std::move(key);
}

boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> refresh_keygen_inner(
    const ProtocolExecutor& executor, const crypto::ByteArray<32>& chain_code,
    const crypto::ByteArray<33>& expected_key, std::uint16_t threshold, DlogProofStep proof_step) {
  const crypto::ByteArray<32> chain = chain_code;
  const crypto::ByteArray<33> expected = expected_key;

  ProtocolExecutor inner = executor.child(kKeygenInnerLabel);
  const PartyId me = inner.my_party_id();
  const std::uint16_t n = inner.number_of_parties();
  auto out = co_await keygen_core(std::move(inner), crypto::Scalar::zero(), threshold, proof_step);
  if (!out) co_return std::unexpected(EcdsaRefreshLibError::Keygen{std::move(out.error())});
  // The identity writes as 33 zero bytes here, never a valid key: refuse it
  // whatever the caller expected.
  if (out->public_key.is_identity() || out->public_key.to_compressed() != expected) {
    co_return std::unexpected(EcdsaRefreshLibError::MalformedPublicKey{expected});
  }
  KeyPair key{out->secret_share, chain, out->public_key, me, threshold, n};
  co_return std::move(key);
}

}  // namespace velto::ecdsa
