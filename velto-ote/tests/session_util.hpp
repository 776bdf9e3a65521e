// Runs two-party protocols in tests: one coroutine per party over an
// in-memory network, each party with its own executor manager, as an
// operation runs them.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "sised/party_id.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::session_test {

namespace asio = boost::asio;

inline PartyId pid(std::uint16_t v) { return PartyId::unchecked(v); }

// A party's protocol: takes its root executor. Write it as a plain function
// returning the awaitable of a coroutine that takes its arguments by value.
template <class R>
using PartyFn = std::function<asio::awaitable<R>(ProtocolExecutor)>;

template <class R>
asio::awaitable<R> drive_party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids, PartyFn<R> fn) {
  ExecutorBuilder builder(std::move(link));
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  R result = co_await fn(std::move(*root));
  auto joined = co_await manager.join();
  if (!joined) ADD_FAILURE() << "manager: " << joined.error().display();
  co_return result;
}

template <class R>
asio::awaitable<std::vector<R>> join_all(std::vector<async::JoinHandle<R>> handles) {
  std::vector<R> out;
  for (auto& h : handles) {
    auto r = co_await h.join();
    if (!r) throw std::runtime_error(r.error().display());
    out.push_back(std::move(*r));
  }
  co_return out;
}

// The parties' results in the order of `ids`.
template <class R>
std::vector<R> run_parties(const std::vector<PartyId>& ids, const std::vector<PartyFn<R>>& fns) {
  async::Runtime rt(2);
  auto network = InMemoryNetwork::create(ids);
  std::vector<async::JoinHandle<R>> handles;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    handles.push_back(async::spawn_task(rt.executor(), drive_party<R>(network->link(ids[i]), ids, fns[i])));
  }
  return rt.block_on(join_all<R>(std::move(handles)));
}

}  // namespace velto::session_test
