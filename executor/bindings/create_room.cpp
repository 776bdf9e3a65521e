// velto_create_room: checks and copies its arguments, then starts one detached
// room-creation task on the library runtime; the room id or the failure
// arrives through the single-output callback.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "executor/bindings/c_api.hpp"
#include "server-tools/create_room.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::executor {
namespace {

// The body of the room-creation task: the room id as 32 lower-case hex
// digits, or CreateRoom carrying the relay request's error.
boost::asio::awaitable<ffi::OperationResult<std::string>> create_room_body(std::string authority, std::uint16_t n,
                                                                          std::string api_key) {
  auto room = co_await server_tools::create_room(server_tools::HostAuthority::with_tls(std::move(authority)), n,
                                                 std::move(api_key));
  if (!room) {
    auto kind = ExecutorErrorKind(ExecutorErrorKind::CreateRoom{box_error<server_tools::ServerToolsError>(std::move(room.error()))});
    co_return std::unexpected(ExecutorFailure(std::move(kind)));
  }
  co_return server_tools::room_uuid_hex(*room);
}

// Owns the copied inputs for the life of the task.
class CreateRoomTask {
 public:
  CreateRoomTask(std::string authority, std::uint16_t n, std::string api_key)
      : authority_(std::move(authority)), n_(n), api_key_(std::move(api_key)) {}

  boost::asio::awaitable<ffi::OperationResult<std::string>> operator()() {
    return create_room_body(std::move(authority_), n_, std::move(api_key_));
  }

 private:
  std::string authority_;
  std::uint16_t n_;
  std::string api_key_;
};

}  // namespace
}  // namespace velto::executor

extern "C" ResultFFI velto_create_room(ConstStr host, uint16_t n, ConstStr api_key, SingleCallback callback,
                                       void* context) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto authority = ffi::decode_arg(host, FfiErrorKind::InvalidHostUrl, parse_host_authority);
    if (!authority) return ffi::refuse(std::move(authority.error()));
    // Room creation reports a bad party count as an executor error (-8), not
    // as -6 like the other functions; callers rely on that.
    if (n == 0 || n > kMaxNumberOfParties) {
      return ffi::refuse(FfiError(FfiErrorKind::ExecutorError, InvalidNumberOfParties(n)));
    }
    auto key = ffi::text_arg(api_key, FfiErrorKind::InvalidApiKey);
    if (!key) return ffi::refuse(std::move(key.error()));
    return ffi::spawn_operation(callback, context, CreateRoomTask(std::move(*authority), n, std::move(*key)));
  });
}
