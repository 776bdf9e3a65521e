// Two small hashing facilities: the running transcript of a two-party
// exchange, and the pairwise zero-share streams.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "crypto/secret.hpp"
#include "sised/codec.hpp"
#include "sised/party_id.hpp"

namespace velto {

inline constexpr std::string_view kTranscriptContext = "VELTO Transcript V0";
inline constexpr std::string_view kZeroSharesContext = "VELTO OBTAIN ZERO SHARES V0";

// A BLAKE3 hasher in derive-key mode under "VELTO Transcript V0" that the two
// sides of an exchange feed, in the same order, with the values both know.
// A protocol that keys its transcript appends its 32-byte key first.
class Transcript {
 public:
  Transcript() : hasher_(crypto::Blake3::derive_key(kTranscriptContext)) {}

  // Feeds the sised encoding of v. Cannot fail: inputs are far below the
  // length limit of the encoding (a failure is a bug and panics).
  template <class T>
  Transcript& append(const T& v) {
    sised::hash_into(hasher_, v, "Shouldn't happen");
    return *this;
  }

  crypto::ByteArray<32> finalize() const { return hasher_.finalize(); }
  crypto::Blake3Reader finalize_xof() const { return hasher_.finalize_xof(); }
  const crypto::Blake3& hasher() const noexcept { return hasher_; }

 private:
  crypto::Blake3 hasher_;
};

// One peer's zero-share stream: the extendable output of derive-key under
// "VELTO OBTAIN ZERO SHARES V0" over seed ‖ instance value, read from the
// start 32 bytes at a time (fetched 64 bytes at a time: the second half of a
// fetch serves the next value).
class ZeroShareStream {
 public:
  ZeroShareStream(crypto::ByteSpan seed, const crypto::ByteArray<32>& instance);

  // The next 32 bytes of the stream.
  crypto::SecretArray<32> next_bytes();
  // The next 32 bytes read big-endian, reduced modulo n by one conditional
  // subtraction.
  crypto::Scalar next_scalar();

 private:
  crypto::Blake3Reader reader_;
  crypto::SecretArray<64> block_;
  std::size_t used_ = 64;  // bytes of block_ already handed out
};

struct ZeroShareEntry {
  PartyId peer;
  ZeroShareStream stream;
};

namespace detail {

inline crypto::ByteSpan seed_span(const crypto::ByteArray<32>& s) noexcept { return s; }
inline crypto::ByteSpan seed_span(const crypto::SecretArray<32>& s) noexcept { return s.span(); }

// The filter rule of party maps: ids ascending and all present, each found
// in the part of the map after the previous find; other entries are passed
// over.
template <class SeedMap>
auto filter_find(const SeedMap& map, std::size_t& from, PartyId id) {
  auto first = std::begin(map) + static_cast<std::ptrdiff_t>(from);
  auto last = std::end(map);
  auto it = std::lower_bound(first, last, id, [](const auto& entry, PartyId x) { return entry.first < x; });
  if (it == last || it->first != id) velto::panic("Expected `filter` ids to be ordered and a subset of map");
  from = static_cast<std::size_t>(it - std::begin(map)) + 1;
  return it;
}

}  // namespace detail

// One (peer, stream) entry for every party of `parties` (ascending ids) but
// own_id, in that order. `seeds` is a party map: a random-access range of
// (PartyId, 32-byte seed) pairs sorted by id, in which both ends of every
// pair hold the same seed; entries of parties outside `parties` are passed
// over, a party without an entry is a bug of the caller (panic).
template <class SeedMap>
std::vector<ZeroShareEntry> obtain_zero_shares(std::span<const PartyId> parties, PartyId own_id,
                                               const SeedMap& seeds, const crypto::ByteArray<32>& instance) {
  std::vector<ZeroShareEntry> out;
  out.reserve(parties.size());
  std::size_t from = 0;
  for (const PartyId p : parties) {
    if (p == own_id) continue;
    auto it = detail::filter_find(seeds, from, p);
    out.push_back(ZeroShareEntry{p, ZeroShareStream(detail::seed_span(it->second), instance)});
  }
  return out;
}

// The next zero share: over the entries (ascending peer ids), the next value
// of each peer's stream, added for peers below own_id and subtracted for
// peers above. The shares of one index over all parties sum to zero.
crypto::Scalar next_zero_share(std::span<ZeroShareEntry> entries, PartyId own_id);

}  // namespace velto
