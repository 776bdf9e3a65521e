// A small relay server for tests and demonstrations.
//
// It speaks what the relay transport expects of a relay, over TLS on one
// listening socket:
// - HTTPS GET /create_room/{n} (1 <= n <= 8192) answers 200 with a new room
//   id as 32 lower-case hexadecimal digits. With an API key configured, the
//   request must carry "Authorization: Bearer {key}", else 401.
// - A websocket at /join_room/{room id}/{public key hex}?op=..&s=..&t=..&n=..&v=..
//   joins the room. Bad requests get an HTTP error status and are closed.
//   Members get relay ids 1, 2, 3 ... in the order they join. When the room
//   holds n members, every member receives the room's party list: a relay
//   frame from 65535 to the member whose payload lists (relay id, key) for
//   every member in ascending id order.
// - After that, relay frames are forwarded unchanged to the member named as
//   recipient. A frame that is malformed, claims another sender, comes too
//   early or names an unknown recipient is answered with an error frame.
//   Frames for a member that has left are dropped.
//
// Everything runs on one thread of the server's own. Test hooks (scripted
// create-room replies, a request log, silence, raw frames to members) are
// safe to call from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velto::relay {

inline constexpr std::uint16_t kServerRelayId = 65535;
inline constexpr std::uint16_t kMaxRoomSize = 8192;
// Incoming websocket messages above this are refused (the clients' own limit).
inline constexpr std::size_t kMaxMessage = 4 * 1024 * 1024;

struct RelayConfig {
  std::string address = "127.0.0.1";
  std::uint16_t port = 0;  // 0: a free port chosen by the system
  std::string cert_file;   // PEM certificate chain
  std::string key_file;    // PEM private key
  std::optional<std::string> api_key;
};

// One HTTP request as it arrived (before any upgrade).
struct RecordedRequest {
  std::string method;
  std::string target;
  std::string head;  // the raw request line and header lines, up to the blank line
  std::string alpn;  // the protocols the client offered in its TLS handshake, comma-separated
};

// A canned answer to the next create-room request (tests only).
struct ScriptedReply {
  unsigned status = 200;
  std::optional<std::string> content_type;
  std::string body;
  bool hang = false;  // answer nothing and wait for the client to give up
};

enum class MessageKind { Binary, Text, Ping, Close };

// What the relay does with the members' relay frames (tests only): forward
// them, or keep them without forwarding (for trickle_stored).
enum class Forwarding { Forward, Store };

// How a member's connection ended, as the relay saw it: the code of the
// member's close frame, or 1006 when the connection ended without one.
struct ClosedMember {
  std::uint16_t relay_id = 0;
  std::uint16_t code = 0;
};

class RelayServer {
 public:
  explicit RelayServer(RelayConfig config);
  ~RelayServer();
  RelayServer(const RelayServer&) = delete;
  RelayServer& operator=(const RelayServer&) = delete;

  // Loads the certificate, binds and starts serving; a description of the
  // failure otherwise.
  std::expected<void, std::string> start();
  // Stops serving and drops every connection. Idempotent.
  void stop();
  std::uint16_t port() const noexcept;

  // --- test hooks
  // Answers the next create-room requests with these replies, in order, and
  // the ones after them normally.
  void script_create_room(std::vector<ScriptedReply> replies);
  // Every request received so far.
  std::vector<RecordedRequest> requests() const;
  // While set, new connections are accepted and then never answered.
  void set_silent(bool silent);
  // Lets one key join a room more than once.
  void set_allow_duplicate_keys(bool allow);
  // Sends one websocket message to a member; false when the room or member
  // does not exist.
  bool send_to_member(const std::string& room_hex, std::uint16_t relay_id, MessageKind kind, std::string bytes);
  // Writes raw bytes to a member's TLS stream, outside the websocket framing
  // (to present hand-made frames); false when there is no such member.
  bool send_raw_to_member(const std::string& room_hex, std::uint16_t relay_id, std::string bytes);
  // Members currently connected to a room (0 for an unknown room).
  std::size_t member_count(const std::string& room_hex) const;

  // --- misbehaviour on command (tests only)
  // What happens to the relay frames that arrive from now on (forwarding by
  // default). Stored frames keep their sender and recipient.
  void set_forwarding(Forwarding forwarding);
  // Sends the frames stored for `relay_id` in this room to it again, one
  // every `every`, in turn, `count` in all (fewer when the member leaves);
  // false when nothing is stored for it.
  bool trickle_stored(const std::string& room_hex, std::uint16_t relay_id, std::chrono::milliseconds every,
                      std::size_t count);
  // How the members' connections ended, in the order they ended.
  std::vector<ClosedMember> closed_members(const std::string& room_hex) const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

// The payload of the party-list frame: count (varint), then per member its
// relay id (2 bytes little-endian) and its 32-byte key.
std::string encode_room_parties(const std::vector<std::pair<std::uint16_t, std::string>>& members);
// A relay frame: 01, from, to, payload length (varint), payload.
std::string encode_relay_frame(std::uint16_t from, std::uint16_t to, const std::string& payload);
// An error frame: 00, text length (varint), text.
std::string encode_error_frame(const std::string& text);

}  // namespace velto::relay
