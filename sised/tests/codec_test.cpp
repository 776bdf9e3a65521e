#include "sised/codec.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <tuple>
#include <unordered_set>
#include <variant>
#include <vector>

namespace velto::sised {
namespace {

using crypto::ByteArray;
using crypto::Bytes;
using crypto::ByteSpan;

Bytes encoded(const auto& v) {
  auto r = encode(v);
  EXPECT_TRUE(r.has_value());
  return r.value_or(Bytes{});
}

// ---------------------------------------------------------------------------
// Varints

struct VarintCase {
  std::uint64_t value;
  Bytes bytes;
};

TEST(Varint, EncodesShortestFormAndDecodesBack) {
  const std::vector<VarintCase> cases = {
      {0, {0x00}},
      {1, {0x01}},
      {251, {0xFB}},
      {252, {0xFC, 0xFC}},
      {255, {0xFC, 0xFF}},
      {256, {0xFD, 0x00, 0x01}},
      {65'535, {0xFD, 0xFF, 0xFF}},
      {65'536, {0xFE, 0x00, 0x00, 0x01}},
      {16'777'215, {0xFE, 0xFF, 0xFF, 0xFF}},
      {16'777'216, {0xFF, 0x00, 0x00, 0x00, 0x01}},
      {4'294'967'295, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    Bytes out;
    Sink sink = Sink::buffer(out);
    write_varint(sink, c.value);
    EXPECT_TRUE(sink.ok());
    EXPECT_EQ(out, c.bytes);
    EXPECT_EQ(varint_size(c.value), c.bytes.size());

    Decoder d(c.bytes);
    auto v = d.read_varint();
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(*v, c.value);
    EXPECT_EQ(d.remaining(), 0u);
  }
}

struct BadVarint {
  Bytes bytes;
  SisedError::Kind kind;
};

TEST(Varint, RefusesNonShortestAndTruncatedForms) {
  const std::vector<BadVarint> cases = {
      {{0xFC, 0xFB}, SisedError::Kind::InvalidVarIntEncoding},
      {{0xFC, 0x00}, SisedError::Kind::InvalidVarIntEncoding},
      {{0xFD, 0xFF, 0x00}, SisedError::Kind::InvalidVarIntEncoding},
      {{0xFE, 0x00, 0x00, 0x00}, SisedError::Kind::InvalidVarIntEncoding},
      {{0xFF, 0x01, 0x02, 0x03, 0x00}, SisedError::Kind::InvalidVarIntEncoding},
      {{0xFD, 0x01}, SisedError::Kind::OutOfBounds},
      {{0xFF, 0x01, 0x02, 0x03}, SisedError::Kind::OutOfBounds},
      {{0xFC}, SisedError::Kind::OutOfBounds},
      {{}, SisedError::Kind::OutOfBounds},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    Decoder d(c.bytes);
    auto v = d.read_varint();
    ASSERT_FALSE(v.has_value());
    EXPECT_EQ(v.error().kind(), c.kind);
  }
}

TEST(Varint, ValueAboveU32FailsAndStopsTheEncoding) {
  Bytes out;
  Sink sink = Sink::buffer(out);
  write_varint(sink, 7);
  write_varint(sink, std::uint64_t{1} << 32);
  write_varint(sink, 9);  // ignored: the first failure ends the encoding
  EXPECT_FALSE(sink.ok());
  ASSERT_TRUE(sink.encode_error().has_value());
  EXPECT_EQ(sink.encode_error()->display(), "usize is limited to u32");
  EXPECT_EQ(sink.encode_error()->debug(), "Custom(\"usize is limited to u32\")");
  EXPECT_EQ(out, Bytes{7});
}

// A value that claims a byte-string length of 2^32 without holding 4 GiB: the
// length is all the encoder looks at before it fails.
struct HugeBlob {
  std::uint64_t claimed_len;
};

}  // namespace

template <>
struct Codec<HugeBlob> {
  static void encode(Sink& s, const HugeBlob& v) {
    write_len(s, v.claimed_len);
    if (s.ok()) s.write(Bytes(static_cast<std::size_t>(v.claimed_len), 0xAA));
  }
};

namespace {

TEST(EncodeWhole, LengthAboveLimitIsRefusedAndLeavesBufferUntouched) {
  const std::pair<std::uint8_t, HugeBlob> value{5, {std::uint64_t{1} << 32}};
  auto whole = encode(value);
  ASSERT_FALSE(whole.has_value());
  EXPECT_EQ(whole.error().display(), "usize is limited to u32");

  Bytes out = {1, 2, 3};
  auto appended = encode_append(out, value);
  ASSERT_FALSE(appended.has_value());
  EXPECT_EQ(out, (Bytes{1, 2, 3}));

  // The largest allowed length still encodes (checked with a small claim so
  // that the test does not allocate: the limit check is the varint's).
  const std::pair<std::uint8_t, HugeBlob> small{5, {3}};
  EXPECT_EQ(encoded(small), (Bytes{5, 3, 0xAA, 0xAA, 0xAA}));
}

TEST(EncodeError, TextsAndDebugForms) {
  EXPECT_EQ(EncodeError::out_of_bounds().display(), "Out of bounds");
  EXPECT_EQ(EncodeError::out_of_bounds().debug(), "OutOfBounds");
  EXPECT_EQ(EncodeError::length_limit().display(), "usize is limited to u32");
}

TEST(SisedErrorTexts, DisplayAndDebug) {
  const std::vector<std::tuple<SisedError, std::string, std::string>> cases = {
      {SisedError::out_of_bounds(), "Out of bounds", "OutOfBounds"},
      {SisedError::heap_size_limit_exceeded(), "Heap size limit exceeded", "HeapSizeLimitExceeded"},
      {SisedError::invalid_varint_encoding(), "Invalid varint encoding", "InvalidVarIntEncoding"},
      {SisedError::custom("Invalid discriminant"), "Invalid discriminant", "Custom(\"Invalid discriminant\")"},
  };
  for (const auto& [e, display, debug] : cases) {
    EXPECT_EQ(e.display(), display);
    EXPECT_EQ(e.debug(), debug);
    EXPECT_EQ(e.source(), nullptr);
  }
}

// ---------------------------------------------------------------------------
// PartyId

TEST(PartyIdTest, ZeroIsRefusedEverywhere) {
  EXPECT_FALSE(PartyId::from(0).has_value());
  ASSERT_TRUE(PartyId::from(1).has_value());

  auto zero = decode<PartyId>(Bytes{0x00, 0x00});
  ASSERT_FALSE(zero.has_value());
  EXPECT_EQ(zero.error(), SisedError::custom("Zero value in a NonZero type"));

  auto one = decode<PartyId>(Bytes{0x01, 0x00});
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->value(), 1);

  auto big = decode<PartyId>(Bytes{0x34, 0x12});
  ASSERT_TRUE(big.has_value());
  EXPECT_EQ(big->value(), 0x1234);

  auto short_input = decode<PartyId>(Bytes{0x01});
  ASSERT_FALSE(short_input.has_value());
  EXPECT_EQ(short_input.error().kind(), SisedError::Kind::OutOfBounds);
}

TEST(PartyIdTest, OrderingHashAndTextForms) {
  constexpr PartyId a = PartyId::unchecked(3);
  constexpr PartyId b = PartyId::unchecked(300);
  static_assert(a < b && a != b && a == PartyId::unchecked(3));
  std::unordered_set<PartyId> set{a, b, PartyId::unchecked(3)};
  EXPECT_EQ(set.size(), 2u);
  EXPECT_EQ(a.display(), "3");
  EXPECT_EQ(a.debug(), "PartyId(3)");
  EXPECT_EQ(encoded(b), (Bytes{0x2C, 0x01}));
}

// ---------------------------------------------------------------------------
// Heap budget

struct HeavyItem {
  std::uint8_t b;
};
VELTO_SISED_RECORD(HeavyItem, b)
VELTO_SISED_HEAP_SIZE(HeavyItem, 296)

Bytes varint_bytes(std::uint64_t v) {
  Bytes out;
  Sink s = Sink::buffer(out);
  write_varint(s, v);
  return out;
}

TEST(HeapBudget, ChargeEqualToLimitPassesOneMoreItemFails) {
  static_assert(heap_size_v<HeavyItem> == 296);
  static_assert(heap_size_v<std::uint64_t> == 8);

  // A count over the budget fails before any item is read: only the count is
  // in the input, so reading an item would report OutOfBounds instead.
  auto over = [](auto tag, std::uint64_t count) {
    using T = decltype(tag);
    auto r = decode<std::vector<T>>(varint_bytes(count));
    EXPECT_FALSE(r.has_value());
    return r ? SisedError::custom("decoded") : r.error();
  };
  EXPECT_EQ(over(std::uint64_t{}, 524'289).kind(), SisedError::Kind::HeapSizeLimitExceeded);
  EXPECT_EQ(over(std::uint64_t{}, 524'288).kind(), SisedError::Kind::OutOfBounds);
  EXPECT_EQ(over(HeavyItem{}, 14'170).kind(), SisedError::Kind::HeapSizeLimitExceeded);
  EXPECT_EQ(over(HeavyItem{}, 14'169).kind(), SisedError::Kind::OutOfBounds);
  EXPECT_EQ(over(std::uint8_t{}, kMessageHeapLimit + 1).kind(), SisedError::Kind::HeapSizeLimitExceeded);
  EXPECT_EQ(over(std::uint8_t{}, kMessageHeapLimit).kind(), SisedError::Kind::OutOfBounds);
  // A hostile 5-byte count.
  EXPECT_EQ(over(std::uint64_t{}, 0xFFFF'FFFF).kind(), SisedError::Kind::HeapSizeLimitExceeded);

  // The largest counts decode in full.
  {
    Bytes msg = varint_bytes(14'169);
    for (std::size_t i = 0; i < 14'169; ++i) msg.push_back(static_cast<std::uint8_t>(i));
    auto r = decode<std::vector<HeavyItem>>(msg);
    ASSERT_TRUE(r.has_value());
    ASSERT_EQ(r->size(), 14'169u);
    EXPECT_EQ((*r)[300].b, 300 % 256);
  }
  {
    Bytes msg = varint_bytes(524'288);
    msg.resize(msg.size() + 524'288 * 8, 0x11);
    auto r = decode<std::vector<std::uint64_t>>(msg);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->size(), 524'288u);
    EXPECT_EQ(r->back(), 0x1111'1111'1111'1111u);
  }
}

TEST(HeapBudget, ChargeAccumulatesOverTheWholeMessage) {
  using TwoSeqs = std::pair<std::vector<std::uint64_t>, std::vector<std::uint64_t>>;
  auto message = [](std::size_t first, std::size_t second) {
    TwoSeqs v{std::vector<std::uint64_t>(first, 1), std::vector<std::uint64_t>(second, 2)};
    return encoded(v);
  };
  EXPECT_TRUE(decode<TwoSeqs>(message(262'144, 262'144)).has_value());
  auto r = decode<TwoSeqs>(message(262'144, 262'145));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), SisedError::Kind::HeapSizeLimitExceeded);

  // Nested sequences: the outer vector is charged per inner vector object,
  // then each inner one per word.
  using Nested = std::vector<std::vector<std::uint64_t>>;
  const std::size_t outer = 2;
  const std::size_t inner_ok = (kMessageHeapLimit - outer * heap_size_v<std::vector<std::uint64_t>>) / 16;
  Nested fits(outer, std::vector<std::uint64_t>(inner_ok, 3));
  EXPECT_TRUE(decode<Nested>(encoded(fits)).has_value());
  fits[1].push_back(3);
  fits[1].push_back(3);
  EXPECT_FALSE(decode<Nested>(encoded(fits)).has_value());
}

TEST(HeapBudget, CallerChosenLimit) {
  const Bytes msg = encoded(Bytes(10, 7));
  EXPECT_TRUE(decode<Bytes>(msg, 10).has_value());
  auto r = decode<Bytes>(msg, 9);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), SisedError::Kind::HeapSizeLimitExceeded);

  Decoder d(msg, 100);
  ASSERT_TRUE(Codec<Bytes>::decode(d).has_value());
  EXPECT_EQ(d.heap_charged(), 10u);
}

// ---------------------------------------------------------------------------
// Value kinds

enum class Colour : std::uint8_t { Red, Green, Blue };
VELTO_SISED_ENUM(Colour, 3)

struct Inner {
  PartyId id;
  std::uint64_t n;
};
VELTO_SISED_RECORD(Inner, id, n)

struct Everything {
  std::uint8_t u8;
  std::uint16_t u16;
  std::uint32_t u32;
  std::uint64_t u64;
  PartyId id;
  Bytes bytes;
  std::string text;
  ByteArray<5> raw;
  std::array<std::uint16_t, 3> words;
  std::vector<Inner> inners;
  std::optional<std::string> maybe;
  std::optional<std::uint16_t> absent;
  std::variant<std::monostate, std::uint16_t, Inner> choice;
  std::tuple<std::uint8_t, Colour> tuple;
  crypto::SecretArray<4> secret;
  crypto::SecretBytes secret_bytes;

  friend bool operator==(const Everything& a, const Everything& b) {
    auto key = [](const Everything& e) {
      std::vector<std::pair<std::uint16_t, std::uint64_t>> in;
      for (const auto& i : e.inners) in.emplace_back(i.id.value(), i.n);
      return std::tuple(e.u8, e.u16, e.u32, e.u64, e.id, e.bytes, e.text, e.raw, e.words, in, e.maybe,
                        e.absent, e.choice.index(), e.tuple, e.secret.array(),
                        Bytes(e.secret_bytes.span().begin(), e.secret_bytes.span().end()));
    };
    return key(a) == key(b);
  }
};
VELTO_SISED_RECORD(Everything, u8, u16, u32, u64, id, bytes, text, raw, words, inners, maybe, absent, choice,
                   tuple, secret, secret_bytes)

Everything sample() {
  const std::uint8_t sb[] = {9, 8};
  return Everything{
      .u8 = 0xAB,
      .u16 = 0x0102,
      .u32 = 0x03040506,
      .u64 = 0x0708090A0B0C0D0E,
      .id = PartyId::unchecked(2),
      .bytes = {0xEE, 0xFF},
      .text = "hi",
      .raw = {1, 2, 3, 4, 5},
      .words = {0x0A0B, 0x0C0D, 0x0E0F},
      .inners = {{PartyId::unchecked(1), 1}, {PartyId::unchecked(258), 2}},
      .maybe = "x",
      .absent = std::nullopt,
      .choice = std::uint16_t{0x1234},
      .tuple = {7, Colour::Blue},
      .secret = crypto::SecretArray<4>(ByteArray<4>{0xC0, 0xC1, 0xC2, 0xC3}),
      .secret_bytes = crypto::SecretBytes(ByteSpan(sb)),
  };
}

TEST(Record, LayoutIsTheFieldsInOrderWithNothingBetween) {
  const Bytes expected = {
      0xAB,                                            // u8
      0x02, 0x01,                                      // u16 LE
      0x06, 0x05, 0x04, 0x03,                          // u32 LE
      0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x09, 0x08, 0x07,  // u64 LE
      0x02, 0x00,                                      // party id
      0x02, 0xEE, 0xFF,                                // byte string
      0x02, 'h', 'i',                                  // text
      1, 2, 3, 4, 5,                                   // raw array, no length
      0x0B, 0x0A, 0x0D, 0x0C, 0x0F, 0x0E,              // array of u16, no count
      0x02,                                            // two records
      0x01, 0x00, 1, 0, 0, 0, 0, 0, 0, 0,              //   {1, 1}
      0x02, 0x01, 2, 0, 0, 0, 0, 0, 0, 0,              //   {258, 2}
      0x01, 0x01, 'x',                                 // present text
      0x00,                                            // absent
      0x01, 0x34, 0x12,                                // variant 1: u16
      0x07, 0x02,                                      // tuple (7, Blue)
      0xC0, 0xC1, 0xC2, 0xC3,                          // secret array
      0x02, 9, 8,                                      // secret bytes
  };
  const Everything v = sample();
  EXPECT_EQ(encoded(v), expected);
  EXPECT_EQ(encoded_size(v), expected.size());

  auto back = decode<Everything>(expected);
  ASSERT_TRUE(back.has_value()) << back.error().debug();
  EXPECT_TRUE(*back == v);
  EXPECT_EQ(std::get<1>(back->choice), 0x1234);
}

TEST(Record, EveryTruncationFailsOutOfBounds) {
  const Bytes full = encoded(sample());
  for (std::size_t n = 0; n < full.size(); ++n) {
    auto r = decode<Everything>(ByteSpan(full).first(n));
    ASSERT_FALSE(r.has_value()) << n;
    EXPECT_EQ(r.error().kind(), SisedError::Kind::OutOfBounds) << n;
  }
}

TEST(Record, TrailingBytesAreIgnored) {
  ByteArray<32> tag{};
  tag[0] = 0x42;
  tag[31] = 0x24;
  Bytes msg(tag.begin(), tag.end());
  msg.insert(msg.end(), {1, 2, 3, 4, 5, 6, 7, 8});
  Decoder d(msg);
  auto r = Codec<ByteArray<32>>::decode(d);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, tag);
  EXPECT_EQ(d.remaining(), 8u);
}

TEST(Enums, UnknownDiscriminantsAreRefused) {
  using Msg = std::variant<std::monostate, ByteArray<2>>;
  struct Case {
    Bytes bytes;
    std::optional<std::size_t> index;  // nothing: refused as Invalid discriminant
  };
  const std::vector<Case> cases = {
      {{0x00}, 0},
      {{0x01, 0xAA, 0xBB}, 1},
      {{0x02}, std::nullopt},
      {{0xFC, 0xFC}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    auto r = decode<Msg>(c.bytes);
    if (c.index) {
      ASSERT_TRUE(r.has_value());
      EXPECT_EQ(r->index(), *c.index);
      EXPECT_EQ(encoded(*r), c.bytes);
    } else {
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error(), SisedError::custom("Invalid discriminant"));
    }
  }

  EXPECT_EQ(encoded(Colour::Green), Bytes{1});
  EXPECT_EQ(decode<Colour>(Bytes{2}).value(), Colour::Blue);
  EXPECT_EQ(decode<Colour>(Bytes{3}).error(), SisedError::custom("Invalid discriminant"));

  EXPECT_EQ(decode<std::optional<std::uint8_t>>(Bytes{2, 0}).error(), SisedError::custom("Invalid discriminant"));
  EXPECT_EQ(decode<std::optional<std::uint8_t>>(Bytes{1, 9}).value(), std::optional<std::uint8_t>(9));
  EXPECT_EQ(decode<std::optional<std::uint8_t>>(Bytes{0}).value(), std::nullopt);
}

TEST(Sequences, FirstBadItemEndsTheDecoding) {
  // Three party ids, the second one zero.
  const Bytes msg = {3, 1, 0, 0, 0, 2, 0};
  auto r = decode<std::vector<PartyId>>(msg);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), SisedError::custom("Zero value in a NonZero type"));

  // A byte string longer than the input.
  auto s = decode<Bytes>(Bytes{5, 1, 2});
  ASSERT_FALSE(s.has_value());
  EXPECT_EQ(s.error().kind(), SisedError::Kind::OutOfBounds);

  // Long lengths use the marker forms.
  const Bytes long_bytes(300, 0x5A);
  const Bytes enc = encoded(long_bytes);
  EXPECT_EQ((Bytes{enc.begin(), enc.begin() + 3}), (Bytes{0xFD, 0x2C, 0x01}));
  EXPECT_EQ(decode<Bytes>(enc).value(), long_bytes);
}

// ---------------------------------------------------------------------------
// Sinks

TEST(Sinks, EncodeAllocatesOnceWithSpareRoom) {
  const Everything v = sample();
  auto r = encode(v, 32);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->size(), encoded_size(v));
  EXPECT_EQ(r->capacity(), encoded_size(v) + 32);

  Bytes out = {0xFF};
  ASSERT_TRUE(encode_append(out, std::uint16_t{0x0201}).has_value());
  EXPECT_EQ(out, (Bytes{0xFF, 0x01, 0x02}));
}

struct RecordingHasher {
  Bytes seen;
  std::size_t updates = 0;
  void update(ByteSpan b) {
    seen.insert(seen.end(), b.begin(), b.end());
    ++updates;
  }
};

TEST(Sinks, HashInputIsTheEncoding) {
  RecordingHasher h;
  hash_into(h, sample());
  EXPECT_EQ(h.seen, encoded(sample()));

  RecordingHasher h2;
  EXPECT_THROW(hash_into(h2, std::pair<std::uint8_t, HugeBlob>{1, {std::uint64_t{1} << 32}}), velto::Panic);
}

// A writer that accepts `budget` bytes and then fails.
struct LimitedWriter {
  std::size_t budget;
  Bytes taken;
  int calls_after_failure = 0;
  bool failed = false;
  std::expected<void, std::string> write(ByteSpan b) {
    if (failed) ++calls_after_failure;
    if (taken.size() + b.size() > budget) {
      failed = true;
      return std::unexpected(std::string("writer full"));
    }
    taken.insert(taken.end(), b.begin(), b.end());
    return {};
  }
};

TEST(Sinks, FallibleWriterStopsAtItsFirstFailure) {
  const Bytes full = encoded(sample());

  LimitedWriter roomy{full.size(), {}};
  auto ok = encode_to_writer(roomy, sample());
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(roomy.taken, full);

  LimitedWriter tight{10, {}};
  auto bad = encode_to_writer(tight, sample());
  ASSERT_FALSE(bad.has_value());
  ASSERT_EQ(bad.error().index(), 1u);
  EXPECT_EQ(std::get<1>(bad.error()), "writer full");
  EXPECT_EQ(tight.calls_after_failure, 0);
  EXPECT_EQ(tight.taken, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(tight.taken.size())));

  LimitedWriter any{1000, {}};
  auto too_long = encode_to_writer(any, std::pair<std::uint8_t, HugeBlob>{1, {std::uint64_t{1} << 32}});
  ASSERT_FALSE(too_long.has_value());
  ASSERT_EQ(too_long.error().index(), 0u);
  EXPECT_EQ(std::get<0>(too_long.error()).display(), "usize is limited to u32");
  EXPECT_EQ(any.taken, Bytes{1});
}

}  // namespace
}  // namespace velto::sised
