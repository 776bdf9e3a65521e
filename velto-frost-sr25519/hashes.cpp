#include "velto-frost-sr25519/hashes.hpp"

#include <array>
#include <atomic>

#include "crypto/merlin.hpp"
#include "crypto/secret.hpp"
#include "velto-frost-ed25519/hashes.hpp"

namespace velto::frost {

namespace {

constexpr std::size_t kTagCount = 6;

// One process-wide slot per tag; it goes from empty to its state once and
// the state then lives as long as the process.
std::array<std::atomic<const crypto::Sha512*>, kTagCount> g_prepared{};

}  // namespace

std::string_view sr25519_hash_tag(Sr25519HashTag tag) noexcept {
  switch (tag) {
    case Sr25519HashTag::Coeff:
      return "coeff";
    case Sr25519HashTag::Nonce:
      return "nonce";
    case Sr25519HashTag::Podl:
      return "PoDL";
    case Sr25519HashTag::Rho:
      return "rho";
    case Sr25519HashTag::Msg:
      return "msg";
    case Sr25519HashTag::Com:
      return "com";
  }
  return {};
}

const crypto::Sha512& sr25519_prepared_state(Sr25519HashTag tag) {
  return frost_prepared_sha512(g_prepared[static_cast<std::size_t>(tag)], kSr25519CiphersuitePrefix,
                               sr25519_hash_tag(tag));
}

crypto::EdScalar sr25519_id_scalar(PartyId id) noexcept { return frost_id_scalar(id); }
crypto::ByteArray<32> sr25519_id_bytes(PartyId id) noexcept { return frost_id_bytes(id); }

crypto::EdScalar sr25519_hash_coeff(const crypto::ByteArray<32>& context, crypto::ByteSpan random,
                                    const crypto::EdScalar& a0) {
  crypto::Sha512 h = sr25519_prepared_state(Sr25519HashTag::Coeff);
  h.update(context).update(random).update(a0.as_span());
  return frost_hash_to_scalar(h);
}

crypto::EdScalar sr25519_hash_nonce(std::initializer_list<crypto::ByteSpan> parts) {
  crypto::Sha512 h = sr25519_prepared_state(Sr25519HashTag::Nonce);
  for (const crypto::ByteSpan part : parts) h.update(part);
  return frost_hash_to_scalar(h);
}

crypto::EdScalar sr25519_hash_podl(PartyId id, const crypto::ByteArray<32>& context,
                                   const crypto::RistrettoPoint& constant_commitment,
                                   const crypto::RistrettoPoint& proof_point) {
  crypto::Sha512 h = sr25519_prepared_state(Sr25519HashTag::Podl);
  h.update(sr25519_id_bytes(id)).update(context).update(constant_commitment.to_bytes()).update(proof_point.to_bytes());
  return frost_hash_to_scalar(h);
}

crypto::ByteArray<64> sr25519_hash_msg(crypto::ByteSpan message) {
  crypto::Sha512 h = sr25519_prepared_state(Sr25519HashTag::Msg);
  h.update(message);
  return h.finalize();
}

crypto::ByteArray<64> sr25519_hash_com(std::span<const Sr25519SigningCommitment> list) {
  crypto::Sha512 h = sr25519_prepared_state(Sr25519HashTag::Com);
  for (const Sr25519SigningCommitment& entry : list) {
    h.update(sr25519_id_bytes(entry.id)).update(entry.hiding.to_bytes()).update(entry.binding.to_bytes());
  }
  return h.finalize();
}

Sr25519BindingFactorHasher::Sr25519BindingFactorHasher(const crypto::RistrettoPoint& group_key,
                                                       const crypto::ByteArray<64>& msg_digest,
                                                       const crypto::ByteArray<64>& com_digest)
    : state_(sr25519_prepared_state(Sr25519HashTag::Rho)) {
  state_.update(group_key.to_bytes()).update(msg_digest).update(com_digest);
}

crypto::EdScalar Sr25519BindingFactorHasher::factor(PartyId id) const noexcept {
  crypto::Sha512 h = state_;
  h.update(sr25519_id_bytes(id));
  return frost_hash_to_scalar(h);
}

crypto::EdScalar sr25519_signing_challenge(const crypto::RistrettoPoint& group_key, const crypto::RistrettoPoint& r,
                                           crypto::ByteSpan message) {
  crypto::MerlinTranscript t("SigningContext");
  t.append_message(crypto::ByteSpan{}, crypto::as_bytes(kSr25519SigningContext));
  t.append_message("sign-bytes", message);
  t.append_message("proto-name", crypto::as_bytes("Schnorr-sig"));
  t.append_message("sign:pk", group_key.to_bytes());
  t.append_message("sign:R", r.to_bytes());
  crypto::SecretArray<64> c;
  t.challenge_bytes("sign:c", c.mut_span());
  return crypto::EdScalar::from_bytes_wide(c.array());
}

}  // namespace velto::frost
