// The inputs of the operation bodies that every scheme takes alike, each
// moved into its body as one value once the function has checked and copied
// the arguments. They are classes with constructors (not aggregates) so that
// they can be built inside statements that await. The inputs that differ
// between the schemes (what is signed, what is imported) have classes of
// their own beside each scheme's bodies.
#pragma once

#include <cstdint>
#include <utility>

#include "executor/bindings/keygen.hpp"
#include "executor/ws.hpp"
#include "noise-kk/keys.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::executor {

// Key generation: `n` parties, threshold `t`, the own transport key pair
// (from the keygen secret) and the other parties' keygen ids (the own id may
// be among them).
class KeygenArgs {
 public:
  KeygenArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, std::uint16_t n_, std::uint16_t t_,
             noise::NoiseKeyPair own_, KeygenIdSet keygen_ids_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), n(n_), t(t_), own(std::move(own_)), keygen_ids(std::move(keygen_ids_)),
        timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  std::uint16_t n;
  std::uint16_t t;
  noise::NoiseKeyPair own;
  KeygenIdSet keygen_ids;
  RelayTimings timings;
};

// A party that takes part with its keygen identity alone: the new party of a
// reshare (`threshold` is the new one) and the recipient of an import; the
// importer's inputs start with the same values.
class IdentityArgs {
 public:
  IdentityArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, std::uint16_t threshold_,
               noise::NoiseKeyPair own_, KeygenIdSet keygen_ids_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), threshold(threshold_), own(std::move(own_)),
        keygen_ids(std::move(keygen_ids_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  std::uint16_t threshold;
  noise::NoiseKeyPair own;
  KeygenIdSet keygen_ids;
  RelayTimings timings;
};

// A holder of a decoded stored share among the share's parties: refresh.
template <class Share>
class ShareArgs {
 public:
  ShareArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, Share share_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), share(std::move(share_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  Share share;
  RelayTimings timings;
};

// Export of the full private key to the party whose transport public key is
// `export_to`.
template <class Share>
class ExportArgs {
 public:
  ExportArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, Share share_,
             noise::PublicKey export_to_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), share(std::move(share_)), export_to(export_to_), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  Share share;
  noise::PublicKey export_to;
  RelayTimings timings;
};

// Reshare, remaining party: the new threshold and the keygen ids of the new
// party set.
template <class Share>
class ReshareRemainingArgs {
 public:
  ReshareRemainingArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, std::uint16_t new_threshold_,
                       Share share_, KeygenIdSet keygen_ids_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), new_threshold(new_threshold_), share(std::move(share_)),
        keygen_ids(std::move(keygen_ids_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  std::uint16_t new_threshold;
  Share share;
  KeygenIdSet keygen_ids;
  RelayTimings timings;
};

}  // namespace velto::executor
