// The import operations: one importer holding a private key (and optionally
// its chain code) and the recipients named by keygen ids meet in one room
// and end with a threshold sharing of that key. The caller's own keygen id is
// added to the set when it was left out.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "executor/common/party_set_join.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/legacy/handlers.hpp"
#include "executor/ecdsa/operations.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"

namespace velto::executor {

namespace {

constexpr std::string_view kEcdsaImportOp = "ecdsa_import";
constexpr std::string_view kEcdsaImportLabel = "ECDSA Full Private Key Import";

// The own key added, the count checked, the room joined and the label bound:
// the run, ready for its handler. Takes the host, key pair and ids out of
// `args`.
boost::asio::awaitable<std::expected<VersionedHandlers<EcdsaStorableSecretShare>, ExecutorFailure>> join_import(
    IdentityArgs& args) {
  args.keygen_ids.insert(args.own.public_key());
  auto n = check_party_set_size(args.keygen_ids.size());
  if (!n) co_return std::unexpected(std::move(n.error()));
  co_return co_await join_party_set<EcdsaStorableSecretShare>(std::move(args.host), args.room, std::move(args.own),
                                                              args.keygen_ids, *n, args.threshold, kEcdsaImportOp,
                                                              kEcdsaImportLabel, args.timings);
}

}  // namespace

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_import_importer_body(
    EcdsaImportImporterArgs args) {
  auto driven = co_await join_import(args.identity);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  auto v1_1_0 = [t = args.identity.threshold, key = args.private_key, chain_code = args.chain_code](ProtocolExecutor root) mutable {
    return ecdsa_import_importer_handler_v1_1_0(std::move(root), t, std::move(key), chain_code);
  };
  auto latest = [t = args.identity.threshold, key = std::move(args.private_key),
                 chain_code = args.chain_code](ProtocolExecutor root) mutable {
    return ecdsa_import_importer_handler_latest(std::move(root), t, std::move(key), chain_code);
  };
  register_handler(*driven, Version::V1_5_0, std::move(latest));
  register_handler(*driven, Version::V1_1_0, std::move(v1_1_0));

  auto run = std::move(*driven);
  auto imported = co_await dispatch_versioned(std::move(run));
  if (!imported) co_return std::unexpected(std::move(imported.error()));
  co_return ecdsa_keygen_output(*imported);
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_import_recipient_body(
    IdentityArgs args) {
  auto driven = co_await join_import(args);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  auto latest = [t = args.threshold](ProtocolExecutor root) {
    return ecdsa_import_recipient_handler_latest(std::move(root), t);
  };
  register_handler(*driven, Version::V1_5_0, std::move(latest));
  auto v1_1_0 = [t = args.threshold](ProtocolExecutor root) {
    return ecdsa_import_recipient_handler_v1_1_0(std::move(root), t);
  };
  register_handler(*driven, Version::V1_1_0, std::move(v1_1_0));

  auto run = std::move(*driven);
  auto imported = co_await dispatch_versioned(std::move(run));
  if (!imported) co_return std::unexpected(std::move(imported.error()));
  co_return ecdsa_keygen_output(*imported);
}

}  // namespace velto::executor
