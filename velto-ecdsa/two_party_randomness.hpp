// The pairwise set-up that precedes presigning: with every other signer, a
// zeta seed from a committed coin toss (expanded later into zero shares) and
// the random-OT-extension set-ups of both directions of the pair's random
// VOLE. All pairs run at once inside the calling task; the first failure of
// any pair ends the whole step.
//
// Also here: the join used by every concurrent step of signing, which runs a
// list of branches side by side, keeps their results in creation order and
// stops at the first failure.
#pragma once

#include <cstddef>
#include <exception>
#include <expected>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "crypto/secret.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/rvole.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/party_map.hpp"

namespace velto::ecdsa {

inline constexpr std::string_view kTwoPartyRandomnessContext = "VELTO TWO PARTY RANDOMNESS V0";

// ---------------------------------------------------------------------------
// Joins.

namespace detail {

// Cancels the remaining branches once one has failed or thrown.
struct StopAtFirstFailure {
  template <class R>
  boost::asio::cancellation_type_t operator()(const std::exception_ptr& thrown, const R& result) const noexcept {
    return thrown || !result ? boost::asio::cancellation_type::terminal : boost::asio::cancellation_type::none;
  }
};

bool is_operation_aborted(const std::exception_ptr& e) noexcept;

template <class T, class E>
boost::asio::awaitable<std::expected<void, E>> into_slot(boost::asio::awaitable<std::expected<T, E>> branch,
                                                         std::optional<T>& slot) {
  auto r = co_await std::move(branch);
  if (!r) co_return std::unexpected(std::move(r.error()));
  slot.emplace(std::move(*r));
  co_return std::expected<void, E>();
}

}  // namespace detail

// Runs every branch side by side on the calling coroutine's strand until all
// have succeeded or one has failed. The first failure (in completion order)
// cancels the others, which end at their current wait and release what they
// hold (executors deregister their tags); that failure is returned. A thrown
// exception other than a branch's cancellation (a panic) is rethrown once all
// have ended.
template <class E>
boost::asio::awaitable<std::expected<void, E>> join_until_first_failure(
    std::vector<boost::asio::awaitable<std::expected<void, E>>> branches) {
  namespace asio = boost::asio;
  if (branches.empty()) co_return std::expected<void, E>();
  auto ex = co_await asio::this_coro::executor;
  using Op = decltype(asio::co_spawn(ex, std::declval<asio::awaitable<std::expected<void, E>>>(), asio::deferred));
  std::vector<Op> ops;
  ops.reserve(branches.size());
  for (auto& b : branches) ops.push_back(asio::co_spawn(ex, std::move(b), asio::deferred));
  auto [order, thrown, results] = co_await asio::experimental::make_parallel_group(std::move(ops))
                                      .async_wait(detail::StopAtFirstFailure{}, asio::use_awaitable);
  std::exception_ptr aborted;
  for (const std::size_t i : order) {
    if (thrown[i]) {
      if (!detail::is_operation_aborted(thrown[i])) std::rethrow_exception(thrown[i]);
      if (!aborted) aborted = thrown[i];
      continue;
    }
    if (!results[i]) co_return std::unexpected(std::move(results[i].error()));
  }
  // Every branch was cancelled from outside: pass the cancellation on.
  if (aborted) std::rethrow_exception(aborted);
  co_return std::expected<void, E>();
}

// The same over branches with results: on success the results in the order
// of `branches`, whatever order they finished in.
template <class T, class E>
boost::asio::awaitable<std::expected<std::vector<T>, E>> try_join_all(
    std::vector<boost::asio::awaitable<std::expected<T, E>>> branches) {
  std::vector<std::optional<T>> slots(branches.size());
  std::vector<boost::asio::awaitable<std::expected<void, E>>> wrapped;
  wrapped.reserve(branches.size());
  for (std::size_t i = 0; i < branches.size(); ++i) {
    wrapped.push_back(detail::into_slot<T, E>(std::move(branches[i]), slots[i]));
  }
  auto joined = co_await join_until_first_failure<E>(std::move(wrapped));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  std::vector<T> out;
  out.reserve(slots.size());
  for (auto& s : slots) out.push_back(std::move(*s));
  co_return out;
}

// ---------------------------------------------------------------------------
// The set-up.

// Both directions of one pair's random VOLE: this party's sender side for
// the direction own -> peer, its receiver side for peer -> own.
struct RvolePairSetup {
  PartyId peer;
  RoteSenderSetup sender;
  RoteReceiverSetup receiver;
};

// What the set-up hands to presigning: one entry per other signer, ascending
// peer id.
struct PresignPairwiseSetup {
  PartyMap<crypto::SecretArray<32>> zeta_seeds;
  std::vector<RvolePairSetup> rvoles;
};

// BLAKE3 derive-key under "VELTO TWO PARTY RANDOMNESS V0" over the 32 bytes
// alone.
crypto::ByteArray<32> two_party_commitment(crypto::ByteSpan value);

// The committed coin toss with the executor's peer: commitment out,
// commitment in, value out, value in (32 bytes each; a longer payload is
// read from its first 32 bytes), then the check of the peer's value against
// its commitment in constant time. Yields v XOR v', the same at both ends.
// Errors: ReceiveFailed (a send, a collection or a payload shorter than 32
// bytes), InvalidZetaCommitment. The executor is released at the end.
boost::asio::awaitable<std::expected<crypto::SecretArray<32>, EcdsaSignerInitError>> two_party_randomness(
    PeerExecutor executor);

// The whole step on the "sample zetas" and "rvoles init" executors (both are
// released at the end): for every peer j, the coin toss on the zeta
// executor's pair (min, max), and the two set-ups on the directional pairs of
// the rVOLE executor, (own, j) for the sender side and (j, own) for the
// receiver side. Everything runs concurrently; the first error of any branch
// ends the step with it (a set-up failure as InitRvoleError). With no peer,
// nothing is sent and both lists are empty.
boost::asio::awaitable<std::expected<PresignPairwiseSetup, EcdsaSignerInitError>> presign_pairwise_setup(
    ProtocolExecutor zeta_executor, ProtocolExecutor rvole_executor);

}  // namespace velto::ecdsa
