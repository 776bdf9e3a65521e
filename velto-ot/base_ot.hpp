// One batch of 128 base oblivious transfers between two parties: the
// computation of both sides, without any I/O.
//
// The sender publishes A_c = a * 6 (a Curve25519 point) and A_t = a * 3 (a
// twist point) for one secret scalar a. For each OT i the receiver picks a
// group at random, a secret s_i and a choice bit c_i, and sends
// r_i = POPF_{c_i}(s_i * G): any 32-byte string is a u-coordinate on the
// curve or the twist, so r_i says nothing of c_i. The sender evaluates the
// POPF under both bits and multiplies by a; for the receiver's bit it gets
// a * s_i * G, which the receiver computes as s_i * A. A per-OT, per-bit tag
// keys the final hash, so the sender ends with two keys per OT and the
// receiver with the one of its bit.
//
// Both sides send their message before they receive the other's, so a batch
// is one message in each direction. The protocol functions that move the
// messages over an executor are in base_ot_run.hpp; everything here is pure,
// with all randomness drawn from a generator argument in a fixed order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "sised/codec.hpp"
#include "velto-mpc-infra/uc_tag.hpp"
#include "velto-ot/error.hpp"
#include "velto-ot/montgomery.hpp"
#include "velto-ot/popf.hpp"

namespace velto::ot {

// OTs per batch.
inline constexpr std::size_t kBaseOtBatchSize = 128;
// A_c || A_t.
inline constexpr std::size_t kBaseOtSenderMessageSize = 64;
// r_0 .. r_127.
inline constexpr std::size_t kBaseOtReceiverValuesSize = 32 * kBaseOtBatchSize;

inline constexpr std::string_view kBaseOtLabel = "BASE OT";
inline constexpr std::string_view kMollerKaContext = "Velto MollerECDHKA v0";
inline constexpr std::string_view kBatchOtKeyContext = "Velto Base BATCH OT V0";
inline constexpr std::string_view kWrongCurveText = "Point is on the wrong curve";

// The tag that keys OT i's key for bit b, derived from the batch tag T:
// E = child(T, "EKE"), D = child(E, "ID"), N_i = derive(D || i as 4 bytes
// LE), B_i = child(N_i, "BIT"), result derive(B_i || b), where derive is
// BLAKE3 derive-key "UC_TAG VELTO v0.1" and child the labelled tag of
// derive_child_uc_tag. An index above 2^32 - 1 panics ("Failed to serialize
// tag").
crypto::ByteArray<32> base_ot_ka_tag(const UcTag& t, std::uint64_t i, std::uint8_t b);

// BLAKE3 derive-key "Velto MollerECDHKA v0" over tag || shared.
crypto::ByteArray<32> moller_ka_key(const crypto::ByteArray<32>& tag, const crypto::ByteArray<32>& shared) noexcept;

// BLAKE3 derive-key "Velto Base BATCH OT V0" over A_c || A_t || the
// receiver's values (raw, without their length prefix).
crypto::ByteArray<32> batch_ot_key(const crypto::ByteArray<64>& sender_message, crypto::ByteSpan receiver_values) noexcept;

// The sender's message: exactly 64 raw bytes on the wire, A_c then A_t.
// Decoding checks that A_c lies on Curve25519 and A_t does not (the custom
// decoding error "Point is on the wrong curve"); bytes after the 64th are
// left unread.
struct BaseOtSenderMessage {
  crypto::ByteArray<32> curve_point;
  crypto::ByteArray<32> twist_point;

  crypto::ByteArray<64> bytes() const noexcept;
  friend bool operator==(const BaseOtSenderMessage&, const BaseOtSenderMessage&) = default;
};

// The receiver's message: r_0 .. r_127 as one sised byte string (varint
// length FD 00 10, then the 4,096 bytes). The decoder accepts any length the
// byte-string rules allow; the sender checks the size afterwards.
struct BaseOtReceiverMessage {
  crypto::Bytes values;

  friend bool operator==(const BaseOtReceiverMessage&, const BaseOtReceiverMessage&) = default;
};

// The receiver's reading of the sender's payload: 64 bytes, A_c on the curve
// and A_t not. Any decoding failure is a CommunicationError carrying the
// SisedError (OutOfBounds when short, "Point is on the wrong curve").
std::expected<BaseOtSenderMessage, BaseOtError> decode_sender_message(crypto::ByteSpan payload);

// The sender's reading of the receiver's payload: a sised byte string (4 MiB
// budget) of exactly 4,096 bytes. A decoding failure is a CommunicationError
// carrying the SisedError; any other length is InvalidMessageSizeError.
std::expected<BaseOtReceiverMessage, BaseOtError> decode_receiver_message(crypto::ByteSpan payload);

// Both keys of every OT: record i is K_i0 || K_i1 (64 bytes), in OT order.
class BaseOtSenderOutput {
 public:
  static constexpr std::size_t kRecordSize = 64;

  crypto::ByteSpan key(std::size_t i, std::uint8_t b) const noexcept {
    return bytes_.span().subspan(kRecordSize * i + 32 * (b & 1), 32);
  }
  crypto::ByteSpan record(std::size_t i) const noexcept { return bytes_.span().subspan(kRecordSize * i, kRecordSize); }
  // The 128 records, 8,192 bytes.
  crypto::ByteSpan bytes() const noexcept { return bytes_.span(); }

 private:
  friend class BaseOtSender;
  BaseOtSenderOutput() : bytes_(kRecordSize * kBaseOtBatchSize) {}
  crypto::SecretBytes bytes_;
};

// The receiver's key and choice bit of every OT: record i is K_i (32 bytes)
// then c_i (one byte, 0 or 1), in OT order.
class BaseOtReceiverOutput {
 public:
  static constexpr std::size_t kRecordSize = 33;

  crypto::ByteSpan key(std::size_t i) const noexcept { return bytes_.span().subspan(kRecordSize * i, 32); }
  std::uint8_t choice(std::size_t i) const noexcept { return bytes_.data()[kRecordSize * i + 32]; }
  crypto::ByteSpan record(std::size_t i) const noexcept { return bytes_.span().subspan(kRecordSize * i, kRecordSize); }
  // The 128 records, 4,224 bytes.
  crypto::ByteSpan bytes() const noexcept { return bytes_.span(); }

 private:
  friend class BaseOtReceiver;
  BaseOtReceiverOutput() : bytes_(kRecordSize * kBaseOtBatchSize) {}
  crypto::SecretBytes bytes_;
};

// The sender of one batch: the scalar a and its message.
class BaseOtSender {
 public:
  // Draws a (32 bytes) from the generator.
  template <class G>
  static BaseOtSender random(G& rng) {
    crypto::SecretArray<32> a;
    rng.fill_bytes(a.mut_span());
    return BaseOtSender(a);
  }

  // The top bit of a[0] is cleared; the rest is used as given.
  explicit BaseOtSender(const crypto::SecretArray<32>& a);

  const BaseOtSenderMessage& message() const noexcept { return message_; }

  // Both keys of every OT from the receiver's 4,096 bytes of values, for the
  // batch tag T. Refuses any other length with InvalidMessageSizeError.
  std::expected<BaseOtSenderOutput, BaseOtError> derive_keys(const UcTag& t, crypto::ByteSpan receiver_values) const;

 private:
  crypto::SecretArray<32> a_;
  BaseOtSenderMessage message_;
};

// The receiver's random choices for one batch, drawn but not yet used:
// per OT the secret s_i, the group f_i (1 curve, 0 twist) and the choice
// bit c_i. Kept apart from BaseOtReceiver so that a task can take the draws
// from its generator and leave the ladders to another thread.
class BaseOtReceiverDraws {
 public:
  // Per OT, in order: 32 bytes s_i, a 32-bit word whose top bit is f_i,
  // a 32-bit word whose top bit is c_i. A word is 4 bytes little-endian.
  template <class G>
  static BaseOtReceiverDraws random(G& rng) {
    BaseOtReceiverDraws d;
    for (std::size_t i = 0; i < kBaseOtBatchSize; ++i) {
      crypto::SecretArray<32> s;
      rng.fill_bytes(s.mut_span());
      const std::uint32_t w_group = draw_u32(rng);
      const std::uint32_t w_choice = draw_u32(rng);
      d.add(i, s, static_cast<std::uint8_t>(w_group >> 31), static_cast<std::uint8_t>(w_choice >> 31));
    }
    return d;
  }

 private:
  friend class BaseOtReceiver;
  BaseOtReceiverDraws() = default;
  // OT i: s (top bit of s[0] cleared here), group bit f, choice bit c.
  void add(std::size_t i, const crypto::SecretArray<32>& s, std::uint8_t f, std::uint8_t c) noexcept;

  template <class G>
  static std::uint32_t draw_u32(G& rng) {
    crypto::SecretArray<4> w;
    rng.fill_bytes(w.mut_span());
    return static_cast<std::uint32_t>(w[0]) | (static_cast<std::uint32_t>(w[1]) << 8) |
           (static_cast<std::uint32_t>(w[2]) << 16) | (static_cast<std::uint32_t>(w[3]) << 24);
  }

  // Per OT: s_i (32 bytes), f_i, c_i.
  std::array<crypto::SecretArray<34>, kBaseOtBatchSize> secrets_;
};

// The receiver of one batch: its draws and its message.
class BaseOtReceiver {
 public:
  // BaseOtReceiverDraws::random, then the message.
  template <class G>
  static BaseOtReceiver random(const UcTag& t, G& rng) {
    return BaseOtReceiver(t, BaseOtReceiverDraws::random(rng));
  }

  // Computes r_i = POPF_{c_i}(s_i * (f_i ? 6 : 3)) for every OT.
  BaseOtReceiver(const UcTag& t, const BaseOtReceiverDraws& draws);

  // r_0 .. r_127 (4,096 bytes).
  crypto::ByteSpan values() const noexcept { return message_.values; }
  const BaseOtReceiverMessage& message() const noexcept { return message_; }

  // The key of every OT for its choice bit, from the sender's message.
  BaseOtReceiverOutput derive_keys(const BaseOtSenderMessage& sender_message) const;

 private:
  UcTag tag_;
  BaseOtReceiverDraws draws_;
  BaseOtReceiverMessage message_;
};

}  // namespace velto::ot

namespace velto::sised {

template <>
struct Codec<ot::BaseOtSenderMessage> {
  static constexpr std::size_t fixed_size = ot::kBaseOtSenderMessageSize;
  static void encode(Sink& s, const ot::BaseOtSenderMessage& m) {
    s.write(m.curve_point);
    s.write(m.twist_point);
  }
  static std::expected<ot::BaseOtSenderMessage, SisedError> decode(Decoder& d);
};

template <>
struct Codec<ot::BaseOtReceiverMessage> {
  static void encode(Sink& s, const ot::BaseOtReceiverMessage& m) { Codec<crypto::Bytes>::encode(s, m.values); }
  static std::size_t size(const ot::BaseOtReceiverMessage& m) { return Codec<crypto::Bytes>::size(m.values); }
  static std::expected<ot::BaseOtReceiverMessage, SisedError> decode(Decoder& d) {
    auto values = Codec<crypto::Bytes>::decode(d);
    if (!values) return std::unexpected(std::move(values.error()));
    return ot::BaseOtReceiverMessage{std::move(*values)};
  }
};

}  // namespace velto::sised
