// Keygen identity: every party's long-term X25519 transport key pair. The
// public half in Base58 (Bitcoin alphabet) is the party's keygen id; the
// private half as 64 hex digits is the keygen secret the caller keeps.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <unordered_set>

#include "executor/bindings/velto.h"
#include "executor/error.hpp"
#include "noise-kk/keys.hpp"

namespace velto::executor {

// A set of transport public keys; equal keys collapse into one member. Its
// iteration order means nothing.
using KeygenIdSet = std::unordered_set<noise::PublicKey>;

// Base58 into a 32-byte area (a bad character or more than 32 bytes:
// Encoding), exactly 32 bytes (else Length { found }), then the transport-key
// check (a refused key: DKey).
std::expected<noise::PublicKey, KeygenIdError> parse_keygen_id(std::string_view text);

// 64 hex digits of either case (else Length { found }, then Hex), then the
// key pair (all-zero key: Serialization(Custom("Invalid private key"))). The
// private key is kept as given, unclamped.
std::expected<noise::NoiseKeyPair, KeypairArgError> parse_keygen_secret(std::string_view text);

// An array of keygen ids as given: a null pointer with a count above 0 is
// refused (-10, NullPointerNonNullLength). Each element is a text argument
// parsed by parse_keygen_id; the first bad one refuses the array with -10 and
// the element's FfiArgError.
std::expected<KeygenIdSet, FfiError> parse_keygen_ids(const ConstStr* ptr, std::uint64_t count);
// As parse_keygen_ids, except that a null pointer is the empty array whatever
// the count.
std::expected<KeygenIdSet, FfiError> parse_optional_keygen_ids(const ConstStr* ptr, std::uint64_t count);

}  // namespace velto::executor
