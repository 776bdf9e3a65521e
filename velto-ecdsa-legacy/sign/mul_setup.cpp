#include "velto-ecdsa-legacy/sign/mul_setup.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "velto-mpc-infra/async/join_all.hpp"

#include "velto-ecdsa-legacy/sign/peer_receive.hpp"
#include "velto-ecdsa-legacy/sign/two_party_mul.hpp"
#include "velto-mpc-infra/transcript.hpp"
#include "velto-ot/base_ot_run.hpp"

namespace velto::ecdsa::legacy {
namespace {

namespace asio = boost::asio;

ot::BaseOtError communication(BoxedError e) { return ot::BaseOtError::CommunicationError{std::move(e)}; }

using PeerSetup = std::pair<PartyId, std::variant<AliceSetup, BobSetup>>;

asio::awaitable<std::expected<PeerSetup, ot::BaseOtError>> setup_with_peer(PeerExecutor pair) {
  const PartyId peer = pair.peer();
  if (pair.executor().my_party_id() < peer) {
    auto r = co_await two_party_mul_setup_alice(std::move(pair));
    if (!r) co_return std::unexpected(std::move(r.error()));
    PeerSetup out{peer, std::move(*r)};
    co_return out;
  }
  auto r = co_await two_party_mul_setup_bob(std::move(pair));
  if (!r) co_return std::unexpected(std::move(r.error()));
  PeerSetup out{peer, std::move(*r)};
  co_return out;
}

}  // namespace

asio::awaitable<std::expected<BobSetup, ot::BaseOtError>> two_party_mul_setup_bob(PeerExecutor pair) {
  PeerExecutor e1 = pair.child(kMulToCoteLabel);
  PeerExecutor e2 = e1.child(kCoteToRoteLabel);
  Transcript transcript;
  std::optional<ot::BaseOtSenderOutput> base;
  {
    PeerExecutor e3 = ot::base_ot_subsession(e2);
    auto r = co_await ot::base_ot_sender(e3, transcript);
    if (!r) co_return std::unexpected(std::move(r.error()));
    base.emplace(std::move(*r));
  }
  ote::FullPprfSetup setup = ote::build_full_pprf_trees(base->bytes(), transcript.finalize());
  base.reset();
  if (auto sent = e2.executor().send_payload_to(e2.peer(), outgoing_payload(setup.message.bytes())); !sent) {
    co_return std::unexpected(communication(std::move(sent.error())));
  }
  co_return std::move(setup.trees);
}

asio::awaitable<std::expected<AliceSetup, ot::BaseOtError>> two_party_mul_setup_alice(PeerExecutor pair) {
  PeerExecutor e1 = pair.child(kMulToCoteLabel);
  PeerExecutor e2 = e1.child(kCoteToRoteLabel);
  Transcript transcript;
  std::optional<ot::BaseOtReceiverOutput> base;
  {
    PeerExecutor e3 = ot::base_ot_subsession(e2);
    auto r = co_await ot::base_ot_receiver(e3, transcript);
    if (!r) co_return std::unexpected(std::move(r.error()));
    base.emplace(std::move(*r));
  }
  auto payload = co_await receive_from_peer<crypto::ByteArray<ote::kPprfSetupMessageSize>>(e2);
  if (!payload) co_return std::unexpected(communication(std::move(payload.error())));
  auto message = ote::decode_pprf_setup_message(*payload);
  if (!message) co_return std::unexpected(communication(box_error<sised::SisedError>(std::move(message.error()))));
  co_return ote::build_punctured_pprf_trees(base->bytes(), transcript.finalize(), *message);
}

asio::awaitable<std::expected<SignerSetups, ot::BaseOtError>> two_party_mul_setups(const ProtocolExecutor& parent) {
  const PartyId me = parent.my_party_id();
  std::vector<asio::awaitable<std::expected<PeerSetup, ot::BaseOtError>>> runs;
  for (const PartyId p : parent.parties()) {
    if (p == me) continue;
    runs.push_back(setup_with_peer(PeerExecutor(parent.child_label_two_ids(kPairMulLabel, std::min(me, p), std::max(me, p)), p)));
  }
  auto joined = co_await async::try_join_all(std::move(runs));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  SignerSetups out;
  for (PeerSetup& s : *joined) {
    if (auto* a = std::get_if<AliceSetup>(&s.second)) {
      out.alice.emplace(s.first, std::move(*a));
    } else {
      out.bob.emplace(s.first, std::move(std::get<BobSetup>(s.second)));
    }
  }
  co_return out;
}

}  // namespace velto::ecdsa::legacy
