#include "velto-ecdsa-legacy/sign/two_party_mul.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>

#include "crypto/blake3.hpp"
#include "crypto/error.hpp"
#include "sised/sised.hpp"
#include "velto-ecdsa-legacy/sign/peer_receive.hpp"
#include "velto-mpc-infra/transcript.hpp"
#include "velto-ote/cote.hpp"
#include "velto-ote/ote_protocol.hpp"
#include "velto-ote/prg.hpp"

namespace velto::ecdsa::legacy {
namespace {

namespace asio = boost::asio;
using crypto::Scalar;

GadgetVector* build_gadget_vector() {
  auto g = std::make_unique<GadgetVector>();
  for (std::size_t i = 0; i < 256; ++i) {
    crypto::ByteArray<32> bytes{};
    bytes[i / 8] = static_cast<std::uint8_t>(1u << (i % 8));
    (*g)[i] = Scalar::from_bytes_reduced(bytes);
  }
  crypto::Blake3Reader reader = crypto::Blake3::derive_key(kGadgetSeedContext).finalize_xof();
  for (std::size_t i = 256; i < kMulBlock; ++i) {
    crypto::ByteArray<32> bytes;
    reader.fill(bytes);
    (*g)[i] = Scalar::from_bytes_reduced(bytes);
  }
  return g.release();
}

std::atomic<GadgetVector*> g_gadget{nullptr};

// split(cote_prg(K)): both halves read big-endian and reduced once.
std::pair<Scalar, Scalar> split_key(const crypto::ByteArray<16>& key) {
  const crypto::SecretArray<64> out = ote::cote_prg(key);
  crypto::ByteArray<32> half;
  std::memcpy(half.data(), out.data(), 32);
  const Scalar a = Scalar::from_bytes_reduced(half);
  std::memcpy(half.data(), out.data() + 32, 32);
  const Scalar b = Scalar::from_bytes_reduced(half);
  crypto::secure_wipe(half.data(), half.size());
  return {a, b};
}

std::pair<Scalar, Scalar> split_digest(const ote::OtDigests& digests, std::size_t k) {
  crypto::ByteArray<16> key = digests.get(k);
  auto out = split_key(key);
  crypto::secure_wipe(key.data(), key.size());
  return out;
}

ote::RoteError failed_extending(BoxedError e) {
  return ote::RoteError::FailedExtending{ot::BaseOtError::CommunicationError{std::move(e)}};
}

ote::RoteError failed_extending_size() {
  return ote::RoteError::FailedExtending{ot::BaseOtError::InvalidMessageSizeError{}};
}

// The step common to both roles: take N pads and 416·N shares, exchange
// the masked inputs, and hand the pieces to `output`.
template <class Record, class Output>
asio::awaitable<std::expected<std::vector<Scalar>, ot::OtError>> adjust_step(
    Record& mul, std::span<const Scalar> inputs, Output output) {
  const std::size_t n = inputs.size();
  if (n > mul.pads.size() || kMulBlock * n > mul.shares.size()) co_return std::unexpected(ot::OtError::InputTooLarge{});
  std::vector<Scalar> pads(mul.pads.begin(), mul.pads.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<Scalar> shares(mul.shares.begin(), mul.shares.begin() + static_cast<std::ptrdiff_t>(kMulBlock * n));
  mul.pads.erase(mul.pads.begin(), mul.pads.begin() + static_cast<std::ptrdiff_t>(n));
  mul.shares.erase(mul.shares.begin(), mul.shares.begin() + static_cast<std::ptrdiff_t>(kMulBlock * n));

  const MaskedInputs masked = scalar_vec_sub(inputs, pads);
  if (auto sent = mul.executor.send(masked); !sent) {
    co_return std::unexpected(ot::OtError::CommunicationError{std::move(sent.error())});
  }
  auto received = co_await receive_from_peer<MaskedInputs>(mul.executor);
  if (!received) co_return std::unexpected(ot::OtError::CommunicationError{std::move(received.error())});
  if (received->size() != n) co_return std::unexpected(ot::OtError::ReceivedInvalidValueFromOtherParty{});
  co_return output(inputs, pads, *received, shares);
}

}  // namespace

const GadgetVector& gadget_vector() {
  GadgetVector* current = g_gadget.load(std::memory_order_acquire);
  if (current != nullptr) return *current;
  GadgetVector* built = build_gadget_vector();
  if (g_gadget.compare_exchange_strong(current, built, std::memory_order_acq_rel, std::memory_order_acquire)) {
    return *built;
  }
  delete built;
  return *current;
}

std::vector<Scalar> two_party_multiplier_ro(std::uint8_t index, const crypto::ByteArray<32>& seed, std::size_t count) {
  crypto::Blake3 h = crypto::Blake3::derive_key(kMultiplierRoContext);
  const std::uint8_t idx[1] = {index};
  h.update(crypto::ByteSpan(idx, 1)).update(seed);
  crypto::Blake3Reader reader = h.finalize_xof();
  std::vector<Scalar> out;
  out.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    crypto::ByteArray<64> wide;
    reader.fill(wide);
    out.push_back(Scalar::from_bytes_wide(wide));
  }
  return out;
}

AliceCorrelation alice_correlation(const ote::OtDigests& keys0, const ote::OtDigests& keys1,
                                   std::span<const Scalar> pads, std::span<const Scalar> checks) {
  const std::size_t ell = kMulBlock * pads.size();
  if (checks.size() != pads.size() || keys0.size() < ell || keys1.size() < ell) {
    velto::panic("assertion failed: one check value and 416 key pairs per pad");
  }
  AliceCorrelation out;
  out.shares.reserve(ell);
  out.check_shares.reserve(ell);
  out.message.reserve(ell);
  for (std::size_t k = 0; k < ell; ++k) {
    const std::size_t i = k / kMulBlock;
    const auto [a0, b0] = split_digest(keys0, k);
    const auto [a1, b1] = split_digest(keys1, k);
    out.shares.push_back(a0);
    out.check_shares.push_back(b0);
    out.message.emplace_back(pads[i] - a0 - a1, checks[i] - b0 - b1);
  }
  return out;
}

MulCheck alice_mul_check(const crypto::ByteArray<32>& sigma, const AliceCorrelation& correlation,
                         std::span<const Scalar> pads, std::span<const Scalar> checks) {
  const std::size_t c = pads.size();
  const std::vector<Scalar> chi = two_party_multiplier_ro(1, sigma, c);
  const std::vector<Scalar> chi2 = two_party_multiplier_ro(2, sigma, c);
  MulCheck out;
  for (std::size_t j = 0; j < kMulBlock; ++j) {
    Scalar r;
    for (std::size_t i = 0; i < c; ++i) {
      r += chi[i] * correlation.shares[kMulBlock * i + j] + chi2[i] * correlation.check_shares[kMulBlock * i + j];
    }
    out.first[j] = r;
  }
  out.second.reserve(c);
  for (std::size_t i = 0; i < c; ++i) out.second.push_back(chi[i] * pads[i] + chi2[i] * checks[i]);
  return out;
}

std::expected<BobCorrelation, ote::RoteError> bob_correlation(const ote::OtDigests& keys,
                                                              const ote::ChoiceBits& choices,
                                                              const CoteCorrection& message) {
  const std::size_t ell = keys.size();
  if (message.size() != ell || choices.size() != ell) return std::unexpected(failed_extending_size());
  BobCorrelation out;
  out.shares.reserve(ell);
  out.check_shares.reserve(ell);
  for (std::size_t k = 0; k < ell; ++k) {
    const auto [a, b] = split_digest(keys, k);
    const bool chosen = (choices.data()[k] & 1u) != 0;
    out.shares.push_back(Scalar::select(-a, message[k].first + a, chosen));
    out.check_shares.push_back(Scalar::select(-b, message[k].second + b, chosen));
  }
  return out;
}

std::expected<void, ote::RoteError> bob_mul_check(const crypto::ByteArray<32>& sigma, const MulCheck& check,
                                                  const ote::ChoiceBits& choices, const BobCorrelation& correlation,
                                                  std::size_t c) {
  if (check.second.size() != c) return std::unexpected(ote::RoteError::InvalidValue{});
  if (correlation.shares.size() < kMulBlock * c || choices.size() < kMulBlock * c) {
    velto::panic("assertion failed: 416 shares per multiplication");
  }
  const std::vector<Scalar> chi = two_party_multiplier_ro(1, sigma, c);
  const std::vector<Scalar> chi2 = two_party_multiplier_ro(2, sigma, c);
  for (std::size_t j = 0; j < kMulBlock; ++j) {
    Scalar sum;
    for (std::size_t i = 0; i < c; ++i) {
      const std::size_t k = kMulBlock * i + j;
      sum += Scalar::select(Scalar::zero(), check.second[i], (choices.data()[k] & 1u) != 0);
      sum -= chi[i] * correlation.shares[k] + chi2[i] * correlation.check_shares[k];
    }
    if (!(sum == check.first[j])) return std::unexpected(ote::RoteError::InvalidValue{});
  }
  return {};
}

std::vector<Scalar> bob_pads(const ote::ChoiceBits& choices, std::size_t c) {
  if (choices.size() < kMulBlock * c) velto::panic("assertion failed: 416 choice bits per pad");
  const GadgetVector& g = gadget_vector();
  std::vector<Scalar> out;
  out.reserve(c);
  for (std::size_t i = 0; i < c; ++i) {
    Scalar b;
    for (std::size_t j = 0; j < kMulBlock; ++j) {
      b += Scalar::select(Scalar::zero(), g[j], (choices.data()[kMulBlock * i + j] & 1u) != 0);
    }
    out.push_back(b);
  }
  return out;
}

Scalar gadget_sum(std::span<const Scalar> block) {
  if (block.size() != kMulBlock) velto::panic("assertion failed: a block holds 416 shares");
  const GadgetVector& g = gadget_vector();
  Scalar sum;
  for (std::size_t j = 0; j < kMulBlock; ++j) sum += g[j] * block[j];
  return sum;
}

// Both sides' output: own value times the peer's masked input, plus the
// gadget sum of the block (alice's value is her input, bob's his pad).
std::vector<Scalar> two_party_mul_alice(std::span<const Scalar> x, std::span<const Scalar> d,
                                        std::span<const Scalar> shares) {
  const std::size_t n = std::min(x.size(), d.size());
  std::vector<Scalar> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.push_back(x[i] * d[i] + gadget_sum(shares.subspan(kMulBlock * i, kMulBlock)));
  return out;
}

std::vector<Scalar> two_party_mul_bob(std::span<const Scalar> b, std::span<const Scalar> d,
                                      std::span<const Scalar> shares) {
  return two_party_mul_alice(b, d, shares);
}

std::vector<Scalar> scalar_vec_sub(std::span<const Scalar> x, std::span<const Scalar> y) {
  const std::size_t n = std::min(x.size(), y.size());
  std::vector<Scalar> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.push_back(x[i] - y[i]);
  return out;
}

// ---------------------------------------------------------------------------
// Runs.

asio::awaitable<std::expected<RandomMulAlice, ote::OteError>> two_party_mul_online_alice(
    PeerExecutor e0, const ote::PuncturedPprfTrees& setup) {
  std::vector<Scalar> pads;
  std::vector<Scalar> checks;
  for (std::size_t i = 0; i < kMulBatch; ++i) pads.push_back(Scalar::random(e0.executor().rng()));
  for (std::size_t i = 0; i < kMulBatch; ++i) checks.push_back(Scalar::random(e0.executor().rng()));

  Transcript transcript;
  std::optional<AliceCorrelation> correlation;
  {
    PeerExecutor e1 = e0.child(kMulToCoteLabel);
    std::optional<ote::CoteSenderOutput> keys;
    {
      PeerExecutor e2 = e1.child(kCoteToRoteLabel);
      auto r = co_await ote::cote_sender(e2, setup, kMulOtCount, transcript);
      if (!r) co_return std::unexpected(std::move(r.error()));
      keys.emplace(std::move(*r));
    }
    correlation.emplace(alice_correlation(keys->digests0, keys->digests1, pads, checks));
    keys.reset();
    if (auto sent = e1.send(correlation->message); !sent) {
      co_return std::unexpected(ote::OteError::CommunicationError{std::move(sent.error())});
    }
    transcript.append(correlation->message);
  }
  const crypto::ByteArray<32> sigma = transcript.finalize();
  const MulCheck check = alice_mul_check(sigma, *correlation, pads, checks);
  if (auto sent = e0.send(check); !sent) {
    co_return std::unexpected(ote::OteError::CommunicationError{std::move(sent.error())});
  }
  RandomMulAlice out{std::move(e0), std::move(pads), std::move(correlation->shares)};
  co_return out;
}

asio::awaitable<std::expected<RandomMulBob, ote::RoteError>> two_party_mul_online_bob(
    PeerExecutor e0, const ote::FullPprfTrees& setup) {
  Transcript transcript;
  std::optional<ote::CoteReceiverOutput> keys;
  std::optional<BobCorrelation> correlation;
  {
    PeerExecutor e1 = e0.child(kMulToCoteLabel);
    {
      PeerExecutor e2 = e1.child(kCoteToRoteLabel);
      auto r = co_await ote::cote_receiver(e2, setup, kMulOtCount, transcript);
      if (!r) {
        if (const auto* comm = r.error().get_if<ote::RoteError::CommunicationError>()) {
          co_return std::unexpected(failed_extending(comm->error));
        }
        co_return std::unexpected(std::move(r.error()));
      }
      keys.emplace(std::move(*r));
    }
    auto message = co_await receive_from_peer<CoteCorrection>(e1);
    if (!message) co_return std::unexpected(failed_extending(std::move(message.error())));
    transcript.append(*message);
    auto formed = bob_correlation(keys->digests, keys->choices, *message);
    if (!formed) co_return std::unexpected(std::move(formed.error()));
    correlation.emplace(std::move(*formed));
  }
  const crypto::ByteArray<32> sigma = transcript.finalize();
  auto check = co_await receive_from_peer<MulCheck>(e0);
  if (!check) co_return std::unexpected(ote::RoteError::CommunicationError{std::move(check.error())});
  if (auto ok = bob_mul_check(sigma, *check, keys->choices, *correlation, kMulBatch); !ok) {
    co_return std::unexpected(std::move(ok.error()));
  }
  std::vector<Scalar> pads = bob_pads(keys->choices, kMulBatch);
  RandomMulBob out{std::move(e0), std::move(pads), std::move(correlation->shares)};
  co_return out;
}

asio::awaitable<std::expected<std::vector<Scalar>, ot::OtError>> input_and_adjust_alice(
    RandomMulAlice& mul, std::span<const Scalar> inputs) {
  auto output = [](std::span<const Scalar> x, std::span<const Scalar>, std::span<const Scalar> d,
                   std::span<const Scalar> shares) { return two_party_mul_alice(x, d, shares); };
  co_return co_await adjust_step(mul, inputs, std::move(output));
}

asio::awaitable<std::expected<std::vector<Scalar>, ot::OtError>> input_and_adjust_bob(
    RandomMulBob& mul, std::span<const Scalar> inputs) {
  auto output = [](std::span<const Scalar>, std::span<const Scalar> b, std::span<const Scalar> d,
                   std::span<const Scalar> shares) { return two_party_mul_bob(b, d, shares); };
  co_return co_await adjust_step(mul, inputs, std::move(output));
}

asio::awaitable<std::expected<std::vector<Scalar>, ot::OtError>> input_and_adjust(PairRecord& record,
                                                                              std::span<const Scalar> inputs) {
  if (auto* alice = std::get_if<RandomMulAlice>(&record)) co_return co_await input_and_adjust_alice(*alice, inputs);
  co_return co_await input_and_adjust_bob(std::get<RandomMulBob>(record), inputs);
}

}  // namespace velto::ecdsa::legacy
