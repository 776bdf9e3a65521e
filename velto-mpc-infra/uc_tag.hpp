// UC tags: the 32-byte names of protocol instances, and their derivations.
//
// Every tag is BLAKE3 derive-key under "UC_TAG VELTO v0.1" over an input
// built from the parent tag and a label and/or party ids. All parties derive
// the same child tags without talking; distinct steps, dealers and pairs get
// distinct tags. The labels are part of the wire protocol.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "crypto/bytes.hpp"
#include "sised/codec.hpp"
#include "sised/party_id.hpp"

namespace velto {

inline constexpr std::string_view kUcTagContext = "UC_TAG VELTO v0.1";
// The label of the version agreement child.
inline constexpr std::string_view kVersionLabel = "Velto Version";

class UcTag {
 public:
  constexpr UcTag() noexcept : bytes_{} {}
  constexpr explicit UcTag(const crypto::ByteArray<32>& bytes) noexcept : bytes_(bytes) {}

  const crypto::ByteArray<32>& bytes() const noexcept { return bytes_; }
  crypto::ByteSpan span() const noexcept { return bytes_; }

  friend bool operator==(const UcTag&, const UcTag&) noexcept = default;
  friend auto operator<=>(const UcTag&, const UcTag&) noexcept = default;

  // UcTag(<64 hex digits>)
  std::string debug() const;

 private:
  crypto::ByteArray<32> bytes_;
};

// The tag every operation starts from: derive-key over 8 zero bytes.
UcTag root_uc_tag();

// parent ‖ label length (1 byte) ‖ label: the tag of ProtocolExecutor::child,
// here without an executor. Labels are shorter than 252 bytes, so the length
// byte is the label's sised varint.
UcTag derive_child_uc_tag(const UcTag& parent, std::string_view label);

// parent ‖ label length as 8 bytes little-endian ‖ label (the version child:
// 53 bytes for "Velto Version").
UcTag child_u64_label_uc_tag(const UcTag& parent, std::string_view label);

// parent ‖ label length (varint) ‖ label ‖ id (2 bytes LE).
UcTag child_indexed_uc_tag(const UcTag& parent, std::string_view label, PartyId id);

// parent ‖ label length (varint) ‖ label ‖ id1 ‖ id2 (2 bytes LE each).
UcTag child_label_two_ids_uc_tag(const UcTag& parent, std::string_view label, PartyId id1, PartyId id2);

// parent ‖ a ‖ b (2 bytes LE each), no label. Ordered: (a, b) and (b, a)
// name the two directions of a pair.
UcTag child_pair_uc_tag(const UcTag& parent, PartyId a, PartyId b);

// parent ‖ J: the tag of a joint generation whose digest is J.
UcTag joint_uc_tag(const UcTag& parent, const crypto::ByteArray<32>& j);

}  // namespace velto

template <>
struct std::hash<velto::UcTag> {
  // Tags are hash outputs: their first bytes are already uniform.
  std::size_t operator()(const velto::UcTag& t) const noexcept {
    std::size_t h = 0;
    for (std::size_t i = 0; i < sizeof(std::size_t); ++i) h |= static_cast<std::size_t>(t.bytes()[i]) << (8 * i);
    return h;
  }
};

namespace velto::sised {

// The 32 raw bytes.
template <>
struct Codec<UcTag> {
  static constexpr std::size_t fixed_size = 32;
  static constexpr std::size_t heap_size = 32;
  static void encode(Sink& s, const UcTag& t) { s.write(t.span()); }
  static std::expected<UcTag, SisedError> decode(Decoder& d) {
    auto bytes = d.read_array<32>();
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return UcTag(*bytes);
  }
};

}  // namespace velto::sised
