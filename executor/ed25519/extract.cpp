// The full-private-key export handler.
#include <optional>
#include <utility>
#include <vector>

#include "executor/common/session_checks.hpp"
#include "executor/ed25519/handlers.hpp"
#include "velto-frost-ed25519/dkg.hpp"
#include "velto-frost-ed25519/error.hpp"
#include "velto-frost-ed25519/extract.hpp"
#include "velto-frost-ed25519/lagrange.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

namespace {

using frost::FrostExtractError;
using frost::FrostExtractRunError;
using ExtractResult = std::expected<std::optional<frost::ExtractedPrivateKey>, ExecutorFailure>;

ExecutorFailure communication_failure(BoxedError error) {
  return box_handler_error(FrostExtractRunError::communication(std::move(error)));
}

}  // namespace

boost::asio::awaitable<ExtractResult> ed25519_extract_handler(ProtocolExecutor root, const frost::FrostKeyShare& key,
                                                              const PartyPubkeyMap& party_map, PartyId receiver) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));
  ProtocolExecutor executor = joint->child(kEd25519ExtractionLabel);

  const std::size_t found = executor.parties().size();
  if (found != key.threshold) {
    co_return std::unexpected(box_handler_error(FrostExtractRunError::inner(
        FrostExtractError::InvalidAmountOfSecretSharesForRecovery{key.threshold, found})));
  }
  if (auto present = check_receiver_in_session(executor, party_map, receiver); !present) {
    co_return std::unexpected(std::move(present.error()));
  }

  crypto::EdScalar weighted = frost::frost_weighted_share(key, executor.parties());

  if (executor.my_party_id() != receiver) {
    const FrostExportMessage message{key.party_id, receiver, std::move(weighted)};
    if (auto sent = executor.send_to(receiver, message); !sent) {
      co_return std::unexpected(communication_failure(std::move(sent.error())));
    }
    co_return std::optional<frost::ExtractedPrivateKey>{};
  }

  std::vector<frost::WeightedShare> received;
  received.reserve(found - 1);
  auto poll = BufferedPoll::start(executor, executor.parties());
  for (;;) {
    auto item = co_await poll.next<FrostExportMessage>();
    if (!item) co_return std::unexpected(communication_failure(std::move(item.error())));
    if (!*item) break;
    if ((*item)->value.sender != (*item)->sender) {
      co_return std::unexpected(box_handler_error(FrostExtractRunError::malicious((*item)->sender)));
    }
    received.push_back(frost::WeightedShare{(*item)->sender, std::move((*item)->value.weighted_share)});
  }
  auto combined = frost::frost_extract_combine(key, weighted, std::move(received));
  if (!combined) co_return std::unexpected(box_handler_error(FrostExtractRunError::inner(std::move(combined.error()))));
  co_return std::optional<frost::ExtractedPrivateKey>(std::move(*combined));
}

}  // namespace velto::executor
