#include "velto-ecdsa/sign.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "crypto/blake3.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-ecdsa/rvole.hpp"
#include "velto-ecdsa/two_party_randomness.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/commit.hpp"
#include "velto-mpc-infra/party_map.hpp"
#include "velto-mpc-infra/transcript.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace asio = boost::asio;

namespace velto::ecdsa {

using crypto::Point;
using crypto::Scalar;

// ---------------------------------------------------------------------------
// Records.

std::expected<PresignPairRecord, sised::SisedError> read_point_scalar_seq_next(sised::Decoder& d) {
  return sised::Codec<PresignPairRecord>::decode(d);
}

std::expected<std::vector<PresignPairRecord>, sised::SisedError> decode_presign_records(crypto::ByteSpan payload) {
  sised::Decoder d(payload);
  return sised::read_seq<PresignPairRecord>(d, kPresignPairRecordHeapSize, read_point_scalar_seq_next);
}

// ---------------------------------------------------------------------------
// Combination.

std::vector<PreSignature> combine_presignature(const PresignCombineInputs& in) {
  if (in.key_pair == nullptr) panic("combine_presignature: no key pair");
  const std::size_t peers = in.opened_nonce_points.size();
  if (in.received_records.size() != peers || in.sender_outputs.size() != peers ||
      in.receiver_outputs.size() != peers) {
    panic("combine_presignature: per-peer lists of different lengths");
  }
  const crypto::ByteArray<32> hash = keyshare_hash(*in.key_pair);
  std::vector<PreSignature> out;
  out.reserve(in.last > in.first ? in.last - in.first : 0);
  for (std::size_t b = in.first; b < in.last; ++b) {
    if (b >= in.own_nonce_points.size() || b >= in.mask_shares.size() || b >= in.nonce_shares.size() ||
        b >= in.key_shares.size()) {
      panic("combine_presignature: index out of range");
    }
    Point r = in.own_nonce_points[b];
    Scalar s = in.mask_shares[b];
    Scalar even;
    Scalar odd;
    for (std::size_t p = 0; p < peers; ++p) {
      if (b >= in.opened_nonce_points[p].size() || b >= in.received_records[p].size() ||
          2 * b + 1 >= in.sender_outputs[p].size() || 2 * b + 1 >= in.receiver_outputs[p].size()) {
        panic("combine_presignature: index out of range");
      }
      r += in.opened_nonce_points[p][b];
      s += in.received_records[p][b].psi;
      even += in.sender_outputs[p][2 * b] + in.receiver_outputs[p][2 * b];
      odd += in.sender_outputs[p][2 * b + 1] + in.receiver_outputs[p][2 * b + 1];
    }
    PreSignature pre;
    pre.nonce_share = in.nonce_shares[b];
    pre.mask_share = in.mask_shares[b];
    pre.nonce_mask_share = in.nonce_shares[b] * s + even;
    pre.key_mask_share = in.key_shares[b] * s + odd;
    pre.public_nonce = r;
    pre.keyshare_hash = hash;
    pre.signers = in.signers;
    out.push_back(std::move(pre));
  }
  return out;
}

BoxedError box_presign_failure(PresignFailure failure) {
  if (auto* init = std::get_if<EcdsaSignerInitError>(&failure)) return box_error<EcdsaSignerInitError>(std::move(*init));
  return box_error<EcdsaPresignError>(std::move(std::get<EcdsaPresignError>(failure)));
}

// ---------------------------------------------------------------------------
// Presigning.

namespace {

using PresignStep = asio::awaitable<std::expected<void, EcdsaPresignError>>;
using PresignResult = std::expected<std::vector<PreSignature>, PresignFailure>;

std::unexpected<PresignFailure> presign_failure(EcdsaPresignError e) {
  return std::unexpected<PresignFailure>(PresignFailure(std::in_place_index<1>, std::move(e)));
}

EcdsaPresignError communication(BoxedError e) { return EcdsaPresignError::CommunicationError{std::move(e)}; }

// Step 5a: the commitment round on the commitment executor.
PresignStep commit_branch(ProtocolExecutor& executor, const std::vector<Point>& nonces,
                          std::optional<PartyMap<Commitment>>& out) {
  auto digests = co_await commit_round(executor, nonces);
  if (!digests) co_return std::unexpected(communication(std::move(digests.error())));
  out.emplace(std::move(*digests));
  co_return std::expected<void, EcdsaPresignError>();
}

// Step 5b, sender role with one peer: the OT phase as Alice.
PresignStep alice_online_branch(PeerExecutor instance, const RoteSenderSetup& setup, std::size_t l,
                                std::optional<RvolePeerRecord>& out) {
  auto record = co_await rvole_sender_online(std::move(instance), setup, l);
  if (!record) co_return std::unexpected(EcdsaPresignError::AliceError{std::move(record.error())});
  out.emplace(std::move(*record));
  co_return std::expected<void, EcdsaPresignError>();
}

// Step 5b, receiver role with one peer: the OT phase as Bob (it only sends).
PresignStep bob_online_branch(PeerExecutor& instance, const RoteReceiverSetup& setup, std::size_t l,
                              std::optional<RvoleReceiverOt>& out) {
  auto ot = rvole_receiver_online(instance, setup, l);
  if (!ot) co_return std::unexpected(EcdsaPresignError::BobError{std::move(ot.error())});
  out.emplace(std::move(*ot));
  co_return std::expected<void, EcdsaPresignError>();
}

// Step 9a: the opening round.
PresignStep decommit_branch(ProtocolExecutor& executor, const std::vector<Point>& nonces,
                            const PartyMap<Commitment>& digests, std::optional<PartyMap<std::vector<Point>>>& out) {
  auto opened = co_await decommit_round(executor, nonces, digests);
  if (!opened) {
    co_return std::unexpected(EcdsaPresignError::DecommitError{box_error<DecommitError>(std::move(opened.error()))});
  }
  out.emplace(std::move(*opened));
  co_return std::expected<void, EcdsaPresignError>();
}

// Step 9b: Bob's VOLE phase with one peer.
PresignStep bob_driver_branch(PeerExecutor& instance, const RvoleReceiverOt& ot, std::size_t l,
                              std::optional<std::vector<Scalar>>& out) {
  auto d = co_await rvole_driver(instance, ot, l);
  if (!d) co_return std::unexpected(EcdsaPresignError::BobError{std::move(d.error())});
  out.emplace(std::move(d->second));
  co_return std::expected<void, EcdsaPresignError>();
}

template <class T>
std::vector<T> unwrap_all(std::vector<std::optional<T>>& slots) {
  std::vector<T> out;
  out.reserve(slots.size());
  for (auto& s : slots) out.push_back(std::move(*s));
  return out;
}

}  // namespace

asio::awaitable<PresignResult> ecdsa_presign(const ProtocolExecutor& session, const KeyPair& key_pair,
                                             std::size_t count) {
  // 1. Signer init.
  std::optional<PresignPairwiseSetup> setup;
  {
    ProtocolExecutor init = session.child(kSignerInitLabel);
    ProtocolExecutor zetas = init.child(kSampleZetasLabel);
    ProtocolExecutor rvoles = init.child(kRvolesInitLabel);
    auto r = co_await presign_pairwise_setup(std::move(zetas), std::move(rvoles));
    if (!r) co_return std::unexpected<PresignFailure>(PresignFailure(std::in_place_index<0>, std::move(r.error())));
    setup.emplace(std::move(*r));
  }

  // 2. The presign executor.
  ProtocolExecutor presign = session.child(kPresignLabel);
  if (count > kMaxPresignatures) co_return presign_failure(EcdsaPresignError::RequestedPresignaturesExceedsAmount{});
  const std::uint16_t signers = presign.number_of_parties();
  const PartyId own = presign.my_party_id();
  const std::size_t q = count;
  const std::size_t l = 2 * q;

  // 3. Nonce and mask shares.
  std::vector<Scalar> k;
  std::vector<Scalar> phi;
  k.reserve(q);
  phi.reserve(q);
  for (std::size_t b = 0; b < q; ++b) k.push_back(Scalar::random(presign.rng()));
  for (std::size_t b = 0; b < q; ++b) phi.push_back(Scalar::random(presign.rng()));
  std::vector<Point> nonces;
  nonces.reserve(q);
  for (const Scalar& kb : k) nonces.push_back(Point::base_mul(kb));

  // 4. Zero-share streams.
  std::vector<ZeroShareEntry> zero_streams =
      obtain_zero_shares(presign.parties(), own, setup->zeta_seeds, presign.tag().bytes());

  // 5. Commitment and the OT phase of every random VOLE, concurrently.
  auto commit_executor = std::make_unique<ProtocolExecutor>(presign.child(kCommitNoncesLabel));
  std::vector<PartyId> peers;
  std::vector<PeerExecutor> bob_executors;
  std::vector<PeerExecutor> alice_executors;
  {
    const ProtocolExecutor multiplication = presign.child(kMultiplicationLabel);
    PeerPairs walk(multiplication);
    for (const RvolePairSetup& pair_setup : setup->rvoles) {
      auto pair = walk.next();
      if (!pair || pair->peer != pair_setup.peer) panic("Expected `filter` ids to be ordered and a subset of map");
      peers.push_back(pair->peer);
      alice_executors.push_back(std::move(pair->first));
      bob_executors.push_back(std::move(pair->second));
    }
    if (walk.next()) panic("no entry found for key");
  }
  const std::size_t n_peers = peers.size();

  std::optional<PartyMap<Commitment>> digests;
  std::vector<std::optional<RvolePeerRecord>> alice_ot(n_peers);
  std::vector<std::optional<RvoleReceiverOt>> bob_ot(n_peers);
  {
    std::vector<PresignStep> branches;
    branches.reserve(1 + 2 * n_peers);
    branches.push_back(commit_branch(*commit_executor, nonces, digests));
    for (std::size_t p = 0; p < n_peers; ++p) {
      branches.push_back(alice_online_branch(std::move(alice_executors[p]), setup->rvoles[p].sender, l, alice_ot[p]));
      branches.push_back(bob_online_branch(bob_executors[p], setup->rvoles[p].receiver, l, bob_ot[p]));
    }
    auto joined = co_await join_until_first_failure<EcdsaPresignError>(std::move(branches));
    if (!joined) co_return presign_failure(std::move(joined.error()));
  }
  alice_executors.clear();

  // 6. Additive key shares and their public shares.
  const Scalar lambda = lagrange_coefficient_at(own, presign.parties(), own);
  const Scalar weighted = lambda * key_pair.secret_share;
  std::vector<Scalar> key_shares;
  std::vector<Point> public_shares;
  key_shares.reserve(q);
  public_shares.reserve(q);
  for (std::size_t b = 0; b < q; ++b) {
    key_shares.push_back(weighted + next_zero_share(zero_streams, own));
    public_shares.push_back(Point::base_mul(key_shares.back()));
  }
  zero_streams.clear();

  // 7. Sender completion: one VOLE message per peer, ascending.
  std::vector<std::vector<Scalar>> sender_outputs;
  {
    std::vector<RvolePeerRecord> records;
    records.reserve(n_peers);
    for (auto& r : alice_ot) records.push_back(std::move(*r));
    alice_ot.clear();
    auto c = collect_rvole_steps(std::move(records), k, key_shares);
    if (!c) co_return presign_failure(communication(std::move(c.error())));
    sender_outputs.reserve(n_peers);
    for (auto& entry : std::move(*c).into_entries()) sender_outputs.push_back(std::move(entry.second));
  }

  // 8. Presign records, to each peer alone.
  for (std::size_t p = 0; p < n_peers; ++p) {
    std::vector<PresignPairRecord> records;
    records.reserve(q);
    for (std::size_t b = 0; b < q; ++b) {
      records.push_back(PresignPairRecord{Point::base_mul(sender_outputs[p][2 * b]),
                                          Point::base_mul(sender_outputs[p][2 * b + 1]), public_shares[b],
                                          phi[b] - bob_ot[p]->b});
    }
    if (auto sent = presign.send_to(peers[p], records); !sent) {
      co_return presign_failure(communication(std::move(sent.error())));
    }
  }

  // 9. Openings and Bob's VOLE phase, concurrently.
  std::optional<PartyMap<std::vector<Point>>> opened;
  std::vector<std::optional<std::vector<Scalar>>> receiver_slots(n_peers);
  {
    std::vector<PresignStep> branches;
    branches.reserve(1 + n_peers);
    branches.push_back(decommit_branch(*commit_executor, nonces, *digests, opened));
    for (std::size_t p = 0; p < n_peers; ++p) {
      branches.push_back(bob_driver_branch(bob_executors[p], *bob_ot[p], l, receiver_slots[p]));
    }
    auto joined = co_await join_until_first_failure<EcdsaPresignError>(std::move(branches));
    if (!joined) co_return presign_failure(std::move(joined.error()));
  }
  commit_executor.reset();
  bob_executors.clear();
  std::vector<std::vector<Scalar>> receiver_outputs = unwrap_all(receiver_slots);

  // 10. Every opening holds Q points.
  for (const auto& [from, points] : *opened) {
    if (points.size() != q) co_return presign_failure(EcdsaPresignError::MaliciousMessage{from});
  }

  // 11. The peers' presign records.
  auto received = co_await collect_map<std::vector<PresignPairRecord>>(presign);
  if (!received) co_return presign_failure(communication(std::move(received.error())));
  for (const auto& [from, records] : *received) {
    if (records.size() != q) co_return presign_failure(EcdsaPresignError::MaliciousMessage{from});
  }

  // 12. Pairwise checks, and the public shares summed per index.
  std::vector<Point> key_sums = public_shares;
  std::vector<std::vector<Point>> opened_lists;
  std::vector<std::vector<PresignPairRecord>> received_lists;
  opened_lists.reserve(n_peers);
  received_lists.reserve(n_peers);
  for (std::size_t p = 0; p < n_peers; ++p) {
    const PartyId j = peers[p];
    const Scalar& chi = bob_ot[p]->b;
    const std::vector<Point>& nonces_j = opened->at(j);
    const std::vector<PresignPairRecord>& records_j = received->at(j);
    for (std::size_t b = 0; b < q; ++b) {
      const PresignPairRecord& rec = records_j[b];
      const bool nonce_ok = Point::base_mul(receiver_outputs[p][2 * b]) == nonces_j[b] * chi - rec.gamma_u;
      const bool key_ok = Point::base_mul(receiver_outputs[p][2 * b + 1]) == rec.public_share * chi - rec.gamma_v;
      if (!nonce_ok || !key_ok) co_return presign_failure(EcdsaPresignError::MaliciousMessage{j});
      key_sums[b] += rec.public_share;
    }
    opened_lists.push_back(nonces_j);
    received_lists.push_back(records_j);
  }

  // 13. Global check.
  for (const Point& sum : key_sums) {
    if (!(sum == key_pair.public_key)) co_return presign_failure(EcdsaPresignError::GlobalCheckFailed{});
  }

  // 14. Combination.
  PresignCombineInputs in;
  in.own_nonce_points = nonces;
  in.opened_nonce_points = opened_lists;
  in.mask_shares = phi;
  in.received_records = received_lists;
  in.sender_outputs = sender_outputs;
  in.receiver_outputs = receiver_outputs;
  in.nonce_shares = k;
  in.key_shares = key_shares;
  in.key_pair = &key_pair;
  in.signers = signers;
  in.first = 0;
  in.last = q;
  co_return combine_presignature(in);
}

// ---------------------------------------------------------------------------
// Signing.

Scalar presign_randomizer(const crypto::ByteArray<32>& message_hash, const Point& public_nonce, const Scalar& tweak) {
  crypto::Blake3 h = crypto::Blake3::derive_key(kPresignRandomizerContext);
  h.update(message_hash);
  h.update(public_nonce.to_compressed());
  crypto::ByteArray<32> t = tweak.to_bytes();
  h.update(t);
  crypto::secure_wipe(t.data(), t.size());
  return Scalar::from_bytes_reduced(h.finalize());
}

std::expected<PartialSignature, EcdsaSignError> make_partial_signature(const PreSignature& presignature,
                                                                       const KeyPair& key_pair,
                                                                       const crypto::ByteArray<32>& message_hash) {
  if (!crypto::ct_equal(keyshare_hash(key_pair), presignature.keyshare_hash)) {
    return std::unexpected(EcdsaSignError::KeyPairDoesNotMatchPreSignature{});
  }
  const Scalar m = Scalar::from_bytes_reduced(message_hash);
  if (m.is_zero()) return std::unexpected(EcdsaSignError::Unknown{});

  // The derivation along the caller's path happened before: no tweak here.
  const Scalar delta = presign_randomizer(message_hash, presignature.public_nonce, Scalar::zero());
  if (key_pair.threshold == 0) panic("Threshold is not zero");
  const Scalar d = delta * Scalar::from_u64(key_pair.threshold).invert_vartime();

  PartialSignature out;
  out.u = presignature.nonce_mask_share + presignature.mask_share * d;
  out.public_nonce = presignature.public_nonce + Point::base_mul(d);
  const Scalar r = out.public_nonce.x_scalar();
  out.w = m * presignature.mask_share + r * presignature.key_mask_share;
  out.public_key = pubkey_to_compressed(key_pair.public_key);
  out.message_hash = message_hash;
  out.required = presignature.signers;
  return out;
}

asio::awaitable<std::expected<RecoverableSignature, EcdsaSignError>> ecdsa_sign_from_presignature(
    const ProtocolExecutor& session, const PreSignature& presignature, const KeyPair& key_pair,
    const crypto::ByteArray<32>& message_hash) {
  ProtocolExecutor sign = session.child(kSignLabel);
  auto own = make_partial_signature(presignature, key_pair, message_hash);
  if (!own) co_return std::unexpected(std::move(own.error()));
  if (auto sent = sign.send_to_all(*own); !sent) {
    co_return std::unexpected(EcdsaSignError::CommunicationError{std::move(sent.error())});
  }
  auto others = co_await collect_in_arrival_order<PartialSignature>(sign);
  if (!others) co_return std::unexpected(EcdsaSignError::CommunicationError{std::move(others.error())});
  std::vector<PartialSignature> all;
  all.reserve(1 + others->size());
  all.push_back(std::move(*own));
  for (auto& received : *others) all.push_back(std::move(received.value));
  co_return combine_partial_signatures(all);
}

crypto::Bytes signature_output_bytes(const RecoverableSignature& signature) {
  const crypto::ByteArray<64> rs = signature_to_bytes(signature.r, signature.s);
  const crypto::Bytes der = signature_to_der(signature.r, signature.s);
  crypto::Bytes out(65 + der.size());
  std::copy(rs.begin(), rs.end(), out.begin());
  out[64] = signature.recovery_id;
  std::copy(der.begin(), der.end(), out.begin() + 65);
  return out;
}

asio::awaitable<std::expected<crypto::Bytes, BoxedError>> ecdsa_sign_handler_latest(
    ProtocolExecutor root, KeyPair key_pair, crypto::ByteArray<32> message_hash) {
  auto session = co_await generate_uc_tag(std::move(root));
  if (!session) co_return std::unexpected(std::move(session.error()));

  auto presignatures = co_await ecdsa_presign(*session, key_pair, 1);
  if (!presignatures) co_return std::unexpected(box_presign_failure(std::move(presignatures.error())));
  if (presignatures->size() != 1) {
    panic("We should have exactly one presignature, instead: " + std::to_string(presignatures->size()));
  }

  auto signature = co_await ecdsa_sign_from_presignature(*session, presignatures->front(), key_pair, message_hash);
  if (!signature) co_return std::unexpected(box_error<EcdsaSignError>(std::move(signature.error())));
  co_return signature_output_bytes(*signature);
}

}  // namespace velto::ecdsa
