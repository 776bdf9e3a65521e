// The exportable class's own call path, driven by fake library calls (the
// callbacks are invoked by the test itself): every failure becomes the text
// of a RuntimeError, and library text that is not UTF-8 never aborts.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <string>

#include "executor/bindings/c_api.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc/ffi/conversions.hpp"
#include "velto-mpc/schemes/exportable_ed25519.hpp"

namespace velto::mpc::exportable {
namespace {

ResultFFI failed(std::int32_t code, std::string_view message) {
  return ResultFFI{executor::ffi::make_heap_string(message), code};
}
const ResultFFI kOk{{nullptr, 0}, 0};

class ExportableCalls : public ::testing::Test {
 protected:
  async::Runtime rt{2};
};

TEST_F(ExportableCalls, OutcomesAndTheirTexts) {
  const std::string out = "abcd";
  auto ok = [&](SingleCallback cb, void* ctx) {
    cb(ctx, const_str(out), kOk);
    return kOk;
  };
  EXPECT_EQ(rt.block_on(call_single("fn", ok)).value_or("?"), "abcd");

  auto refused = [&](SingleCallback, void*) { return failed(-2, "bad host"); };
  EXPECT_EQ(rt.block_on(call_single("fn", refused)).error(), "fn failed (sync): MPC error -2: bad host");

  auto refused_silently = [&](SingleCallback, void*) { return ResultFFI{{nullptr, 0}, -2}; };
  EXPECT_EQ(rt.block_on(call_single("fn", refused_silently)).error(), "fn failed (sync): MPC error -2");

  auto run_failed = [&](DoubleCallback cb, void* ctx) {
    cb(ctx, ConstStr{nullptr, 0}, ConstStr{nullptr, 0}, failed(-8, "Error Kind: x"));
    return kOk;
  };
  EXPECT_EQ(rt.block_on(call_double("fn", run_failed)).error(), "fn failed: MPC error -8: Error Kind: x");

  auto lost = [&](SingleCallback, void* ctx) {
    delete static_cast<SingleCell*>(ctx);
    return kOk;
  };
  EXPECT_EQ(rt.block_on(call_single("fn", lost)).error(), "fn channel dropped");
}

TEST_F(ExportableCalls, TextThatIsNotUtf8IsAFailureNotAnAbort) {
  const std::string bad = "\xc3\x28";
  auto bad_output = [&](DoubleCallback cb, void* ctx) {
    cb(ctx, const_str("ok"), const_str(bad), kOk);
    return kOk;
  };
  EXPECT_EQ(rt.block_on(call_double("fn", bad_output)).error(), "fn returned a text that is not UTF-8");

  auto bad_message = [&](SingleCallback cb, void* ctx) {
    cb(ctx, ConstStr{nullptr, 0}, failed(-8, "x\x80y"));
    return kOk;
  };
  EXPECT_EQ(rt.block_on(call_single("fn", bad_message)).error(), "fn failed: MPC error -8: x\\x80y");
}

TEST(ExportableHex, DecoderTexts) {
  EXPECT_EQ(decode_hex("pubkey", "0aFf").value(), (std::vector<std::uint8_t>{0x0a, 0xff}));
  EXPECT_TRUE(decode_hex("pubkey", "").value().empty());
  EXPECT_EQ(decode_hex("pubkey", "abc").error(), "pubkey hex decode: Odd number of digits");
  EXPECT_EQ(decode_hex("signature", "00zz").error(), "signature hex decode: Invalid character 'z' at position 2");
}

}  // namespace
}  // namespace velto::mpc::exportable
