#include "velto-frost-bip340/hashes.hpp"

#include <algorithm>
#include <atomic>
#include <memory>

#include "crypto/error.hpp"
#include "crypto/hash.hpp"
#include "crypto/secret.hpp"

namespace velto::bip340 {

namespace {

crypto::ByteSpan text_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The SHA-256 state after `prefix`, kept in `slot`: built on first use and
// published lock-free (a thread that loses the race frees its own copy), then
// unchanged for the life of the process.
template <class Fill>
const crypto::Sha256& prepared_sha256(std::atomic<const crypto::Sha256*>& slot, Fill fill) {
  if (const crypto::Sha256* ready = slot.load(std::memory_order_acquire)) return *ready;
  auto fresh = std::make_unique<crypto::Sha256>();
  fill(*fresh);
  const crypto::Sha256* expected = nullptr;
  if (slot.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel, std::memory_order_acquire)) {
    return *fresh.release();
  }
  return *expected;
}

std::atomic<const crypto::Sha256*> g_msg{nullptr};
std::atomic<const crypto::Sha256*> g_com{nullptr};
std::atomic<const crypto::Sha256*> g_challenge{nullptr};

const crypto::Sha256& prefixed(std::atomic<const crypto::Sha256*>& slot, std::string_view label) {
  return prepared_sha256(slot, [label](crypto::Sha256& h) { h.update(text_bytes(kBip340Context)).update(text_bytes(label)); });
}

// hash_to_field with one element: expand_message_xmd(SHA-256) to 48 bytes
// under context ‖ label, read big-endian, reduced mod n.
crypto::Scalar hash_to_scalar(std::string_view label, std::initializer_list<crypto::ByteSpan> parts) {
  std::size_t size = 0;
  for (const crypto::ByteSpan p : parts) size += p.size();
  crypto::SecretBytes msg(size);
  std::size_t at = 0;
  for (const crypto::ByteSpan p : parts) {
    std::copy(p.begin(), p.end(), msg.data() + at);
    at += p.size();
  }
  crypto::ByteArray<64> dst_buf{};
  std::copy(kBip340Context.begin(), kBip340Context.end(), dst_buf.begin());
  std::copy(label.begin(), label.end(), dst_buf.begin() + kBip340Context.size());
  const crypto::ByteSpan dst(dst_buf.data(), kBip340Context.size() + label.size());
  auto uniform = crypto::expand_message_xmd_sha256(msg.span(), dst, 48);
  if (!uniform) panic("should never return error according to error cases described in ExpandMsgXmd");
  crypto::SecretArray<64> wide;
  std::copy(uniform->begin(), uniform->end(), wide.mut_span().begin() + 16);
  crypto::secure_wipe(uniform->data(), uniform->size());
  return crypto::Scalar::from_bytes_wide(wide.array());
}

}  // namespace

crypto::Scalar bip340_id_scalar(PartyId id) noexcept { return crypto::Scalar::from_u64(id.value()); }

crypto::ByteArray<32> bip340_id_bytes(PartyId id) noexcept {
  crypto::ByteArray<32> out{};
  out[30] = static_cast<std::uint8_t>(id.value() >> 8);
  out[31] = static_cast<std::uint8_t>(id.value() & 0xFF);
  return out;
}

crypto::Scalar bip340_hash_rho(std::initializer_list<crypto::ByteSpan> parts) { return hash_to_scalar("rho", parts); }

crypto::Scalar bip340_hash_nonce(std::initializer_list<crypto::ByteSpan> parts) {
  return hash_to_scalar("nonce", parts);
}

crypto::ByteArray<32> bip340_hash_msg(crypto::ByteSpan message) {
  crypto::Sha256 h = prefixed(g_msg, "msg");
  return h.update(message).finalize();
}

crypto::ByteArray<32> bip340_hash_com(std::span<const Bip340SigningCommitment> sorted) {
  crypto::Sha256 h = prefixed(g_com, "com");
  for (const Bip340SigningCommitment& entry : sorted) {
    h.update(bip340_id_bytes(entry.id)).update(entry.hiding.to_compressed()).update(entry.binding.to_compressed());
  }
  return h.finalize();
}

Bip340BindingFactorHasher::Bip340BindingFactorHasher(const crypto::Point& group_key,
                                                     const crypto::ByteArray<32>& msg_digest,
                                                     const crypto::ByteArray<32>& com_digest)
    : group_key_(group_key.to_compressed()), msg_digest_(msg_digest), com_digest_(com_digest) {}

crypto::Scalar Bip340BindingFactorHasher::factor(PartyId id) const {
  return bip340_hash_rho({group_key_, msg_digest_, com_digest_, bip340_id_bytes(id)});
}

crypto::Scalar bip340_challenge_hash(const crypto::ByteArray<32>& r_x, const crypto::ByteArray<32>& p_x,
                                     crypto::ByteSpan message) {
  crypto::Sha256 h = prepared_sha256(g_challenge, [](crypto::Sha256& s) {
    const crypto::ByteArray<32> tag = crypto::sha256(text_bytes("BIP0340/challenge"));
    s.update(tag).update(tag);
  });
  return crypto::Scalar::from_bytes_reduced(h.update(r_x).update(p_x).update(message).finalize());
}

}  // namespace velto::bip340
