#include "velto-frost-bip340/reshare.hpp"

#include <utility>

#include "crypto/error.hpp"
#include "velto-ecdsa-legacy/refresh.hpp"

namespace velto::bip340 {

namespace {

// The BIP340 form of an error of the version 1.1.0 refresh code. Those
// sub-protocols report a wrong key in the ECDSA form only when asked for a
// key check, which the reshare sides here never ask for.
ecdsa::Bip340RefreshError to_bip340(const ecdsa::EcdsaRefreshLibError& e) {
  using In = ecdsa::EcdsaRefreshLibError;
  using Out = ecdsa::Bip340RefreshError;
  return std::visit(Overloaded{
                        [](const In::CommunicationError& v) -> Out { return Out::CommunicationError{v.error}; },
                        [](const In::RefreshIsNotOfSameSecret&) -> Out { return Out::RefreshIsNotOfSameSecret{}; },
                        [](const In::MalformedPublicKey&) -> Out {
                          panic("the reshare key generation reported a malformed key without a key check");
                        },
                        [](const In::Keygen& v) -> Out { return Out::Keygen{ecdsa::KeygenError(v.error)}; },
                    },
                    e.value());
}

}  // namespace

boost::asio::awaitable<std::expected<Bip340KeyShare, ecdsa::Bip340RefreshError>> bip340_reshare_subprotocol(
    ProtocolExecutor executor, const crypto::ByteArray<32>& expected_key, const crypto::ByteArray<32>& chain_code,
    std::uint16_t threshold) {
  const crypto::ByteArray<32> expected = expected_key;
  const crypto::ByteArray<32> chain = chain_code;
  ProtocolExecutor sub = executor.child(kBip340ReshareSubprotocolLabel);
  auto share = co_await ecdsa::legacy::receiver_keygen_inner_v4(sub, chain, threshold);
  if (!share) co_return std::unexpected(to_bip340(share.error()));
  if (share->public_key.x_bytes() != expected) {
    co_return std::unexpected(ecdsa::Bip340RefreshError(ecdsa::Bip340RefreshError::MalformedPublicKey{expected}));
  }
  co_return std::move(*share);
}

boost::asio::awaitable<std::expected<Bip340KeyShare, ecdsa::Bip340RefreshError>> bip340_reshare_remaining_subprotocol(
    ProtocolExecutor executor, Bip340KeyShare old_share, std::vector<PartyId> remaining_old_ids,
    std::uint16_t new_threshold) {
  ProtocolExecutor sub = executor.child(kBip340ReshareSubprotocolLabel);
  auto share = co_await ecdsa::legacy::reshare_keygen_inner_list_v4(sub, old_share, remaining_old_ids, new_threshold);
  if (!share) co_return std::unexpected(to_bip340(share.error()));
  co_return std::move(*share);
}

}  // namespace velto::bip340
