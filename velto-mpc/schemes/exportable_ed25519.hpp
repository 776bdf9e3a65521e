// The exportable Ed25519 side of the binding: the library calls of
// PyExportableEd25519 with completion callbacks of their own, and failures
// as the texts the class raises (RuntimeError), never as VeltoError.
//
// Texts:
//   library error   "MPC error {code}: {msg}", or "MPC error {code}" without
//                   a message (the message is released by whoever reads it)
//   refused call    "{fn} failed (sync): {e}"
//   failed run      "{fn} failed: {e}"
//   lost callback   "{fn} channel dropped"
// Library text that is not UTF-8 never aborts: a message is shown with its
// stray bytes as \xNN, an output fails the call ("{fn} returned a text that
// is not UTF-8").
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "executor/bindings/velto.h"
#include "velto-mpc-infra/async/channel.hpp"
#include "velto-mpc/ffi/mod.hpp"

extern "C" {
void velto_exportable_single_cb(void* context, ConstStr output, ResultFFI result);
void velto_exportable_double_cb(void* context, ConstStr first, ConstStr second, ResultFFI result);
}

namespace velto::mpc::exportable {

// A call's value, or the text of its RuntimeError.
template <class Out>
using Outcome = std::expected<Out, std::string>;

// The library error text of a result with a non-zero code; releases the
// message.
std::string library_error_text(ResultFFI result);

// What a callback sends: the outputs, or the library error text.
struct LibraryFailure {
  std::string text;
};
template <class Out>
using Delivered = std::variant<Out, LibraryFailure>;

struct SingleCell {
  async::OneshotSender<Delivered<std::string>> tx;
};
struct DoubleCell {
  async::OneshotSender<Delivered<DoubleOutput>> tx;
};

namespace detail {

bool all_utf8(const std::string& s);
bool all_utf8(const DoubleOutput& p);

template <class Out, class Cell, class Call, class Callback>
boost::asio::awaitable<Outcome<Out>> call(std::string_view fn, Call& call, Callback callback) {
  auto [tx, rx] = async::oneshot<Delivered<Out>>();
  auto cell = std::make_unique<Cell>();
  cell->tx = std::move(tx);
  const ResultFFI r = call(callback, static_cast<void*>(cell.get()));
  if (r.code != 0) {
    std::string refused = std::string(fn) + " failed (sync): " + library_error_text(r);
    co_return std::unexpected(std::move(refused));
  }
  (void)cell.release();  // the library's until the callback has run
  if (r.message.ptr != nullptr) velto_dealloc_heap_string(r.message.ptr, r.message.len);
  auto received = co_await rx.receive();
  if (!received) co_return std::unexpected(std::string(fn) + " channel dropped");
  if (auto* failure = std::get_if<LibraryFailure>(&*received)) {
    co_return std::unexpected(std::string(fn) + " failed: " + failure->text);
  }
  Out out = std::move(std::get<Out>(*received));
  if (!all_utf8(out)) co_return std::unexpected(std::string(fn) + " returned a text that is not UTF-8");
  co_return std::move(out);
}

}  // namespace detail

// `call(callback, context)` makes exactly one library call, named `fn` in
// the texts, and returns its ResultFFI.
template <class Call>
boost::asio::awaitable<Outcome<std::string>> call_single(std::string_view fn, Call call) {
  co_return co_await detail::call<std::string, SingleCell>(fn, call, &velto_exportable_single_cb);
}
template <class Call>
boost::asio::awaitable<Outcome<DoubleOutput>> call_double(std::string_view fn, Call call) {
  co_return co_await detail::call<DoubleOutput, DoubleCell>(fn, call, &velto_exportable_double_cb);
}

// Hex of either case, any even length: the bytes, or "{what} hex decode: {d}"
// with d "Odd number of digits" or "Invalid character '{c}' at position {i}".
Outcome<std::vector<std::uint8_t>> decode_hex(std::string_view what, std::string_view text);

// The synchronous reads of a share: the group key's hex and the export id,
// failing with "get_pubkey failed: {e}" and "export_id failed: {e}".
Outcome<std::string> get_pubkey(const std::string& secret_share);
Outcome<std::string> get_export_id(const std::string& secret_share);

}  // namespace velto::mpc::exportable
