// Two-round distributed key generation of sr25519 threshold keys over
// ristretto255.
//
// Every party deals a polynomial f_i of degree t − 1 whose constant term a0
// the caller chooses, sends every other party its commitments with a Schnorr
// proof of knowledge of a0, and then sends each party j the share f_i(j).
// Each party checks the shares against the dealers' commitments and ends with
// an Sr25519KeyShare: x_i = Σ_j f_j(i), Y = Σ_j a0_j·B. There is no echo
// round: a dealer that sends different round-1 messages to different parties
// is not caught here (that needs a change of the wire protocol).
//
// The constant term tells the uses apart: a random scalar for a fresh key,
// the Lagrange-weighted old share for refresh, reshare and import, zero for a
// party that only receives a share (sr25519_keygen_2rounds).
//
// Messages (sised), all under the executor's tag:
//   round 1, to all:  R ‖ z ‖ A0 ‖ count ‖ C_1 … C_(t−1) ‖ sender
//                     (99 + 32·(t − 1) bytes while t − 1 ≤ 251)
//   round 2, to j:    sender ‖ recipient ‖ f_i(j)   (36 bytes)
// The executor's generator supplies, in this order, t − 1 coefficient draws
// and one nonce draw of 32 bytes each.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/ed25519.hpp"
#include "crypto/ristretto255.hpp"
#include "crypto/secret.hpp"
#include "sised/codec.hpp"
#include "sised/ed25519_codec.hpp"
#include "sised/party_id.hpp"
#include "sised/ristretto255_codec.hpp"
#include "velto-frost-ed25519/dkg.hpp"
#include "velto-frost-sr25519/error.hpp"
#include "velto-frost-sr25519/keyshare.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::frost {

// The child label of the key-generation rounds.
inline constexpr std::string_view kSr25519Keygen2RoundsLabel = "keygen_2rounds";

// Round 1, to all: the proof of knowledge (R, z) of a0, A0 = a0·B, the
// commitments C_k = a_k·B (k = 1 … t − 1) and the sender.
struct Sr25519DkgRound1Message {
  crypto::RistrettoPoint proof_point;                // R = r·B
  crypto::EdScalar proof_response;                   // z = r + a0·c
  crypto::RistrettoPoint constant_commitment;        // A0
  std::vector<crypto::RistrettoPoint> commitments;   // C_1 … C_(t−1)
  PartyId sender;
};
VELTO_SISED_RECORD(Sr25519DkgRound1Message, proof_point, proof_response, constant_commitment, commitments, sender)

// Round 2, to one party: the dealer's polynomial at the recipient's id
// (sender ‖ recipient ‖ f_i(j), as in the Ed25519 key generation).
using Sr25519DkgRound2Message = FrostDkgRound2Message;

// One run's private state. The coefficients wipe themselves.
struct Sr25519DkgState {
  std::vector<crypto::EdScalar> coefficients;  // a0 … a(t−1)
  crypto::ByteArray<32> context{};             // the executor's tag
  std::uint16_t threshold = 0;
  std::uint16_t num_parties = 0;
  PartyId own_id = PartyId::unchecked(1);
  Sr25519DkgRound1Message message;
  // Filled by sr25519_dkg_verify_round1: the peers' round-1 messages by
  // ascending sender, and (own id, j, f_i(j)) for every peer j in that order.
  std::vector<Sr25519DkgRound1Message> peer_round1;
  std::vector<Sr25519DkgRound2Message> outgoing;
};

// The state with its round-1 message, from the drawn randomness:
// coefficient_draws[k − 1] gives a_k = H("coeff"; context ‖ draw ‖ a0) and
// nonce_draw the proof nonce r = H("nonce"; context ‖ draw ‖ a0).
// Requires 1 <= t <= n and t − 1 draws (panics otherwise: callers refuse
// such thresholds first, as sr25519_dkg_rounds does).
Sr25519DkgState sr25519_dkg_state_from_draws(const crypto::ByteArray<32>& context, std::uint16_t threshold,
                                             std::uint16_t num_parties, PartyId own, const crypto::EdScalar& a0,
                                             std::span<const crypto::SecretArray<32>> coefficient_draws,
                                             const crypto::SecretArray<32>& nonce_draw);

// The same, drawing t − 1 coefficient values and then the nonce value from
// `rng` (32 bytes each). Equal generator states give equal polynomials.
template <class G>
Sr25519DkgState sr25519_dkg_sample_polynomial(G& rng, const crypto::ByteArray<32>& context, std::uint16_t threshold,
                                              std::uint16_t num_parties, PartyId own, const crypto::EdScalar& a0) {
  if (threshold == 0 || threshold > num_parties) panic("assertion failed: threshold <= num_parties");
  std::vector<crypto::SecretArray<32>> draws(threshold - 1u);
  for (auto& d : draws) rng.fill_bytes(d.mut_span());
  crypto::SecretArray<32> nonce_draw;
  rng.fill_bytes(nonce_draw.mut_span());
  return sr25519_dkg_state_from_draws(context, threshold, num_parties, own, a0, draws, nonce_draw);
}

// f(x) by Horner's rule from the highest coefficient.
crypto::EdScalar sr25519_polynomial_eval(std::span<const crypto::EdScalar> coefficients, PartyId x);

// Checks the peers' round-1 messages (n − 1 of them, any order) and prepares
// the outgoing shares. Errors, the first failing message deciding in
// ascending sender order (its proof checked before its commitment count):
//   IncorrectNumberOfMessages       not n − 1 messages, or a message without
//                                   exactly t − 1 commitments
//   ReceivedMaliciousdData{from: j} dealer j's proof of knowledge fails
std::expected<void, Sr25519KeygenError> sr25519_dkg_verify_round1(Sr25519DkgState& state,
                                                                  std::vector<Sr25519DkgRound1Message> received);

// Checks the received shares against the dealers' commitments and forms the
// key share. Errors:
//   IncorrectNumberOfMessages       not n − 1 shares, or the shares' senders
//                                   (ascending) out of step with the round-1
//                                   senders
//   ReceivedMaliciousdData{from: j} dealer j's share is addressed to another
//                                   party, or is not on its committed
//                                   polynomial
std::expected<Sr25519KeyShare, Sr25519KeygenError> sr25519_dkg_finalize(
    const Sr25519DkgState& state, std::vector<Sr25519DkgRound2Message> shares);

// A keygen error inside the run wrapper: a named dealer becomes the
// wrapper's ReceivedMaliciousdData, anything else Inner.
Sr25519KeygenRunError sr25519_to_run_error(Sr25519KeygenError error);

// What the rounds leave for sr25519_dkg_finalize. A class with a
// constructor, not an aggregate, since it travels through coroutine results.
class Sr25519DkgRoundsOutput {
 public:
  Sr25519DkgRoundsOutput(Sr25519DkgState s, std::vector<Sr25519DkgRound2Message> r)
      : state(std::move(s)), received(std::move(r)) {}
  Sr25519DkgState state;
  std::vector<Sr25519DkgRound2Message> received;
};

// Collects one round-1 (round-2) message from each party of `awaited`.
// Errors: CommunicationError (a receive or decoding failure, boxed),
// ReceivedMaliciousdData{from: transport sender} when the message names
// another sender. Await at once.
boost::asio::awaitable<std::expected<std::vector<Sr25519DkgRound1Message>, Sr25519KeygenRunError>>
sr25519_collect_round1(ProtocolExecutor& executor, std::span<const PartyId> awaited);
boost::asio::awaitable<std::expected<std::vector<Sr25519DkgRound2Message>, Sr25519KeygenRunError>>
sr25519_collect_round2(ProtocolExecutor& executor, std::span<const PartyId> awaited);

// Both rounds on `executor` with threshold t and constant term a0: sample,
// send round 1 to all, collect and check, send the shares, collect the
// peers' shares. n, the own id and the context come from the executor.
// A threshold of 0 or above n is refused with
// Inner(ThresholdGreaterThanParties) before anything is sent. Other errors:
// those of the collections (a failed send is a CommunicationError), and the
// round-1 check's as told at sr25519_to_run_error. Await at once.
boost::asio::awaitable<std::expected<Sr25519DkgRoundsOutput, Sr25519KeygenRunError>> sr25519_dkg_rounds(
    ProtocolExecutor& executor, std::uint16_t threshold, crypto::EdScalar a0);

// sr25519_dkg_rounds then sr25519_dkg_finalize on `executor` (released when
// the run ends), a finalisation error mapped by sr25519_to_run_error.
boost::asio::awaitable<std::expected<Sr25519KeyShare, Sr25519KeygenRunError>> sr25519_dkg(
    ProtocolExecutor executor, std::uint16_t threshold, crypto::EdScalar a0);

// A fresh key on `executor` (the jointly tagged executor of a key
// generation): a0 is 64 bytes of its generator reduced modulo l, and the
// rounds run on its child "keygen_2rounds".
boost::asio::awaitable<std::expected<Sr25519KeyShare, Sr25519KeygenRunError>> sr25519_keygen_fresh(
    ProtocolExecutor executor, std::uint16_t threshold);

// A party's constant term for refresh, reshare and import: its share times
// its Lagrange coefficient over `holders` (which must include it).
crypto::EdScalar sr25519_weighted_share(const Sr25519KeyShare& share, std::span<const PartyId> holders);

// The key generation of a party that receives a share without contributing
// a secret: the rounds with constant term zero on the child
// "keygen_2rounds" of `executor`, then the check that the group key is
// `expected_group_key`. Errors: the rounds' errors in the refresh error
// (a keygen error's variant of the same name), and
// Inner(RefreshIsNotOfSameSecret) for another key. Await at once.
boost::asio::awaitable<std::expected<Sr25519KeyShare, Sr25519RefreshRunError>> sr25519_keygen_2rounds(
    const ProtocolExecutor& executor, std::uint16_t threshold, crypto::RistrettoPoint expected_group_key);

// A key-generation run error in the refresh error.
Sr25519RefreshRunError sr25519_to_refresh_error(Sr25519KeygenRunError error);

}  // namespace velto::frost
