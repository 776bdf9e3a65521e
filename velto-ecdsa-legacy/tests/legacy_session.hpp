// Helpers of the version 1.1.0 protocol tests: parties in one process over
// the in-memory network, optionally with a tap that rewrites what one party
// sends.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "velto-ecdsa/tests/keygen_test_util.hpp"
#include "velto-mpc-infra/executor/communicator.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::ecdsa::legacy::testing {

namespace asio = boost::asio;
using namespace velto::ecdsa::testing;  // NOLINT(google-build-using-namespace)

// Rewrites a plaintext (payload ‖ 32-byte tag) on its way to `to`.
using Rewrite = std::function<void(crypto::Bytes& plaintext, PartyId to)>;

// A link that hands every outgoing plaintext to a rewrite first.
class TapLink final : public Communicator {
 public:
  TapLink(std::shared_ptr<Communicator> inner, Rewrite rewrite) : inner_(std::move(inner)), rewrite_(std::move(rewrite)) {}
  PartyId my_party_id() const override { return inner_->my_party_id(); }
  asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() override {
    co_return co_await inner_->receive_next();
  }
  asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes plaintext, PartyId to) override {
    rewrite_(plaintext, to);
    co_return co_await inner_->send(std::move(plaintext), to);
  }
  asio::awaitable<void> close() override { co_await inner_->close(); }

 private:
  std::shared_ptr<Communicator> inner_;
  Rewrite rewrite_;
};

// The tag a plaintext travels under.
inline bool sent_under(const crypto::Bytes& plaintext, const UcTag& tag) {
  return plaintext.size() >= 32 && std::equal(tag.span().begin(), tag.span().end(), plaintext.end() - 32);
}

// run_session with the links of `tapped` going through `rewrite`.
template <class R, class Protocol>
std::vector<R> run_tapped(async::Runtime& rt, const std::vector<PartyId>& ids, Protocol protocol, PartyId tapped,
                          Rewrite rewrite) {
  auto network = InMemoryNetwork::create(ids);
  std::vector<async::JoinHandle<velto::testing::PartyOutcome<R>>> handles;
  for (const PartyId id : ids) {
    std::shared_ptr<Communicator> link = network->link(id);
    if (id == tapped) link = std::make_shared<TapLink>(std::move(link), rewrite);
    auto per_party = [protocol, id](ProtocolExecutor root) { return protocol(id, std::move(root)); };
    handles.push_back(
        async::spawn_task(rt.executor(), velto::testing::drive_party<R>(std::move(link), ids, {}, per_party)));
  }
  return rt.block_on([](std::vector<async::JoinHandle<velto::testing::PartyOutcome<R>>> hs)
                         -> asio::awaitable<std::vector<R>> {
    std::vector<R> out;
    for (auto& h : hs) {
      auto r = co_await h.join();
      if (!r) throw std::runtime_error(r.error().display());
      out.push_back(std::move(r->result));
    }
    co_return out;
  }(std::move(handles)));
}

// The results of run_session without the managers' outcomes.
template <class R, class Protocol>
std::vector<R> run_plain(async::Runtime& rt, const std::vector<PartyId>& ids, Protocol protocol,
                         std::shared_ptr<InMemoryNetwork>* network = nullptr) {
  auto outcomes = run_session<R>(rt, ids, protocol, {}, {}, network);
  std::vector<R> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

// The key pairs of results that must all succeed.
template <class R>
std::vector<KeyPair> all_keys(std::vector<R>& results) {
  std::vector<KeyPair> keys;
  for (auto& r : results) {
    if (!r) {
      ADD_FAILURE() << r.error().display();
      continue;
    }
    keys.push_back(*r);
  }
  return keys;
}

}  // namespace velto::ecdsa::legacy::testing
