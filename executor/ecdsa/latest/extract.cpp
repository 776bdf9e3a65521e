#include <optional>
#include <utility>

#include "executor/common/session_checks.hpp"
#include "executor/ecdsa/latest/common.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

using namespace latest_detail;
using ecdsa::EcdsaExtractLibError;
using ExtractResult = std::expected<std::optional<ecdsa::Xpriv>, ExecutorFailure>;

namespace {

ExecutorFailure extract_failure(EcdsaExtractLibError error) { return box_handler_error(std::move(error)); }

ExecutorFailure communication_failure(BoxedError error) {
  return extract_failure(EcdsaExtractLibError{EcdsaExtractLibError::CommunicationError{std::move(error)}});
}

}  // namespace

boost::asio::awaitable<ExtractResult> ecdsa_extract_handler_latest(ProtocolExecutor root,
                                                                   const EcdsaStorableSecretShare& share,
                                                                   PartyId receiver) {
  const ecdsa::KeyPair key = keypair_of(share);
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));
  ProtocolExecutor executor = joint->child(kExtractionLabel);

  const std::uint16_t found = executor.number_of_parties();
  if (found != key.threshold) {
    co_return std::unexpected(extract_failure(
        EcdsaExtractLibError{EcdsaExtractLibError::InvalidNumberOfParticipants{key.threshold, found}}));
  }
  if (auto present = check_receiver_in_session(executor, share.partyid_pubkey_map, receiver); !present) {
    co_return std::unexpected(std::move(present.error()));
  }

  const crypto::Scalar weight = ecdsa::lagrange_coefficient_at(key.party_id, executor.parties(), key.party_id);
  crypto::Scalar weighted = weight * key.secret_share;

  if (executor.my_party_id() != receiver) {
    if (auto sent = executor.send_to(receiver, weighted); !sent) {
      co_return std::unexpected(communication_failure(std::move(sent.error())));
    }
    co_return std::optional<ecdsa::Xpriv>{};
  }

  crypto::Scalar sum = std::move(weighted);
  auto poll = BufferedPoll::start(executor, executor.parties());
  for (;;) {
    auto item = co_await poll.next<crypto::Scalar>();
    if (!item) co_return std::unexpected(communication_failure(std::move(item.error())));
    if (!*item) break;
    sum += (*item)->value;
  }
  if (!(crypto::Point::base_mul(sum) == key.public_key)) {
    co_return std::unexpected(extract_failure(EcdsaExtractLibError{EcdsaExtractLibError::ReceivedInvalidPrivateKey{}}));
  }
  std::optional<ecdsa::Xpriv> out(std::in_place);
  out->private_key = std::move(sum);
  out->chain_code = key.chain_code;
  co_return std::move(out);
}

}  // namespace velto::executor
