// Runs signing sessions in one process for the signing tests and
// benchmarks: key shares dealt from one random polynomial, and one coroutine
// per party, each with its own executor manager, over the in-memory network.
// A tap on every link counts the bytes a party sends and lets a test rewrite
// a party's outgoing messages (a deviating signer).
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/chacha.hpp"
#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-mpc-infra/async/duration.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/executor/communicator.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::ecdsa::signing_test {

namespace asio = boost::asio;

inline PartyId pid(std::uint16_t v) { return PartyId::unchecked(v); }

// The group secret and one KeyPair per party id 1..n: shares f(i) of a
// random polynomial of degree t - 1 with f(0) = x.
struct DealtKey {
  crypto::Scalar secret;
  std::vector<KeyPair> shares;  // shares[i - 1] for party i
};

inline DealtKey deal_key(std::uint16_t t, std::uint16_t n, std::uint8_t seed) {
  crypto::ByteArray<32> s{};
  s[0] = seed;
  s[1] = 0x5e;
  crypto::ChaCha8Rng rng(s);
  DealtKey out;
  out.secret = crypto::Scalar::random(rng);
  const std::vector<crypto::Scalar> poly = keygen_polynomial(out.secret, t, rng);
  crypto::ByteArray<32> chain{};
  rng.fill_bytes(chain);
  const crypto::Point pub = crypto::Point::base_mul(out.secret);
  for (std::uint16_t i = 1; i <= n; ++i) {
    out.shares.push_back(KeyPair{polynomial_eval_at(poly, pid(i)), chain, pub, pid(i), t, n});
  }
  return out;
}

// Rewrites a plaintext (payload ‖ 32-byte tag) that `from` sends to `to`.
using Rewrite = std::function<void(PartyId from, PartyId to, crypto::Bytes& plaintext)>;

// A link that counts what its party sends and passes it through a rewrite.
class TapLink final : public Communicator {
 public:
  TapLink(std::shared_ptr<Communicator> inner, Rewrite rewrite)
      : inner_(std::move(inner)), rewrite_(std::move(rewrite)) {}

  PartyId my_party_id() const override { return inner_->my_party_id(); }
  asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() override {
    co_return co_await inner_->receive_next();
  }
  asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes plaintext, PartyId to) override {
    if (rewrite_) rewrite_(inner_->my_party_id(), to, plaintext);
    bytes_sent_ += plaintext.size();
    co_return co_await inner_->send(std::move(plaintext), to);
  }
  asio::awaitable<void> close() override { co_await inner_->close(); }

  std::size_t bytes_sent() const noexcept { return bytes_sent_.load(); }

 private:
  std::shared_ptr<Communicator> inner_;
  Rewrite rewrite_;
  std::atomic<std::size_t> bytes_sent_{0};
};

// A party's protocol over its root executor; `index` is its position in the
// id list.
template <class R>
using PartyFn = std::function<asio::awaitable<R>(ProtocolExecutor root, std::size_t index)>;

template <class R>
struct PartyRun {
  R result;
  bool manager_ok = false;
};

template <class R>
asio::awaitable<PartyRun<R>> drive_party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids,
                                         PartyFn<R> fn, std::size_t index) {
  ExecutorBuilder builder(std::move(link));
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  R result = co_await fn(std::move(*root), index);
  auto joined = co_await manager.join();
  co_return PartyRun<R>{std::move(result), joined.has_value() && joined->has_value()};
}

template <class R>
asio::awaitable<std::vector<PartyRun<R>>> join_parties(std::vector<async::JoinHandle<PartyRun<R>>> handles) {
  std::vector<PartyRun<R>> out;
  for (auto& h : handles) {
    auto r = co_await h.join();
    if (!r) throw std::runtime_error(r.error().display());
    out.push_back(std::move(*r));
  }
  co_return out;
}

struct SessionOptions {
  Rewrite rewrite;
  std::size_t threads = 2;
  // Ends the waits of a party whose peers have given up (a deviating party
  // that the others refused).
  std::optional<async::Duration> receive_timeout;
};

template <class R>
struct SessionOutcome {
  std::vector<PartyRun<R>> parties;  // in the order of the ids
  std::vector<std::size_t> bytes_sent;
};

// Runs fn for every id of `ids` (the session's party list) in one runtime.
template <class R>
SessionOutcome<R> run_session(const std::vector<PartyId>& ids, const PartyFn<R>& fn,
                              const SessionOptions& options = {}) {
  async::Runtime rt(options.threads);
  InMemoryNetwork::Options network_options;
  network_options.receive_timeout = options.receive_timeout;
  auto network = InMemoryNetwork::create(ids, network_options);
  std::vector<std::shared_ptr<TapLink>> taps;
  std::vector<async::JoinHandle<PartyRun<R>>> handles;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    taps.push_back(std::make_shared<TapLink>(network->link(ids[i]), options.rewrite));
    handles.push_back(async::spawn_task(rt.executor(), drive_party<R>(taps.back(), ids, fn, i)));
  }
  SessionOutcome<R> out;
  out.parties = rt.block_on(join_parties<R>(std::move(handles)));
  for (const auto& t : taps) out.bytes_sent.push_back(t->bytes_sent());
  return out;
}

}  // namespace velto::ecdsa::signing_test
