#include "velto-ecdsa/keygen.hpp"

#include <span>
#include <utility>
#include <vector>

#include "sised/secp256k1_codec.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-ecdsa/zkpok_comm.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/party_map.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::ecdsa {

namespace {

// The "ECDSA Keygen" child of the jointly generated executor, which is
// released here: nothing travels under the joint tag any more.
ProtocolExecutor open_keygen_executor(ProtocolExecutor joint) { return joint.child(kKeygenLabel); }

}  // namespace

crypto::ByteArray<32> bip32_chaincode_tag(const UcTag& tag) {
  return derive_child_uc_tag(tag, kChainCodeLabel).bytes();
}

boost::asio::awaitable<std::expected<crypto::Scalar, BoxedError>> keygen_share_fold(ProtocolExecutor& executor,
                                                                                    crypto::Scalar own_evaluation) {
  crypto::Scalar sum = std::move(own_evaluation);
  auto poll = BufferedPoll::start(executor, executor.parties());
  for (;;) {
    auto item = co_await poll.next<crypto::Scalar>();
    if (!item) co_return std::unexpected(std::move(item.error()));
    if (!*item) break;
    sum += (*item)->value;
  }
  co_return std::move(sum);
}

DlogProofStep current_dlog_proof_step() { return &committed_dlog_proof<DlogOpening>; }

boost::asio::awaitable<std::expected<KeygenOutput, EcdsaKeygenLibError>> keygen_core(ProtocolExecutor executor,
                                                                                     crypto::Scalar a0,
                                                                                     std::uint16_t threshold,
                                                                                     DlogProofStep proof_step) {
  const std::uint16_t n = executor.number_of_parties();
  if (auto ok = check_threshold(threshold, n); !ok) co_return std::unexpected(std::move(ok.error()));
  const PartyId me = executor.my_party_id();

  // Deal: f_i(j) to every other party j, in list order.
  crypto::Scalar own_evaluation;
  {
    const std::vector<crypto::Scalar> polynomial = keygen_polynomial(a0, threshold, executor.rng());
    for (const PartyId j : executor.parties()) {
      if (j == me) continue;
      const crypto::Scalar share = polynomial_eval_at(polynomial, j);
      if (auto sent = executor.send_to(j, share); !sent) {
        co_return std::unexpected(EcdsaKeygenLibError::CommunicationError{std::move(sent.error())});
      }
    }
    own_evaluation = polynomial_eval_at(polynomial, me);
  }  // the coefficients wipe themselves here

  auto folded = co_await keygen_share_fold(executor, std::move(own_evaluation));
  if (!folded) co_return std::unexpected(EcdsaKeygenLibError::CommunicationError{std::move(folded.error())});
  const crypto::Scalar secret_share = std::move(*folded);
  const crypto::Point public_share = crypto::Point::base_mul(secret_share);

  auto others = co_await proof_step(executor, secret_share);
  if (!others) co_return std::unexpected(std::move(others.error()));
  PartyMap<crypto::Point> public_shares = std::move(*others);
  public_shares.insert(me, public_share);

  WeightedPoints scratch;
  const std::span<const PartyId> ids(executor.parties());
  auto group_key = lagrange_sums_agree(ids, threshold, public_shares, scratch);
  if (!group_key) co_return std::unexpected(std::move(group_key.error()));
  KeygenOutput out(secret_share, *group_key);
  co_return std::move(out);
}

boost::asio::awaitable<std::expected<KeygenOutput, EcdsaKeygenLibError>> ecdsa_keygen_future(
    ProtocolExecutor executor, crypto::Scalar a0, std::uint16_t threshold, DlogProofStep proof_step) {
  auto out = co_await keygen_core(std::move(executor), std::move(a0), threshold, proof_step);
  if (!out) co_return std::unexpected(std::move(out.error()));
  // A group key at the identity is no key: its share could sign nothing and
  // no encoder can write it. Only cancelling constant terms produce it.
  if (out->public_key.is_identity()) co_return std::unexpected(EcdsaKeygenLibError::InvalidLagrangeSum{});
  co_return std::move(*out);
}

boost::asio::awaitable<std::expected<KeyPair, EcdsaKeygenLibError>> keygen_fresh_key(ProtocolExecutor keygen,
                                                                                     std::uint16_t threshold,
                                                                                     DlogProofStep proof_step) {
  const crypto::ByteArray<32> chain_code = bip32_chaincode_tag(keygen.tag());
  const PartyId me = keygen.my_party_id();
  const std::uint16_t n = keygen.number_of_parties();
  crypto::Scalar a0 = crypto::Scalar::random(keygen.rng());

  auto out = co_await ecdsa_keygen_future(std::move(keygen), std::move(a0), threshold, proof_step);
  if (!out) co_return std::unexpected(std::move(out.error()));
  KeyPair key{out->secret_share, chain_code, out->public_key, me, threshold, n};
  co_return std::move(key);
}

boost::asio::awaitable<std::expected<KeyPair, BoxedError>> ecdsa_keygen_handler_latest(ProtocolExecutor root,
                                                                                       std::uint16_t threshold) {
  if (auto ok = check_threshold(threshold, root.number_of_parties()); !ok) {
    co_return std::unexpected(box_error<EcdsaKeygenLibError>(std::move(ok.error())));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(std::move(joint.error()));
  ProtocolExecutor keygen = open_keygen_executor(std::move(*joint));
  auto key = co_await keygen_fresh_key(std::move(keygen), threshold);
  if (!key) co_return std::unexpected(box_error<EcdsaKeygenLibError>(std::move(key.error())));
  co_return std::move(*key);
}

}  // namespace velto::ecdsa
