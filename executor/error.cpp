#include "executor/error.hpp"

#include "executor/log.hpp"
#include "velto-mpc-infra/manager.hpp"

namespace velto::executor {

namespace {

using Text = std::string;

// A transport public key in texts: its Base58 text (the keygen-id form).
std::string key_display(const noise::PublicKey& key) { return crypto::base58_encode(key.span()); }

std::string invalid_number_of_parties_text(std::size_t n) {
  return "invalid number of parties: " + std::to_string(n) + " (must be between 1..=" +
         std::to_string(kMaxNumberOfParties) + ")";
}

}  // namespace

// ---------------------------------------------------------------------------
// Kinds, FfiError, the result record.

std::string_view kind_text(FfiErrorKind kind) noexcept {
  switch (kind) {
    case FfiErrorKind::InvalidUUID: return "Invalid UUID";
    case FfiErrorKind::InvalidHostUrl: return "Invalid host URL";
    case FfiErrorKind::InvalidSecretShare: return "Invalid secret Share";
    case FfiErrorKind::InvalidMessage: return "Invalid message";
    case FfiErrorKind::InvalidNumberOfParties: return "Invalid number of parties";
    case FfiErrorKind::ExecutorError: return "Error in MPC Executor";
    case FfiErrorKind::InvalidKeygenInitKeypair: return "Invalid keypair from initKeygen";
    case FfiErrorKind::InvalidKeygenId: return "Invalid keygenId";
    case FfiErrorKind::InvalidDerivationElement:
      return "Invalid derivation path: elements must be between 0 and ((2^31) - 1)";
    case FfiErrorKind::InvalidXpriv: return "Invalid Extended Private Key(xpriv) string";
    case FfiErrorKind::InvalidSpriv: return "Invalid Extended Private Key(spriv) string";
    case FfiErrorKind::InvalidApiKey: return "Invalid API key";
    case FfiErrorKind::InvalidPrivateKey: return "Invalid private key: must be a hex string of length exactly 64";
    case FfiErrorKind::InvalidTweak:
      return "Invalid tweak: must be either an empty string(no tweak) or a hex string of length exactly 64";
    case FfiErrorKind::InvalidXpub: return "Invalid Extended Public Key(xpub) string";
    case FfiErrorKind::InvalidSpub: return "Invalid Extended Public Key(spub) string";
    case FfiErrorKind::InvalidPublicKey: return "Invalid Public Key";
    case FfiErrorKind::InvalidChaincode:
      return "Invalid chaincode: must be either an empty string(no chaincode) or a hex string of length exactly 64";
    case FfiErrorKind::NullPointer: return "Null pointer";
    case FfiErrorKind::PanicError: return "Panicked";
    case FfiErrorKind::PlatformError: return "Platform Error";
  }
  return "";
}

std::string_view kind_name(FfiErrorKind kind) noexcept {
  switch (kind) {
    case FfiErrorKind::InvalidUUID: return "InvalidUUID";
    case FfiErrorKind::InvalidHostUrl: return "InvalidHostUrl";
    case FfiErrorKind::InvalidSecretShare: return "InvalidSecretShare";
    case FfiErrorKind::InvalidMessage: return "InvalidMessage";
    case FfiErrorKind::InvalidNumberOfParties: return "InvalidNumberOfParties";
    case FfiErrorKind::ExecutorError: return "ExecutorError";
    case FfiErrorKind::InvalidKeygenInitKeypair: return "InvalidKeygenInitKeypair";
    case FfiErrorKind::InvalidKeygenId: return "InvalidKeygenId";
    case FfiErrorKind::InvalidDerivationElement: return "InvalidDerivationElement";
    case FfiErrorKind::InvalidXpriv: return "InvalidXpriv";
    case FfiErrorKind::InvalidSpriv: return "InvalidSpriv";
    case FfiErrorKind::InvalidApiKey: return "InvalidApiKey";
    case FfiErrorKind::InvalidPrivateKey: return "InvalidPrivateKey";
    case FfiErrorKind::InvalidTweak: return "InvalidTweak";
    case FfiErrorKind::InvalidXpub: return "InvalidXpub";
    case FfiErrorKind::InvalidSpub: return "InvalidSpub";
    case FfiErrorKind::InvalidPublicKey: return "InvalidPublicKey";
    case FfiErrorKind::InvalidChaincode: return "InvalidChaincode";
    case FfiErrorKind::NullPointer: return "NullPointer";
    case FfiErrorKind::PanicError: return "PanicError";
    case FfiErrorKind::PlatformError: return "PlatformError";
  }
  return "";
}

std::string FfiError::display() const {
  std::string out = "Error Kind: ";
  out += kind_text(kind_);
  if (inner_) {
    out += ", Context: ";
    out += inner_->display();
  }
  return out;
}

std::string FfiError::debug() const {
  std::string out = "Error { kind: ";
  out += kind_name(kind_);
  out += ", inner: ";
  out += inner_ ? "Some(" + inner_->debug() + ")" : std::string("None");
  out += " }";
  return out;
}

FfiResult error_to_result_ffi(FfiError error) {
  std::string message = error.display();
  log_error_line("Logic Error: display: " + message + ", debug: " + error.debug());
  return FfiResult{std::move(message), code(error.kind())};
}

FfiResult panic_to_result_ffi(const velto::Panic& panic) {
  return FfiResult{panic.message(), code(FfiErrorKind::PanicError)};
}

// ---------------------------------------------------------------------------
// Text arguments.

std::string Utf8Error::display() const {
  if (error_len_) {
    return "invalid utf-8 sequence of " + std::to_string(*error_len_) + " bytes from index " +
           std::to_string(valid_up_to_);
  }
  return "incomplete utf-8 byte sequence from index " + std::to_string(valid_up_to_);
}

std::string Utf8Error::debug() const {
  return "Utf8Error { valid_up_to: " + std::to_string(valid_up_to_) +
         ", error_len: " + (error_len_ ? "Some(" + std::to_string(*error_len_) + ")" : std::string("None")) + " }";
}

std::expected<void, Utf8Error> check_utf8(crypto::ByteSpan bytes) noexcept {
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t first = bytes[i];
    if (first < 0x80) {
      ++i;
      continue;
    }
    // A continuation byte is 10xxxxxx. The second byte's range depends on the
    // lead byte, which excludes overlong forms, surrogates and values above
    // U+10FFFF; error_len counts the bytes up to the first one that fails.
    const auto cont = [](std::uint8_t b) { return (b & 0xC0) == 0x80; };
    const auto fail = [&](std::optional<std::uint8_t> len) { return std::unexpected(Utf8Error(i, len)); };
    std::size_t width = 0;
    std::uint8_t lo = 0x80;
    std::uint8_t hi = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
      width = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
      width = 3;
      if (first == 0xE0) lo = 0xA0;
      if (first == 0xED) hi = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
      width = 4;
      if (first == 0xF0) lo = 0x90;
      if (first == 0xF4) hi = 0x8F;
    } else {
      return fail(1);
    }
    if (i + 1 >= n) return fail(std::nullopt);
    if (bytes[i + 1] < lo || bytes[i + 1] > hi) return fail(1);
    for (std::size_t k = 2; k < width; ++k) {
      if (i + k >= n) return fail(std::nullopt);
      if (!cont(bytes[i + k])) return fail(static_cast<std::uint8_t>(k));
    }
    i += width;
  }
  return {};
}

std::string NullPointerNonNullLength::display() const {
  return "Received a slice with null pointer, but length: " + std::to_string(len_);
}

std::string NullPointerNonNullLength::debug() const {
  return "NullPointerNonNullLength { len: " + std::to_string(len_) + " }";
}

std::string ArrayTooLong::display() const {
  return "Received a slice of length " + std::to_string(len_) + ", but at most " + std::to_string(max_) +
         " elements are accepted";
}

std::string ArrayTooLong::debug() const {
  return "ArrayTooLong { len: " + std::to_string(len_) + ", max: " + std::to_string(max_) + " }";
}

void FfiArgError::validate() const {
  if (const auto* d = std::get_if<Decode>(&value_)) require_boxed(d->error);
}

std::string FfiArgError::display() const {
  return std::visit(Overloaded{
                        [](const NullPointerNonNullLength& v) {
                          return executor::NullPointerNonNullLength(v.len).display();
                        },
                        [](const UTF8& v) {
                          return "Received a str expected to be UTF8 but invalid: " + v.error.display();
                        },
                        [](const Decode& v) { return v.error->display(); },
                    },
                    value_);
}

std::string FfiArgError::debug() const {
  return std::visit(Overloaded{
                        [](const NullPointerNonNullLength& v) {
                          return executor::NullPointerNonNullLength(v.len).debug();
                        },
                        [](const UTF8& v) { return "UTF8(" + v.error.debug() + ")"; },
                        [](const Decode& v) { return "Decode(" + v.error->debug() + ")"; },
                    },
                    value_);
}

const Error* FfiArgError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const NullPointerNonNullLength&) -> const Error* { return nullptr; },
                        [](const UTF8& v) -> const Error* { return &v.error; },
                        [](const Decode& v) -> const Error* { return v.error->source(); },
                    },
                    value_);
}

std::expected<std::string_view, FfiArgError> text_arg(const char* ptr, std::size_t len) {
  if (len == 0) return std::string_view{};
  if (ptr == nullptr) return std::unexpected(FfiArgError(FfiArgError::NullPointerNonNullLength{len}));
  const std::string_view text(ptr, len);
  if (auto ok = check_utf8(crypto::as_bytes(text)); !ok) {
    return std::unexpected(FfiArgError(FfiArgError::UTF8{ok.error()}));
  }
  return text;
}

std::string InvalidNumberOfParties::display() const { return invalid_number_of_parties_text(n_); }
std::string InvalidNumberOfParties::debug() const { return "InvalidNumberOfParties(" + std::to_string(n_) + ")"; }
std::string InvalidNumberOfPartiesCount::display() const { return invalid_number_of_parties_text(n_); }
std::string InvalidNumberOfPartiesCount::debug() const {
  return "InvalidNumberOfParties(" + std::to_string(n_) + ")";
}

// ---------------------------------------------------------------------------
// Decoder errors.

std::string InvalidUri::display() const {
  switch (kind_) {
    case Kind::InvalidUriChar: return "invalid uri character";
    case Kind::InvalidScheme: return "invalid scheme";
    case Kind::InvalidAuthority: return "invalid authority";
    case Kind::InvalidPort: return "invalid port";
    case Kind::InvalidFormat: return "invalid format";
    case Kind::SchemeMissing: return "scheme missing";
    case Kind::AuthorityMissing: return "authority missing";
    case Kind::PathAndQueryMissing: return "path missing";
    case Kind::TooLong: return "uri too long";
    case Kind::Empty: return "empty string";
    case Kind::SchemeTooLong: return "scheme too long";
  }
  velto::panic("InvalidUri holds no valid kind. Bug!");
}

std::string InvalidUri::debug() const {
  const char* name = "";
  switch (kind_) {
    case Kind::InvalidUriChar: name = "InvalidUriChar"; break;
    case Kind::InvalidScheme: name = "InvalidScheme"; break;
    case Kind::InvalidAuthority: name = "InvalidAuthority"; break;
    case Kind::InvalidPort: name = "InvalidPort"; break;
    case Kind::InvalidFormat: name = "InvalidFormat"; break;
    case Kind::SchemeMissing: name = "SchemeMissing"; break;
    case Kind::AuthorityMissing: name = "AuthorityMissing"; break;
    case Kind::PathAndQueryMissing: name = "PathAndQueryMissing"; break;
    case Kind::TooLong: name = "TooLong"; break;
    case Kind::Empty: name = "Empty"; break;
    case Kind::SchemeTooLong: name = "SchemeTooLong"; break;
  }
  return std::string("InvalidUri(") + name + ")";
}

void ShareArgError::validate() const {}

std::string ShareArgError::display() const {
  return std::visit(Overloaded{
                        [](const InvalidShare& v) { return "Invalid secret share: " + v.error.display(); },
                        [](const InvalidHex&) { return Text("Invalid hex encoding"); },
                    },
                    value_);
}

std::string ShareArgError::debug() const {
  return std::visit(Overloaded{
                        [](const InvalidShare& v) { return "InvalidShare(" + v.error.debug() + ")"; },
                        [](const InvalidHex&) { return Text("InvalidHex"); },
                    },
                    value_);
}

const Error* ShareArgError::source() const noexcept {
  if (const auto* s = std::get_if<InvalidShare>(&value_)) return &s->error;
  return nullptr;
}

void KeygenIdError::validate() const {}

std::string KeygenIdError::display() const {
  return std::visit(
      Overloaded{
          [](const DKey& v) { return "Invalid key: " + v.error.display(); },
          [](const Encoding& v) { return "Invalid bs58 encoding: " + v.error.display(); },
          [](const Length& v) { return "Invalid key length, expected 32 bytes, found: " + std::to_string(v.found); },
      },
      value_);
}

std::string KeygenIdError::debug() const {
  return std::visit(Overloaded{
                        [](const DKey& v) { return "DKey(" + v.error.debug() + ")"; },
                        [](const Encoding& v) { return "Encoding(" + v.error.debug() + ")"; },
                        [](const Length& v) { return "Length { found: " + std::to_string(v.found) + " }"; },
                    },
                    value_);
}

const Error* KeygenIdError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const DKey& v) -> const Error* { return &v.error; },
                        [](const Encoding& v) -> const Error* { return &v.error; },
                        [](const Length&) -> const Error* { return nullptr; },
                    },
                    value_);
}

void KeypairArgError::validate() const {}

std::string KeypairArgError::display() const {
  return std::visit(Overloaded{
                        [](const Length& v) {
                          return "Invalid keypair length, expected 64 hex chars, found: " + std::to_string(v.found);
                        },
                        [](const Hex&) { return Text("Invalid hex encoding"); },
                        [](const Serialization& v) { return "Invalid keypair: " + v.error.display(); },
                    },
                    value_);
}

std::string KeypairArgError::debug() const {
  return std::visit(Overloaded{
                        [](const Length& v) { return "Length { found: " + std::to_string(v.found) + " }"; },
                        [](const Hex&) { return Text("Hex"); },
                        [](const Serialization& v) { return "Serialization(" + v.error.debug() + ")"; },
                    },
                    value_);
}

const Error* KeypairArgError::source() const noexcept {
  if (const auto* s = std::get_if<Serialization>(&value_)) return &s->error;
  return nullptr;
}

void HexLengthError::validate() const {}

std::string HexLengthError::display() const {
  return std::visit(Overloaded{
                        [](const Length& v) {
                          return "Invalid Hex length, expected 64 hex chars, found: " + std::to_string(v.found);
                        },
                        [](const Hex&) { return Text("Invalid hex encoding"); },
                    },
                    value_);
}

std::string HexLengthError::debug() const {
  return std::visit(Overloaded{
                        [](const Length& v) { return "Length { found: " + std::to_string(v.found) + " }"; },
                        [](const Hex&) { return Text("Hex"); },
                    },
                    value_);
}

const Error* HexLengthError::source() const noexcept { return nullptr; }

void Sr25519DerivePathError::validate() const {}

std::string Sr25519DerivePathError::display() const {
  return std::visit(Overloaded{
                        [](const InvalidLength& v) {
                          return "Invalid derivation path length, " + std::to_string(v.length) + " > 4294967295";
                        },
                        [](const HardJunctionsNotAllowed&) {
                          return Text(
                              "Invalid derivation path, hard(starting with '//') derivation junctions are not "
                              "allowed");
                        },
                    },
                    value_);
}

std::string Sr25519DerivePathError::debug() const {
  return std::visit(Overloaded{
                        [](const InvalidLength& v) { return "InvalidLength(" + std::to_string(v.length) + ")"; },
                        [](const HardJunctionsNotAllowed&) { return Text("HardJunctionsNotAllowed"); },
                    },
                    value_);
}

const Error* Sr25519DerivePathError::source() const noexcept { return nullptr; }

void DeserializationError::validate() const {
  if (const auto* b = std::get_if<Bincode>(&value_)) require_boxed(b->error);
}

std::string DeserializationError::display() const {
  return std::visit(Overloaded{
                        [](const Bincode& v) { return "Bincode deserialization failed: " + v.error->display(); },
                        [](const Sised& v) { return "Sised deserialization failed: " + v.error.display(); },
                        [](const Unknown&) { return Text("No deserialization type found"); },
                    },
                    value_);
}

std::string DeserializationError::debug() const {
  return std::visit(Overloaded{
                        [](const Bincode& v) { return "Bincode(" + v.error->debug() + ")"; },
                        [](const Sised& v) { return "Sised(" + v.error.debug() + ")"; },
                        [](const Unknown&) { return Text("Unknown"); },
                    },
                    value_);
}

const Error* DeserializationError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const Bincode& v) -> const Error* { return v.error.get(); },
                        [](const Sised& v) -> const Error* { return &v.error; },
                        [](const Unknown&) -> const Error* { return nullptr; },
                    },
                    value_);
}

// ---------------------------------------------------------------------------
// 32-byte hex arguments.

namespace {

// Decodes 64 hex digits without branching on their values; false if any is
// not 0-9, a-f or A-F.
bool decode_hex32(std::string_view text, crypto::SecretArray<32>& out) noexcept {
  unsigned bad = 0;
  const auto nibble = [&bad](unsigned char c) {
    const unsigned digit = static_cast<unsigned>(c) - '0';
    const unsigned letter = (static_cast<unsigned>(c) | 0x20u) - 'a';
    const unsigned is_digit = static_cast<unsigned>(digit < 10);
    const unsigned is_letter = static_cast<unsigned>(letter < 6);
    bad |= (is_digit | is_letter) ^ 1u;
    return (digit & (0u - is_digit)) | ((letter + 10) & (0u - is_letter));
  };
  for (std::size_t i = 0; i < 32; ++i) {
    const unsigned high = nibble(static_cast<unsigned char>(text[2 * i]));
    const unsigned low = nibble(static_cast<unsigned char>(text[2 * i + 1]));
    out[i] = static_cast<std::uint8_t>((high << 4) | low);
  }
  return bad == 0;
}

std::expected<crypto::SecretArray<32>, FfiArgError> parse_nonempty_hex32(const char* ptr, std::size_t len) {
  auto text = text_arg(ptr, len);
  if (!text) return std::unexpected(std::move(text.error()));
  if (text->size() != 64) return std::unexpected(FfiArgError::decode(HexLengthError(HexLengthError::Length{len})));
  crypto::SecretArray<32> out;
  if (!decode_hex32(*text, out)) return std::unexpected(FfiArgError::decode(HexLengthError(HexLengthError::Hex{})));
  return out;
}

}  // namespace

std::expected<crypto::SecretArray<32>, FfiArgError> parse_hex32_arg(const char* ptr, std::size_t len) {
  if (len == 0) return std::unexpected(FfiArgError::decode(HexLengthError(HexLengthError::Length{0})));
  return parse_nonempty_hex32(ptr, len);
}

std::expected<std::optional<crypto::SecretArray<32>>, FfiArgError> parse_optional_hex32_arg(const char* ptr,
                                                                                           std::size_t len) {
  if (len == 0) return std::optional<crypto::SecretArray<32>>{};
  auto bytes = parse_nonempty_hex32(ptr, len);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return std::optional<crypto::SecretArray<32>>(std::move(*bytes));
}

// ---------------------------------------------------------------------------
// Executor failures.

std::string version_display(Version v) {
  switch (v) {
    case Version::NotSet: return "NotSet";
    case Version::V1_0_2: return "v1.0.2";
    case Version::V1_0_3: return "v1.0.3";
    case Version::V1_1_0: return "v1.1.0";
    case Version::V1_2_0: return "v1.2.0";
    case Version::V1_3_0: return "v1.3.0";
    case Version::V1_4_0: return "v1.4.0";
    case Version::V1_5_0: return "v1.5.0";
  }
  return "UnknownVersion(" + std::to_string(static_cast<unsigned>(v)) + ")";
}

std::string version_debug(Version v) {
  switch (v) {
    case Version::NotSet: return "NotSet";
    case Version::V1_0_2: return "V1_0_2";
    case Version::V1_0_3: return "V1_0_3";
    case Version::V1_1_0: return "V1_1_0";
    case Version::V1_2_0: return "V1_2_0";
    case Version::V1_3_0: return "V1_3_0";
    case Version::V1_4_0: return "V1_4_0";
    case Version::V1_5_0: return "V1_5_0";
  }
  return "Unknown(" + std::to_string(static_cast<unsigned>(v)) + ")";
}

void ExecutorErrorKind::validate() const {
  std::visit(Overloaded{
                 [](const CreateRoom& v) { require_boxed(v.error); },
                 [](const Plugin& v) { require_boxed(v.error); },
                 [](const Executor& v) { require_boxed(v.error); },
                 [](const JoinFailed& v) { require_boxed(v.error); },
                 [](const ConnectionFailed& v) { require_boxed(v.error); },
                 [](const auto&) {},
             },
             value_);
}

std::string ExecutorErrorKind::display() const {
  return std::visit(
      Overloaded{
          [](const CreateRoom& v) { return backticked("Failed creating a room: ", v.error->display()); },
          [](const Plugin& v) { return v.error->display(); },
          [](const DecryptionError&) {
            return Text(
                "End-to-end decryption failed\n"
                "Hint: This is caused due to mismatched parameters among parties, such as:\n"
                "signature scheme, number of parties, threshold, message to sign, derivation path, BIP340 tweak, "
                "keygen IDs, secret shares from different protocols (incorrect shared public key), or keygen ID for "
                "export");
          },
          [](const Executor& v) { return backticked("Executor Failed: ", v.error->display()); },
          [](const JoinFailed& v) { return backticked("Failed joining a task: ", v.error->display()); },
          [](const InvalidNumberOfParties& v) {
            return "Invalid number of parties: expected " + std::to_string(v.expected) + ", got " +
                   std::to_string(v.actual);
          },
          [](const InvalidDerivationPath& v) {
            return backticked("The derivation path contains an invalid derivation: ", v.path);
          },
          [](const PartyNotFound& v) {
            return "The provided public key(`" + key_display(v.key) + "`) doesn't exist in the party list";
          },
          [](const ConnectionFailed& v) { return backticked("Relay plugin Failed: ", v.error->display()); },
          [](const NumberOfPartiesTooHigh& v) { return v.error.display(); },
          [](const InsufficientRemainingParties& v) {
            return "Insufficient number of remaining parties for reshare: `" + std::to_string(v.remaining) +
                   "`, need at least `" + std::to_string(v.required) + "`";
          },
          [](const CurrentPartyMissingInRemainingParties& v) {
            return backticked("Current party missing in remaining parties, transport key: ", key_display(v.key));
          },
          [](const PublicKeyAndChaincodeSyncFailed&) { return Text("Public key and chaincode synchronization failed"); },
          [](const DuplicateSecretShares&) {
            return Text("Duplicate secret shares, some of the secret shares provided are the same share.");
          },
          [](const ManagerFailed&) { return Text("The executor manager failed"); },
          [](const UnexpectedVersion& v) { return "Received an unexpected version: " + version_display(v.version); },
          [](const DeprecatedVersion& v) {
            return "Another party uses a deprecated version: " + version_display(v.version);
          },
          [](const SecretShareIsTooNewForThisVersion&) { return Text("The secret share is too new for this version"); },
          [](const InvalidImportedPrivateKey&) { return Text("Received an error from new_full_private_key"); },
          [](const InvalidTweak&) {
            return Text(
                "The tweak is invalid(either bigger than order or makes the public key the identity "
                "point(invalid))");
          },
          [](const InvalidKeyShare&) { return Text("The provided serialized key share is invalid"); },
      },
      value_);
}

std::string ExecutorErrorKind::debug() const {
  return std::visit(
      Overloaded{
          [](const CreateRoom& v) { return "CreateRoom(" + v.error->debug() + ")"; },
          [](const Plugin& v) { return "Plugin(" + v.error->debug() + ")"; },
          [](const DecryptionError&) { return Text("DecryptionError"); },
          [](const Executor& v) { return "Executor(" + v.error->debug() + ")"; },
          [](const JoinFailed& v) { return "JoinFailed(" + v.error->debug() + ")"; },
          [](const InvalidNumberOfParties& v) {
            return "InvalidNumberOfParties { expected: " + number_of_parties_debug(v.expected) +
                   ", actual: " + std::to_string(v.actual) + " }";
          },
          [](const InvalidDerivationPath& v) { return "InvalidDerivationPath(" + velto::debug_string(v.path) + ")"; },
          [](const PartyNotFound& v) { return "PartyNotFound(" + v.key.debug() + ")"; },
          [](const ConnectionFailed& v) { return "ConnectionFailed(" + v.error->debug() + ")"; },
          [](const NumberOfPartiesTooHigh& v) { return "NumberOfPartiesTooHigh(" + v.error.debug() + ")"; },
          [](const InsufficientRemainingParties& v) {
            return "InsufficientRemainingParties { remaining: " + std::to_string(v.remaining) +
                   ", required: " + number_of_parties_debug(v.required) + " }";
          },
          [](const CurrentPartyMissingInRemainingParties& v) {
            return "CurrentPartyMissingInRemainingParties(" + v.key.debug() + ")";
          },
          [](const PublicKeyAndChaincodeSyncFailed&) { return Text("PublicKeyAndChaincodeSyncFailed"); },
          [](const DuplicateSecretShares&) { return Text("DuplicateSecretShares"); },
          [](const ManagerFailed&) { return Text("ManagerFailed"); },
          [](const UnexpectedVersion& v) { return "UnexpectedVersion(" + version_debug(v.version) + ")"; },
          [](const DeprecatedVersion& v) { return "DeprecatedVersion(" + version_debug(v.version) + ")"; },
          [](const SecretShareIsTooNewForThisVersion&) { return Text("SecretShareIsTooNewForThisVersion"); },
          [](const InvalidImportedPrivateKey&) { return Text("InvalidImportedPrivateKey"); },
          [](const InvalidTweak&) { return Text("InvalidTweak"); },
          [](const InvalidKeyShare&) { return Text("InvalidKeyShare"); },
      },
      value_);
}

const Error* ExecutorErrorKind::source() const noexcept {
  return std::visit(Overloaded{
                        [](const CreateRoom& v) -> const Error* { return v.error.get(); },
                        [](const Plugin& v) -> const Error* { return v.error.get(); },
                        [](const Executor& v) -> const Error* { return v.error.get(); },
                        [](const JoinFailed& v) -> const Error* { return v.error.get(); },
                        [](const ConnectionFailed& v) -> const Error* { return v.error.get(); },
                        [](const NumberOfPartiesTooHigh& v) -> const Error* { return &v.error; },
                        [](const auto&) -> const Error* { return nullptr; },
                    },
                    value_);
}

ExecutorFailure::ExecutorFailure(ExecutorErrorKind inner, ManagerError manager_err)
    : inner_(std::move(inner)), manager_err_(std::make_shared<const ManagerError>(std::move(manager_err))) {}

void ExecutorFailure::set_manager_err(ManagerError manager_err) {
  manager_err_ = std::make_shared<const ManagerError>(std::move(manager_err));
}

std::string ExecutorFailure::display() const {
  std::string out = inner_.display();
  if (manager_err_) {
    out += ", manager error: ";
    out += manager_err_->display();
  }
  return out;
}

std::string ExecutorFailure::debug() const {
  return "Error { inner: " + inner_.debug() +
         ", manager_err: " + (manager_err_ ? "Some(" + manager_err_->debug() + ")" : std::string("None")) + " }";
}

ExecutorFailure into_boxed_handler_error(BoxedError error) {
  return ExecutorFailure(ExecutorErrorKind::Executor{std::move(error)});
}

ExecutorErrorKind invalid_derivation_path_error(std::span<const std::uint32_t> path) {
  std::string text;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i != 0) text += '/';
    text += std::to_string(path[i]);
  }
  return ExecutorErrorKind::InvalidDerivationPath{std::move(text)};
}

ExecutorErrorKind invalid_derivation_path_error_text(std::span<const std::string> path) {
  std::string text;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i != 0) text += '/';
    text += path[i];
  }
  return ExecutorErrorKind::InvalidDerivationPath{std::move(text)};
}

}  // namespace velto::executor
