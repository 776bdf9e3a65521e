#include "velto-ecdsa-legacy/sign/sign.hpp"

#include <array>
#include <utility>
#include <vector>

#include "sised/sised.hpp"
#include "velto-ecdsa-legacy/sign/modular_inverse.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-ecdsa/partial_sig.hpp"
#include "velto-ecdsa/sign.hpp"
#include "velto-mpc-infra/async/join_all.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/commit.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::ecdsa::legacy {
namespace {

namespace asio = boost::asio;
using crypto::Point;
using crypto::Scalar;
using Gammas = std::pair<Point, Point>;

template <class E>
BoxedError boxed(E e) {
  return box_error<E>(std::move(e));
}

// One key-multiplication step: alice multiplies (y, w), bob (w, y).
asio::awaitable<std::expected<std::vector<Scalar>, ot::OtError>> key_step(PairRecord& record, std::array<Scalar, 2> inputs) {
  const std::size_t pads = std::visit([](const auto& r) { return r.pads.size(); }, record);
  if (pads < 2) velto::panic("Input is always 2, and alice always has 4 preprocessed entries");
  auto z = co_await input_and_adjust(record, inputs);
  if (z && z->size() != 2) velto::panic("Input is always 2, and alice always has 4 preprocessed entries");
  co_return z;
}

// The standard verification over m: x(m·s^-1·G + r·s^-1·PK) mod n = r.
bool verifies(const Scalar& r, const Scalar& s, const Scalar& m, const Point& public_key) {
  if (r.is_zero() || s.is_zero() || public_key.is_identity()) return false;
  const Scalar s_inv = s.invert_vartime();
  const Point p = Point::base_mul(m * s_inv) + public_key * (r * s_inv);
  if (p.is_identity()) return false;
  return Scalar::from_bytes_reduced(p.x_bytes()) == r;
}

}  // namespace

asio::awaitable<std::expected<crypto::Bytes, BoxedError>> ecdsa_sign_v4(ProtocolExecutor root, const KeyPair& key_pair,
                                                                      crypto::ByteArray<32> message_hash) {
  // Stage 1: the joint tag.
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(std::move(joint.error()));
  const ProtocolExecutor& tagged = *joint;

  // Stage 2: the pairwise set-ups.
  std::optional<SignerSetups> setups;
  {
    const ProtocolExecutor init = tagged.child(kSignerInitLabel).child(kSigningInitToInverseLabel);
    auto r = co_await two_party_mul_setups(init);
    if (!r) co_return std::unexpected(boxed(SignerInitError(std::move(r.error()))));
    setups.emplace(std::move(*r));
  }

  // Stage 3: the modular inverse, the key multiplication and the Gammas.
  ProtocolExecutor sign = tagged.child(kSignLabel);
  auto inverse = co_await modular_inverse_v4(sign, *setups);
  setups.reset();
  if (!inverse) co_return std::unexpected(boxed(EcdsaPresignInitError(EcdsaPresignInitError::SampleError{std::move(inverse.error())})));
  const Point& big_r = inverse->r;
  const Scalar& w = inverse->w;

  const PartyId me = sign.my_party_id();
  const Scalar lambda = lagrange_coefficient_at(me, sign.parties(), me);
  const Scalar y = lambda * key_pair.secret_share;

  Scalar v = w * y;
  {
    std::vector<asio::awaitable<std::expected<std::vector<Scalar>, ot::OtError>>> steps;
    for (auto& [peer, record] : inverse->records) {
      const bool alice = me < peer;
      steps.push_back(key_step(record, alice ? std::array<Scalar, 2>{y, w} : std::array<Scalar, 2>{w, y}));
    }
    auto done = co_await async::try_join_all(std::move(steps));
    if (!done) {
      co_return std::unexpected(boxed(EcdsaPresignInitError(EcdsaPresignInitError::InputAndAdjust{std::move(done.error())})));
    }
    for (const std::vector<Scalar>& z : *done) v += z[0] + z[1];
    inverse->records.clear();
  }

  {
    ProtocolExecutor gammas = sign.child(kCommitGammasLabel);
    const Gammas own{key_pair.public_key * w - Point::base_mul(v), big_r * v};
    auto digests = co_await commit_round(gammas, own);
    if (!digests) {
      co_return std::unexpected(
          boxed(EcdsaPresignInitError(EcdsaPresignInitError::CommunicationError{std::move(digests.error())})));
    }
    auto opened = co_await decommit_round(gammas, own, *digests);
    if (!opened) {
      co_return std::unexpected(boxed(EcdsaPresignInitError(
          EcdsaPresignInitError::DecommitError{box_error<DecommitError>(std::move(opened.error()))})));
    }
    Point sum1 = own.first;
    Point sum2 = own.second;
    for (const auto& [id, g] : *opened) {
      sum1 += g.first;
      sum2 += g.second;
    }
    if (!sum1.is_identity() || !(sum2 == key_pair.public_key)) {
      co_return std::unexpected(boxed(EcdsaPresignInitError(EcdsaPresignInitError::Unknown{})));
    }
  }

  const crypto::ByteArray<32> x_bytes = big_r.x_bytes();
  const Scalar r = Scalar::from_bytes_reduced(x_bytes);

  // Stage 4: the signature shares.
  const Scalar m = Scalar::from_bytes_reduced(message_hash);
  if (m.is_zero()) co_return std::unexpected(boxed(EcdsaSignErrorV4(EcdsaSignErrorV4::Unknown{})));
  const Scalar s_own = m * w + r * v;
  if (auto sent = sign.send_to_all(s_own); !sent) {
    co_return std::unexpected(boxed(EcdsaSignErrorV4(EcdsaSignErrorV4::CommunicationError{std::move(sent.error())})));
  }
  auto shares = co_await collect_map<Scalar>(sign);
  if (!shares) {
    co_return std::unexpected(boxed(EcdsaSignErrorV4(EcdsaSignErrorV4::CommunicationError{std::move(shares.error())})));
  }
  Scalar s = s_own;
  for (const auto& [id, share] : *shares) s += share;

  RecoverableSignature signature;
  const bool flip = s.is_high();
  signature.r = r;
  signature.s = Scalar::select(s, -s, flip);
  const bool high = r.to_bytes() != x_bytes;
  const bool y_odd = !big_r.has_even_y();
  signature.recovery_id = static_cast<std::uint8_t>((high ? 2 : 0) | ((y_odd != flip) ? 1 : 0));
  if (!verifies(signature.r, signature.s, m, key_pair.public_key)) {
    co_return std::unexpected(boxed(EcdsaSignErrorV4(EcdsaSignErrorV4::Unknown{})));
  }
  co_return signature_output_bytes(signature);
}

}  // namespace velto::ecdsa::legacy
