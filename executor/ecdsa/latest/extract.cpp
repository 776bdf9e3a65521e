#include <optional>
#include <utility>

#include "executor/common/session_checks.hpp"
#include "executor/ecdsa/latest/common.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "velto-ecdsa-legacy/extract.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

using namespace latest_detail;
using ecdsa::EcdsaExtractLibError;

namespace latest_detail {

boost::asio::awaitable<ExtractResult> run_extraction(ProtocolExecutor root, const ecdsa::KeyPair& key,
                                                     const EcdsaStorableSecretShare& share, PartyId receiver) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));
  ProtocolExecutor executor = joint->child(kExtractionLabel);

  const std::uint16_t found = executor.number_of_parties();
  if (found != key.threshold) {
    co_return std::unexpected(box_handler_error(
        EcdsaExtractLibError{EcdsaExtractLibError::InvalidNumberOfParticipants{key.threshold, found}}));
  }
  if (auto present = check_receiver_in_session(executor, share.partyid_pubkey_map, receiver); !present) {
    co_return std::unexpected(std::move(present.error()));
  }

  auto extracted = co_await ecdsa::legacy::ecdsa_v110_extract_rounds(executor, key, receiver);
  if (!extracted) co_return std::unexpected(box_handler_error(std::move(extracted.error())));
  co_return std::move(*extracted);
}

}  // namespace latest_detail

boost::asio::awaitable<ExtractResult> ecdsa_extract_handler_latest(ProtocolExecutor root,
                                                                   const EcdsaStorableSecretShare& share,
                                                                   PartyId receiver) {
  const ecdsa::KeyPair key = keypair_of(share);
  co_return co_await run_extraction(std::move(root), key, share, receiver);
}

}  // namespace velto::executor
