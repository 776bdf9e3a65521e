#include "executor/ws_frames.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velto::executor {
namespace {

using crypto::Bytes;

Bytes bytes(std::initializer_list<int> v) {
  Bytes out;
  for (int b : v) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}

Bytes filled(std::size_t n, std::uint8_t value = 0xAB) { return Bytes(n, value); }

crypto::ByteArray<32> key(std::uint8_t b) {
  crypto::ByteArray<32> k;
  k.fill(b);
  return k;
}

// --------------------------------------------------------------------------
// Encoding

TEST(WsFramesEncode, RelayFrameLayout) {
  EXPECT_EQ(encode_relay_frame(2, 3, bytes({1, 2, 3})), bytes({0x01, 0x02, 0x00, 0x03, 0x00, 0x03, 0x01, 0x02, 0x03}));
  EXPECT_EQ(encode_relay_frame(0x1234, SERVER_RELAY_ID, {}), bytes({0x01, 0x34, 0x12, 0xFF, 0xFF, 0x00}));
}

TEST(WsFramesEncode, LengthVarintAndExactSize) {
  struct Case {
    std::size_t len;
    Bytes length_bytes;
  };
  const std::vector<Case> cases = {
      {0, bytes({0x00})},
      {251, bytes({0xFB})},
      {252, bytes({0xFC, 0xFC})},
      {255, bytes({0xFC, 0xFF})},
      {256, bytes({0xFD, 0x00, 0x01})},
      {65535, bytes({0xFD, 0xFF, 0xFF})},
      {65536, bytes({0xFE, 0x00, 0x00, 0x01})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.len);
    const Bytes frame = encode_relay_frame(7, 9, filled(c.len));
    ASSERT_EQ(frame.size(), 5 + c.length_bytes.size() + c.len);
    EXPECT_EQ(relay_frame_size(c.len), frame.size());
    EXPECT_EQ(frame.capacity(), frame.size()) << "the buffer is allocated at its exact size";
    EXPECT_EQ(Bytes(frame.begin() + 5, frame.begin() + 5 + static_cast<long>(c.length_bytes.size())), c.length_bytes);
    // And it reads back.
    auto decoded = read_relay_frame(frame);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->from, 7);
    EXPECT_EQ(decoded->to, 9);
    EXPECT_EQ(decoded->payload, filled(c.len));
  }
  EXPECT_EQ(encode_relay_frame(1, 2, filled(252)).size(), 259u);
}

TEST(WsFramesEncode, ErrorFrame) {
  EXPECT_EQ(encode_ws_message(ServerErrorFrame{"ok"}), bytes({0x00, 0x02, 0x6F, 0x6B}));
}

// --------------------------------------------------------------------------
// Decoding

TEST(WsFramesDecode, Vectors) {
  auto relay = decode_ws_message(bytes({0x01, 0x02, 0x00, 0x03, 0x00, 0x01, 0x41, 0x42}));
  ASSERT_TRUE(relay.has_value());
  EXPECT_EQ(std::get<RelayFrame>(*relay), (RelayFrame{2, 3, bytes({0x41})})) << "the trailing byte is ignored";

  auto empty = decode_ws_message(bytes({0x01, 0x02, 0x00, 0x03, 0x00, 0x00}));
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(std::get<RelayFrame>(*empty).payload.empty());

  auto error = decode_ws_message(bytes({0x00, 0x02, 0x6F, 0x6B}));
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(std::get<ServerErrorFrame>(*error).text, "ok");
}

TEST(WsFramesDecode, Failures) {
  struct Case {
    Bytes frame;
    std::string error;
  };
  const std::vector<Case> cases = {
      {bytes({0x02}), "Invalid discriminant"},
      {bytes({0x05, 0x00, 0x00}), "Invalid discriminant"},
      {bytes({0xFC, 0xFC}), "Invalid discriminant"},
      {bytes({0xFC, 0x01}), "Invalid varint encoding"},
      {bytes({0xFD, 0x05, 0x00}), "Invalid varint encoding"},
      {bytes({}), "Out of bounds"},
      {bytes({0xFD, 0x01}), "Out of bounds"},
      {bytes({0x01, 0x02, 0x00, 0x03, 0x00}), "Out of bounds"},
      {bytes({0x01, 0x02, 0x00, 0x03}), "Out of bounds"},
      {bytes({0x01, 0x02, 0x00, 0x03, 0x00, 0x02, 0x41}), "Out of bounds"},
      {bytes({0x01, 0x00, 0x00, 0x03, 0x00, 0x00}), "Zero value in a NonZero type"},
      {bytes({0x01, 0x02, 0x00, 0x00, 0x00, 0x00}), "Zero value in a NonZero type"},
      {bytes({0x00, 0x02, 0xFF, 0xFE}), "Invalid utf8 string"},
      {bytes({0x00, 0x03, 0x6F}), "Out of bounds"},
      {bytes({0x00, 0xFC, 0x01}), "Invalid varint encoding"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.frame));
    auto decoded = decode_ws_message(c.frame);
    ASSERT_FALSE(decoded.has_value());
    EXPECT_EQ(decoded.error().display(), c.error);

    // The frame reader reports it as a deserialization error.
    auto read = read_relay_frame(c.frame);
    ASSERT_FALSE(read.has_value());
    ASSERT_NE(read.error().get_if<RelayError::DeserializationError>(), nullptr);
    EXPECT_EQ(read.error().display(), "Failed deserializing `WebSocketMessage`: Sised deserialization failed: " + c.error);
  }
}

// --------------------------------------------------------------------------
// RelayError

// The websocket library's error as it renders itself, with a cause of its
// own: RelayError::WebSocketError must pass both through.
class LibraryCause final : public Error {
 public:
  std::string display() const override { return "inner cause"; }
  std::string debug() const override { return "Inner"; }
};
class LibraryError final : public Error {
 public:
  std::string display() const override { return "Connection closed normally"; }
  std::string debug() const override { return "ConnectionClosed"; }
  const Error* source() const noexcept override { return &cause; }
  LibraryCause cause;
};

TEST(RelayErrorText, DisplayDebugAndSource) {
  // An Error frame as the reader yields it.
  auto from_frame = read_relay_frame(bytes({0x00, 0x02, 0x6F, 0x6B}));
  ASSERT_FALSE(from_frame.has_value());
  struct Case {
    std::string name;
    RelayError error;
    std::string display;
    std::string debug;
    std::optional<std::string> source;  // the source's display, if any
  };
  const std::vector<Case> cases = {
      {"server error frame", from_frame.error(), "Received an error message from the server: ok",
       "ServerError(\"ok\")", std::nullopt},
      // An empty text leaves the prefix alone.
      {"empty server text", RelayError(RelayError::ServerError{""}), "Received an error message from the server: ",
       "ServerError(\"\")", std::nullopt},
      // The display carries the text unchanged; the debug form quotes and
      // escapes it.
      {"escaped server text", RelayError(RelayError::ServerError{"say \"no\"\\\n\x01"}),
       "Received an error message from the server: say \"no\"\\\n\x01",
       "ServerError(\"say \\\"no\\\"\\\\\\n\\u{1}\")", std::nullopt},
      // No closing back-tick.
      {"undecodable frame", RelayError::from_decode_error(sised::SisedError::custom("Invalid discriminant")),
       "Failed deserializing `WebSocketMessage`: Sised deserialization failed: Invalid discriminant",
       "DeserializationError(Sised(Custom(\"Invalid discriminant\")))",
       "Sised deserialization failed: Invalid discriminant"},
      // Transparent: the library's text, and the library error's own source.
      {"websocket library", RelayError(RelayError::WebSocketError{box_error<LibraryError>()}),
       "Connection closed normally", "WebSocketError(Error(ConnectionClosed))", "inner cause"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.error.display(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
    const Error* source = c.error.source();
    ASSERT_EQ(source != nullptr, c.source.has_value());
    if (source) {
      EXPECT_EQ(source->display(), *c.source);
    }
  }
}

// --------------------------------------------------------------------------
// RoomParties

Bytes entry(std::uint16_t id, std::uint8_t key_byte) {
  Bytes out = {static_cast<std::uint8_t>(id & 0xFF), static_cast<std::uint8_t>(id >> 8)};
  const auto k = key(key_byte);
  out.insert(out.end(), k.begin(), k.end());
  return out;
}

Bytes parties(Bytes count, std::vector<Bytes> entries) {
  Bytes out = std::move(count);
  for (const auto& e : entries) out.insert(out.end(), e.begin(), e.end());
  return out;
}

TEST(RoomPartiesDecode, Accepted) {
  auto empty = decode_room_parties_payload(bytes({0x00}));
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());

  auto three = decode_room_parties_payload(parties(bytes({3}), {entry(1, 0x11), entry(2, 0x22), entry(7, 0x77)}));
  ASSERT_TRUE(three.has_value());
  EXPECT_EQ(*three, (RoomMap{{1, key(0x11)}, {2, key(0x22)}, {7, key(0x77)}}));

  // An equal id is accepted; the later key wins.
  auto repeated = decode_room_parties_payload(parties(bytes({3}), {entry(3, 0x01), entry(3, 0x02), entry(5, 0x05)}));
  ASSERT_TRUE(repeated.has_value());
  EXPECT_EQ(*repeated, (RoomMap{{3, key(0x02)}, {5, key(0x05)}}));

  // Bytes after the last entry are ignored.
  Bytes trailing = parties(bytes({1}), {entry(65535, 0x09)});
  trailing.push_back(0xEE);
  auto t = decode_room_parties_payload(trailing);
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(*t, (RoomMap{{65535, key(0x09)}}));
}

TEST(RoomPartiesDecode, Failures) {
  struct Case {
    const char* name;
    Bytes payload;
    std::string error;
  };
  Bytes short_key = parties(bytes({1}), {});
  short_key.insert(short_key.end(), {0x01, 0x00});
  short_key.insert(short_key.end(), 31, 0x44);
  const std::vector<Case> cases = {
      {"empty payload", bytes({}), "Out of bounds"},
      {"marker without its bytes", bytes({0xFD, 0x01}), "Out of bounds"},
      {"count not in shortest form", bytes({0xFC, 0x02}), "Invalid varint encoding"},
      {"count 2 with one entry", parties(bytes({2}), {entry(1, 0x11)}), "Out of bounds"},
      {"id without key", parties(bytes({1}), {bytes({0x01, 0x00})}), "Out of bounds"},
      {"key one byte short", short_key, "Out of bounds"},
      {"decreasing ids", parties(bytes({2}), {entry(5, 0x05), entry(3, 0x03)}), "Collection is not sorted"},
      {"id zero", parties(bytes({1}), {entry(0, 0x01)}), "Zero value in a NonZero type"},
      {"huge count, little data", parties(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), {entry(1, 0x01)}), "Out of bounds"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto decoded = decode_room_parties_payload(c.payload);
    ASSERT_FALSE(decoded.has_value());
    EXPECT_EQ(decoded.error().display(), c.error);
  }
}

TEST(RoomPartiesDecode, RoundTripsTheEncoder) {
  const RoomMap room = {{1, key(0x01)}, {2, key(0xFE)}, {300, key(0x30)}};
  const Bytes payload = encode_room_parties(room);
  EXPECT_EQ(payload.size(), 1 + 3 * 34u);
  EXPECT_EQ(payload, parties(bytes({3}), {entry(1, 0x01), entry(2, 0xFE), entry(300, 0x30)}));
  auto back = decode_room_parties_payload(payload);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, room);
}

}  // namespace
}  // namespace velto::executor
