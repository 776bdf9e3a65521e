#include "velto-mpc-infra/uc_tag.hpp"

#include "crypto/blake3.hpp"

namespace velto {
namespace {

constexpr std::string_view kSerializeFailed = "Failed to serialize tag";

crypto::Blake3 tag_hasher(const UcTag& parent) {
  crypto::Blake3 h = crypto::Blake3::derive_key(kUcTagContext);
  h.update(parent.span());
  return h;
}

void put_id(crypto::Blake3& h, PartyId id) {
  const std::uint8_t b[2] = {static_cast<std::uint8_t>(id.value()), static_cast<std::uint8_t>(id.value() >> 8)};
  h.update(b);
}

}  // namespace

std::string UcTag::debug() const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "UcTag(";
  for (const std::uint8_t b : bytes_) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  out += ')';
  return out;
}

UcTag root_uc_tag() {
  static const UcTag root = [] {
    const std::uint8_t zeros[8] = {};
    crypto::Blake3 h = crypto::Blake3::derive_key(kUcTagContext);
    h.update(zeros);
    return UcTag(h.finalize());
  }();
  return root;
}

UcTag derive_child_uc_tag(const UcTag& parent, std::string_view label) {
  crypto::Blake3 h = tag_hasher(parent);
  sised::hash_into(h, label, kSerializeFailed);
  return UcTag(h.finalize());
}

UcTag child_u64_label_uc_tag(const UcTag& parent, std::string_view label) {
  crypto::Blake3 h = tag_hasher(parent);
  std::uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(label.size()) >> (8 * i));
  h.update(len);
  h.update(crypto::as_bytes(label));
  return UcTag(h.finalize());
}

UcTag child_indexed_uc_tag(const UcTag& parent, std::string_view label, PartyId id) {
  crypto::Blake3 h = tag_hasher(parent);
  sised::hash_into(h, label, kSerializeFailed);
  put_id(h, id);
  return UcTag(h.finalize());
}

UcTag child_label_two_ids_uc_tag(const UcTag& parent, std::string_view label, PartyId id1, PartyId id2) {
  crypto::Blake3 h = tag_hasher(parent);
  sised::hash_into(h, label, kSerializeFailed);
  put_id(h, id1);
  put_id(h, id2);
  return UcTag(h.finalize());
}

UcTag child_pair_uc_tag(const UcTag& parent, PartyId a, PartyId b) {
  crypto::Blake3 h = tag_hasher(parent);
  put_id(h, a);
  put_id(h, b);
  return UcTag(h.finalize());
}

UcTag joint_uc_tag(const UcTag& parent, const crypto::ByteArray<32>& j) {
  crypto::Blake3 h = tag_hasher(parent);
  h.update(j);
  return UcTag(h.finalize());
}

}  // namespace velto
