#include "velto-ecdsa/error.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velto::ecdsa {
namespace {

// An error of the session engine as it renders itself (the commitment errors
// and the executor channel error are carried boxed by these types).
class EngineError final : public velto::Error {
 public:
  EngineError(std::string display, std::string debug) : display_(std::move(display)), debug_(std::move(debug)) {}
  std::string display() const override { return display_; }
  std::string debug() const override { return debug_; }

 private:
  std::string display_;
  std::string debug_;
};

BoxedError channel_closed() {
  return std::make_shared<EngineError>("The manager channel was closed", "ManagerChannelClosed");
}
BoxedError invalid_commitment() {
  return std::make_shared<EngineError>("Received an invalid commitment", "InvalidCommitment");
}
BoxedError invalid_proof() { return std::make_shared<EngineError>("Received an invalid proof", "InvalidProof"); }

const ot::BaseOtError kBadSize = ot::BaseOtError::InvalidMessageSizeError{};

constexpr const char* kCompromised =
    "Refresh is not of same secret, an outcome of a potentially compromised device in the group";
constexpr const char* kIncompatible =
    "Incompatible secret shares, provided secret shares are not of the same public key, all provided secret shares "
    "must be from the same keygen operation (be shares of the same public key).";
// 2 followed by 32 zero bytes, in list form.
constexpr const char* kTwoThenZeros =
    "[2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]";
// The compressed secp256k1 generator, in list form.
constexpr const char* kGeneratorList =
    "[2, 121, 190, 102, 126, 249, 220, 187, 172, 85, 160, 98, 149, 206, 135, 11, 7, 2, 155, 252, 219, 45, 206, 40, "
    "217, 89, 242, 129, 91, 22, 248, 23, 152]";

crypto::ByteArray<33> two_then_zeros() {
  crypto::ByteArray<33> k{};
  k[0] = 2;
  return k;
}

crypto::ByteArray<33> generator_compressed() {
  return {0x02, 0x79, 0xBE, 0x66, 0x7E, 0xF9, 0xDC, 0xBB, 0xAC, 0x55, 0xA0, 0x62, 0x95, 0xCE, 0x87, 0x0B, 0x07,
          0x02, 0x9B, 0xFC, 0xDB, 0x2D, 0xCE, 0x28, 0xD9, 0x59, 0xF2, 0x81, 0x5B, 0x16, 0xF8, 0x17, 0x98};
}

struct TextCase {
  std::string name;
  BoxedError error;
  std::string display;
  std::string debug;
};

template <class E, class V>
BoxedError boxed(V v) {
  return box_error<E>(E(std::move(v)));
}

std::vector<TextCase> keygen_refresh_extract_cases() {
  const EcdsaKeygenLibError lagrange = EcdsaKeygenLibError::InvalidLagrangeSum{};
  return {
      {"keygen_zkpok", boxed<EcdsaKeygenLibError>(EcdsaKeygenLibError::InvalidCommittedZKPoK{invalid_proof()}),
       "Invalid Committed ZkPoK: `Received an invalid proof`", "InvalidCommittedZKPoK(InvalidProof)"},
      {"keygen_comm", boxed<EcdsaKeygenLibError>(EcdsaKeygenLibError::CommunicationError{channel_closed()}),
       "Communication Error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},
      {"keygen_lagrange", boxed<EcdsaKeygenLibError>(EcdsaKeygenLibError::InvalidLagrangeSum{}),
       "One of the lagrange sums is not equal to the rest", "InvalidLagrangeSum"},
      // Capital "I" in "Is"; the numbers only in the debug form.
      {"keygen_threshold", boxed<EcdsaKeygenLibError>(EcdsaKeygenLibError::InvalidThreshold{3, 2}),
       "The threshold Is bigger than the number of parties",
       "InvalidThreshold { threshold: NumberOfParties(3), num_parties: NumberOfParties(2) }"},

      {"refresh_comm", boxed<EcdsaRefreshLibError>(EcdsaRefreshLibError::CommunicationError{channel_closed()}),
       "Communication Error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},
      {"refresh_not_same", boxed<EcdsaRefreshLibError>(EcdsaRefreshLibError::RefreshIsNotOfSameSecret{}),
       kCompromised, "RefreshIsNotOfSameSecret"},
      {"refresh_malformed", boxed<EcdsaRefreshLibError>(EcdsaRefreshLibError::MalformedPublicKey{two_then_zeros()}),
       std::string("Malformed Public Key `") + kTwoThenZeros + "`",
       std::string("MalformedPublicKey(") + kTwoThenZeros + ")"},
      // A keygen failure inside a refresh shows the keygen text alone.
      {"refresh_keygen", boxed<EcdsaRefreshLibError>(EcdsaRefreshLibError::Keygen{lagrange}),
       "One of the lagrange sums is not equal to the rest", "Keygen(InvalidLagrangeSum)"},

      {"extract_comm", boxed<EcdsaExtractLibError>(EcdsaExtractLibError::CommunicationError{channel_closed()}),
       "Communication Error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},
      {"extract_participants", boxed<EcdsaExtractLibError>(EcdsaExtractLibError::InvalidNumberOfParticipants{3, 2}),
       "Expected 3 participants, but received 2",
       "InvalidNumberOfParticipants { expected: NumberOfParties(3), found: NumberOfParties(2) }"},
      {"extract_private_key", boxed<EcdsaExtractLibError>(EcdsaExtractLibError::ReceivedInvalidPrivateKey{}),
       "The private key is invalid", "ReceivedInvalidPrivateKey"},
      {"extract_vss_point", boxed<EcdsaExtractLibError>(EcdsaExtractLibError::InvalidVSSPublicPoint{}),
       "VSS Received invalid public point", "InvalidVSSPublicPoint"},
      {"extract_vss", boxed<EcdsaExtractLibError>(EcdsaExtractLibError::VssError{
                          EcdsaRefreshLibError(EcdsaRefreshLibError::RefreshIsNotOfSameSecret{})}),
       kCompromised, "VssError(RefreshIsNotOfSameSecret)"},
      {"extract_amount",
       boxed<EcdsaExtractLibError>(EcdsaExtractLibError::InvalidAmountOfSecretSharesForRecovery{3, 2}),
       "Invalid amount of secret shares for recovery, must provide at least 3 secret shares, found: 2",
       "InvalidAmountOfSecretSharesForRecovery { threshold: 3, found: 2 }"},
      // The offline export given no share at all.
      {"extract_amount_none",
       boxed<EcdsaExtractLibError>(EcdsaExtractLibError::InvalidAmountOfSecretSharesForRecovery{1, 0}),
       "Invalid amount of secret shares for recovery, must provide at least 1 secret shares, found: 0",
       "InvalidAmountOfSecretSharesForRecovery { threshold: 1, found: 0 }"},
      {"extract_incompatible", boxed<EcdsaExtractLibError>(EcdsaExtractLibError::IncompatibleSecretShares{}),
       kIncompatible, "IncompatibleSecretShares"},
  };
}

std::vector<TextCase> signing_cases() {
  using PSE = PartialSignatureError::Kind;
  return {
      {"signer_init_rvole", boxed<EcdsaSignerInitError>(EcdsaSignerInitError::InitRvoleError{kBadSize}),
       "Received message of invalid size", "InitRvoleError(InvalidMessageSizeError)"},
      {"signer_init_zeta", boxed<EcdsaSignerInitError>(EcdsaSignerInitError::InvalidZetaCommitment{}),
       "Failed to generate zeta shares, Received malicious data from the other party", "InvalidZetaCommitment"},
      // No back-ticks.
      {"signer_init_receive", boxed<EcdsaSignerInitError>(EcdsaSignerInitError::ReceiveFailed{channel_closed()}),
       "Failed to receive a message: The manager channel was closed", "ReceiveFailed(ManagerChannelClosed)"},

      {"presign_alice", boxed<EcdsaPresignError>(EcdsaPresignError::AliceError{ote::OteError::InvalidPprfHash{}}),
       "The received PPRF hashes are not consistent with the computed ones", "AliceError(InvalidPprfHash)"},
      {"presign_bob", boxed<EcdsaPresignError>(EcdsaPresignError::BobError{ote::CoteError::CheckFailed{}}),
       "Check failed", "BobError(CheckFailed)"},
      // No prefix, unlike EcdsaSignError below.
      {"presign_comm", boxed<EcdsaPresignError>(EcdsaPresignError::CommunicationError{channel_closed()}),
       "The manager channel was closed", "CommunicationError(ManagerChannelClosed)"},
      {"presign_decommit", boxed<EcdsaPresignError>(EcdsaPresignError::DecommitError{invalid_commitment()}),
       "Received an invalid commitment", "DecommitError(InvalidCommitment)"},
      {"presign_malicious",
       boxed<EcdsaPresignError>(EcdsaPresignError::MaliciousMessage{velto::PartyId::unchecked(2)}),
       "Malicious message from 2", "MaliciousMessage { sender: PartyId(2) }"},
      {"presign_global", boxed<EcdsaPresignError>(EcdsaPresignError::GlobalCheckFailed{}), "Global check failed",
       "GlobalCheckFailed"},
      {"presign_exceeds", boxed<EcdsaPresignError>(EcdsaPresignError::RequestedPresignaturesExceedsAmount{}),
       "Requested pre-signatures exceeds the supported amount", "RequestedPresignaturesExceedsAmount"},

      {"sign_comm", boxed<EcdsaSignError>(EcdsaSignError::CommunicationError{channel_closed()}),
       "Communication error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},
      {"sign_unknown", boxed<EcdsaSignError>(EcdsaSignError::Unknown{}), "Unknown error in signing", "Unknown"},
      {"sign_zero_hash", boxed<EcdsaSignError>(EcdsaSignError::ZeroMessageHash{}), "The message hash cannot be zero",
       "ZeroMessageHash"},
      {"sign_zero_phik", boxed<EcdsaSignError>(EcdsaSignError::ZeroPhiK{}), "Phi time K resulted in zero",
       "ZeroPhiK"},
      {"sign_keypair", boxed<EcdsaSignError>(EcdsaSignError::KeyPairDoesNotMatchPreSignature{}),
       "The provided KeyPair does not match the one used to create the pre-signature",
       "KeyPairDoesNotMatchPreSignature"},
      {"sign_path", boxed<EcdsaSignError>(EcdsaSignError::InvalidDerivationPath{}),
       "The provided derivation path is invalid", "InvalidDerivationPath"},
      {"sign_partial_incorrect",
       boxed<EcdsaSignError>(EcdsaSignError::PartialSignatureError{PSE::IncorrectResultingSignature}),
       "Error signing from partial signatures: `The resulting signature is incorrect - please report this error.`",
       "PartialSignatureError(IncorrectResultingSignature)"},
      {"sign_partial_pubkey", boxed<EcdsaSignError>(EcdsaSignError::PartialSignatureError{PSE::PublicKeyMismatch}),
       "Error signing from partial signatures: `Public key mismatch`", "PartialSignatureError(PublicKeyMismatch)"},

      {"partial_insufficient", boxed<PartialSignatureError>(PSE::InsufficientPartialSignatures),
       "Insufficient partial signatures provided", "InsufficientPartialSignatures"},
      {"partial_hash", boxed<PartialSignatureError>(PSE::MessageHashMismatch), "Message hash mismatch",
       "MessageHashMismatch"},
      {"partial_nonce", boxed<PartialSignatureError>(PSE::PublicNonceMismatch), "Public nonce mismatch",
       "PublicNonceMismatch"},
      {"partial_required", boxed<PartialSignatureError>(PSE::PartialSignaturesRequiredMismatch),
       "Partial signatures required mismatch", "PartialSignaturesRequiredMismatch"},
  };
}

std::vector<TextCase> older_version_cases() {
  const ot::OtError too_large = ot::OtError::InputTooLarge{};
  return {
      {"signer_init_v4", box_error<SignerInitError>(kBadSize), "Received message of invalid size",
       "SignerInitError(InvalidMessageSizeError)"},

      {"presign_init_signers", boxed<EcdsaPresignInitError>(EcdsaPresignInitError::IncorrectNumberOfSigners{}),
       "Incorrect number of signers", "IncorrectNumberOfSigners"},
      {"presign_init_comm", boxed<EcdsaPresignInitError>(EcdsaPresignInitError::CommunicationError{channel_closed()}),
       "Communication error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},
      {"presign_init_sample",
       boxed<EcdsaPresignInitError>(EcdsaPresignInitError::SampleError{MulError(MulError::InvalidPad{})}),
       "Sample error: `Received an invalid pad`", "SampleError(InvalidPad)"},
      // Only the inner text here, but "Decommit failed: `...`" inside MulError.
      {"presign_init_decommit",
       boxed<EcdsaPresignInitError>(EcdsaPresignInitError::DecommitError{invalid_commitment()}),
       "Received an invalid commitment", "DecommitError(InvalidCommitment)"},
      {"presign_init_adjust", boxed<EcdsaPresignInitError>(EcdsaPresignInitError::InputAndAdjust{too_large}),
       "Input and adjust error: `Input is too large`", "InputAndAdjust(InputTooLarge)"},
      {"presign_init_unknown", boxed<EcdsaPresignInitError>(EcdsaPresignInitError::Unknown{}),
       "Unknown error in presigning", "Unknown"},

      {"mul_ot", boxed<MulError>(MulError::OTError{kBadSize}), "OT Error: `Received message of invalid size`",
       "OTError(InvalidMessageSizeError)"},
      {"mul_decommit", boxed<MulError>(MulError::DecommitError{invalid_commitment()}),
       "Decommit failed: `Received an invalid commitment`", "DecommitError(InvalidCommitment)"},
      {"mul_alice", boxed<MulError>(MulError::AlicePreprocessError{ote::OteError::InvalidChallengeResponse{}}),
       "Alice preprocess error: `The received consistency check response is not consistent with the computed one`",
       "AlicePreprocessError(InvalidChallengeResponse)"},
      {"mul_bob", boxed<MulError>(MulError::BobPreprocessError{ote::RoteError::InvalidValue{}}),
       "Bob preprocess error: `Received invalid value from alice`", "BobPreprocessError(InvalidValue)"},
      {"mul_pad", boxed<MulError>(MulError::InvalidPad{}), "Received an invalid pad", "InvalidPad"},
      {"mul_adjust", boxed<MulError>(MulError::InputAndAdjust{too_large}),
       "Input and adjust error: `Input is too large`", "InputAndAdjust(InputTooLarge)"},
      {"mul_comm", boxed<MulError>(MulError::CommunicationError{channel_closed()}),
       "Communication Error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},

      {"sign_v4_comm", boxed<EcdsaSignErrorV4>(EcdsaSignErrorV4::CommunicationError{channel_closed()}),
       "Communication error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},
      {"sign_v4_unknown", boxed<EcdsaSignErrorV4>(EcdsaSignErrorV4::Unknown{}), "Unknown error in signing",
       "Unknown"},
      {"sign_v4_zero", boxed<EcdsaSignErrorV4>(EcdsaSignErrorV4::ZeroMessageHash{}),
       "The message hash cannot be zero", "ZeroMessageHash"},
  };
}

std::vector<TextCase> extended_key_and_bip340_cases() {
  using XK = XprivError::KeyText;
  const EcdsaKeygenLibError lagrange = EcdsaKeygenLibError::InvalidLagrangeSum{};
  crypto::ByteArray<32> x_only{};
  x_only[31] = 7;
  return {
      {"xpriv_length", box_error<XprivError>(XprivError::InvalidLength{77}),
       "Invalid decoded xpriv length, expected 78 bytes, got 77", "InvalidLength { len: 77 }"},
      // The spriv text keeps the word "xpriv".
      {"spriv_length", box_error<XprivError>(XprivError::InvalidLength{77}, XK::Spriv),
       "Invalid decoded xpriv length, expected 78 bytes, got 77", "InvalidLength { len: 77 }"},
      {"xpriv_base58", box_error<XprivError>(XprivError::InvalidBase58{crypto::Base58Error::no_checksum()}),
       "Invalid base58 encoding: base58ck data not long enough to contain checksum", "InvalidBase58(NoChecksum)"},
      // An xpub text given where an xprv text is expected; versions in hex.
      {"xpriv_version", box_error<XprivError>(XprivError::UnknownVersion{0x0488B21E}),
       "Invalid version: 488B21E, expected: 488ADE4", "UnknownVersion(76067358)"},
      // The same input given as spriv: both numbers in decimal.
      {"spriv_version", box_error<XprivError>(XprivError::UnknownVersion{0x0488B21E}, XK::Spriv),
       "Invalid version: 76067358, expected: 69253376", "UnknownVersion(76067358)"},
      {"xpriv_private_key", box_error<XprivError>(XprivError::InvalidPrivateKey{}),
       "The encoded private key is invalid", "InvalidPrivateKey"},

      {"xpub_base58", boxed<XpubError>(XpubError::InvalidBase58{crypto::Base58Error::no_checksum()}),
       "Invalid Xpub base58 encoding: base58ck data not long enough to contain checksum",
       "InvalidBase58(NoChecksum)"},
      {"xpub_version", boxed<XpubError>(XpubError::InvalidVersion{0x0488ADE4}),
       "Invalid Xpub version, expected: 488B21E, found: 488ADE4", "InvalidVersion(76066276)"},
      {"xpub_length", boxed<XpubError>(XpubError::InvalidLength{77}), "Invalid Xpub length, expected: 78, found: 77",
       "InvalidLength(77)"},
      {"xpub_key", boxed<XpubError>(XpubError::InvalidPublicKey{generator_compressed()}),
       std::string("Invalid public key: ") + kGeneratorList,
       std::string("InvalidPublicKey(") + kGeneratorList + ")"},

      {"bip340_keygen", box_error<KeygenError>(lagrange), "One of the lagrange sums is not equal to the rest",
       "KeygenError(InvalidLagrangeSum)"},
      {"bip340_refresh_keygen", boxed<Bip340RefreshError>(Bip340RefreshError::Keygen{KeygenError(lagrange)}),
       "One of the lagrange sums is not equal to the rest", "Keygen(KeygenError(InvalidLagrangeSum))"},
      {"bip340_refresh_key", boxed<Bip340RefreshError>(Bip340RefreshError::MalformedPublicKey{x_only}),
       "Malformed Public Key `[0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "
       "0, 0, 7]`",
       "MalformedPublicKey([0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "
       "0, 7])"},
      {"bip340_refresh_comm", boxed<Bip340RefreshError>(Bip340RefreshError::CommunicationError{channel_closed()}),
       "Communication Error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},
      {"bip340_refresh_not_same", boxed<Bip340RefreshError>(Bip340RefreshError::RefreshIsNotOfSameSecret{}),
       kCompromised, "RefreshIsNotOfSameSecret"},
      {"bip340_extract",
       box_error<ExtractError>(EcdsaExtractLibError(EcdsaExtractLibError::IncompatibleSecretShares{})), kIncompatible,
       "ExtractError(IncompatibleSecretShares)"},
      {"bip340_xpriv", box_error<ExtendedKeyPairFromXPrivError>(XprivError(XprivError::InvalidPrivateKey{})),
       "The encoded private key is invalid", "ExtendedKeyPairFromXPrivError(InvalidPrivateKey)"},
  };
}

void check_texts(const std::vector<TextCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.error->display(), c.display);
    EXPECT_EQ(c.error->debug(), c.debug);
  }
}

TEST(EcdsaErrorTest, KeygenRefreshAndExtractTexts) { check_texts(keygen_refresh_extract_cases()); }
TEST(EcdsaErrorTest, SigningTexts) { check_texts(signing_cases()); }
TEST(EcdsaErrorTest, OlderVersionSigningTexts) { check_texts(older_version_cases()); }
TEST(EcdsaErrorTest, ExtendedKeyAndBip340Texts) { check_texts(extended_key_and_bip340_cases()); }

// Where a variant carries an error, source hands out that error; a transparent
// variant hands out the carried error's own source instead.
TEST(EcdsaErrorTest, SourceChains) {
  const BoxedError proof = invalid_proof();
  const BoxedError closed = channel_closed();
  const BoxedError commitment = invalid_commitment();

  // The transparent Keygen layer adds no link: the chain starts at the
  // committed-proof error.
  const EcdsaRefreshLibError refresh =
      EcdsaRefreshLibError::Keygen{EcdsaKeygenLibError(EcdsaKeygenLibError::InvalidCommittedZKPoK{proof})};
  EXPECT_EQ(refresh.source(), proof.get());
  const Bip340RefreshError bip340 = Bip340RefreshError::Keygen{
      KeygenError(EcdsaKeygenLibError(EcdsaKeygenLibError::InvalidCommittedZKPoK{proof}))};
  EXPECT_EQ(bip340.source(), proof.get());
  const EcdsaExtractLibError extract = EcdsaExtractLibError::VssError{refresh};
  EXPECT_EQ(extract.source(), proof.get());

  // Transparent over a boxed error: the box's own source (none here).
  EXPECT_EQ(EcdsaPresignError(EcdsaPresignError::CommunicationError{closed}).source(), nullptr);
  EXPECT_EQ(EcdsaPresignError(EcdsaPresignError::DecommitError{commitment}).source(), nullptr);
  // Prefixed variants over a boxed error: the box itself.
  EXPECT_EQ(EcdsaSignError(EcdsaSignError::CommunicationError{closed}).source(), closed.get());
  EXPECT_EQ(EcdsaSignerInitError(EcdsaSignerInitError::ReceiveFailed{closed}).source(), closed.get());
  EXPECT_EQ(EcdsaPresignInitError(EcdsaPresignInitError::DecommitError{commitment}).source(), commitment.get());
  EXPECT_EQ(MulError(MulError::DecommitError{commitment}).source(), commitment.get());

  // Transparent over an OT error: that error's source.
  const EcdsaPresignError bob = EcdsaPresignError::BobError{ote::CoteError::CommError{closed}};
  EXPECT_EQ(bob.source(), closed.get());
  const EcdsaSignerInitError rvole = EcdsaSignerInitError::InitRvoleError{ot::BaseOtError::CommunicationError{closed}};
  EXPECT_EQ(rvole.source(), closed.get());
  EXPECT_EQ(SignerInitError(kBadSize).source(), nullptr);

  // Prefixed variants over a catalogue error: that error.
  const MulError mul = MulError::OTError{kBadSize};
  ASSERT_NE(mul.source(), nullptr);
  EXPECT_EQ(mul.source()->debug(), "InvalidMessageSizeError");
  const EcdsaSignError partial =
      EcdsaSignError::PartialSignatureError{PartialSignatureError::Kind::PublicKeyMismatch};
  ASSERT_NE(partial.source(), nullptr);
  EXPECT_EQ(partial.source()->debug(), "PublicKeyMismatch");
  const XpubError xpub = XpubError::InvalidBase58{crypto::Base58Error::no_checksum()};
  ASSERT_NE(xpub.source(), nullptr);
  EXPECT_EQ(xpub.source()->debug(), "NoChecksum");

  EXPECT_EQ(EcdsaKeygenLibError(EcdsaKeygenLibError::InvalidThreshold{3, 2}).source(), nullptr);
  EXPECT_EQ(EcdsaSignError(EcdsaSignError::Unknown{}).source(), nullptr);
  EXPECT_EQ(XprivError(XprivError::UnknownVersion{1}).source(), nullptr);
}

TEST(EcdsaErrorTest, EmptyBoxIsRefusedAtConstruction) {
  EXPECT_THROW(EcdsaKeygenLibError(EcdsaKeygenLibError::CommunicationError{nullptr}), velto::Panic);
  EXPECT_THROW(EcdsaPresignError(EcdsaPresignError::DecommitError{nullptr}), velto::Panic);
  EXPECT_THROW(EcdsaSignError(EcdsaSignError::CommunicationError{nullptr}), velto::Panic);
  EXPECT_THROW(MulError(MulError::CommunicationError{nullptr}), velto::Panic);
}

}  // namespace
}  // namespace velto::ecdsa
