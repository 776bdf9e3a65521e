// sised: the library's compact, schema-less byte encoding.
//
// Reader and writer agree on the type; the bytes carry no field names, type
// tags or framing. Fixed-width integers are little-endian and written in
// full; lengths, counts and enum discriminants are varints (encoder.hpp).
// Decoding is defensive: every read is bounds-checked, varints must be in
// shortest form, and what a sequence may allocate is charged against a heap
// budget before anything is allocated (decoder.hpp).
//
// Each encodable type T has a Codec<T> with
//   static void encode(Sink&, const T&);
//   static std::expected<T, SisedError> decode(Decoder&);
// and optionally
//   static std::size_t size(const T&);                 // exact encoded size
//   static constexpr std::size_t fixed_size = ...;     // when every value has it
//   static constexpr std::size_t heap_size = ...;      // charge per item in a sequence
// Without size() the size pass runs the encoder into a byte counter; without
// heap_size an item is charged its in-memory size (sizeof).
//
// Records (plain structs) get their codec from VELTO_SISED_RECORD, which lists
// the fields in wire order; C++ enums from VELTO_SISED_ENUM.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "crypto/secret.hpp"
#include "sised/decoder.hpp"
#include "sised/encoder.hpp"
#include "sised/error.hpp"
#include "sised/party_id.hpp"

namespace velto::sised {

template <class T>
struct Codec;

inline constexpr std::string_view kInvalidDiscriminant = "Invalid discriminant";
inline constexpr std::string_view kZeroNonZero = "Zero value in a NonZero type";

// ---------------------------------------------------------------------------
// Generic entry points used inside codecs.

template <class T>
concept Encodable = requires(Sink& s, const T& v) { Codec<T>::encode(s, v); };

template <class T>
concept Decodable = requires(Decoder& d) {
  { Codec<T>::decode(d) } -> std::same_as<std::expected<T, SisedError>>;
};

template <class T>
void encode_value(Sink& sink, const T& v) {
  Codec<T>::encode(sink, v);
}

template <class T>
std::expected<T, SisedError> decode_value(Decoder& d) {
  return Codec<T>::decode(d);
}

// Exact number of bytes that encoding v produces.
template <class T>
std::size_t size_of(const T& v) {
  if constexpr (requires { Codec<T>::fixed_size; }) {
    return Codec<T>::fixed_size;
  } else if constexpr (requires { Codec<T>::size(v); }) {
    return Codec<T>::size(v);
  } else {
    Sink counter = Sink::counter();
    Codec<T>::encode(counter, v);
    return counter.written();
  }
}

namespace detail {
template <class T>
constexpr std::size_t heap_size_impl() {
  if constexpr (requires { Codec<T>::heap_size; }) {
    return Codec<T>::heap_size;
  } else if constexpr (requires { velto_sised_heap_size(static_cast<const T*>(nullptr)); }) {
    return velto_sised_heap_size(static_cast<const T*>(nullptr));
  } else {
    return sizeof(T);
  }
}
}  // namespace detail

// What one decoded item of type T costs the heap budget inside a sequence.
template <class T>
inline constexpr std::size_t heap_size_v = detail::heap_size_impl<T>();

// Reads a sequence: the varint count, the charge of count items of
// item_heap_size bytes (before anything is reserved), then the items one by
// one with read_next. The result grows as items arrive; the first failure
// ends the decoding and frees what was decoded.
template <class T, class ReadNext>
std::expected<std::vector<T>, SisedError> read_seq(Decoder& d, std::size_t item_heap_size, ReadNext&& read_next) {
  auto count = d.read_varint();
  if (!count) return std::unexpected(std::move(count.error()));
  if (auto c = d.charge(*count, item_heap_size); !c) return std::unexpected(std::move(c.error()));
  std::vector<T> out;
  for (std::uint32_t i = 0; i < *count; ++i) {
    std::expected<T, SisedError> item = read_next(d);
    if (!item) return std::unexpected(std::move(item.error()));
    out.push_back(std::move(*item));
  }
  return out;
}

// Writes a length, count or discriminant (fails the sink above 2^32 - 1).
inline void write_len(Sink& sink, std::size_t n) { write_varint(sink, n); }

// ---------------------------------------------------------------------------
// Integers and identifiers.

template <>
struct Codec<std::uint8_t> {
  static constexpr std::size_t fixed_size = 1;
  static constexpr std::size_t heap_size = 1;
  static void encode(Sink& s, std::uint8_t v) { s.write_byte(v); }
  static std::expected<std::uint8_t, SisedError> decode(Decoder& d) { return d.read_u8(); }
};

template <>
struct Codec<std::uint16_t> {
  static constexpr std::size_t fixed_size = 2;
  static constexpr std::size_t heap_size = 2;
  static void encode(Sink& s, std::uint16_t v) { write_u16(s, v); }
  static std::expected<std::uint16_t, SisedError> decode(Decoder& d) { return d.read_u16(); }
};

template <>
struct Codec<std::uint32_t> {
  static constexpr std::size_t fixed_size = 4;
  static constexpr std::size_t heap_size = 4;
  static void encode(Sink& s, std::uint32_t v) { write_u32(s, v); }
  static std::expected<std::uint32_t, SisedError> decode(Decoder& d) { return d.read_u32(); }
};

template <>
struct Codec<std::uint64_t> {
  static constexpr std::size_t fixed_size = 8;
  static constexpr std::size_t heap_size = 8;
  static void encode(Sink& s, std::uint64_t v) { write_u64(s, v); }
  static std::expected<std::uint64_t, SisedError> decode(Decoder& d) { return d.read_u64(); }
};

template <>
struct Codec<PartyId> {
  static constexpr std::size_t fixed_size = 2;
  static constexpr std::size_t heap_size = 2;
  static void encode(Sink& s, PartyId v) { write_u16(s, v.value()); }
  static std::expected<PartyId, SisedError> decode(Decoder& d) {
    auto v = d.read_u16();
    if (!v) return std::unexpected(std::move(v.error()));
    auto id = PartyId::from(*v);
    if (!id) return std::unexpected(SisedError::custom(kZeroNonZero));
    return *id;
  }
};

// ---------------------------------------------------------------------------
// Byte strings, texts, sequences.

// Items of a sequence are charged heap_size_v<T> each; byte strings 1 per byte.
template <class T>
struct Codec<std::vector<T>> {
  static void encode(Sink& s, const std::vector<T>& v) {
    write_len(s, v.size());
    if constexpr (std::same_as<T, std::uint8_t>) {
      s.write(v);
    } else {
      for (const T& item : v) Codec<T>::encode(s, item);
    }
  }
  static std::size_t size(const std::vector<T>& v) {
    std::size_t n = varint_size(v.size());
    if constexpr (requires { Codec<T>::fixed_size; }) {
      n += v.size() * Codec<T>::fixed_size;
    } else {
      for (const T& item : v) n += size_of(item);
    }
    return n;
  }
  static std::expected<std::vector<T>, SisedError> decode(Decoder& d) {
    if constexpr (std::same_as<T, std::uint8_t>) {
      auto count = d.read_varint();
      if (!count) return std::unexpected(std::move(count.error()));
      if (auto c = d.charge(*count, 1); !c) return std::unexpected(std::move(c.error()));
      auto bytes = d.take(*count);
      if (!bytes) return std::unexpected(std::move(bytes.error()));
      return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
    } else {
      return read_seq<T>(d, heap_size_v<T>, [](Decoder& dd) { return Codec<T>::decode(dd); });
    }
  }
};

// Text: length-prefixed bytes, charged 1 per byte. The bytes are taken as they
// are (no UTF-8 check).
template <>
struct Codec<std::string> {
  static void encode(Sink& s, const std::string& v) {
    write_len(s, v.size());
    s.write(crypto::as_bytes(v));
  }
  static std::size_t size(const std::string& v) { return varint_size(v.size()) + v.size(); }
  static std::expected<std::string, SisedError> decode(Decoder& d) {
    auto count = d.read_varint();
    if (!count) return std::unexpected(std::move(count.error()));
    if (auto c = d.charge(*count, 1); !c) return std::unexpected(std::move(c.error()));
    auto bytes = d.take(*count);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  }
};

// Encode-only views: a text or byte string written like std::string and
// crypto::Bytes (labels, hash inputs).
template <>
struct Codec<std::string_view> {
  static void encode(Sink& s, std::string_view v) {
    write_len(s, v.size());
    s.write(crypto::as_bytes(v));
  }
  static std::size_t size(std::string_view v) { return varint_size(v.size()) + v.size(); }
};

template <>
struct Codec<crypto::ByteSpan> {
  static void encode(Sink& s, crypto::ByteSpan v) {
    write_len(s, v.size());
    s.write(v);
  }
  static std::size_t size(crypto::ByteSpan v) { return varint_size(v.size()) + v.size(); }
};

// A secret byte string: the same bytes as crypto::Bytes, decoded straight into
// wiping storage.
template <>
struct Codec<crypto::SecretBytes> {
  static void encode(Sink& s, const crypto::SecretBytes& v) {
    write_len(s, v.size());
    s.write(v.span());
  }
  static std::size_t size(const crypto::SecretBytes& v) { return varint_size(v.size()) + v.size(); }
  static std::expected<crypto::SecretBytes, SisedError> decode(Decoder& d) {
    auto count = d.read_varint();
    if (!count) return std::unexpected(std::move(count.error()));
    if (auto c = d.charge(*count, 1); !c) return std::unexpected(std::move(c.error()));
    auto bytes = d.take(*count);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return crypto::SecretBytes(*bytes);
  }
};

// ---------------------------------------------------------------------------
// Fixed-size arrays: the items one after another, no count. A byte array is
// its raw bytes (32-byte tags, digests, seeds, keys).

template <class T, std::size_t N>
struct Codec<std::array<T, N>> {
  static constexpr std::size_t heap_size = N * heap_size_v<T>;
  static void encode(Sink& s, const std::array<T, N>& v) {
    if constexpr (std::same_as<T, std::uint8_t>) {
      s.write(v);
    } else {
      for (const T& item : v) Codec<T>::encode(s, item);
    }
  }
  static std::size_t size(const std::array<T, N>& v) {
    if constexpr (requires { Codec<T>::fixed_size; }) {
      return N * Codec<T>::fixed_size;
    } else {
      std::size_t n = 0;
      for (const T& item : v) n += size_of(item);
      return n;
    }
  }
  static std::expected<std::array<T, N>, SisedError> decode(Decoder& d) {
    static_assert(std::is_default_constructible_v<T>, "sised: array items must be default-constructible");
    std::array<T, N> out{};
    if constexpr (std::same_as<T, std::uint8_t>) {
      if (auto r = d.read_into(out); !r) return std::unexpected(std::move(r.error()));
    } else {
      for (T& item : out) {
        auto r = Codec<T>::decode(d);
        if (!r) return std::unexpected(std::move(r.error()));
        item = std::move(*r);
      }
    }
    return out;
  }
};

template <std::size_t N>
struct Codec<crypto::SecretArray<N>> {
  static constexpr std::size_t fixed_size = N;
  static constexpr std::size_t heap_size = N;
  static void encode(Sink& s, const crypto::SecretArray<N>& v) { s.write(v.span()); }
  static std::expected<crypto::SecretArray<N>, SisedError> decode(Decoder& d) {
    auto bytes = d.take(N);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return crypto::SecretArray<N>(*bytes);
  }
};

// ---------------------------------------------------------------------------
// Optional values, enums (std::variant: discriminant = index), tuples.

template <>
struct Codec<std::monostate> {
  static constexpr std::size_t fixed_size = 0;
  static void encode(Sink&, std::monostate) {}
  static std::expected<std::monostate, SisedError> decode(Decoder&) { return std::monostate{}; }
};

// One byte: 0 absent; 1 present, followed by the value. Any other tag is
// refused like an unknown enum discriminant.
template <class T>
struct Codec<std::optional<T>> {
  static void encode(Sink& s, const std::optional<T>& v) {
    s.write_byte(v ? 1 : 0);
    if (v) Codec<T>::encode(s, *v);
  }
  static std::size_t size(const std::optional<T>& v) { return 1 + (v ? size_of(*v) : 0); }
  static std::expected<std::optional<T>, SisedError> decode(Decoder& d) {
    auto tag = d.read_u8();
    if (!tag) return std::unexpected(std::move(tag.error()));
    if (*tag == 0) return std::optional<T>{};
    if (*tag != 1) return std::unexpected(SisedError::custom(kInvalidDiscriminant));
    auto v = Codec<T>::decode(d);
    if (!v) return std::unexpected(std::move(v.error()));
    return std::optional<T>(std::move(*v));
  }
};

template <class... Ts>
struct Codec<std::variant<Ts...>> {
  using V = std::variant<Ts...>;

  static void encode(Sink& s, const V& v) {
    write_len(s, v.index());
    std::visit([&s](const auto& alt) { encode_value(s, alt); }, v);
  }
  static std::size_t size(const V& v) {
    return varint_size(v.index()) + std::visit([](const auto& alt) { return size_of(alt); }, v);
  }
  static std::expected<V, SisedError> decode(Decoder& d) {
    auto disc = d.read_varint();
    if (!disc) return std::unexpected(std::move(disc.error()));
    if (*disc >= sizeof...(Ts)) return std::unexpected(SisedError::custom(kInvalidDiscriminant));
    return decode_alt(d, *disc, std::index_sequence_for<Ts...>{});
  }

 private:
  template <std::size_t I>
  static std::expected<V, SisedError> decode_one(Decoder& d) {
    using Alt = std::variant_alternative_t<I, V>;
    auto r = Codec<Alt>::decode(d);
    if (!r) return std::unexpected(std::move(r.error()));
    return V(std::in_place_index<I>, std::move(*r));
  }
  template <std::size_t... I>
  static std::expected<V, SisedError> decode_alt(Decoder& d, std::uint32_t disc, std::index_sequence<I...>) {
    using Fn = std::expected<V, SisedError> (*)(Decoder&);
    static constexpr Fn table[] = {&decode_one<I>...};
    return table[disc](d);
  }
};

namespace detail {

// Decodes the types Ts in order into a tuple of values, stopping at the first
// failure; the values are then handed to make(values...).
template <class Result, class... Ts, class Make>
std::expected<Result, SisedError> decode_fields(Decoder& d, Make&& make) {
  std::tuple<std::optional<Ts>...> slots;
  std::optional<SisedError> error;
  auto step = [&]<std::size_t I>() -> bool {
    using F = std::tuple_element_t<I, std::tuple<Ts...>>;
    auto r = Codec<F>::decode(d);
    if (!r) {
      error.emplace(std::move(r.error()));
      return false;
    }
    std::get<I>(slots).emplace(std::move(*r));
    return true;
  };
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (step.template operator()<I>() && ...);
  }(std::index_sequence_for<Ts...>{});
  if (error) return std::unexpected(std::move(*error));
  return [&]<std::size_t... I>(std::index_sequence<I...>) -> Result {
    return make(std::move(*std::get<I>(slots))...);
  }(std::index_sequence_for<Ts...>{});
}

template <class Tuple>
void encode_tuple(Sink& s, const Tuple& t) {
  std::apply([&s](const auto&... f) { (encode_value(s, f), ...); }, t);
}

template <class Tuple>
std::size_t size_tuple(const Tuple& t) {
  return std::apply([](const auto&... f) { return (std::size_t{0} + ... + size_of(f)); }, t);
}

}  // namespace detail

template <class... Ts>
struct Codec<std::tuple<Ts...>> {
  static void encode(Sink& s, const std::tuple<Ts...>& v) { detail::encode_tuple(s, v); }
  static std::size_t size(const std::tuple<Ts...>& v) { return detail::size_tuple(v); }
  static std::expected<std::tuple<Ts...>, SisedError> decode(Decoder& d) {
    return detail::decode_fields<std::tuple<Ts...>, Ts...>(
        d, [](Ts&&... f) { return std::tuple<Ts...>(std::move(f)...); });
  }
};

template <class A, class B>
struct Codec<std::pair<A, B>> {
  static void encode(Sink& s, const std::pair<A, B>& v) {
    Codec<A>::encode(s, v.first);
    Codec<B>::encode(s, v.second);
  }
  static std::size_t size(const std::pair<A, B>& v) { return size_of(v.first) + size_of(v.second); }
  static std::expected<std::pair<A, B>, SisedError> decode(Decoder& d) {
    return detail::decode_fields<std::pair<A, B>, A, B>(
        d, [](A&& a, B&& b) { return std::pair<A, B>(std::move(a), std::move(b)); });
  }
};

// ---------------------------------------------------------------------------
// Records and C++ enums declared with the macros below.

template <class T>
concept SisedRecord = requires(const T& v) { velto_sised_fields(v); };

template <SisedRecord T>
struct Codec<T> {
  using Fields = decltype(velto_sised_fields(std::declval<const T&>()));

  static void encode(Sink& s, const T& v) { detail::encode_tuple(s, velto_sised_fields(v)); }
  static std::size_t size(const T& v) { return detail::size_tuple(velto_sised_fields(v)); }
  static std::expected<T, SisedError> decode(Decoder& d) {
    return decode_impl(d, std::make_index_sequence<std::tuple_size_v<Fields>>{});
  }

 private:
  template <std::size_t... I>
  static std::expected<T, SisedError> decode_impl(Decoder& d, std::index_sequence<I...>) {
    return detail::decode_fields<T, std::remove_cvref_t<std::tuple_element_t<I, Fields>>...>(
        d, [](auto&&... f) { return T{std::move(f)...}; });
  }
};

template <class T>
concept SisedEnum = std::is_enum_v<T> && requires { velto_sised_enum_count(static_cast<const T*>(nullptr)); };

template <SisedEnum T>
struct Codec<T> {
  static constexpr std::size_t heap_size = sizeof(T);
  static void encode(Sink& s, T v) { write_varint(s, static_cast<std::uint64_t>(v)); }
  static std::size_t size(T v) { return varint_size(static_cast<std::uint64_t>(v)); }
  static std::expected<T, SisedError> decode(Decoder& d) {
    auto disc = d.read_varint();
    if (!disc) return std::unexpected(std::move(disc.error()));
    if (*disc >= velto_sised_enum_count(static_cast<const T*>(nullptr)))
      return std::unexpected(SisedError::custom(kInvalidDiscriminant));
    return static_cast<T>(*disc);
  }
};

// ---------------------------------------------------------------------------
// Whole values.

// Exact number of bytes that encode(v) produces.
template <class T>
std::size_t encoded_size(const T& v) {
  return size_of(v);
}

// Appends the encoding of v to out. On failure out is left as it was.
template <class T>
std::expected<void, EncodeError> encode_append(crypto::Bytes& out, const T& v) {
  const std::size_t old_size = out.size();
  Sink sink = Sink::buffer(out);
  Codec<T>::encode(sink, v);
  if (!sink.ok()) {
    out.resize(old_size);
    return std::unexpected(*sink.encode_error());
  }
  return {};
}

// The encoding of v in a buffer allocated once, with room for reserve_extra
// more bytes (for example the 32-byte tag appended to every message).
template <class T>
std::expected<crypto::Bytes, EncodeError> encode(const T& v, std::size_t reserve_extra = 0) {
  crypto::Bytes out;
  out.reserve(size_of(v) + reserve_extra);
  if (auto r = encode_append(out, v); !r) return std::unexpected(std::move(r.error()));
  return out;
}

// Decodes a T from the start of input under a fresh heap budget; bytes after
// the value are ignored.
template <class T>
std::expected<T, SisedError> decode(crypto::ByteSpan input, std::size_t heap_limit = kMessageHeapLimit) {
  Decoder d(input, heap_limit);
  return Codec<T>::decode(d);
}

// Feeds the encoding of v to a hasher (anything with update(ByteSpan), such as
// crypto::Blake3). Hash inputs are bounded far below the length limit, so a
// failure here is a bug and panics with panic_message.
template <class H, class T>
void hash_into(H& hasher, const T& v, std::string_view panic_message = "Failed to serialize hash input. Bug!") {
  Sink sink = Sink::callback(&hasher, [](void* ctx, crypto::ByteSpan bytes) {
    static_cast<H*>(ctx)->update(bytes);
    return true;
  });
  Codec<T>::encode(sink, v);
  if (!sink.ok()) velto::panic(std::string(panic_message));
}

// Error of encoding into a fallible writer: the encoder's own failure or the
// writer's error, whichever came first.
template <class E>
using WriterError = std::variant<EncodeError, E>;

// Encodes v into a writer whose write(ByteSpan) returns std::expected<void, E>
// (the text writer of stored share records). The first failed write ends the
// encoding with the writer's error; nothing further is written.
template <class T, class W>
auto encode_to_writer(W& writer, const T& v) {
  using E = typename std::invoke_result_t<decltype(&W::write), W&, crypto::ByteSpan>::error_type;
  struct Context {
    W* writer;
    std::optional<E> error;
  } ctx{&writer, std::nullopt};
  Sink sink = Sink::callback(&ctx, [](void* c, crypto::ByteSpan bytes) {
    auto* context = static_cast<Context*>(c);
    auto r = context->writer->write(bytes);
    if (r) return true;
    context->error.emplace(std::move(r.error()));
    return false;
  });
  Codec<T>::encode(sink, v);
  using Result = std::expected<void, WriterError<E>>;
  if (sink.sink_failed()) return Result(std::unexpect, std::in_place_index<1>, std::move(*ctx.error));
  if (!sink.ok()) return Result(std::unexpect, std::in_place_index<0>, *sink.encode_error());
  return Result();
}

}  // namespace velto::sised

// ---------------------------------------------------------------------------
// Declaring codecs.
//
// VELTO_SISED_RECORD(Type, field1, field2, ...) gives the struct Type the
// codec "its fields in this order, nothing between them". Use it in the
// namespace of Type, after its definition; the fields must be accessible and
// Type constructible as Type{field1, field2, ...}.
//
// VELTO_SISED_HEAP_SIZE(Type, n) sets what one Type costs the heap budget
// inside a sequence (default: sizeof(Type)).
//
// VELTO_SISED_ENUM(Type, count) encodes the C++ enum Type as a varint
// discriminant 0 .. count - 1; other values are refused with
// Custom("Invalid discriminant").

#define VELTO_SISED_PARENS ()
#define VELTO_SISED_EXPAND(...) VELTO_SISED_EXPAND4(VELTO_SISED_EXPAND4(VELTO_SISED_EXPAND4(__VA_ARGS__)))
#define VELTO_SISED_EXPAND4(...) VELTO_SISED_EXPAND3(VELTO_SISED_EXPAND3(VELTO_SISED_EXPAND3(__VA_ARGS__)))
#define VELTO_SISED_EXPAND3(...) VELTO_SISED_EXPAND2(VELTO_SISED_EXPAND2(VELTO_SISED_EXPAND2(__VA_ARGS__)))
#define VELTO_SISED_EXPAND2(...) VELTO_SISED_EXPAND1(VELTO_SISED_EXPAND1(VELTO_SISED_EXPAND1(__VA_ARGS__)))
#define VELTO_SISED_EXPAND1(...) __VA_ARGS__
#define VELTO_SISED_FIELDS_HELPER(v, f, ...) \
  v.f __VA_OPT__(, VELTO_SISED_FIELDS_AGAIN VELTO_SISED_PARENS(v, __VA_ARGS__))
#define VELTO_SISED_FIELDS_AGAIN() VELTO_SISED_FIELDS_HELPER

#define VELTO_SISED_RECORD(Type, ...)                                                    \
  [[maybe_unused]] inline auto velto_sised_fields(const Type& velto_sised_value) noexcept { \
    return std::tie(VELTO_SISED_EXPAND(VELTO_SISED_FIELDS_HELPER(velto_sised_value, __VA_ARGS__))); \
  }

#define VELTO_SISED_HEAP_SIZE(Type, n) \
  [[maybe_unused]] constexpr std::size_t velto_sised_heap_size(const Type*) noexcept { return (n); }

#define VELTO_SISED_ENUM(Type, count) \
  [[maybe_unused]] constexpr std::uint32_t velto_sised_enum_count(const Type*) noexcept { return (count); }
