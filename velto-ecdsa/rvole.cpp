#include "velto-ecdsa/rvole.hpp"

// GCC 12 inlines Asio's coroutine-frame allocation (aligned_alloc for frames
// too large for the per-thread cache) into the coroutines below and then
// reports the matching frame deallocation as a mismatched delete: a false
// positive of the compiler, silenced for this file only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>

#include "crypto/blake3.hpp"
#include "sised/decoder.hpp"
#include "sised/encoder.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-ot/base_ot_run.hpp"
#include "velto-ote/ote_protocol.hpp"
#include "velto-ote/prg.hpp"

namespace velto::ecdsa {
namespace {

namespace asio = boost::asio;
using crypto::Scalar;

// Appends the 32-byte big-endian form of every scalar.
void append_scalars(crypto::Bytes& out, std::span<const Scalar> values) {
  const std::size_t at = out.size();
  out.resize(at + 32 * values.size());
  std::uint8_t* p = out.data() + at;
  for (const Scalar& v : values) {
    const crypto::ByteArray<32> b = v.to_bytes();
    std::memcpy(p, b.data(), 32);
    p += 32;
  }
}

// A buffer of secret-derived bytes, wiped before it is freed.
struct WipedBuffer {
  crypto::Bytes bytes;
  ~WipedBuffer() {
    if (!bytes.empty()) crypto::secure_wipe(bytes.data(), bytes.size());
  }
};

Scalar reduced_half(const std::uint8_t* p) {
  crypto::ByteArray<32> half;
  std::memcpy(half.data(), p, 32);
  Scalar s = Scalar::from_bytes_reduced(half);
  crypto::secure_wipe(half.data(), half.size());
  return s;
}

// The payload with room behind it for the tag the manager appends.
// The peer's next message on this executor, undecoded.
asio::awaitable<std::expected<crypto::Bytes, BoxedError>> receive_raw(PeerExecutor& executor) {
  const PartyId peer = executor.peer();
  auto poll = BufferedPoll::start(executor.executor(), std::span<const PartyId>(&peer, 1));
  auto message = co_await poll.next_message();
  if (!message) co_return std::unexpected(std::move(message.error()));
  if (!*message) velto::panic("The random VOLE peer is the party itself. Bug!");
  co_return std::move((*message)->payload);
}

// A sum of scalar products kept as an unreduced integer of nine 64-bit
// limbs and reduced once: a dot product of n terms costs n plain 256 x 256
// products and one reduction instead of n reductions. Straight-line code on
// every value.
// Zeroes a few words of the stack; the empty asm reads them, so the stores
// stay (the same trick the scalars use on themselves).
template <std::size_t N>
inline void clear_words(std::uint64_t (&w)[N]) noexcept {
  for (std::uint64_t& x : w) x = 0;
  asm volatile("" : : "r"(&w[0]) : "memory");
}

class WideSum {
 public:
  WideSum() = default;
  WideSum(const WideSum&) = delete;
  WideSum& operator=(const WideSum&) = delete;
  ~WideSum() { clear_words(acc_); }

  void add_product(const Scalar& a, const Scalar& b) noexcept {
    using u128 = unsigned __int128;
    const auto& x = a.words();
    const auto& y = b.words();
    std::uint64_t p[8] = {};
    for (std::size_t i = 0; i < 4; ++i) {
      std::uint64_t carry = 0;
      for (std::size_t j = 0; j < 4; ++j) {
        const u128 t = static_cast<u128>(x[i]) * y[j] + p[i + j] + carry;
        p[i + j] = static_cast<std::uint64_t>(t);
        carry = static_cast<std::uint64_t>(t >> 64);
      }
      p[i + 4] = carry;
    }
    add_limbs(p, 8);
    clear_words(p);
  }

  void add(const Scalar& a) noexcept { add_limbs(a.words().data(), 4); }

  // The sum modulo n: the top limb is folded in twice as its multiple of
  // 2^512 mod n (after the second fold it is zero), then the 512-bit value
  // is reduced.
  Scalar finish() const {
    std::uint64_t v[9];
    std::copy(std::begin(acc_), std::end(acc_), v);
    for (int fold = 0; fold < 2; ++fold) {
      using u128 = unsigned __int128;
      const std::uint64_t top = v[8];
      v[8] = 0;
      const auto& r = two_512().words();
      std::uint64_t prod[5];
      std::uint64_t carry = 0;
      for (std::size_t i = 0; i < 4; ++i) {
        const u128 t = static_cast<u128>(r[i]) * top + carry;
        prod[i] = static_cast<std::uint64_t>(t);
        carry = static_cast<std::uint64_t>(t >> 64);
      }
      prod[4] = carry;
      carry = 0;
      for (std::size_t i = 0; i < 9; ++i) {
        const u128 t = static_cast<u128>(v[i]) + (i < 5 ? prod[i] : 0) + carry;
        v[i] = static_cast<std::uint64_t>(t);
        carry = static_cast<std::uint64_t>(t >> 64);
      }
    }
    crypto::ByteArray<64> be;
    for (std::size_t i = 0; i < 8; ++i) {
      std::uint64_t word = v[7 - i];
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
      std::memcpy(be.data() + 8 * i, &word, 8);
    }
    Scalar out = Scalar::from_bytes_wide(be);
    std::memset(be.data(), 0, be.size());
    asm volatile("" : : "r"(be.data()) : "memory");
    clear_words(v);
    return out;
  }

 private:
  void add_limbs(const std::uint64_t* v, std::size_t n) noexcept {
    using u128 = unsigned __int128;
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < 9; ++i) {
      const u128 t = static_cast<u128>(acc_[i]) + (i < n ? v[i] : 0) + carry;
      acc_[i] = static_cast<std::uint64_t>(t);
      carry = static_cast<std::uint64_t>(t >> 64);
    }
  }

  // 2^512 mod n = c^2 with c = 2^256 - n.
  static const Scalar& two_512() {
    static const Scalar r = [] {
      crypto::ByteArray<32> c{};
      const std::uint8_t tail[17] = {0x01, 0x45, 0x51, 0x23, 0x19, 0x50, 0xB7, 0x5F, 0xC4,
                                     0x40, 0x2D, 0xA1, 0x73, 0x2F, 0xC9, 0xBE, 0xBF};
      std::copy(std::begin(tail), std::end(tail), c.begin() + 15);
      const Scalar cs = *Scalar::from_bytes_checked(c);
      return cs * cs;
    }();
    return r;
  }

  std::uint64_t acc_[9] = {};
};

ot::BaseOtError base_ot_communication(BoxedError e) { return ot::BaseOtError::CommunicationError{std::move(e)}; }

}  // namespace

ScalarMatrix expand_ot_digests(const ote::OtDigests& digests, std::size_t width) {
  ScalarMatrix m(digests.size(), width);
  const std::size_t blocks = (width + 1) / 2;
  // The streams of 64 OTs at a time, their blocks side by side.
  constexpr std::size_t kChunk = 64;
  WipedBuffer out;
  out.bytes.resize(64 * blocks * kChunk);
  for (std::size_t first = 0; first < digests.size(); first += kChunk) {
    const std::size_t count = std::min(kChunk, digests.size() - first);
    const std::span<std::uint8_t> chunk(out.bytes.data(), 64 * blocks * count);
    ote::ote_prg_v1_blocks(digests.bytes().subspan(16 * first, 16 * count), blocks, chunk);
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t h = 0; h < width; ++h) m.at(first + i, h) = reduced_half(chunk.data() + 64 * blocks * i + 32 * h);
    }
  }
  return m;
}

Scalar rvole_gadget_product(const ScalarMatrix& m, std::size_t column, std::size_t lo, std::size_t hi) {
  if (hi <= lo) return Scalar::zero();
  const std::size_t count = std::min(hi - lo, kRvoleGadgetSize);
  if (column >= m.width() || lo + count > m.rows()) panic("assertion failed: gadget product inside the matrix");
  const RvoleGadget& g = rvole_gadget();
  WideSum acc;
  for (std::size_t i = 0; i < count; ++i) acc.add_product(g[i], m.at(lo + i, column));
  return acc.finish();
}

std::vector<std::array<Scalar, 2>> rvole_theta_ro(const crypto::ByteArray<32>& tag, std::span<const Scalar> values,
                                                  std::size_t width) {
  crypto::Bytes input;
  input.reserve(32 * values.size());
  append_scalars(input, values);
  crypto::Blake3Reader xof =
      crypto::Blake3::derive_key(kRvoleThetaContext).update(tag).update(input).finalize_xof();
  const std::size_t pairs = width >= 2 ? width - 2 : 0;
  std::vector<std::array<Scalar, 2>> out(pairs);
  std::array<std::uint8_t, 64> block;
  for (auto& pair : out) {
    xof.fill(block);
    pair[0] = reduced_half(block.data());
    pair[1] = reduced_half(block.data() + 32);
  }
  return out;
}

crypto::ByteArray<32> rvole_binary_ro(const crypto::ByteArray<32>& tag, std::span<const std::array<Scalar, 2>> rows) {
  WipedBuffer input;
  input.bytes.reserve(64 * rows.size());
  for (const auto& r : rows) append_scalars(input.bytes, r);
  return crypto::Blake3::derive_key(kRvoleBinaryContext).update(tag).update(input.bytes).finalize();
}

std::expected<crypto::Bytes, sised::EncodeError> encode_rvole_correction(const RvoleCorrection& message) {
  if (message.tau.size() > sised::kMaxVarint) return std::unexpected(sised::EncodeError::length_limit());
  const std::size_t size = 4 + sised::varint_size(message.tau.size()) + 32 * message.tau.size() + 96;
  crypto::Bytes out;
  out.reserve(size + kSendSpare);
  sised::Sink sink = sised::Sink::buffer(out);
  sised::write_u32(sink, message.width);
  sised::write_varint(sink, message.tau.size());
  append_scalars(out, message.tau);
  append_scalars(out, std::array<Scalar, 2>{message.eta0, message.eta1});
  out.insert(out.end(), message.mu.begin(), message.mu.end());
  return out;
}

std::expected<RvoleCorrection, sised::SisedError> decode_scalar_vec(crypto::ByteSpan payload) {
  sised::Decoder d(payload);
  RvoleCorrection m;
  auto width = d.read_u32();
  if (!width) return std::unexpected(std::move(width.error()));
  m.width = *width;
  auto count = d.read_varint();
  if (!count) return std::unexpected(std::move(count.error()));
  if (auto c = d.charge(*count, 32); !c) return std::unexpected(std::move(c.error()));
  m.tau.reserve(*count);
  for (std::uint32_t i = 0; i < *count; ++i) {
    auto s = sised::decode_value<Scalar>(d);
    if (!s) return std::unexpected(std::move(s.error()));
    m.tau.push_back(*s);
  }
  auto eta0 = sised::decode_value<Scalar>(d);
  if (!eta0) return std::unexpected(std::move(eta0.error()));
  auto eta1 = sised::decode_value<Scalar>(d);
  if (!eta1) return std::unexpected(std::move(eta1.error()));
  auto mu = d.read_array<32>();
  if (!mu) return std::unexpected(std::move(mu.error()));
  m.eta0 = *eta0;
  m.eta1 = *eta1;
  m.mu = *mu;
  return m;
}

RvoleSenderStep rvole_sender_compute(const crypto::ByteArray<32>& tag, const ScalarMatrix& v0, const ScalarMatrix& v1,
                                     std::span<const Scalar> x, std::span<const Scalar> y, const Scalar& r0,
                                     const Scalar& r1) {
  const std::size_t k = std::min(x.size(), y.size());
  const std::size_t l = 2 * k;
  const std::size_t w = l + 2;
  if (v0.width() != w || v1.width() != w) panic("assertion failed: OT matrices of width 2k + 2");
  const std::size_t rows = std::min(v0.rows(), v1.rows());

  std::vector<Scalar> a(w);
  for (std::size_t i = 0; i < k; ++i) {
    a[2 * i] = x[i];
    a[2 * i + 1] = y[i];
  }
  a[l] = r0;
  a[l + 1] = r1;

  RvoleSenderStep out;
  out.shares.reserve(l);
  for (std::size_t h = 0; h < l; ++h) out.shares.push_back(-rvole_gadget_product(v0, h, 0, v0.rows()));

  RvoleCorrection& msg = out.message;
  msg.width = static_cast<std::uint32_t>(w);
  msg.tau.resize(rows * w);
  for (std::size_t j = 0; j < rows; ++j) {
    for (std::size_t h = 0; h < w; ++h) msg.tau[j * w + h] = v0.at(j, h) - v1.at(j, h) + a[h];
  }

  const std::vector<std::array<Scalar, 2>> theta = rvole_theta_ro(tag, msg.tau, w);
  {
    WideSum e0;
    WideSum e1;
    e0.add(r0);
    e1.add(r1);
    for (std::size_t h = 0; h < l; ++h) {
      e0.add_product(theta[h][0], a[h]);
      e1.add_product(theta[h][1], a[h]);
    }
    msg.eta0 = e0.finish();
    msg.eta1 = e1.finish();
  }

  std::vector<std::array<Scalar, 2>> check(v0.rows());
  for (std::size_t j = 0; j < v0.rows(); ++j) {
    WideSum m0;
    WideSum m1;
    m0.add(v0.at(j, l));
    m1.add(v0.at(j, l + 1));
    for (std::size_t h = 0; h < l; ++h) {
      m0.add_product(theta[h][0], v0.at(j, h));
      m1.add_product(theta[h][1], v0.at(j, h));
    }
    check[j] = {m0.finish(), m1.finish()};
  }
  msg.mu = rvole_binary_ro(tag, check);
  return out;
}

Scalar rvole_receiver_input(std::span<const std::uint8_t> choices) {
  const RvoleGadget& g = rvole_gadget();
  const std::size_t n = std::min(choices.size(), kRvoleGadgetSize);
  Scalar b;
  for (std::size_t j = 0; j < n; ++j) b += Scalar::select(Scalar::zero(), g[j], choices[j] != 0);
  return b;
}

std::expected<std::vector<Scalar>, ote::CoteError> rvole_receiver_compute(const crypto::ByteArray<32>& tag,
                                                                          std::span<const std::uint8_t> choices,
                                                                          const ScalarMatrix& y, std::size_t l,
                                                                          const RvoleCorrection& message) {
  const std::size_t w = message.width;
  if (w == 0 || message.tau.size() / w != kRvoleOtCount || w != l + 2) {
    return std::unexpected(ote::CoteError::InvalidMessage{});
  }
  if (y.rows() < kRvoleOtCount || y.width() != w || choices.size() < kRvoleOtCount) {
    panic("assertion failed: the receiver holds 512 OTs of width l + 2");
  }
  const std::vector<std::array<Scalar, 2>> theta = rvole_theta_ro(tag, message.tau, w);

  // D_j = Y_j + β_j * tau_j, and the check rows from it.
  ScalarMatrix d(kRvoleOtCount, w);
  std::vector<std::array<Scalar, 2>> check(kRvoleOtCount);
  for (std::size_t j = 0; j < kRvoleOtCount; ++j) {
    const bool beta = choices[j] != 0;
    for (std::size_t h = 0; h < w; ++h) {
      d.at(j, h) = y.at(j, h) + Scalar::select(Scalar::zero(), message.tau[j * w + h], beta);
    }
    WideSum m0;
    WideSum m1;
    m0.add(d.at(j, l));
    m1.add(d.at(j, l + 1));
    for (std::size_t h = 0; h < l; ++h) {
      m0.add_product(theta[h][0], d.at(j, h));
      m1.add_product(theta[h][1], d.at(j, h));
    }
    check[j] = {m0.finish() - Scalar::select(Scalar::zero(), message.eta0, beta),
                m1.finish() - Scalar::select(Scalar::zero(), message.eta1, beta)};
  }
  const crypto::ByteArray<32> mu = rvole_binary_ro(tag, check);
  if (!crypto::ct_equal(mu, message.mu)) return std::unexpected(ote::CoteError::CheckFailed{});

  std::vector<Scalar> shares;
  shares.reserve(l);
  for (std::size_t h = 0; h < l; ++h) shares.push_back(rvole_gadget_product(d, h, 0, kRvoleOtCount));
  return shares;
}

// ---------------------------------------------------------------------------
// Set-up.

asio::awaitable<std::expected<RoteReceiverSetup, ot::BaseOtError>> rote_receiver_setup(PeerExecutor executor) {
  std::optional<ot::BaseOtSenderResult> base;
  {
    PeerExecutor base_ot = ot::base_ot_subsession(executor);
    auto r = co_await ot::base_ot_sender(base_ot);
    if (!r) co_return std::unexpected(std::move(r.error()));
    base.emplace(std::move(*r));
  }
  ote::FullPprfSetup setup = ote::build_full_pprf_trees(base->output.bytes(), base->batch_key);
  base.reset();
  if (auto sent = executor.executor().send_payload_to(executor.peer(), outgoing_payload(setup.message.bytes())); !sent) {
    co_return std::unexpected(base_ot_communication(std::move(sent.error())));
  }
  co_return std::move(setup.trees);
}

asio::awaitable<std::expected<RoteSenderSetup, ot::BaseOtError>> rvole_setup_sender(PeerExecutor executor) {
  std::optional<ot::BaseOtReceiverResult> base;
  {
    PeerExecutor base_ot = ot::base_ot_subsession(executor);
    auto r = co_await ot::base_ot_receiver(base_ot);
    if (!r) co_return std::unexpected(std::move(r.error()));
    base.emplace(std::move(*r));
  }
  auto payload = co_await receive_raw(executor);
  if (!payload) co_return std::unexpected(base_ot_communication(std::move(payload.error())));
  auto message = ote::decode_pprf_setup_message(*payload);
  if (!message) {
    co_return std::unexpected(base_ot_communication(box_error<sised::SisedError>(std::move(message.error()))));
  }
  co_return ote::build_punctured_pprf_trees(base->output.bytes(), base->batch_key, *message);
}

// ---------------------------------------------------------------------------
// Online.

asio::awaitable<std::expected<RvolePeerRecord, ote::OteError>> rvole_sender_online(PeerExecutor instance,
                                                                                 const RoteSenderSetup& setup,
                                                                                 std::size_t l) {
  auto child = std::make_unique<PeerExecutor>(instance.child(kRvoleOtLabel));
  auto ot = co_await ote::rote_sender(*child, setup, kRvoleOtCount);
  child.reset();
  if (!ot) co_return std::unexpected(std::move(ot.error()));
  ScalarMatrix v0 = expand_ot_digests(ot->digests0, l + 2);
  ScalarMatrix v1 = expand_ot_digests(ot->digests1, l + 2);
  const PartyId peer = instance.peer();
  co_return RvolePeerRecord{peer, std::move(v0), std::move(v1), std::move(instance)};
}

std::expected<RvoleReceiverOt, ote::CoteError> rvole_receiver_online(PeerExecutor& instance,
                                                                    const RoteReceiverSetup& setup, std::size_t l) {
  PeerExecutor child = instance.child(kRvoleOtLabel);
  auto r = ote::rote_receiver(child, setup, kRvoleOtCount);
  if (!r) return std::unexpected(std::move(r.error()));
  RvoleReceiverOt out{std::move(r->choices), expand_ot_digests(r->digests, l + 2), Scalar::zero()};
  out.b = rvole_receiver_input(out.choices.span());
  return out;
}

std::expected<std::pair<PartyId, std::vector<Scalar>>, BoxedError> rvole_step(RvolePeerRecord record,
                                                                              std::span<const Scalar> x,
                                                                              std::span<const Scalar> y) {
  const std::size_t k = std::min(x.size(), y.size());
  if (record.v0.width() != 2 * k + 2 || record.v1.width() != 2 * k + 2) {
    panic("assertion failed: OT matrices of width 2k + 2");
  }
  crypto::ChaCha8Rng& rng = record.executor.executor().rng();
  const Scalar r0 = Scalar::random(rng);
  const Scalar r1 = Scalar::random(rng);
  RvoleSenderStep step = rvole_sender_compute(record.executor.executor().tag().bytes(), record.v0, record.v1, x, y,
                                              r0, r1);
  auto payload = encode_rvole_correction(step.message);
  if (!payload) return std::unexpected(box_error<sised::EncodeError>(std::move(payload.error())));
  if (auto sent = record.executor.executor().send_payload_to(record.peer, std::move(*payload)); !sent) {
    return std::unexpected(std::move(sent.error()));
  }
  return std::pair(record.peer, std::move(step.shares));
}

std::expected<PartyMap<std::vector<Scalar>>, BoxedError> collect_rvole_steps(std::vector<RvolePeerRecord> records,
                                                                             std::span<const Scalar> x,
                                                                             std::span<const Scalar> y) {
  PartyMap<std::vector<Scalar>> out(records.size());
  for (RvolePeerRecord& record : records) {
    auto r = rvole_step(std::move(record), x, y);
    if (!r) return std::unexpected(std::move(r.error()));
    out.insert(r->first, std::move(r->second));
  }
  return out;
}

asio::awaitable<std::expected<std::pair<PartyId, std::vector<Scalar>>, ote::CoteError>> rvole_driver(
    PeerExecutor& instance, const RvoleReceiverOt& ot, std::size_t l) {
  auto payload = co_await receive_raw(instance);
  if (!payload) co_return std::unexpected(ote::CoteError::CommError{std::move(payload.error())});
  auto message = decode_scalar_vec(*payload);
  if (!message) {
    co_return std::unexpected(ote::CoteError::CommError{box_error<sised::SisedError>(std::move(message.error()))});
  }
  auto shares = rvole_receiver_compute(instance.executor().tag().bytes(), ot.choices.span(), ot.y, l, *message);
  if (!shares) co_return std::unexpected(std::move(shares.error()));
  co_return std::pair(instance.peer(), std::move(*shares));
}

}  // namespace velto::ecdsa
