// The programmable-once public function of the base OT.
//
// Per OT there are two public ChaCha20 keys, derived from the batch's tag and
// the OT index. The receiver "programs" the function by encrypting its public
// value under the key of its choice bit; the sender evaluates it under both
// keys and gets the receiver's value back for the chosen bit and an unrelated
// string for the other. Encryption and decryption are the same XOR.
#pragma once

#include <cstdint>
#include <string_view>

#include "crypto/bytes.hpp"

namespace velto::ot {

inline constexpr std::string_view kPopfContext = "Velto EkePopf V0";

// The two keys of one OT, for bits 0 and 1. Public: they depend only on the
// tag and the index.
struct PopfKeys {
  crypto::ByteArray<32> k0;
  crypto::ByteArray<32> k1;
};

// K_b = BLAKE3 derive-key "Velto EkePopf V0" over seed || i (8 bytes LE) || b.
PopfKeys popf_keys(const crypto::ByteArray<32>& seed, std::uint64_t i) noexcept;

// x XOR the first 32 bytes of the ChaCha20 key stream under K_b (96-bit nonce
// of twelve 0x24 bytes, block counter 0). Only the low bit of b counts; the
// key is picked without a branch, so b may be secret.
crypto::ByteArray<32> popf_apply(const PopfKeys& keys, const crypto::ByteArray<32>& x, std::uint8_t b) noexcept;

// dst := src when the low bit of choice is 1, unchanged when it is 0; by
// masking, without a branch.
void ct_select32(crypto::ByteArray<32>& dst, const crypto::ByteArray<32>& src, std::uint8_t choice) noexcept;

}  // namespace velto::ot
