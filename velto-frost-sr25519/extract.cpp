#include "velto-frost-sr25519/extract.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "velto-frost-ed25519/lagrange.hpp"
#include "velto-frost-sr25519/hashes.hpp"
#include "velto-frost-ed25519/collect.hpp"

namespace velto::frost {

namespace asio = boost::asio;

asio::awaitable<std::expected<std::optional<crypto::EdScalar>, Sr25519ExtractRunError>> sr25519_extract(
    ProtocolExecutor executor, const Sr25519KeyShare& share, PartyId export_to) {
  using Run = Sr25519ExtractRunError;
  const std::vector<PartyId> parties = executor.parties();
  if (parties.size() != share.threshold) {
    co_return std::unexpected(
        Run::inner(Sr25519ExtractError::InvalidAmountOfSecretSharesForRecovery{share.threshold, parties.size()}));
  }
  const PartyId me = executor.my_party_id();
  crypto::EdScalar weighted = share.secret_share * frost_lagrange_coefficient(me, parties);

  if (me != export_to) {
    if (auto sent = executor.send_to(export_to, Sr25519ExportMessage{me, export_to, weighted}); !sent) {
      co_return std::unexpected(Run::communication(std::move(sent.error())));
    }
    co_return std::optional<crypto::EdScalar>{};
  }

  auto received = co_await frost_collect_named<Run>(executor, parties, &Sr25519ExportMessage::from);
  if (!received) co_return std::unexpected(std::move(received.error()));
  if (received->size() + 1 != share.threshold) {
    panic("assertion `left == right` failed\n  left: " + std::to_string(received->size() + 1) +
          "\n right: " + std::to_string(share.threshold));
  }
  crypto::EdScalar x = std::move(weighted);
  for (const Sr25519ExportMessage& m : *received) x += m.share;
  if (!(crypto::RistrettoPoint::base_mul(x) == share.group_key)) {
    co_return std::unexpected(Run::inner(Sr25519ExtractError::ReceivedInvalidPrivateKey{}));
  }
  co_return std::optional<crypto::EdScalar>(std::move(x));
}

std::expected<crypto::EdScalar, Sr25519ExtractError> sr25519_reconstruct_secret(
    std::span<const Sr25519KeyShare> shares) {
  if (shares.empty()) return std::unexpected(Sr25519ExtractError::InvalidAmountOfSecretSharesForRecovery{1, 0});
  const Sr25519KeyShare& reference = shares.front();
  if (shares.size() < reference.threshold) {
    return std::unexpected(
        Sr25519ExtractError::InvalidAmountOfSecretSharesForRecovery{reference.threshold, shares.size()});
  }
  for (const Sr25519KeyShare& s : shares) {
    if (!(s.group_key == reference.group_key)) return std::unexpected(Sr25519ExtractError::IncompatibleSecretShares{});
  }
  // λ_i = Π id_j / (id_j − id_i) over the other shares' ids; two distinct
  // shares with one id (possible only for shares of different sessions of
  // one key) make a zero denominator, so x is wrong and the check below
  // refuses it.
  crypto::EdScalar x;
  for (const Sr25519KeyShare& s : shares) {
    const crypto::EdScalar xi = sr25519_id_scalar(s.own_id);
    crypto::EdScalar num = crypto::EdScalar::one();
    crypto::EdScalar den = crypto::EdScalar::one();
    for (const Sr25519KeyShare& o : shares) {
      if (o.own_id == s.own_id) continue;
      const crypto::EdScalar xj = sr25519_id_scalar(o.own_id);
      num *= xj;
      den *= xj - xi;
    }
    x += num * den.invert() * s.secret_share;
  }
  if (!(crypto::RistrettoPoint::base_mul(x) == reference.group_key)) {
    return std::unexpected(Sr25519ExtractError::ReceivedInvalidPrivateKey{});
  }
  return x;
}

}  // namespace velto::frost
