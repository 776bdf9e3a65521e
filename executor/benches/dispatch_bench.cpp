// What the versioned dispatch adds to every operation: the manager task, the
// version agreement and the join of the manager, around a handler that does
// nothing, among n parties over the in-memory network.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <vector>

#include "executor/lib/dispatch.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace {

namespace asio = boost::asio;
using namespace velto;
using namespace velto::executor;

asio::awaitable<HandlerOutcome<int>> party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids) {
  ExecutorBuilder builder(std::move(link), kRelayExecutorLimits);
  auto root = build_executor(builder, root_uc_tag(), ids);
  HandlerMap<int> handlers;
  handlers.emplace(Version::V1_5_0, VersionHandler<int>([](ProtocolExecutor) -> HandlerFuture<int> { co_return 1; }));
  co_return co_await detail::run_versioned<int>(std::move(builder), std::move(*root), std::move(handlers),
                                                wire_code(kAnnouncedVersion));
}

asio::awaitable<std::optional<int>> session(std::vector<PartyId> ids) {
  auto network = InMemoryNetwork::create(ids);
  const auto ex = co_await asio::this_coro::executor;
  std::vector<async::JoinHandle<HandlerOutcome<int>>> handles;
  for (const PartyId id : ids) handles.push_back(async::spawn_task(ex, party(network->link(id), ids)));
  int ran = 0;
  for (auto& h : handles) {
    auto r = co_await h.join();
    if (r && *r) ran += **r;
  }
  co_return ran;
}

void BM_DispatchAroundEmptyHandler(benchmark::State& state) {
  std::vector<PartyId> ids;
  for (std::uint16_t i = 1; i <= state.range(0); ++i) ids.push_back(PartyId::unchecked(i));
  async::Runtime rt(4);
  for (auto _ : state) {
    const auto ran = rt.block_on(session(ids));
    if (ran != static_cast<int>(ids.size())) state.SkipWithError("a party failed");
  }
}
BENCHMARK(BM_DispatchAroundEmptyHandler)->Arg(3)->Arg(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
