// The OT-extension messages and set-up records: the PPRF set-up message, the
// 63 correction vectors (checked against a reference reader), the stored
// tree records, and the random-OT sender fed a correction and a check
// message from the peer (never a panic, only its errors).
//
// Input: a selector byte, then the message.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/bytes.hpp"
#include "sised/decoder.hpp"
#include "velto-ote/ext_common.hpp"
#include "velto-ote/pprf.hpp"
#include "velto-ote/rote.hpp"

namespace {

namespace ote = velto::ote;
namespace crypto = velto::crypto;

// Where the trees start in a PuncturedPprfTrees record: after the 64
// received and the 64 recomputed hashes.
constexpr std::size_t kTreesOffset = 2 * 64 * 32;

// The vectors' lengths in words as a reference reader sees them, or nothing
// when the message is refused.
std::optional<std::vector<std::uint64_t>> model_corrections(crypto::ByteSpan p) {
  velto::sised::Decoder d(p);
  std::vector<std::uint64_t> counts;
  std::uint64_t total = 0;
  for (std::size_t t = 0; t < ote::detail::kCorrections; ++t) {
    auto count = d.read_varint();
    if (!count) return std::nullopt;
    total += *count * 8ull;
    if (total > velto::sised::kMessageHeapLimit) return std::nullopt;
    if (d.remaining() < *count * 8ull) return std::nullopt;
    (void)d.take(*count * 8ull);
    counts.push_back(*count);
  }
  return counts;
}

void check_corrections(crypto::ByteSpan p, std::size_t words) {
  auto decoded = ote::detail::decode_corrections(p, words);
  const auto model = model_corrections(p);
  VELTO_FUZZ_CHECK(decoded.has_value() == model.has_value());
  if (!decoded) return;
  VELTO_FUZZ_CHECK(decoded->consumed <= p.size());
  bool all = true;
  for (std::size_t t = 0; t < ote::detail::kCorrections; ++t) {
    VELTO_FUZZ_CHECK(decoded->vectors[t].size() == (*model)[t] * 8);
    all = all && (*model)[t] == words;
  }
  VELTO_FUZZ_CHECK(decoded->lengths_ok == all);
}

// A record of exactly `size` bytes from the input (repeated or cut).
crypto::Bytes fit(crypto::ByteSpan p, std::size_t size) {
  crypto::Bytes out(size, 0);
  if (!p.empty())
    for (std::size_t i = 0; i < size; ++i) out[i] = p[i % p.size()];
  return out;
}

void check_records(crypto::ByteSpan p, bool exact) {
  const crypto::Bytes punctured = exact ? fit(p, ote::PuncturedPprfTrees::kRecordSize) : crypto::Bytes(p.begin(), p.end());
  auto trees = ote::PuncturedPprfTrees::from_bytes(punctured);
  bool model = punctured.size() == ote::PuncturedPprfTrees::kRecordSize;
  for (std::size_t t = 0; model && t < ote::kPprfTrees; ++t)
    model = punctured[kTreesOffset + 129 * t + 128] < 4;
  VELTO_FUZZ_CHECK(trees.has_value() == model);
  if (trees) VELTO_FUZZ_CHECK(std::equal(trees->bytes().begin(), trees->bytes().end(), punctured.begin()));

  const crypto::Bytes full = exact ? fit(p, ote::FullPprfTrees::kRecordSize) : crypto::Bytes(p.begin(), p.end());
  auto full_trees = ote::FullPprfTrees::from_bytes(full);
  VELTO_FUZZ_CHECK(full_trees.has_value() == (full.size() == ote::FullPprfTrees::kRecordSize));
}

// Fixed sender trees: every punctured index below 4.
const ote::PuncturedPprfTrees& sender_trees() {
  static const ote::PuncturedPprfTrees trees = [] {
    crypto::Bytes record(ote::PuncturedPprfTrees::kRecordSize);
    for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i * 131 + 7);
    for (std::size_t t = 0; t < ote::kPprfTrees; ++t)
      record[kTreesOffset + 129 * t + 128] = static_cast<std::uint8_t>(t % 4);
    return *ote::PuncturedPprfTrees::from_bytes(record);
  }();
  return trees;
}

void check_rote_sender(crypto::ByteSpan p, std::size_t split) {
  const crypto::ByteArray<32> tag{3};
  ote::RoteSender sender(sender_trees(), tag, 128);
  split = std::min(split, p.size());
  if (auto r = sender.receive_corrections(p.first(split)); !r) return;
  (void)sender.receive_check(p.subspan(split));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t selector = in.u8();
  const std::uint16_t arg = in.u16();
  const crypto::ByteSpan body = in.rest();
  switch (selector % 4) {
    case 0: {
      auto m = ote::decode_pprf_setup_message(body);
      VELTO_FUZZ_CHECK(m.has_value() == (body.size() >= ote::kPprfSetupMessageSize));
      if (m) VELTO_FUZZ_CHECK(std::equal(m->bytes().begin(), m->bytes().end(), body.begin()));
      break;
    }
    case 1: check_corrections(body, arg % 8); break;
    case 2: check_records(body, (selector & 4) != 0); break;
    default: check_rote_sender(body, arg); break;
  }
  return 0;
}
