#include "velto-mpc/ffi/mod.hpp"

#include <string_view>

#include "velto-mpc/ffi/conversions.hpp"

namespace velto::mpc {

namespace {

constexpr const char* kBadOutput = "[VELTO] invalid utf8 in ConstStr";
constexpr const char* kBadMessage = "[VELTO] Invalid UTF-8 in HeapString from FFI";

}  // namespace

std::string copy_output(const std::uint8_t* ptr, std::uint64_t len, const char* fault_text) {
  if (ptr == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(ptr), len);
  if (!is_utf8(text)) panic(fault_text);
  return text;
}

std::expected<void, VeltoError> result_from_ffi(ResultFFI result) {
  HeapString msg = result.message;
  if (result.code == 0) {
    if (msg.ptr != nullptr) velto_dealloc_heap_string(msg.ptr, msg.len);
    return {};
  }
  std::string text;
  if (msg.ptr != nullptr) {
    text.assign(reinterpret_cast<const char*>(msg.ptr), msg.len);
    velto_dealloc_heap_string(msg.ptr, msg.len);
  }
  if (!is_utf8(text)) panic(kBadMessage);
  return std::unexpected(VeltoError::from_code(result.code, std::move(text)));
}

HeapOutput::~HeapOutput() {
  if (s_.ptr != nullptr) velto_dealloc_heap_string(s_.ptr, s_.len);
}

std::string HeapOutput::text() const { return copy_output(s_.ptr, s_.len, kBadMessage); }

namespace {

template <class Out, class Make>
CallbackValue<Out> callback_value(ResultFFI result, Make make) {
  try {
    auto r = result_from_ffi(result);
    if (!r) return CallbackValue<Out>(std::in_place_type<VeltoError>, std::move(r.error()));
    return CallbackValue<Out>(std::in_place_type<Out>, make());
  } catch (const Panic& p) {
    return CallbackValue<Out>(std::in_place_type<CallbackFault>, CallbackFault{p.message()});
  }
}

}  // namespace

}  // namespace velto::mpc

using velto::mpc::CallbackValue;
using velto::mpc::DoubleOutput;

extern "C" void velto_single_cb(void* context, ConstStr output, ResultFFI result) {
  std::unique_ptr<velto::mpc::SingleContext> cell(static_cast<velto::mpc::SingleContext*>(context));
  auto value = velto::mpc::callback_value<std::string>(
      result, [&] { return velto::mpc::copy_output(output.ptr, output.len, velto::mpc::kBadOutput); });
  // A closed channel (the operation was dropped) just drops the value.
  (void)cell->tx.send(std::move(value));
}

extern "C" void velto_double_cb(void* context, ConstStr first, ConstStr second, ResultFFI result) {
  std::unique_ptr<velto::mpc::DoubleContext> cell(static_cast<velto::mpc::DoubleContext*>(context));
  auto value = velto::mpc::callback_value<DoubleOutput>(result, [&] {
    auto a = velto::mpc::copy_output(first.ptr, first.len, velto::mpc::kBadOutput);
    auto b = velto::mpc::copy_output(second.ptr, second.len, velto::mpc::kBadOutput);
    return DoubleOutput(std::move(a), std::move(b));
  });
  (void)cell->tx.send(std::move(value));
}
