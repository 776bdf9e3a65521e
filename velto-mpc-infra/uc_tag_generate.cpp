#include "velto-mpc-infra/uc_tag_generate.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "crypto/blake3.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto {

boost::asio::awaitable<std::expected<ProtocolExecutor, BoxedError>> generate_uc_tag(ProtocolExecutor executor) {
  crypto::ByteArray<32> mine;
  executor.rng().fill_bytes(mine);
  if (auto sent = executor.send_to_all(mine); !sent) co_return std::unexpected(std::move(sent.error()));

  std::vector<std::pair<PartyId, crypto::ByteArray<32>>> contributions;
  contributions.reserve(executor.parties().size());
  contributions.emplace_back(executor.my_party_id(), mine);
  auto poll = BufferedPoll::start(executor, executor.parties());
  for (;;) {
    auto item = co_await poll.next<crypto::ByteArray<32>>();
    if (!item) co_return std::unexpected(std::move(item.error()));
    if (!*item) break;
    contributions.emplace_back((*item)->sender, (*item)->value);
  }
  if (contributions.size() != executor.parties().size()) panic("joint tag generation: not every party contributed");
  std::sort(contributions.begin(), contributions.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });

  auto hasher = crypto::Blake3::derive_key(kGenerateUcTagContext);
  for (const auto& [id, value] : contributions) {
    const std::uint16_t v = id.value();
    const crypto::ByteArray<2> le{static_cast<std::uint8_t>(v & 0xff), static_cast<std::uint8_t>(v >> 8)};
    hasher.update(le).update(value);
  }
  const crypto::ByteArray<32> j = hasher.finalize();
  ProtocolExecutor generated = executor.with_tag(joint_uc_tag(executor.tag(), j));
  co_return std::move(generated);
  // `executor` is released when the frame ends, after the new one is open.
}

}  // namespace velto
