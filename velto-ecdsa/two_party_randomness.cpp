#include "velto-ecdsa/two_party_randomness.hpp"

#include <algorithm>
#include <span>

#include "crypto/blake3.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"

namespace asio = boost::asio;

namespace velto::ecdsa {

namespace {

using Step = asio::awaitable<std::expected<void, EcdsaSignerInitError>>;

EcdsaSignerInitError receive_failed(BoxedError e) { return EcdsaSignerInitError::ReceiveFailed{std::move(e)}; }

// The next 32 bytes from the executor's peer (the first 32 of its payload).
asio::awaitable<std::expected<crypto::ByteArray<32>, BoxedError>> receive_32(PeerExecutor& executor) {
  const PartyId from[1] = {executor.peer()};
  auto poll = BufferedPoll::start(executor.executor(), from);
  auto item = co_await poll.next<crypto::ByteArray<32>>();
  if (!item) co_return std::unexpected(std::move(item.error()));
  if (!*item) panic("two_party_randomness: the peer's message was not awaited");
  co_return (*item)->value;
}

// A pair set-up's result into its slot, its failure as InitRvoleError.
template <class T>
Step setup_into(asio::awaitable<std::expected<T, ot::BaseOtError>> setup, std::optional<T>& slot) {
  auto r = co_await std::move(setup);
  if (!r) co_return std::unexpected(EcdsaSignerInitError::InitRvoleError{std::move(r.error())});
  slot.emplace(std::move(*r));
  co_return std::expected<void, EcdsaSignerInitError>();
}

}  // namespace

crypto::ByteArray<32> two_party_commitment(crypto::ByteSpan value) {
  return crypto::Blake3::derive_key(kTwoPartyRandomnessContext).update(value).finalize();
}

asio::awaitable<std::expected<crypto::SecretArray<32>, EcdsaSignerInitError>> two_party_randomness(
    PeerExecutor executor) {
  crypto::SecretArray<32> own;
  executor.executor().rng().fill_bytes(own.mut_span());
  const crypto::ByteArray<32> commitment = two_party_commitment(own.span());

  if (auto sent = executor.send(commitment); !sent) co_return std::unexpected(receive_failed(std::move(sent.error())));
  auto theirs_commitment = co_await receive_32(executor);
  if (!theirs_commitment) co_return std::unexpected(receive_failed(std::move(theirs_commitment.error())));

  if (auto sent = executor.send(own); !sent) co_return std::unexpected(receive_failed(std::move(sent.error())));
  auto theirs_value = co_await receive_32(executor);
  if (!theirs_value) co_return std::unexpected(receive_failed(std::move(theirs_value.error())));
  const crypto::SecretArray<32> theirs(*theirs_value);
  crypto::secure_wipe(theirs_value->data(), theirs_value->size());

  if (!crypto::ct_equal(two_party_commitment(theirs.span()), *theirs_commitment)) {
    co_return std::unexpected(EcdsaSignerInitError::InvalidZetaCommitment{});
  }
  crypto::SecretArray<32> seed;
  for (std::size_t i = 0; i < 32; ++i) seed[i] = static_cast<std::uint8_t>(own[i] ^ theirs[i]);
  co_return seed;
}

asio::awaitable<std::expected<PresignPairwiseSetup, EcdsaSignerInitError>> presign_pairwise_setup(
    ProtocolExecutor zeta_executor, ProtocolExecutor rvole_executor) {
  const PartyId own = zeta_executor.my_party_id();
  std::vector<PartyId> peers;
  for (const PartyId p : zeta_executor.parties()) {
    if (p != own) peers.push_back(p);
  }

  std::vector<std::optional<crypto::SecretArray<32>>> seeds(peers.size());
  std::vector<std::optional<RoteSenderSetup>> senders(peers.size());
  std::vector<std::optional<RoteReceiverSetup>> receivers(peers.size());

  // Zeta side first, then the rVOLE side, each in party-list order; the join
  // treats them alike.
  std::vector<Step> branches;
  branches.reserve(3 * peers.size());
  for (std::size_t i = 0; i < peers.size(); ++i) {
    const PartyId p = peers[i];
    PeerExecutor pair(zeta_executor.child_pair(std::min(own, p), std::max(own, p)), p);
    branches.push_back(async::detail::fill_slot<crypto::SecretArray<32>, EcdsaSignerInitError>(
        two_party_randomness(std::move(pair)), seeds[i]));
  }
  for (std::size_t i = 0; i < peers.size(); ++i) {
    const PartyId p = peers[i];
    PeerExecutor sending(rvole_executor.child_pair(own, p), p);
    PeerExecutor receiving(rvole_executor.child_pair(p, own), p);
    branches.push_back(setup_into<RoteSenderSetup>(rvole_setup_sender(std::move(sending)), senders[i]));
    branches.push_back(setup_into<RoteReceiverSetup>(rote_receiver_setup(std::move(receiving)), receivers[i]));
  }

  auto joined = co_await join_until_first_failure<EcdsaSignerInitError>(std::move(branches));
  if (!joined) co_return std::unexpected(std::move(joined.error()));

  PresignPairwiseSetup out;
  out.zeta_seeds = PartyMap<crypto::SecretArray<32>>(peers.size());
  out.rvoles.reserve(peers.size());
  for (std::size_t i = 0; i < peers.size(); ++i) {
    out.zeta_seeds.insert(peers[i], std::move(*seeds[i]));
    out.rvoles.push_back(RvolePairSetup{peers[i], std::move(*senders[i]), std::move(*receivers[i])});
  }
  co_return out;
}

}  // namespace velto::ecdsa
