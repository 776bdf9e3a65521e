// The two-party multiplication of version 1.1.0 signing, after the per-pair
// set-up (mul_setup.hpp): the preprocessing run and the input-and-adjust
// steps.
//
// Roles: in every pair the smaller party id is alice (the punctured trees,
// the correlated-OT sender), the greater one bob (the full trees, the
// receiver). Executors, all narrowed to the peer:
//   E0  the pair executor the caller passes in; it carries message 5 and the
//       masked inputs, and travels on inside the result;
//   E1  child "MUL TO COTE TAG v0.1" of E0; it carries message 4;
//   E2  child "COTE TO ROTE" of E1; it carries messages 1 to 3 (the
//       correlated-OT extension, velto-ote/cote.hpp).
//
// One preprocessing run makes kMulBatch = 4 random multiplications out of
// ℓ = 416·4 = 1,664 correlated OTs (1,728 extended rows): alice holds pads
// a_i, bob pads b_i, and for each i both hold 416 shares whose
// gadget-weighted sum adds up to a_i·b_i. Both sides use the first ℓ random
// OTs of the extension. The batch count is fixed: with another count the
// row choice of the two sides of older peers would differ.
//
// The run transcript (derive-key "VELTO Transcript V0") takes the set-up
// record's transcript hash, messages 1 to 3 as the extension feeds them, and
// message 4 in its wire form; its digest σ seeds χ and χ' of the
// random-oracle check of message 5.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-ot/error.hpp"
#include "velto-ote/error.hpp"
#include "velto-ote/outputs.hpp"
#include "velto-ecdsa-legacy/sign/mul_setup.hpp"
#include "velto-ote/pprf.hpp"

namespace velto::ecdsa::legacy {

inline constexpr std::size_t kMulBlock = 416;
inline constexpr std::size_t kMulBatch = 4;
inline constexpr std::size_t kMulOtCount = kMulBlock * kMulBatch;
inline constexpr std::string_view kMulToCoteLabel = "MUL TO COTE TAG v0.1";
inline constexpr std::string_view kCoteToRoteLabel = "COTE TO ROTE";
inline constexpr std::string_view kGadgetSeedContext = "VELTO ECDSA 2PMUL GADGET SEED V0";
inline constexpr std::string_view kMultiplierRoContext = "VELTO two-party multiplier V0";

// g_0..g_415: for i < 256 the power 2^(8·(31 − ⌊i/8⌋) + i mod 8) (bit i mod 8
// of big-endian byte i / 8); entries 256.. are consecutive 32-byte blocks of
// the extendable output of derive-key "VELTO ECDSA 2PMUL GADGET SEED V0"
// over nothing, read big-endian and reduced once. Built on first use and
// published by compare-and-swap; never freed.
using GadgetVector = std::array<crypto::Scalar, kMulBlock>;
const GadgetVector& gadget_vector();

// count scalars: output k is bytes 64k .. 64k + 63 of the extendable output
// of derive-key "VELTO two-party multiplier V0" over index ‖ seed, read
// big-endian and reduced modulo n.
std::vector<crypto::Scalar> two_party_multiplier_ro(std::uint8_t index, const crypto::ByteArray<32>& seed,
                                                    std::size_t count);

// Message 4: one pair of scalars per correlated OT.
using CoteCorrection = std::vector<std::pair<crypto::Scalar, crypto::Scalar>>;
// Message 5: r_0..r_415 (no prefix), then u_0..u_(c-1) as a sequence.
using MulCheck = std::pair<std::array<crypto::Scalar, kMulBlock>, std::vector<crypto::Scalar>>;
// The masked inputs: one scalar per product.
using MaskedInputs = std::vector<crypto::Scalar>;

// ---------------------------------------------------------------------------
// The computations of a run over explicit inputs.

// Alice's shares (s_k, s'_k) = split(cote_prg(K0_k)) and message 4's pairs
// (a_i − A0 − A1, a'_i − B0 − B1) for the first pads.size()·416 OTs of the
// key pairs (row k belongs to multiplication k / 416).
struct AliceCorrelation {
  std::vector<crypto::Scalar> shares;
  std::vector<crypto::Scalar> check_shares;
  CoteCorrection message;
};
AliceCorrelation alice_correlation(const ote::OtDigests& keys0, const ote::OtDigests& keys1,
                                   std::span<const crypto::Scalar> pads, std::span<const crypto::Scalar> checks);

// Message 5 under σ: r_j = Σ_i χ_i·s_(416i+j) + χ'_i·s'_(416i+j) and
// u_i = χ_i·a_i + χ'_i·a'_i.
MulCheck alice_mul_check(const crypto::ByteArray<32>& sigma, const AliceCorrelation& correlation,
                         std::span<const crypto::Scalar> pads, std::span<const crypto::Scalar> checks);

// Bob's shares from his keys and choice bits (one per OT of message 4) and
// message 4: (τ_k + A, τ'_k + B) where the choice bit is 1, else (−A, −B).
// A message 4 of another length than the keys is
// FailedExtending(InvalidMessageSizeError), before any share is formed.
struct BobCorrelation {
  std::vector<crypto::Scalar> shares;
  std::vector<crypto::Scalar> check_shares;
};
std::expected<BobCorrelation, ote::RoteError> bob_correlation(const ote::OtDigests& keys,
                                                              const ote::ChoiceBits& choices,
                                                              const CoteCorrection& message);

// Bob's test of message 5 under σ for c multiplications: u must hold c
// values and for every j, Σ_i ω_(416i+j)·u_i − χ_i·s_(416i+j) −
// χ'_i·s'_(416i+j) must equal r_j. Either failure is InvalidValue.
std::expected<void, ote::RoteError> bob_mul_check(const crypto::ByteArray<32>& sigma, const MulCheck& check,
                                                  const ote::ChoiceBits& choices, const BobCorrelation& correlation,
                                                  std::size_t c);

// b_i = Σ_j ω_(416i+j)·g_j for i < c.
std::vector<crypto::Scalar> bob_pads(const ote::ChoiceBits& choices, std::size_t c);

// Σ_(j<416) g_j·shares[j] over one block of 416 shares.
crypto::Scalar gadget_sum(std::span<const crypto::Scalar> block);

// z^A_i = x_i·d^B_i + Σ_j g_j·s^A_(416i+j), over the shorter of x and d.
std::vector<crypto::Scalar> two_party_mul_alice(std::span<const crypto::Scalar> x, std::span<const crypto::Scalar> d,
                                                std::span<const crypto::Scalar> shares);
// z^B_i = b_i·d^A_i + Σ_j g_j·s^B_(416i+j), over the shorter of b and d.
std::vector<crypto::Scalar> two_party_mul_bob(std::span<const crypto::Scalar> b, std::span<const crypto::Scalar> d,
                                              std::span<const crypto::Scalar> shares);

// x_i − y_i over the shorter length.
std::vector<crypto::Scalar> scalar_vec_sub(std::span<const crypto::Scalar> x, std::span<const crypto::Scalar> y);

// ---------------------------------------------------------------------------
// The runs over the pair executor.

struct RandomMulAlice {
  PeerExecutor executor;
  std::vector<crypto::Scalar> pads;
  std::vector<crypto::Scalar> shares;
};

struct RandomMulBob {
  PeerExecutor executor;
  std::vector<crypto::Scalar> pads;
  std::vector<crypto::Scalar> shares;
};

// Alice's preprocessing: draws the pads a_i, then the check values a'_i
// from E0's generator; the extension's sender on E2 (its errors as it gives
// them); message 4 on E1; message 5 on E0. A failed send is
// CommunicationError. The set-up record is only read.
boost::asio::awaitable<std::expected<RandomMulAlice, ote::OteError>> two_party_mul_online_alice(
    PeerExecutor e0, const AliceSetup& setup);

// Bob's preprocessing. Failures of messages 1 to 4 are
// FailedExtending(CommunicationError(e)) (a failed send, receive or
// decoding, "Invalid Scalar" in message 4) or
// FailedExtending(InvalidMessageSizeError) (message 4 not exactly ℓ pairs);
// message 5 that cannot be received or decoded is CommunicationError; a
// failed test of it InvalidValue.
boost::asio::awaitable<std::expected<RandomMulBob, ote::RoteError>> two_party_mul_online_bob(
    PeerExecutor e0, const BobSetup& setup);

// One input-and-adjust step of N = inputs.size() products: takes the first N
// pads and 416·N shares out of the record (InputTooLarge, with nothing
// taken, when fewer pads remain), sends inputs − pads on E0 and receives the
// peer's masked inputs (exactly N scalars, else
// ReceivedInvalidValueFromOtherParty; a failed send, receive or decoding is
// CommunicationError). Yields this side's additive shares of the products.
boost::asio::awaitable<std::expected<std::vector<crypto::Scalar>, ot::OtError>> input_and_adjust_alice(
    RandomMulAlice& mul, std::span<const crypto::Scalar> inputs);
boost::asio::awaitable<std::expected<std::vector<crypto::Scalar>, ot::OtError>> input_and_adjust_bob(
    RandomMulBob& mul, std::span<const crypto::Scalar> inputs);

// A pair's record in either role, and its input-and-adjust step.
using PairRecord = std::variant<RandomMulAlice, RandomMulBob>;
boost::asio::awaitable<std::expected<std::vector<crypto::Scalar>, ot::OtError>> input_and_adjust(
    PairRecord& record, std::span<const crypto::Scalar> inputs);

}  // namespace velto::ecdsa::legacy
