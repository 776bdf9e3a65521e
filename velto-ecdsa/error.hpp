// Errors of the threshold ECDSA protocols.
//
// Every step returns its failure as one of these values. The operation layer
// boxes the value and files it under an executor error kind; its display text
// reaches the caller as the context of the function-interface error, and its
// debug form reaches the system log. Texts are part of the interface and are
// fixed letter for letter (capitalisation, back-ticks and the absence of a
// final full stop included).
//
// Conventions:
// - Each type is a small closed set of variants held in a std::variant; every
//   variant converts implicitly into its type, so `return
//   std::unexpected(EcdsaSignError{EcdsaSignError::Unknown{}})` reads like the
//   text it produces.
// - A "transparent" variant shows its field's text with nothing added and
//   hands out the field's own source.
// - A communication failure (a failed send, receive or decode) is carried as a
//   boxed error, whatever the layer below reported. The commitment errors of
//   the session engine (DecommitError, CommittedZkPokError) are carried boxed
//   as well, since they belong to that layer.
// - Party counts are NumberOfParties values (1 to 8192), held as their 16-bit
//   number and printed NumberOfParties(n) in debug forms; a "count" is an
//   unsigned 64-bit number.
// - The engine of protocol version 1.1.0 and the BIP340 scheme share these
//   definitions; nothing outside a type can tell two copies apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "crypto/error.hpp"
#include "sised/party_id.hpp"
#include "velto-ot/error.hpp"
#include "velto-ote/error.hpp"

namespace velto::ecdsa {

// Declares the common members of a variant-holding error type: the converting
// constructor (any alternative, checked by validate()), the accessors and the
// three renderings.

// ---------------------------------------------------------------------------
// Key generation, refresh, reshare and key extraction.

// The error of ECDSA key generation ("ECDSA Keygen" and its "DLComZK" steps).
class EcdsaKeygenLibError final : public velto::Error {
 public:
  // A peer's committed discrete-log proof failed. Holds the session engine's
  // CommittedZkPokError. Display "Invalid Committed ZkPoK: `{e}`"; source: it.
  struct InvalidCommittedZKPoK {
    BoxedError error;
  };
  // Display "Communication Error: `{e}`"; source: the boxed error.
  struct CommunicationError {
    BoxedError error;
  };
  struct InvalidLagrangeSum {};
  // The threshold exceeds the number of parties; the text shows no numbers.
  struct InvalidThreshold {
    std::uint16_t threshold;
    std::uint16_t num_parties;
  };

  using Value = std::variant<InvalidCommittedZKPoK, CommunicationError, InvalidLagrangeSum, InvalidThreshold>;

  VELTO_VARIANT_ERROR_MEMBERS(EcdsaKeygenLibError)
};

// The error of refresh and reshare (a key generation seeded with the old
// share).
class EcdsaRefreshLibError final : public velto::Error {
 public:
  // Display "Communication Error: `{e}`"; source: the boxed error.
  struct CommunicationError {
    BoxedError error;
  };
  // A reshare produced a public key other than the expected one.
  struct RefreshIsNotOfSameSecret {};
  // A refresh produced a public key whose encoding differs from the expected
  // key's; holds the expected key's 33 compressed bytes.
  struct MalformedPublicKey {
    crypto::ByteArray<33> key;
  };
  // Transparent.
  struct Keygen {
    EcdsaKeygenLibError error;
  };

  using Value = std::variant<CommunicationError, RefreshIsNotOfSameSecret, MalformedPublicKey, Keygen>;

  VELTO_VARIANT_ERROR_MEMBERS(EcdsaRefreshLibError)
};

// The error of key extraction (export of the full key to one party) and of the
// offline export that combines stored shares.
class EcdsaExtractLibError final : public velto::Error {
 public:
  // Display "Communication Error: `{e}`"; source: the boxed error.
  struct CommunicationError {
    BoxedError error;
  };
  struct InvalidNumberOfParticipants {
    std::uint16_t expected;
    std::uint16_t found;
  };
  struct ReceivedInvalidPrivateKey {};
  struct InvalidVSSPublicPoint {};
  // Transparent.
  struct VssError {
    EcdsaRefreshLibError error;
  };
  struct InvalidAmountOfSecretSharesForRecovery {
    std::uint64_t threshold;
    std::uint64_t found;
  };
  struct IncompatibleSecretShares {};

  using Value = std::variant<CommunicationError, InvalidNumberOfParticipants, ReceivedInvalidPrivateKey,
                             InvalidVSSPublicPoint, VssError, InvalidAmountOfSecretSharesForRecovery,
                             IncompatibleSecretShares>;

  VELTO_VARIANT_ERROR_MEMBERS(EcdsaExtractLibError)
};

// ---------------------------------------------------------------------------
// Signing, current protocol.

// The error of "ECDSA Signer Init" (zero-share seeds and random VOLE set-up).
class EcdsaSignerInitError final : public velto::Error {
 public:
  // The base OT of a pair's random VOLE set-up failed. Transparent.
  struct InitRvoleError {
    ot::BaseOtError error;
  };
  // A peer's zero-share seed does not open to its commitment.
  struct InvalidZetaCommitment {};
  // Display "Failed to receive a message: {e}" (no back-ticks); source: the
  // boxed error.
  struct ReceiveFailed {
    BoxedError error;
  };

  using Value = std::variant<InitRvoleError, InvalidZetaCommitment, ReceiveFailed>;

  VELTO_VARIANT_ERROR_MEMBERS(EcdsaSignerInitError)
};

// The error of presigning.
class EcdsaPresignError final : public velto::Error {
 public:
  // Transparent: the failures of the two roles of the pairwise random VOLE.
  struct AliceError {
    ote::OteError error;
  };
  struct BobError {
    ote::CoteError error;
  };
  // Transparent: the boxed error's text with no prefix, and its source.
  struct CommunicationError {
    BoxedError error;
  };
  // Transparent: a peer's opening of its committed nonce point failed. Holds
  // the session engine's DecommitError.
  struct DecommitError {
    BoxedError error;
  };
  struct MaliciousMessage {
    PartyId sender;
  };
  struct GlobalCheckFailed {};
  struct RequestedPresignaturesExceedsAmount {};

  using Value = std::variant<AliceError, BobError, CommunicationError, DecommitError, MaliciousMessage,
                             GlobalCheckFailed, RequestedPresignaturesExceedsAmount>;

  VELTO_VARIANT_ERROR_MEMBERS(EcdsaPresignError)
};

// Why partial signatures could not be combined (one byte).
class PartialSignatureError final : public velto::Error {
 public:
  enum class Kind : std::uint8_t {
    InsufficientPartialSignatures,
    PublicKeyMismatch,
    MessageHashMismatch,
    PublicNonceMismatch,
    PartialSignaturesRequiredMismatch,
    IncorrectResultingSignature,
  };

  PartialSignatureError(Kind kind) noexcept : kind_(kind) {}  // NOLINT(google-explicit-constructor)

  Kind kind() const noexcept { return kind_; }
  std::string display() const override;
  std::string debug() const override;

 private:
  Kind kind_;
};

// The error of "ECDSA Sign".
class EcdsaSignError final : public velto::Error {
 public:
  // Display "Communication error: `{e}`" (lower-case "error"); source: the
  // boxed error.
  struct CommunicationError {
    BoxedError error;
  };
  // The message hash reduces to zero modulo n, or the combined signature fails
  // the final recovery-and-verification check.
  struct Unknown {};
  struct ZeroMessageHash {};
  struct ZeroPhiK {};
  struct KeyPairDoesNotMatchPreSignature {};
  struct InvalidDerivationPath {};
  // Display "Error signing from partial signatures: `{e}`"; source: it.
  struct PartialSignatureError {
    ecdsa::PartialSignatureError error;
  };

  using Value = std::variant<CommunicationError, Unknown, ZeroMessageHash, ZeroPhiK, KeyPairDoesNotMatchPreSignature,
                             InvalidDerivationPath, PartialSignatureError>;

  VELTO_VARIANT_ERROR_MEMBERS(EcdsaSignError)
};

// ---------------------------------------------------------------------------
// Signing, protocol version 1.1.0.

// The error of that version's "ECDSA Signer Init": a failed base OT.
// Transparent; debug SignerInitError(...).
class SignerInitError final : public velto::Error {
 public:
  explicit SignerInitError(ot::BaseOtError error) : error_(std::move(error)) {}
  const ot::BaseOtError& inner() const noexcept { return error_; }
  std::string display() const override { return error_.display(); }
  std::string debug() const override { return "SignerInitError(" + error_.debug() + ")"; }
  const Error* source() const noexcept override { return error_.source(); }

 private:
  ot::BaseOtError error_;
};

// The error of the two-party multiplication (set-up per pair, then one
// multiplication).
class MulError final : public velto::Error {
 public:
  struct OTError {
    ot::BaseOtError error;
  };
  // Holds the session engine's DecommitError.
  struct DecommitError {
    BoxedError error;
  };
  struct AlicePreprocessError {
    ote::OteError error;
  };
  struct BobPreprocessError {
    ote::RoteError error;
  };
  struct InvalidPad {};
  struct InputAndAdjust {
    ot::OtError error;
  };
  struct CommunicationError {
    BoxedError error;
  };

  using Value = std::variant<OTError, DecommitError, AlicePreprocessError, BobPreprocessError, InvalidPad,
                             InputAndAdjust, CommunicationError>;

  VELTO_VARIANT_ERROR_MEMBERS(MulError)
};

// The error of that version's presigning (signer count, multiplications and
// the commitments of the modular-inverse steps).
class EcdsaPresignInitError final : public velto::Error {
 public:
  struct IncorrectNumberOfSigners {};
  struct CommunicationError {
    BoxedError error;
  };
  struct SampleError {
    MulError error;
  };
  // Holds the session engine's DecommitError: its text alone, and it as source.
  struct DecommitError {
    BoxedError error;
  };
  struct InputAndAdjust {
    ot::OtError error;
  };
  struct Unknown {};

  using Value =
      std::variant<IncorrectNumberOfSigners, CommunicationError, SampleError, DecommitError, InputAndAdjust, Unknown>;

  VELTO_VARIANT_ERROR_MEMBERS(EcdsaPresignInitError)
};

// The error of that version's "ECDSA Sign".
class EcdsaSignErrorV4 final : public velto::Error {
 public:
  struct CommunicationError {
    BoxedError error;
  };
  struct Unknown {};
  struct ZeroMessageHash {};

  using Value = std::variant<CommunicationError, Unknown, ZeroMessageHash>;

  VELTO_VARIANT_ERROR_MEMBERS(EcdsaSignErrorV4)
};

// ---------------------------------------------------------------------------
// Extended key texts.

// Refusal of an extended private key text: an xprv (ECDSA, BIP340) or an
// spriv (Ed25519). One type for both; only the way UnknownVersion prints the
// version numbers differs (upper-case hexadecimal for xprv, decimal for spriv).
class XprivError final : public velto::Error {
 public:
  enum class KeyText : std::uint8_t { Xprv, Spriv };

  // Version bytes read as big-endian numbers.
  static constexpr std::uint32_t kXprvVersion = 0x0488ADE4;   // 04 88 AD E4
  static constexpr std::uint32_t kSprivVersion = 0x0420B900;  // 04 20 B9 00

  // The decoded text is not 78 bytes. The spriv text keeps the word "xpriv".
  struct InvalidLength {
    std::size_t len;
  };
  struct InvalidBase58 {
    crypto::Base58Error error;
  };
  struct UnknownVersion {
    std::uint32_t found;
  };
  struct InvalidPrivateKey {};

  using Value = std::variant<InvalidLength, InvalidBase58, UnknownVersion, InvalidPrivateKey>;

  template <class V>
    requires std::is_constructible_v<Value, V>
  XprivError(V value, KeyText text = KeyText::Xprv)  // NOLINT(google-explicit-constructor)
      : value_(std::move(value)), text_(text) {}

  const Value& value() const noexcept { return value_; }
  template <class V>
  bool is() const noexcept {
    return std::holds_alternative<V>(value_);
  }
  KeyText key_text() const noexcept { return text_; }

  std::string display() const override;
  std::string debug() const override;
  const Error* source() const noexcept override;

 private:
  Value value_;
  KeyText text_;
};

// Refusal of an xpub text (ECDSA, BIP340).
class XpubError final : public velto::Error {
 public:
  static constexpr std::uint32_t kXpubVersion = 0x0488B21E;  // 04 88 B2 1E

  struct InvalidBase58 {
    crypto::Base58Error error;
  };
  struct InvalidVersion {
    std::uint32_t found;
  };
  struct InvalidLength {
    std::size_t length;
  };
  struct InvalidPublicKey {
    crypto::ByteArray<33> key;
  };

  using Value = std::variant<InvalidBase58, InvalidVersion, InvalidLength, InvalidPublicKey>;

  VELTO_VARIANT_ERROR_MEMBERS(XpubError)
};

// ---------------------------------------------------------------------------
// One-field records of the BIP340 scheme around the errors above. The first
// three are transparent; Bip340RefreshError mirrors EcdsaRefreshLibError.

class KeygenError final : public velto::Error {
 public:
  explicit KeygenError(EcdsaKeygenLibError error) : error_(std::move(error)) {}
  const EcdsaKeygenLibError& inner() const noexcept { return error_; }
  std::string display() const override { return error_.display(); }
  std::string debug() const override { return "KeygenError(" + error_.debug() + ")"; }
  const Error* source() const noexcept override { return error_.source(); }

 private:
  EcdsaKeygenLibError error_;
};

class ExtractError final : public velto::Error {
 public:
  explicit ExtractError(EcdsaExtractLibError error) : error_(std::move(error)) {}
  const EcdsaExtractLibError& inner() const noexcept { return error_; }
  std::string display() const override { return error_.display(); }
  std::string debug() const override { return "ExtractError(" + error_.debug() + ")"; }
  const Error* source() const noexcept override { return error_.source(); }

 private:
  EcdsaExtractLibError error_;
};

class ExtendedKeyPairFromXPrivError final : public velto::Error {
 public:
  explicit ExtendedKeyPairFromXPrivError(XprivError error) : error_(std::move(error)) {}
  const XprivError& inner() const noexcept { return error_; }
  std::string display() const override { return error_.display(); }
  std::string debug() const override { return "ExtendedKeyPairFromXPrivError(" + error_.debug() + ")"; }
  const Error* source() const noexcept override { return error_.source(); }

 private:
  XprivError error_;
};

// The BIP340 refresh error: EcdsaRefreshLibError's variants, texts and sources,
// with a 32-byte x-only key in MalformedPublicKey and a KeygenError in Keygen
// (transparent through both layers).
class Bip340RefreshError final : public velto::Error {
 public:
  struct CommunicationError {
    BoxedError error;
  };
  struct RefreshIsNotOfSameSecret {};
  struct MalformedPublicKey {
    crypto::ByteArray<32> key;
  };
  struct Keygen {
    KeygenError error;
  };

  using Value = std::variant<CommunicationError, RefreshIsNotOfSameSecret, MalformedPublicKey, Keygen>;

  VELTO_VARIANT_ERROR_MEMBERS(Bip340RefreshError)
};


}  // namespace velto::ecdsa
