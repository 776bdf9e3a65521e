#include "executor/bindings/keygen.hpp"

#include <array>
#include <span>

#include "crypto/codec.hpp"
#include "crypto/random.hpp"
#include "crypto/secret.hpp"
#include "executor/bindings/c_api.hpp"
#include "sised/error.hpp"

namespace velto::executor {

std::expected<noise::PublicKey, KeygenIdError> parse_keygen_id(std::string_view text) {
  crypto::ByteArray<32> buf{};
  auto decoded = crypto::base58_decode_into(text, buf);
  if (!decoded) return std::unexpected(KeygenIdError(KeygenIdError::Encoding{std::move(decoded.error())}));
  if (*decoded != 32) return std::unexpected(KeygenIdError(KeygenIdError::Length{*decoded}));
  auto key = noise::public_key_from_bytes(buf);
  if (!key) return std::unexpected(KeygenIdError(KeygenIdError::DKey{std::move(key.error())}));
  return *key;
}

std::expected<noise::NoiseKeyPair, KeypairArgError> parse_keygen_secret(std::string_view text) {
  if (text.size() != 64) return std::unexpected(KeypairArgError(KeypairArgError::Length{text.size()}));
  crypto::SecretArray<32> private_key;
  if (!crypto::hex_decode_into(text, private_key.mut_span())) {
    return std::unexpected(KeypairArgError(KeypairArgError::Hex{}));
  }
  auto pair = noise::keypair_from_private(private_key);
  if (!pair) {
    return std::unexpected(KeypairArgError(KeypairArgError::Serialization{sised::SisedError::custom("Invalid private key")}));
  }
  return std::move(*pair);
}

namespace {

std::expected<KeygenIdSet, FfiError> parse_elements(std::span<const ConstStr> ids) {
  KeygenIdSet set;
  set.reserve(ids.size());
  for (const ConstStr& s : ids) {
    auto key = ffi::decode_arg(s, FfiErrorKind::InvalidKeygenId, parse_keygen_id);
    if (!key) return std::unexpected(std::move(key.error()));
    set.insert(*key);
  }
  return set;
}

}  // namespace

std::expected<KeygenIdSet, FfiError> parse_keygen_ids(const ConstStr* ptr, std::uint64_t count) {
  auto ids = ffi::text_array_arg(ptr, count, FfiErrorKind::InvalidKeygenId, kMaxNumberOfParties);
  if (!ids) return std::unexpected(std::move(ids.error()));
  return parse_elements(*ids);
}

std::expected<KeygenIdSet, FfiError> parse_optional_keygen_ids(const ConstStr* ptr, std::uint64_t count) {
  auto ids = ffi::optional_text_array_arg(ptr, count, FfiErrorKind::InvalidKeygenId, kMaxNumberOfParties);
  if (!ids) return std::unexpected(std::move(ids.error()));
  return parse_elements(*ids);
}

}  // namespace velto::executor

namespace {

// Lower-case hex of the private key written straight into the receiver's
// allocation, without branching on the digits.
void hex_encode_secret(const velto::crypto::SecretArray<32>& key, std::uint8_t* out) noexcept {
  const auto digit = [](unsigned v) {
    // v < 10 ? '0' + v : 'a' + v - 10, without a branch.
    const unsigned letter = static_cast<unsigned>(9 - static_cast<int>(v)) >> 31;  // 1 when v > 9
    return static_cast<std::uint8_t>('0' + v + (letter * ('a' - '0' - 10)));
  };
  for (std::size_t i = 0; i < 32; ++i) {
    out[2 * i] = digit(key[i] >> 4);
    out[2 * i + 1] = digit(key[i] & 0x0f);
  }
}

}  // namespace

extern "C" ResultFFI velto_init_keygen(HeapString* keygen_id_out, HeapString* keygen_secret_out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    velto::crypto::OsRng rng;
    const velto::noise::NoiseKeyPair pair = velto::noise::generate_keypair(rng);
    std::array<ffi::OwnedHeapString, 2> texts{
        ffi::OwnedHeapString(ffi::make_heap_string(velto::crypto::base58_encode(pair.public_key().span()))),
        ffi::OwnedHeapString(ffi::alloc_heap_string(64)),
    };
    hex_encode_secret(pair.private_key(), texts[1].data());
    const std::array<HeapString*, 2> outs{keygen_id_out, keygen_secret_out};
    return ffi::store_outputs(outs, texts);
  });
}
