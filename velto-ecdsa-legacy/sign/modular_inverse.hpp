// The modular inverse of version 1.1.0 signing: additive shares of k^-1 for
// a nonce k = Π k_j that nobody learns, with R = k·G.
//
// Every party draws k_i and a mask contribution φ_i and commits to φ_i. The
// tree values x1 = k_i and x2 = φ_i·k_i^-1 are multiplied pairwise over a
// binary tree on the sorted party list (one input-and-adjust step of two
// products per pair, on the pair's preprocessing record); afterwards x1
// shares k and x2 shares φ/k. The parties commit to and open U_i = x1·G
// (U = R), then V~_i = x2·U together with φ_i, and check φ·G = V~ before
// anyone uses w_i = x2·φ^-1.
//
// Executors, below the signing's "ECDSA Sign" executor: "SIGNING TO MODULAR
// INVERSE SAMPLE" (E_s: the draws), and its children "MODULAR INVERSE
// COMMIT PHI", "MODULAR INVERSE COMMIT PUB U", "MODULAR INVERSE COMMIT PUB V
// TILDE", and per peer "MODULAR INVERSE TO MULT v0.1" with the larger id
// first, narrowed to the peer (the pair executor of the preprocessing run
// and of every input-and-adjust step).
#pragma once

#include <expected>
#include <map>
#include <string_view>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/secp256k1.hpp"
#include "velto-ecdsa-legacy/sign/mul_setup.hpp"
#include "velto-ecdsa-legacy/sign/two_party_mul.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::ecdsa::legacy {

inline constexpr std::string_view kInverseSampleLabel = "SIGNING TO MODULAR INVERSE SAMPLE";
inline constexpr std::string_view kInverseCommitPhiLabel = "MODULAR INVERSE COMMIT PHI";
inline constexpr std::string_view kInverseCommitULabel = "MODULAR INVERSE COMMIT PUB U";
inline constexpr std::string_view kInverseCommitVLabel = "MODULAR INVERSE COMMIT PUB V TILDE";

struct ModularInverse {
  crypto::Point r;
  crypto::Scalar w;
  // One per other party, each with two random multiplications left.
  std::map<PartyId, PairRecord> records;
};

// The number of tree levels for n parties: ⌊log2(2n − 1)⌋.
std::size_t inverse_tree_levels(std::size_t n);
// The positions [start, end) of the sorted party list that the party at
// position idx multiplies with at level l (empty when start = end).
std::pair<std::size_t, std::size_t> inverse_tree_block(std::size_t idx, std::size_t level, std::size_t n);

// The whole sub-protocol on the "ECDSA Sign" executor with the signing's
// set-up records (only read). Errors, as MulError:
//   CommunicationError   sending or collecting the digests of φ, U or V~
//   AlicePreprocessError, BobPreprocessError   a pair's preprocessing run
//   InputAndAdjust       a tree step
//   DecommitError        an opening that does not match, arrive or decode
//   InvalidPad           φ = 0 or φ·G ≠ V~
// A k_i of zero is drawn again.
boost::asio::awaitable<std::expected<ModularInverse, MulError>> modular_inverse_v4(const ProtocolExecutor& sign,
                                                                                  const SignerSetups& setups);

}  // namespace velto::ecdsa::legacy
