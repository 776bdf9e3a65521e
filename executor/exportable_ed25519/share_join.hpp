// The join of the operations whose parties come from a stored exportable
// share (sign, export, refresh): the share's party map, transport key pair
// and counts, then the group key bound into the session hasher.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <expected>
#include <string_view>
#include <utility>

#include "executor/exportable_ed25519/operations.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"

namespace velto::executor::exportable_detail {

template <class T, class Args>
boost::asio::awaitable<std::expected<VersionedHandlers<T>, ExecutorFailure>> join_share_parties(
    Args& args, std::string_view operation) {
  const frost::FrostKeyShare& key = args.share.key_share.key_share;
  auto driven = co_await drive_sign_type<T>(std::move(args.host), args.room, args.share.transport_keypair,
                                            args.share.partyid_pubkey_map, key.num_parties, key.threshold, operation,
                                            args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  driven->session.setup.session_hasher().update(key.public_key.to_bytes());
  co_return std::move(*driven);
}

}  // namespace velto::executor::exportable_detail
