// The committed discrete-log proof of key generation.
//
// After the shares are summed, every party proves that it knows the discrete
// logarithm of its public share X_i = x_i·G. The proof is committed first
// and opened only once every party's commitment is in, so no party can pick
// its proof (or its public share) after seeing the others'.
//
//   "DLComZK"         child of the key-generation executor: its tag is the
//                     proof's session tag and its generator draws the nonce.
//   "DLComZK to Com"  child of "DLComZK": the 32-byte digests, then the
//                     98-byte openings R ‖ X ‖ z, travel under its tag.
#pragma once

#include <concepts>
#include <expected>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/codec.hpp"
#include "sised/party_id.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-ecdsa/dlog.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-mpc-infra/commit.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/party_map.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::ecdsa {

inline constexpr std::string_view kDlogProofLabel = "DLComZK";
inline constexpr std::string_view kDlogCommitLabel = "DLComZK to Com";

// The opened proof as it travels and as it is committed: R (33) ‖ X (33) ‖
// z (32 big-endian), 98 bytes.
struct DlogOpening {
  crypto::Point commitment;
  crypto::Point public_share;
  crypto::Scalar response;

  static constexpr ChallengeOrder kChallengeOrder = ChallengeOrder::CommitmentFirst;

  static DlogOpening from_proof(const DlogProof& proof) {
    return DlogOpening{proof.commitment, proof.public_share, proof.response};
  }
  DlogProof proof() const { return DlogProof{response, commitment, public_share}; }
};
VELTO_SISED_RECORD(DlogOpening, commitment, public_share, response)

// Why a peer's committed proof was refused.
//   InvalidCommitment(e)  "Invalid commitment: `{e}`"  the opening round
//                         failed (e is the DecommitError); source: e
//   InvalidProof          "Received an invalid proof"
// Debug forms: InvalidCommitment(InvalidCommitment), InvalidProof.
class ZkpokCommError final : public Error {
 public:
  struct InvalidCommitment {
    DecommitError error;
  };
  struct InvalidProof {};
  using Value = std::variant<InvalidCommitment, InvalidProof>;

  template <class V>
    requires std::is_constructible_v<Value, V>
  ZkpokCommError(V value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)

  VELTO_VARIANT_ERROR_ACCESSORS

 private:
  Value value_;
};

// The name the error catalogue uses for the same type.
using CommittedZkPokError = ZkpokCommError;

// EcdsaKeygenLibError::InvalidCommittedZKPoK carrying `error`.
EcdsaKeygenLibError invalid_committed_zkpok(ZkpokCommError error);

// What a committed proof opens to. An opening record type (DlogOpening here,
// the X ‖ R ‖ z record of protocol version 1.1.0 elsewhere) fixes the byte
// layout that is committed and sent, and the order of the challenge's points.
template <class O>
concept DlogOpeningRecord = requires(const O& o, const DlogProof& p) {
  { O::from_proof(p) } -> std::same_as<O>;
  { o.proof() } -> std::same_as<DlogProof>;
  { o.public_share } -> std::convertible_to<crypto::Point>;
  { O::kChallengeOrder } -> std::convertible_to<ChallengeOrder>;
};

// Commitment and opening on `commit_executor` ("DLComZK to Com"), then the
// proof checks under `proof_tag` (the tag of "DLComZK"): sends the digest of
// `own`, collects every other party's digest, sends `own`, collects and
// checks every other party's opening against its digest, and verifies every
// other party's proof in ascending id order. Returns the other parties'
// public shares by id. Await at once; the executor stays the caller's.
// Errors (EcdsaKeygenLibError):
//   CommunicationError     sending or collecting the digests failed
//   InvalidCommittedZKPoK  InvalidCommitment(DecommitError) for the opening
//                          round, InvalidProof for a proof that fails
template <DlogOpeningRecord Opening = DlogOpening>
boost::asio::awaitable<std::expected<PartyMap<crypto::Point>, EcdsaKeygenLibError>> exchange_dlog_openings(
    ProtocolExecutor& commit_executor, const UcTag& proof_tag, const Opening& own) {
  auto digests = co_await commit_round(commit_executor, own);
  if (!digests) co_return std::unexpected(EcdsaKeygenLibError::CommunicationError{std::move(digests.error())});

  auto openings = co_await decommit_round(commit_executor, own, *digests);
  if (!openings) {
    co_return std::unexpected(invalid_committed_zkpok(ZkpokCommError::InvalidCommitment{std::move(openings.error())}));
  }
  if (openings->size() + 1 != commit_executor.parties().size()) {
    panic("Expected an opening from every other party. Bug!");
  }

  PartyMap<crypto::Point> shares(commit_executor.parties().size());
  for (const auto& [id, opening] : *openings) {  // ascending ids
    if (!dlog_proof_verify(opening.proof(), proof_tag, id, Opening::kChallengeOrder)) {
      co_return std::unexpected(invalid_committed_zkpok(ZkpokCommError::InvalidProof{}));
    }
    shares.insert(id, opening.public_share);
  }
  co_return std::move(shares);
}

// The whole step on the key-generation executor: opens "DLComZK" (D) and
// its child "DLComZK to Com", draws the nonce from D's generator, proves
// knowledge of `secret_share` under D's tag, and runs exchange_dlog_openings.
// Both executors are released when the step ends. Await at once.
template <DlogOpeningRecord Opening = DlogOpening>
boost::asio::awaitable<std::expected<PartyMap<crypto::Point>, EcdsaKeygenLibError>> committed_dlog_proof(
    const ProtocolExecutor& keygen_executor, const crypto::Scalar& secret_share) {
  ProtocolExecutor proof_executor = keygen_executor.child(kDlogProofLabel);
  const crypto::Scalar nonce = crypto::Scalar::random(proof_executor.rng());
  const Opening own = Opening::from_proof(dlog_prove(secret_share, nonce, proof_executor.tag(),
                                                     proof_executor.my_party_id(), Opening::kChallengeOrder));
  ProtocolExecutor commit_executor = proof_executor.child(kDlogCommitLabel);
  const UcTag proof_tag = proof_executor.tag();
  co_return co_await exchange_dlog_openings<Opening>(commit_executor, proof_tag, own);
}

}  // namespace velto::ecdsa
