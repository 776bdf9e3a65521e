#include "executor/error.hpp"
#include "executor/join_error.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "executor/log.hpp"
#include "velto-mpc-infra/manager.hpp"

namespace velto::executor {
namespace {

using namespace std::string_literals;

// An error of a lower layer as it renders itself.
class LowerError final : public velto::Error {
 public:
  LowerError(std::string display, std::string debug) : display_(std::move(display)), debug_(std::move(debug)) {}
  std::string display() const override { return display_; }
  std::string debug() const override { return debug_; }

 private:
  std::string display_;
  std::string debug_;
};

BoxedError lower(std::string display, std::string debug) {
  return std::make_shared<LowerError>(std::move(display), std::move(debug));
}

noise::PublicKey key_of(const crypto::ByteArray<32>& bytes) {
  auto key = noise::public_key_from_bytes(bytes);
  EXPECT_TRUE(key.has_value());
  return *key;
}

// The X25519 base point u = 9, and the bytes 1..32; their Base58 texts were
// computed independently.
const crypto::ByteArray<32> kNine = {9};
constexpr const char* kNineBase58 = "c8fpTXm3XTRgE5maYQ24Li4L65wMYvAFomzXknxVEx7";
constexpr const char* kNineDebug =
    "PublicKey { k: [9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0] }";
crypto::ByteArray<32> one_to_32() {
  crypto::ByteArray<32> b{};
  for (std::size_t i = 0; i < 32; ++i) b[i] = static_cast<std::uint8_t>(i + 1);
  return b;
}
constexpr const char* kOneTo32Base58 = "4wBqpZM9xaSheZzJSMawUKKwhdpChKbZ5eu5ky4Vigw";
constexpr const char* kOneTo32Debug =
    "PublicKey { k: [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, "
    "27, 28, 29, 30, 31, 32] }";

struct TextCase {
  std::string name;
  BoxedError error;
  std::string display;
  std::string debug;
};

void check_texts(const std::vector<TextCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.error->display(), c.display);
    EXPECT_EQ(c.error->debug(), c.debug);
  }
}

template <class E, class V>
BoxedError boxed(V v) {
  return box_error<E>(E(std::move(v)));
}

// ---------------------------------------------------------------------------
// Function-interface kinds and FfiError.

TEST(FfiErrorKindTest, CodesNamesAndTexts) {
  struct Row {
    FfiErrorKind kind;
    std::int32_t code;
    const char* name;
    const char* text;
  };
  const Row rows[] = {
      {FfiErrorKind::InvalidUUID, -1, "InvalidUUID", "Invalid UUID"},
      {FfiErrorKind::InvalidHostUrl, -2, "InvalidHostUrl", "Invalid host URL"},
      {FfiErrorKind::InvalidSecretShare, -3, "InvalidSecretShare", "Invalid secret Share"},
      {FfiErrorKind::InvalidMessage, -4, "InvalidMessage", "Invalid message"},
      {FfiErrorKind::InvalidNumberOfParties, -6, "InvalidNumberOfParties", "Invalid number of parties"},
      {FfiErrorKind::ExecutorError, -8, "ExecutorError", "Error in MPC Executor"},
      {FfiErrorKind::InvalidKeygenInitKeypair, -9, "InvalidKeygenInitKeypair", "Invalid keypair from initKeygen"},
      {FfiErrorKind::InvalidKeygenId, -10, "InvalidKeygenId", "Invalid keygenId"},
      {FfiErrorKind::InvalidDerivationElement, -11, "InvalidDerivationElement",
       "Invalid derivation path: elements must be between 0 and ((2^31) - 1)"},
      {FfiErrorKind::InvalidXpriv, -12, "InvalidXpriv", "Invalid Extended Private Key(xpriv) string"},
      {FfiErrorKind::InvalidSpriv, -13, "InvalidSpriv", "Invalid Extended Private Key(spriv) string"},
      {FfiErrorKind::InvalidApiKey, -14, "InvalidApiKey", "Invalid API key"},
      {FfiErrorKind::InvalidPrivateKey, -15, "InvalidPrivateKey",
       "Invalid private key: must be a hex string of length exactly 64"},
      {FfiErrorKind::InvalidTweak, -16, "InvalidTweak",
       "Invalid tweak: must be either an empty string(no tweak) or a hex string of length exactly 64"},
      {FfiErrorKind::InvalidXpub, -17, "InvalidXpub", "Invalid Extended Public Key(xpub) string"},
      {FfiErrorKind::InvalidSpub, -18, "InvalidSpub", "Invalid Extended Public Key(spub) string"},
      {FfiErrorKind::InvalidPublicKey, -19, "InvalidPublicKey", "Invalid Public Key"},
      {FfiErrorKind::InvalidChaincode, -20, "InvalidChaincode",
       "Invalid chaincode: must be either an empty string(no chaincode) or a hex string of length exactly 64"},
      {FfiErrorKind::NullPointer, -253, "NullPointer", "Null pointer"},
      {FfiErrorKind::PanicError, -254, "PanicError", "Panicked"},
      {FfiErrorKind::PlatformError, -255, "PlatformError", "Platform Error"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(code(r.kind), r.code);
    EXPECT_EQ(kind_name(r.kind), r.name);
    EXPECT_EQ(kind_text(r.kind), r.text);
  }
}

TEST(FfiErrorTest, DisplayAndDebugWithAndWithoutContext) {
  const FfiArgError utf8 = FfiArgError::UTF8{Utf8Error(3, 1)};
  const ExecutorFailure old_peer{ExecutorErrorKind::UnexpectedVersion{Version::V1_0_3}};
  check_texts({
      {"no_context", std::make_shared<FfiError>(FfiErrorKind::NullPointer), "Error Kind: Null pointer",
       "Error { kind: NullPointer, inner: None }"},
      {"utf8_room_id", std::make_shared<FfiError>(FfiErrorKind::InvalidUUID, utf8),
       "Error Kind: Invalid UUID, Context: Received a str expected to be UTF8 but invalid: invalid utf-8 sequence of "
       "1 bytes from index 3",
       "Error { kind: InvalidUUID, inner: Some(UTF8(Utf8Error { valid_up_to: 3, error_len: Some(1) })) }"},
      {"executor", std::make_shared<FfiError>(FfiErrorKind::ExecutorError, old_peer),
       "Error Kind: Error in MPC Executor, Context: Received an unexpected version: v1.0.3",
       "Error { kind: ExecutorError, inner: Some(Error { inner: UnexpectedVersion(V1_0_3), manager_err: None }) }"},
      // Room creation reports a bad party count under -8, unwrapped.
      {"room_parties", std::make_shared<FfiError>(FfiErrorKind::ExecutorError, InvalidNumberOfParties(0)),
       "Error Kind: Error in MPC Executor, Context: invalid number of parties: 0 (must be between 1..=8192)",
       "Error { kind: ExecutorError, inner: Some(InvalidNumberOfParties(0)) }"},
  });
}

// ---------------------------------------------------------------------------
// The result record and the system-log line.

TEST(ErrorToResultFfiTest, WritesOneLogLineAndReturnsCodeAndMessage) {
  const CapturedLog log;
  const FfiArgError utf8 = FfiArgError::UTF8{Utf8Error(3, 1)};
  const FfiResult result = error_to_result_ffi(FfiError(FfiErrorKind::InvalidUUID, utf8));

  EXPECT_EQ(result.code, -1);
  EXPECT_EQ(result.message,
            "Error Kind: Invalid UUID, Context: Received a str expected to be UTF8 but invalid: invalid utf-8 "
            "sequence of 1 bytes from index 3");
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0],
            "Logic Error: display: Error Kind: Invalid UUID, Context: Received a str expected to be UTF8 but invalid: "
            "invalid utf-8 sequence of 1 bytes from index 3, debug: Error { kind: InvalidUUID, inner: "
            "Some(UTF8(Utf8Error { valid_up_to: 3, error_len: Some(1) })) }");
}

TEST(ErrorToResultFfiTest, FailedOperationIsCodeMinus8AndLogged) {
  const CapturedLog log;
  const ExecutorFailure failure = box_handler_error(ecdsa::EcdsaSignError(ecdsa::EcdsaSignError::Unknown{}));
  const FfiResult result = error_to_result_ffi(FfiError(FfiErrorKind::ExecutorError, failure));

  EXPECT_EQ(result, (FfiResult{"Error Kind: Error in MPC Executor, Context: Executor Failed: `Unknown error in signing`",
                               -8}));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0],
            "Logic Error: display: Error Kind: Error in MPC Executor, Context: Executor Failed: `Unknown error in "
            "signing`, debug: Error { kind: ExecutorError, inner: Some(Error { inner: Executor(Unknown), "
            "manager_err: None }) }");
}

TEST(ErrorToResultFfiTest, NulInContextReachesCallerButNotTheLog) {
  const CapturedLog log;
  const std::vector<std::string> junctions = {"a\0b"s, "c"};
  const ExecutorFailure failure{invalid_derivation_path_error_text(junctions)};
  const FfiResult result = error_to_result_ffi(FfiError(FfiErrorKind::ExecutorError, failure));

  EXPECT_EQ(result.code, -8);
  EXPECT_EQ(result.message,
            "Error Kind: Error in MPC Executor, Context: The derivation path contains an invalid derivation: `a\0b/c`"s);
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Log Contained NULL characters"});
}

TEST(ErrorToResultFfiTest, PanicIsMinus254WithBareTextAndNoLogLine) {
  const CapturedLog log;
  const FfiResult result = run_with_panic_guard([]() -> FfiResult {
    velto::panic("Deserialization of keypair failed. Bug!");
  });
  EXPECT_EQ(result, (FfiResult{"Deserialization of keypair failed. Bug!", -254}));
  EXPECT_TRUE(log.lines().empty());

  // A body that reports a failure passes through the guard unchanged.
  const FfiResult failed = run_with_panic_guard([] { return error_to_result_ffi(FfiError(FfiErrorKind::NullPointer)); });
  EXPECT_EQ(failed, (FfiResult{"Error Kind: Null pointer", -253}));
  EXPECT_EQ(log.lines(), std::vector<std::string>{
                             "Logic Error: display: Error Kind: Null pointer, debug: Error { kind: NullPointer, inner: "
                             "None }"});
  EXPECT_TRUE(run_with_panic_guard([] { return FfiResult::success(); }).ok());
}

// ---------------------------------------------------------------------------
// Executor failures.

TEST(ExecutorErrorKindTest, DisplayAndDebugOfEveryKind) {
  using K = ExecutorErrorKind;
  const BoxedError io = lower("Connection refused (os error 111)",
                              "Os { code: 111, kind: ConnectionRefused, message: \"Connection refused\" }");
  check_texts({
      {"create_room",
       boxed<K>(K::CreateRoom{lower("Failed connecting to server: `timed out`", "Connection(TimedOut)")}),
       "Failed creating a room: `Failed connecting to server: `timed out``", "CreateRoom(Connection(TimedOut))"},
      // The relay error's text with nothing before or after it.
      {"plugin", boxed<K>(K::Plugin{lower("Socket closed too early", "SocketClosed")}), "Socket closed too early",
       "Plugin(SocketClosed)"},
      {"decryption", boxed<K>(K::DecryptionError{}),
       "End-to-end decryption failed\n"
       "Hint: This is caused due to mismatched parameters among parties, such as:\n"
       "signature scheme, number of parties, threshold, message to sign, derivation path, BIP340 tweak, keygen IDs, "
       "secret shares from different protocols (incorrect shared public key), or keygen ID for export",
       "DecryptionError"},
      {"executor", boxed<K>(K::Executor{lower("Unknown error in signing", "Unknown")}),
       "Executor Failed: `Unknown error in signing`", "Executor(Unknown)"},
      {"join", boxed<K>(K::JoinFailed{lower("task 7 was cancelled", "JoinError { inner: Cancelled }")}),
       "Failed joining a task: `task 7 was cancelled`", "JoinFailed(JoinError { inner: Cancelled })"},
      {"party_count", boxed<K>(K::InvalidNumberOfParties{3, 2}), "Invalid number of parties: expected 3, got 2",
       "InvalidNumberOfParties { expected: NumberOfParties(3), actual: 2 }"},
      {"derivation", boxed<K>(K::InvalidDerivationPath{"0/2147483648"}),
       "The derivation path contains an invalid derivation: `0/2147483648`", "InvalidDerivationPath(\"0/2147483648\")"},
      // The text prints quoted and escaped in the debug form.
      {"derivation_escaped", boxed<K>(K::InvalidDerivationPath{"a\"b"}),
       "The derivation path contains an invalid derivation: `a\"b`", "InvalidDerivationPath(\"a\\\"b\")"},
      {"party_not_found", boxed<K>(K::PartyNotFound{key_of(kNine)}),
       "The provided public key(`"s + kNineBase58 + "`) doesn't exist in the party list",
       "PartyNotFound("s + kNineDebug + ")"},
      {"connection", boxed<K>(K::ConnectionFailed{io}), "Relay plugin Failed: `Connection refused (os error 111)`",
       "ConnectionFailed(Os { code: 111, kind: ConnectionRefused, message: \"Connection refused\" })"},
      {"too_many_parties", boxed<K>(K::NumberOfPartiesTooHigh{InvalidNumberOfPartiesCount(8193)}),
       "invalid number of parties: 8193 (must be between 1..=8192)",
       "NumberOfPartiesTooHigh(InvalidNumberOfParties(8193))"},
      {"remaining", boxed<K>(K::InsufficientRemainingParties{1, 2}),
       "Insufficient number of remaining parties for reshare: `1`, need at least `2`",
       "InsufficientRemainingParties { remaining: 1, required: NumberOfParties(2) }"},
      {"current_missing", boxed<K>(K::CurrentPartyMissingInRemainingParties{key_of(one_to_32())}),
       "Current party missing in remaining parties, transport key: `"s + kOneTo32Base58 + "`",
       "CurrentPartyMissingInRemainingParties("s + kOneTo32Debug + ")"},
      {"sync", boxed<K>(K::PublicKeyAndChaincodeSyncFailed{}), "Public key and chaincode synchronization failed",
       "PublicKeyAndChaincodeSyncFailed"},
      {"duplicate", boxed<K>(K::DuplicateSecretShares{}),
       "Duplicate secret shares, some of the secret shares provided are the same share.", "DuplicateSecretShares"},
      {"manager", boxed<K>(K::ManagerFailed{}), "The executor manager failed", "ManagerFailed"},
      {"unexpected_version", boxed<K>(K::UnexpectedVersion{Version{1}}),
       "Received an unexpected version: UnknownVersion(1)", "UnexpectedVersion(Unknown(1))"},
      {"deprecated_version", boxed<K>(K::DeprecatedVersion{Version::V1_0_2}),
       "Another party uses a deprecated version: v1.0.2", "DeprecatedVersion(V1_0_2)"},
      {"too_new", boxed<K>(K::SecretShareIsTooNewForThisVersion{}), "The secret share is too new for this version",
       "SecretShareIsTooNewForThisVersion"},
      {"imported_key", boxed<K>(K::InvalidImportedPrivateKey{}), "Received an error from new_full_private_key",
       "InvalidImportedPrivateKey"},
      {"tweak", boxed<K>(K::InvalidTweak{}),
       "The tweak is invalid(either bigger than order or makes the public key the identity point(invalid))",
       "InvalidTweak"},
      {"key_share", boxed<K>(K::InvalidKeyShare{}), "The provided serialized key share is invalid", "InvalidKeyShare"},
  });
}

TEST(ExecutorErrorKindTest, DeclarationOrderIsTheTagOrder) {
  using K = ExecutorErrorKind;
  EXPECT_EQ(K(K::CreateRoom{lower("", "")}).value().index(), 0u);
  EXPECT_EQ(K(K::Executor{lower("", "")}).value().index(), 3u);
  EXPECT_EQ(K(K::PartyNotFound{key_of(kNine)}).value().index(), 7u);
  EXPECT_EQ(K(K::ManagerFailed{}).value().index(), 14u);
  EXPECT_EQ(K(K::InvalidKeyShare{}).value().index(), 20u);
  EXPECT_EQ(std::variant_size_v<K::Value>, 21u);
}

TEST(VersionTest, DisplayAndDebug) {
  struct Row {
    std::uint8_t code;
    const char* display;
    const char* debug;
  };
  const Row rows[] = {
      {0, "NotSet", "NotSet"},          {1, "UnknownVersion(1)", "Unknown(1)"}, {2, "v1.0.2", "V1_0_2"},
      {3, "v1.0.3", "V1_0_3"},          {4, "v1.1.0", "V1_1_0"},                {5, "v1.2.0", "V1_2_0"},
      {6, "v1.3.0", "V1_3_0"},          {7, "v1.4.0", "V1_4_0"},                {8, "v1.5.0", "V1_5_0"},
      {9, "UnknownVersion(9)", "Unknown(9)"}, {255, "UnknownVersion(255)", "Unknown(255)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(version_display(Version{r.code}), r.display);
    EXPECT_EQ(version_debug(Version{r.code}), r.debug);
  }
  // Ordered by wire code: an unknown code 1 sits between NotSet and v1.0.2.
  EXPECT_LT(Version::NotSet, Version{1});
  EXPECT_LT(Version{1}, Version::V1_0_2);
  EXPECT_LT(Version::V1_5_0, Version{9});
}

TEST(ExecutorFailureTest, ManagerErrorFollowsTheKindText) {
  using MK = ManagerError::Kind;
  const ExecutorFailure failure(ExecutorErrorKind::ManagerFailed{}, ManagerError(MK::TooManyPendingUCTags));
  EXPECT_EQ(failure.display(),
            "The executor manager failed, manager error: Too many pending messages with unregistered UC tag");
  EXPECT_EQ(failure.debug(), "Error { inner: ManagerFailed, manager_err: Some(TooManyPendingUCTags) }");

  ExecutorFailure plain{ExecutorErrorKind::ManagerFailed{}};
  EXPECT_EQ(plain.manager_err(), nullptr);
  EXPECT_EQ(plain.display(), "The executor manager failed");
  EXPECT_EQ(plain.debug(), "Error { inner: ManagerFailed, manager_err: None }");

  // A later manager error replaces the one held; the transport's error shows
  // through CommunicationError unchanged.
  ExecutorFailure replaced(ExecutorErrorKind::ManagerFailed{}, ManagerError(MK::TooManyPendingUCTags));
  replaced.set_manager_err(ManagerError::communication(lower("Socket closed too early", "SocketClosed")));
  EXPECT_EQ(replaced.display(), "The executor manager failed, manager error: Socket closed too early");
  EXPECT_EQ(replaced.debug(), "Error { inner: ManagerFailed, manager_err: Some(CommunicationError(SocketClosed)) }");

  // A protocol failure with the manager's hand-off error attached.
  ExecutorFailure protocol = box_handler_error(ecdsa::EcdsaSignError(ecdsa::EcdsaSignError::Unknown{}));
  protocol.set_manager_err(ManagerError(MK::FailedToSendToExecutor));
  EXPECT_EQ(protocol.display(),
            "Executor Failed: `Unknown error in signing`, manager error: Failed to send ProtocolReceivedMessage to "
            "executor, channel full, timeout: 100ms");
}

TEST(ExecutorFailureTest, SourceChainRunsThroughTheKind) {
  const BoxedError protocol = lower("Unknown error in signing", "Unknown");
  const ExecutorFailure failure = into_boxed_handler_error(protocol);
  EXPECT_EQ(failure.display(), "Executor Failed: `Unknown error in signing`");
  EXPECT_EQ(failure.manager_err(), nullptr);
  const Error* kind = failure.source();
  ASSERT_EQ(kind, &failure.inner());
  EXPECT_EQ(kind->source(), protocol.get());

  const ExecutorErrorKind too_high = ExecutorErrorKind::NumberOfPartiesTooHigh{InvalidNumberOfPartiesCount(0)};
  ASSERT_NE(too_high.source(), nullptr);
  EXPECT_EQ(too_high.source()->debug(), "InvalidNumberOfParties(0)");
  EXPECT_EQ(ExecutorErrorKind(ExecutorErrorKind::DecryptionError{}).source(), nullptr);
  EXPECT_EQ(ExecutorErrorKind(ExecutorErrorKind::PartyNotFound{key_of(kNine)}).source(), nullptr);
}

TEST(ExecutorFailureTest, HandlerInstancesBoxTheProtocolError) {
  using ecdsa::EcdsaKeygenLibError;
  using ecdsa::EcdsaRefreshLibError;
  const EcdsaRefreshLibError refresh = EcdsaRefreshLibError::Keygen{EcdsaKeygenLibError::InvalidLagrangeSum{}};
  check_texts({
      {"refresh", box_error<ExecutorFailure>(box_handler_error_ecdsa(refresh)),
       "Executor Failed: `One of the lagrange sums is not equal to the rest`",
       "Error { inner: Executor(Keygen(InvalidLagrangeSum)), manager_err: None }"},
      {"presign",
       box_error<ExecutorFailure>(box_handler_error_ecdsa_lib_a(
           ecdsa::EcdsaPresignError(ecdsa::EcdsaPresignError::GlobalCheckFailed{}))),
       "Executor Failed: `Global check failed`", "Error { inner: Executor(GlobalCheckFailed), manager_err: None }"},
      {"bip340",
       box_error<ExecutorFailure>(box_handler_error_bip340(ecdsa::Bip340RefreshError::Keygen{
           ecdsa::KeygenError(EcdsaKeygenLibError::InvalidLagrangeSum{})})),
       "Executor Failed: `One of the lagrange sums is not equal to the rest`",
       "Error { inner: Executor(Keygen(KeygenError(InvalidLagrangeSum))), manager_err: None }"},
  });
}

TEST(ExecutorFailureTest, DerivationPathTexts) {
  struct Row {
    std::vector<std::uint32_t> path;
    const char* text;
  };
  const Row rows[] = {
      {{0, 2147483648u, 5}, "0/2147483648/5"},
      {{2147483648u}, "2147483648"},
      {{}, ""},
      {{4294967295u, 0}, "4294967295/0"},
  };
  for (const auto& r : rows) {
    const auto kind = invalid_derivation_path_error(r.path);
    ASSERT_NE(kind.get_if<ExecutorErrorKind::InvalidDerivationPath>(), nullptr);
    EXPECT_EQ(kind.get_if<ExecutorErrorKind::InvalidDerivationPath>()->path, r.text);
  }
  const std::vector<std::string> junctions = {"Alice", "stash", "0"};
  EXPECT_EQ(invalid_derivation_path_error_text(junctions).display(),
            "The derivation path contains an invalid derivation: `Alice/stash/0`");
}

// ---------------------------------------------------------------------------
// Argument errors.

TEST(ArgumentErrorTest, DisplayAndDebugTexts) {
  const sised::SisedError invalid_private = sised::SisedError::custom("Invalid private key");
  const noise::NoiseError bad_key(noise::NoiseError::Kind::InvalidPublicKeyError);
  check_texts({
      {"arg_null", boxed<FfiArgError>(FfiArgError::NullPointerNonNullLength{5}),
       "Received a slice with null pointer, but length: 5", "NullPointerNonNullLength { len: 5 }"},
      {"arg_utf8_incomplete", boxed<FfiArgError>(FfiArgError::UTF8{Utf8Error(2, std::nullopt)}),
       "Received a str expected to be UTF8 but invalid: incomplete utf-8 byte sequence from index 2",
       "UTF8(Utf8Error { valid_up_to: 2, error_len: None })"},
      // Decode is transparent.
      {"arg_decode", box_error<FfiArgError>(FfiArgError::decode(HexLengthError(HexLengthError::Hex{}))),
       "Invalid hex encoding", "Decode(Hex)"},
      {"array_null", std::make_shared<NullPointerNonNullLength>(4), "Received a slice with null pointer, but length: 4",
       "NullPointerNonNullLength { len: 4 }"},
      {"parties_arg", std::make_shared<InvalidNumberOfParties>(0),
       "invalid number of parties: 0 (must be between 1..=8192)", "InvalidNumberOfParties(0)"},
      {"parties_count", std::make_shared<InvalidNumberOfPartiesCount>(70000),
       "invalid number of parties: 70000 (must be between 1..=8192)", "InvalidNumberOfParties(70000)"},

      {"share_invalid", boxed<ShareArgError>(ShareArgError::InvalidShare{sised::SisedError::out_of_bounds()}),
       "Invalid secret share: Out of bounds", "InvalidShare(OutOfBounds)"},
      {"share_hex", boxed<ShareArgError>(ShareArgError::InvalidHex{}), "Invalid hex encoding", "InvalidHex"},

      {"keygen_id_key", boxed<KeygenIdError>(KeygenIdError::DKey{bad_key}), "Invalid key: Invalid Public Key.",
       "DKey(InvalidPublicKeyError)"},
      {"keygen_id_encoding", boxed<KeygenIdError>(KeygenIdError::Encoding{crypto::Base58Error::buffer_too_small()}),
       "Invalid bs58 encoding: buffer provided to decode base58 encoded string into was too small",
       "Encoding(BufferTooSmall)"},
      {"keygen_id_length", boxed<KeygenIdError>(KeygenIdError::Length{31}),
       "Invalid key length, expected 32 bytes, found: 31", "Length { found: 31 }"},

      {"keypair_length", boxed<KeypairArgError>(KeypairArgError::Length{63}),
       "Invalid keypair length, expected 64 hex chars, found: 63", "Length { found: 63 }"},
      {"keypair_hex", boxed<KeypairArgError>(KeypairArgError::Hex{}), "Invalid hex encoding", "Hex"},
      {"keypair_serialization", boxed<KeypairArgError>(KeypairArgError::Serialization{invalid_private}),
       "Invalid keypair: Invalid private key", "Serialization(Custom(\"Invalid private key\"))"},

      {"hex_length", boxed<HexLengthError>(HexLengthError::Length{65}),
       "Invalid Hex length, expected 64 hex chars, found: 65", "Length { found: 65 }"},
      {"hex_char", boxed<HexLengthError>(HexLengthError::Hex{}), "Invalid hex encoding", "Hex"},

      {"sr25519_key", std::make_shared<Sr25519InvalidPublicKey>(), "Invalid sr25519 Public Key",
       "InvalidPublicKey(())"},
      {"sr25519_path_length", boxed<Sr25519DerivePathError>(Sr25519DerivePathError::InvalidLength{4294967296u}),
       "Invalid derivation path length, 4294967296 > 4294967295", "InvalidLength(4294967296)"},
      {"sr25519_hard", boxed<Sr25519DerivePathError>(Sr25519DerivePathError::HardJunctionsNotAllowed{}),
       "Invalid derivation path, hard(starting with '//') derivation junctions are not allowed",
       "HardJunctionsNotAllowed"},

      {"frame_sised",
       boxed<DeserializationError>(DeserializationError::Sised{sised::SisedError::custom("Invalid discriminant")}),
       "Sised deserialization failed: Invalid discriminant", "Sised(Custom(\"Invalid discriminant\"))"},
      {"frame_bincode",
       boxed<DeserializationError>(DeserializationError::Bincode{lower("io error: unexpected end of file", "Io")}),
       "Bincode deserialization failed: io error: unexpected end of file", "Bincode(Io)"},
      {"frame_unknown", boxed<DeserializationError>(DeserializationError::Unknown{}), "No deserialization type found",
       "Unknown"},
  });
}

TEST(ArgumentErrorTest, HostAddressKinds) {
  using UK = InvalidUri::Kind;
  struct Row {
    UK kind;
    const char* name;
    const char* text;
  };
  const Row rows[] = {
      {UK::InvalidUriChar, "InvalidUriChar", "invalid uri character"},
      {UK::InvalidScheme, "InvalidScheme", "invalid scheme"},
      {UK::InvalidAuthority, "InvalidAuthority", "invalid authority"},
      {UK::InvalidPort, "InvalidPort", "invalid port"},
      {UK::InvalidFormat, "InvalidFormat", "invalid format"},
      {UK::SchemeMissing, "SchemeMissing", "scheme missing"},
      {UK::AuthorityMissing, "AuthorityMissing", "authority missing"},
      {UK::PathAndQueryMissing, "PathAndQueryMissing", "path missing"},
      {UK::TooLong, "TooLong", "uri too long"},
      {UK::Empty, "Empty", "empty string"},
      {UK::SchemeTooLong, "SchemeTooLong", "scheme too long"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const InvalidHostAddressError e{InvalidUri(r.kind)};
    EXPECT_EQ(e.display(), "Invalid host address: "s + r.text);
    EXPECT_EQ(e.debug(), "InvalidHostAddressError(InvalidUri("s + r.name + "))");
    ASSERT_NE(e.source(), nullptr);
    EXPECT_EQ(e.source()->display(), r.text);
  }
}

TEST(ArgumentErrorTest, Sources) {
  // Decode is transparent: the boxed decoder error's own source.
  const FfiArgError share = FfiArgError::decode(ShareArgError(ShareArgError::InvalidShare{sised::SisedError::out_of_bounds()}));
  ASSERT_NE(share.source(), nullptr);
  EXPECT_EQ(share.source()->debug(), "OutOfBounds");
  EXPECT_EQ(FfiArgError::decode(HexLengthError(HexLengthError::Hex{})).source(), nullptr);

  const FfiArgError utf8 = FfiArgError::UTF8{Utf8Error(0, 1)};
  ASSERT_NE(utf8.source(), nullptr);
  EXPECT_EQ(utf8.source()->debug(), "Utf8Error { valid_up_to: 0, error_len: Some(1) }");
  EXPECT_EQ(FfiArgError(FfiArgError::NullPointerNonNullLength{1}).source(), nullptr);

  const KeygenIdError dkey = KeygenIdError::DKey{noise::NoiseError(noise::NoiseError::Kind::InvalidPublicKeyError)};
  ASSERT_NE(dkey.source(), nullptr);
  EXPECT_EQ(dkey.source()->debug(), "InvalidPublicKeyError");
  EXPECT_EQ(KeygenIdError(KeygenIdError::Length{31}).source(), nullptr);
  const KeypairArgError keypair = KeypairArgError::Serialization{sised::SisedError::custom("Invalid private key")};
  ASSERT_NE(keypair.source(), nullptr);
  EXPECT_EQ(keypair.source()->display(), "Invalid private key");
  EXPECT_EQ(DeserializationError(DeserializationError::Unknown{}).source(), nullptr);
}

// ---------------------------------------------------------------------------
// Text arguments and the 32-byte hex decoders.

TEST(TextArgTest, Utf8Faults) {
  struct Row {
    std::string bytes;
    std::optional<std::pair<std::size_t, std::optional<std::uint8_t>>> fault;  // nullopt: valid
  };
  // Expected faults cross-checked with Python's strict UTF-8 decoder
  // (start, end - start; "unexpected end of data" = incomplete).
  const Row rows[] = {
      {"plain ascii", std::nullopt},
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", std::nullopt},  // é € 😀
      {"\xf4\x8f\xbf\xbf", std::nullopt},                     // U+10FFFF
      {"abc\xff" "def", {{3, 1}}},
      {"ab\xc3", {{2, std::nullopt}}},
      {"\xe2\x82", {{0, std::nullopt}}},
      {"\xe2\x28\xa1", {{0, 1}}},
      {"\xe2\x82\x28", {{0, 2}}},
      {"\xf0\x9f\x98", {{0, std::nullopt}}},
      {"\xf0\x9f\x98\x28", {{0, 3}}},
      {"\xed\xa0\x80", {{0, 1}}},          // surrogate
      {"\xc0\xaf", {{0, 1}}},              // overlong
      {"\xe0\x80\x80", {{0, 1}}},          // overlong
      {"\xf0\x80\x80\x80", {{0, 1}}},      // overlong
      {"\xf4\x90\x80\x80", {{0, 1}}},      // above U+10FFFF
      {"\x80", {{0, 1}}},
      {"\xf5", {{0, 1}}},
      {"a\xc3\xa9\xe2\x82", {{3, std::nullopt}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(debug_string(r.bytes));
    const auto result = check_utf8(crypto::as_bytes(r.bytes));
    if (!r.fault) {
      EXPECT_TRUE(result.has_value());
      continue;
    }
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), Utf8Error(r.fault->first, r.fault->second));
  }
}

TEST(TextArgTest, NullPointersAndEmptyTexts) {
  auto empty = text_arg(nullptr, 0);
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());

  auto null_with_length = text_arg(nullptr, 3);
  ASSERT_FALSE(null_with_length.has_value());
  EXPECT_EQ(null_with_length.error().display(), "Received a slice with null pointer, but length: 3");

  const std::string bad = "abc\xff";
  auto not_utf8 = text_arg(bad.data(), bad.size());
  ASSERT_FALSE(not_utf8.has_value());
  EXPECT_EQ(not_utf8.error().debug(), "UTF8(Utf8Error { valid_up_to: 3, error_len: Some(1) })");

  const std::string ok = "ecdsa_sign";
  EXPECT_EQ(text_arg(ok.data(), ok.size()).value(), "ecdsa_sign");
}

TEST(Hex32ArgTest, DecodesEitherCase) {
  const std::string lower_text = "00112233445566778899aabbccddeeff0f1e2d3c4b5a69788796a5b4c3d2e1f0";
  std::string upper_text = lower_text;
  for (char& c : upper_text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const crypto::ByteArray<32> expected = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa,
                                          0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a,
                                          0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};

  for (const std::string* text : {&lower_text, static_cast<const std::string*>(&upper_text)}) {
    auto bytes = parse_hex32_arg(text->data(), text->size());
    ASSERT_TRUE(bytes.has_value()) << bytes.error().display();
    EXPECT_EQ(bytes->array(), expected);
    auto optional = parse_optional_hex32_arg(text->data(), text->size());
    ASSERT_TRUE(optional.has_value());
    ASSERT_TRUE(optional->has_value());
    EXPECT_EQ((*optional)->array(), expected);
  }
}

TEST(Hex32ArgTest, RefusalsInOrder) {
  const std::string good(64, 'a');
  struct Row {
    std::string name;
    const char* ptr;
    std::size_t len;
    std::string debug;
    std::string display;
  };
  const std::string short_text(63, 'a');
  const std::string long_text(65, 'a');
  const std::string with_g = std::string(63, 'a') + "g";
  const std::string with_blank = " " + std::string(63, 'a');
  // Neither a digit nor a letter, next to the digit and letter ranges.
  const std::string with_colon = std::string(10, 'a') + ":" + std::string(53, 'a');
  const std::string with_at = "@" + std::string(63, 'a');
  const std::string with_backtick = std::string(62, 'a') + "`a";
  const std::string short_not_utf8 = "\xff\xff\xff";  // UTF-8 is checked before the length
  const std::string not_utf8 = std::string(63, 'a') + "\xff";
  const Row rows[] = {
      {"empty", good.data(), 0, "Decode(Length { found: 0 })", "Invalid Hex length, expected 64 hex chars, found: 0"},
      {"null", nullptr, 3, "NullPointerNonNullLength { len: 3 }", "Received a slice with null pointer, but length: 3"},
      {"short_not_utf8", short_not_utf8.data(), short_not_utf8.size(),
       "UTF8(Utf8Error { valid_up_to: 0, error_len: Some(1) })",
       "Received a str expected to be UTF8 but invalid: invalid utf-8 sequence of 1 bytes from index 0"},
      {"not_utf8", not_utf8.data(), not_utf8.size(), "UTF8(Utf8Error { valid_up_to: 63, error_len: Some(1) })",
       "Received a str expected to be UTF8 but invalid: invalid utf-8 sequence of 1 bytes from index 63"},
      {"63", short_text.data(), short_text.size(), "Decode(Length { found: 63 })",
       "Invalid Hex length, expected 64 hex chars, found: 63"},
      {"65", long_text.data(), long_text.size(), "Decode(Length { found: 65 })",
       "Invalid Hex length, expected 64 hex chars, found: 65"},
      {"g", with_g.data(), with_g.size(), "Decode(Hex)", "Invalid hex encoding"},
      {"blank", with_blank.data(), with_blank.size(), "Decode(Hex)", "Invalid hex encoding"},
      {"colon", with_colon.data(), with_colon.size(), "Decode(Hex)", "Invalid hex encoding"},
      {"at", with_at.data(), with_at.size(), "Decode(Hex)", "Invalid hex encoding"},
      {"backtick", with_backtick.data(), with_backtick.size(), "Decode(Hex)", "Invalid hex encoding"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto result = parse_hex32_arg(r.ptr, r.len);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().debug(), r.debug);
    EXPECT_EQ(result.error().display(), r.display);
    if (r.len == 0) continue;  // the optional form accepts the empty text
    auto optional = parse_optional_hex32_arg(r.ptr, r.len);
    ASSERT_FALSE(optional.has_value());
    EXPECT_EQ(optional.error().debug(), r.debug);
  }
}

TEST(Hex32ArgTest, EmptyOptionalTextMeansNone) {
  for (const char* ptr : {static_cast<const char*>(nullptr), "ignored"}) {
    auto none = parse_optional_hex32_arg(ptr, 0);
    ASSERT_TRUE(none.has_value());
    EXPECT_FALSE(none->has_value());
  }
}


// A spawned task that ended without a result reaches the caller as a
// JoinError record around the runtime's error, under the JoinFailed kind.
TEST(JoinErrorTest, RecordAroundTheRuntimeError) {
  const async::TaskJoinError panicked(async::TaskJoinError::Kind::Panic, 3, "boom");
  const JoinError error(panicked);
  EXPECT_EQ(error.display(), panicked.display());
  EXPECT_EQ(error.debug(), "JoinError { inner: JoinError::Panic(Id(3), \"boom\", ..) }");
  EXPECT_EQ(error.source(), nullptr);

  const ExecutorFailure failure(
      ExecutorErrorKind{ExecutorErrorKind::JoinFailed{box_error<JoinError>(JoinError(panicked))}});
  EXPECT_EQ(failure.display(), "Failed joining a task: `task 3 panicked with message \"boom\"`");
  EXPECT_NE(failure.debug().find("inner: JoinFailed(JoinError { inner: JoinError::Panic(Id(3), \"boom\", ..) })"),
            std::string::npos)
      << failure.debug();
}

}  // namespace
}  // namespace velto::executor
