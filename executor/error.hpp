// How failures leave the library.
//
// Every function of the function interface reports a failure as an FfiError:
// a kind (FfiErrorKind, whose value is the code the caller sees) and an
// optional Context, the boxed error that caused it. error_to_result_ffi turns
// it into the result record and writes one line to the system log. Networked
// operations that fail after their inputs were accepted report code -8 with an
// ExecutorFailure as Context; argument checks report their own codes with the
// argument errors below. A caught panic is code -254 with the bare panic text
// and no log line.
//
// Texts are part of the interface and are fixed letter for letter. Debug forms
// follow the variant and field names (unit variant: Name; tuple variant:
// Name(field); struct variant: Name { field: value, ... }) and reach the
// system log, so no debug form may hold secret material.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "crypto/error.hpp"
#include "crypto/secret.hpp"
#include "noise-kk/error.hpp"
#include "noise-kk/keys.hpp"
#include "sised/error.hpp"
#include "velto-ecdsa/error.hpp"

namespace velto {
// The error that ends an executor manager (velto-mpc-infra/manager.hpp).
class ManagerError;
}  // namespace velto

namespace velto::executor {

inline constexpr std::uint16_t kMaxNumberOfParties = 8192;


// ---------------------------------------------------------------------------
// Function-interface error kinds and the error value of a call.

// The value is the code of the result record. -5 and -7 are not assigned; 0 is
// success and no kind; -255 is never raised by the library.
enum class FfiErrorKind : std::int32_t {
  InvalidUUID = -1,
  InvalidHostUrl = -2,
  InvalidSecretShare = -3,
  InvalidMessage = -4,
  InvalidNumberOfParties = -6,
  ExecutorError = -8,
  InvalidKeygenInitKeypair = -9,
  InvalidKeygenId = -10,
  InvalidDerivationElement = -11,
  InvalidXpriv = -12,
  InvalidSpriv = -13,
  InvalidApiKey = -14,
  InvalidPrivateKey = -15,
  InvalidTweak = -16,
  InvalidXpub = -17,
  InvalidSpub = -18,
  InvalidPublicKey = -19,
  InvalidChaincode = -20,
  NullPointer = -253,
  PanicError = -254,
  PlatformError = -255,
};

constexpr std::int32_t code(FfiErrorKind kind) noexcept { return static_cast<std::int32_t>(kind); }
// The kind's text (its display form), e.g. "Error in MPC Executor".
std::string_view kind_text(FfiErrorKind kind) noexcept;
// The kind's name (its debug form), e.g. "ExecutorError".
std::string_view kind_name(FfiErrorKind kind) noexcept;

// The failure of one function-interface call: display "Error Kind: {kind}"
// or "Error Kind: {kind}, Context: {inner}"; debug
// Error { kind: Name, inner: None } or ... inner: Some(...) }.
class FfiError final : public velto::Error {
 public:
  explicit FfiError(FfiErrorKind kind, BoxedError inner = nullptr) noexcept
      : kind_(kind), inner_(std::move(inner)) {}
  template <std::derived_from<velto::Error> E>
  FfiError(FfiErrorKind kind, E inner) : FfiError(kind, box_error<E>(std::move(inner))) {}

  FfiErrorKind kind() const noexcept { return kind_; }
  const BoxedError& inner() const noexcept { return inner_; }

  std::string display() const override;
  std::string debug() const override;
  // The Context, if any.
  const Error* source() const noexcept override { return inner_.get(); }

 private:
  FfiErrorKind kind_;
  BoxedError inner_;
};

// The result of a function-interface call as a value: the message text and the
// code. {"", 0} is success. The C record (a library-allocated string of exact
// length and the code) is made from it by copying the message.
struct FfiResult {
  std::string message;
  std::int32_t code = 0;

  static FfiResult success() { return {}; }
  bool ok() const noexcept { return code == 0; }
  friend bool operator==(const FfiResult&, const FfiResult&) = default;
};

// Consumes the error: writes "Logic Error: display: {Display}, debug: {Debug}"
// to the system log (one line, error priority; "Log Contained NULL characters"
// when the text holds a NUL byte) and returns {display text, kind's code}.
FfiResult error_to_result_ffi(FfiError error);

// A caught panic: {panic text, -254}; nothing is logged.
FfiResult panic_to_result_ffi(const velto::Panic& panic);

// Runs a function-interface body; a panic escaping it becomes the -254 result.
template <class F>
  requires std::is_invocable_r_v<FfiResult, F>
FfiResult run_with_panic_guard(F&& body) {
  try {
    return std::forward<F>(body)();
  } catch (const velto::Panic& p) {
    return panic_to_result_ffi(p);
  }
}

// ---------------------------------------------------------------------------
// Argument errors.

// Where a text argument stops being UTF-8: the length of the valid prefix and
// the length of the bad sequence (absent when the text ends inside a
// character).
class Utf8Error final : public velto::Error {
 public:
  Utf8Error(std::size_t valid_up_to, std::optional<std::uint8_t> error_len) noexcept
      : valid_up_to_(valid_up_to), error_len_(error_len) {}

  std::size_t valid_up_to() const noexcept { return valid_up_to_; }
  std::optional<std::uint8_t> error_len() const noexcept { return error_len_; }

  std::string display() const override;
  std::string debug() const override;
  friend bool operator==(const Utf8Error& a, const Utf8Error& b) noexcept {
    return a.valid_up_to_ == b.valid_up_to_ && a.error_len_ == b.error_len_;
  }

 private:
  std::size_t valid_up_to_;
  std::optional<std::uint8_t> error_len_;
};

// Checks that bytes are well-formed UTF-8 (no surrogates, no overlong forms,
// nothing above U+10FFFF) and reports the first fault.
std::expected<void, Utf8Error> check_utf8(crypto::ByteSpan bytes) noexcept;

// An array argument given as a null pointer with a non-zero count.
class NullPointerNonNullLength final : public velto::Error {
 public:
  explicit NullPointerNonNullLength(std::size_t len) noexcept : len_(len) {}
  std::size_t len() const noexcept { return len_; }
  std::string display() const override;
  std::string debug() const override;

 private:
  std::size_t len_;
};

// An array argument whose count is above what the function can use (checked
// before the array is read).
class ArrayTooLong final : public velto::Error {
 public:
  ArrayTooLong(std::uint64_t len, std::size_t max) noexcept : len_(len), max_(max) {}
  std::uint64_t len() const noexcept { return len_; }
  std::size_t max() const noexcept { return max_; }
  std::string display() const override;
  std::string debug() const override;

 private:
  std::uint64_t len_;
  std::size_t max_;
};

// The conversion error of one text argument, and the carrier of every decoder
// error (Decode, transparent: display and source of the boxed error).
class FfiArgError final : public velto::Error {
 public:
  struct NullPointerNonNullLength {
    std::size_t len;
  };
  struct UTF8 {
    Utf8Error error;
  };
  struct Decode {
    BoxedError error;
  };

  using Value = std::variant<NullPointerNonNullLength, UTF8, Decode>;

  // Wraps a decoder error as Decode.
  template <std::derived_from<velto::Error> E>
  static FfiArgError decode(E error) {
    return Decode{box_error<E>(std::move(error))};
  }

  VELTO_VARIANT_ERROR_MEMBERS(FfiArgError)
};

// Converts a borrowed text {pointer, length}: length 0 is the empty text
// whatever the pointer; a null pointer with a length above 0 and bytes that
// are not UTF-8 are refused. The text is borrowed, not copied.
std::expected<std::string_view, FfiArgError> text_arg(const char* ptr, std::size_t len);

// A party count or threshold outside 1 to 8192, in its two forms with the same
// name and text: the 16-bit argument form (an n or t of a call) and the count
// form (a count of parties or shares).
class InvalidNumberOfParties final : public velto::Error {
 public:
  explicit InvalidNumberOfParties(std::uint16_t n) noexcept : n_(n) {}
  std::uint16_t value() const noexcept { return n_; }
  std::string display() const override;
  std::string debug() const override;

 private:
  std::uint16_t n_;
};

class InvalidNumberOfPartiesCount final : public velto::Error {
 public:
  explicit InvalidNumberOfPartiesCount(std::size_t n) noexcept : n_(n) {}
  std::size_t value() const noexcept { return n_; }
  std::string display() const override;
  std::string debug() const override;

 private:
  std::size_t n_;
};

// The host-authority parser's error: one field, its kind.
class InvalidUri final : public velto::Error {
 public:
  enum class Kind : std::uint8_t {
    InvalidUriChar,
    InvalidScheme,
    InvalidAuthority,
    InvalidPort,
    InvalidFormat,
    SchemeMissing,
    AuthorityMissing,
    PathAndQueryMissing,
    TooLong,
    Empty,
    SchemeTooLong,
  };

  explicit InvalidUri(Kind kind) noexcept : kind_(kind) {}
  Kind kind() const noexcept { return kind_; }
  std::string display() const override;
  std::string debug() const override;

 private:
  Kind kind_;
};

class InvalidHostAddressError final : public velto::Error {
 public:
  explicit InvalidHostAddressError(InvalidUri error) noexcept : error_(error) {}
  const InvalidUri& inner() const noexcept { return error_; }
  std::string display() const override { return "Invalid host address: " + error_.display(); }
  std::string debug() const override { return "InvalidHostAddressError(" + error_.debug() + ")"; }
  const Error* source() const noexcept override { return &error_; }

 private:
  InvalidUri error_;
};

// The decode error of a secret-share text.
class ShareArgError final : public velto::Error {
 public:
  // The bytes are no valid share record.
  struct InvalidShare {
    sised::SisedError error;
  };
  // Not an even-length string of hex digits.
  struct InvalidHex {};

  using Value = std::variant<InvalidShare, InvalidHex>;

  VELTO_VARIANT_ERROR_MEMBERS(ShareArgError)
};

// The decode error of a keygen id (Base58 of a 32-byte transport public key).
class KeygenIdError final : public velto::Error {
 public:
  // 32 bytes the transport-key check refuses.
  struct DKey {
    noise::NoiseError error;
  };
  // A character outside the alphabet, or more than 32 bytes.
  struct Encoding {
    crypto::Base58Error error;
  };
  // Fewer than 32 bytes.
  struct Length {
    std::size_t found;
  };

  using Value = std::variant<DKey, Encoding, Length>;

  VELTO_VARIANT_ERROR_MEMBERS(KeygenIdError)
};

// The decode error of a keygen secret (64 hex digits of an X25519 private key).
class KeypairArgError final : public velto::Error {
 public:
  struct Length {
    std::size_t found;
  };
  struct Hex {};
  // The key-pair construction refused the key: Custom("Invalid private key").
  struct Serialization {
    sised::SisedError error;
  };

  using Value = std::variant<Length, Hex, Serialization>;

  VELTO_VARIANT_ERROR_MEMBERS(KeypairArgError)
};

// The error of the 32-byte hex decoders.
class HexLengthError final : public velto::Error {
 public:
  struct Length {
    std::size_t found;
  };
  struct Hex {};

  using Value = std::variant<Length, Hex>;

  VELTO_VARIANT_ERROR_MEMBERS(HexLengthError)
};

// Extended-key text errors live with the keys they read.
using ecdsa::XpubError;
using ecdsa::XprivError;

// sr25519: 32 bytes that are no valid Ristretto point (code -19).
class Sr25519InvalidPublicKey final : public velto::Error {
 public:
  std::string display() const override { return "Invalid sr25519 Public Key"; }
  std::string debug() const override { return "InvalidPublicKey(())"; }
};

// sr25519: a refused junction path (code -11).
class Sr25519DerivePathError final : public velto::Error {
 public:
  struct InvalidLength {
    std::size_t length;
  };
  struct HardJunctionsNotAllowed {};

  using Value = std::variant<InvalidLength, HardJunctionsNotAllowed>;

  VELTO_VARIANT_ERROR_MEMBERS(Sr25519DerivePathError)
};

// The decode error of a relayed frame.
class DeserializationError final : public velto::Error {
 public:
  // The fixed-width record decoder's error.
  struct Bincode {
    BoxedError error;
  };
  struct Sised {
    sised::SisedError error;
  };
  struct Unknown {};

  using Value = std::variant<Bincode, Sised, Unknown>;

  VELTO_VARIANT_ERROR_MEMBERS(DeserializationError)
};

// Decodes exactly 64 hex digits (either case) into 32 bytes. In order: length
// 0 -> Decode(Length { found: 0 }); null pointer -> NullPointerNonNullLength;
// not UTF-8 -> UTF8; not 64 bytes -> Decode(Length); a non-hex character ->
// Decode(Hex). The digits are decoded without branching on their values, since
// private keys pass through here.
std::expected<crypto::SecretArray<32>, FfiArgError> parse_hex32_arg(const char* ptr, std::size_t len);

// As parse_hex32_arg, except that an empty text means "none".
std::expected<std::optional<crypto::SecretArray<32>>, FfiArgError> parse_optional_hex32_arg(const char* ptr,
                                                                                           std::size_t len);

// ---------------------------------------------------------------------------
// Executor failures: how every networked operation fails.

// The protocol version a session agrees on: one byte on the wire, ordered by
// that byte. Codes outside the named ones (1, 9 to 255) are unknown versions
// and are kept as they are.
enum class Version : std::uint8_t {
  NotSet = 0,
  V1_0_2 = 2,
  V1_0_3 = 3,
  V1_1_0 = 4,
  V1_2_0 = 5,
  V1_3_0 = 6,
  V1_4_0 = 7,
  V1_5_0 = 8,
};

// "v1.5.0", "NotSet", "UnknownVersion(9)".
std::string version_display(Version v);
// "V1_5_0", "NotSet", "Unknown(9)".
std::string version_debug(Version v);

// What went wrong in a networked operation. The kinds are in declaration
// (tag) order.
class ExecutorErrorKind final : public velto::Error {
 public:
  // Room creation failed (the relay's ServerToolsError).
  struct CreateRoom {
    BoxedError error;
  };
  // The relay session failed (the relay's WsRoomError); its text alone.
  struct Plugin {
    BoxedError error;
  };
  // A relayed message failed end-to-end decryption.
  struct DecryptionError {};
  // A protocol step failed; any protocol error, boxed.
  struct Executor {
    BoxedError error;
  };
  // One of two joined sub-tasks panicked or was cancelled (the JoinError).
  struct JoinFailed {
    BoxedError error;
  };
  // A refresh session whose party count differs from the share's.
  struct InvalidNumberOfParties {
    std::uint16_t expected;
    std::size_t actual;
  };
  // A child derivation met a hardened index or an invalid key.
  struct InvalidDerivationPath {
    std::string path;
  };
  // The export receiver is not in the session's party list.
  struct PartyNotFound {
    noise::PublicKey key;
  };
  // The connection to the relay could not be made (the I/O error).
  struct ConnectionFailed {
    BoxedError error;
  };
  // A count of parties or shares that is no valid number of parties; its
  // text alone.
  struct NumberOfPartiesTooHigh {
    InvalidNumberOfPartiesCount error;
  };
  struct InsufficientRemainingParties {
    std::size_t remaining;
    std::uint16_t required;
  };
  struct CurrentPartyMissingInRemainingParties {
    noise::PublicKey key;
  };
  struct PublicKeyAndChaincodeSyncFailed {};
  struct DuplicateSecretShares {};
  struct ManagerFailed {};
  struct UnexpectedVersion {
    Version version;
  };
  struct DeprecatedVersion {
    Version version;
  };
  struct SecretShareIsTooNewForThisVersion {};
  struct InvalidImportedPrivateKey {};
  struct InvalidTweak {};
  struct InvalidKeyShare {};

  using Value = std::variant<CreateRoom, Plugin, DecryptionError, Executor, JoinFailed, InvalidNumberOfParties,
                             InvalidDerivationPath, PartyNotFound, ConnectionFailed, NumberOfPartiesTooHigh,
                             InsufficientRemainingParties, CurrentPartyMissingInRemainingParties,
                             PublicKeyAndChaincodeSyncFailed, DuplicateSecretShares, ManagerFailed,
                             UnexpectedVersion, DeprecatedVersion, SecretShareIsTooNewForThisVersion,
                             InvalidImportedPrivateKey, InvalidTweak, InvalidKeyShare>;

  VELTO_VARIANT_ERROR_MEMBERS(ExecutorErrorKind)
};

// The failure record of a networked operation: the kind, and the error that
// ended the executor manager when one is attached. Display: the kind's text,
// then ", manager error: " and the manager error's text when present. Debug:
// Error { inner: ..., manager_err: None | Some(...) }. Source: the kind.
class ExecutorFailure final : public velto::Error {
 public:
  explicit ExecutorFailure(ExecutorErrorKind inner) : inner_(std::move(inner)) {}
  ExecutorFailure(ExecutorErrorKind inner, ManagerError manager_err);

  const ExecutorErrorKind& inner() const noexcept { return inner_; }
  // The manager's error, or null.
  const ManagerError* manager_err() const noexcept { return manager_err_.get(); }
  // Attaches the error that ended the manager, replacing any held before.
  void set_manager_err(ManagerError manager_err);

  std::string display() const override;
  std::string debug() const override;
  const Error* source() const noexcept override { return &inner_; }

 private:
  ExecutorErrorKind inner_;
  std::shared_ptr<const ManagerError> manager_err_;
};

// How a handler passes a protocol error upward: Executor(boxed e), no manager
// error.
ExecutorFailure into_boxed_handler_error(BoxedError error);

template <std::derived_from<velto::Error> E>
ExecutorFailure box_handler_error(E error) {
  return into_boxed_handler_error(box_error<E>(std::move(error)));
}

// The instances the ECDSA and BIP340 handlers use; they differ only in the
// type boxed.
inline ExecutorFailure box_handler_error_ecdsa(ecdsa::EcdsaRefreshLibError e) { return box_handler_error(std::move(e)); }
inline ExecutorFailure box_handler_error_ecdsa_lib_a(ecdsa::EcdsaPresignError e) {
  return box_handler_error(std::move(e));
}
inline ExecutorFailure box_handler_error_ecdsa_lib_b(ecdsa::EcdsaSignError e) { return box_handler_error(std::move(e)); }
inline ExecutorFailure box_handler_error_ecdsa_v1_1_0(ecdsa::EcdsaRefreshLibError e) {
  return box_handler_error(std::move(e));
}
inline ExecutorFailure box_handler_error_bip340(ecdsa::Bip340RefreshError e) { return box_handler_error(std::move(e)); }

// InvalidDerivationPath with the indices in decimal joined by "/"
// ("0/2147483648/5"; an empty path gives the empty text).
ExecutorErrorKind invalid_derivation_path_error(std::span<const std::uint32_t> path);
// The same for a path of texts (sr25519 junctions), joined by "/".
ExecutorErrorKind invalid_derivation_path_error_text(std::span<const std::string> path);


}  // namespace velto::executor
