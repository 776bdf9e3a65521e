// The binding's conversions and its asynchronous call pattern, driven by
// fake library calls (the callbacks are invoked by the test itself).
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "executor/bindings/c_api.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/async/timeout.hpp"
#include "velto-mpc/error.hpp"
#include "velto-mpc/ffi/conversions.hpp"
#include "velto-mpc/ffi/mod.hpp"

namespace velto::mpc {
namespace {

using namespace std::chrono_literals;

ResultFFI result(std::int32_t code, std::string_view message) {
  return ResultFFI{executor::ffi::make_heap_string(message), code};
}

ConstStr view(const std::string& s) { return const_str(s); }

// --- result conversion -------------------------------------------------------

struct CodeCase {
  std::int32_t code;
  const char* message;
  const char* display;
};

class ResultCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ResultCodes, EveryCodeHasItsDisplay) {
  const auto& c = GetParam();
  auto r = result_from_ffi(result(c.code, c.message));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display(), c.display);
  EXPECT_EQ(r.error().code(), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResultCodes,
    ::testing::Values(CodeCase{-1, "m", "Invalid UUID: m"}, CodeCase{-2, "h", "Invalid host URL: h"},
                      CodeCase{-3, "s", "Invalid secret share: s"}, CodeCase{-4, "x", "Invalid message: x"},
                      CodeCase{-6, "n", "Invalid number of parties: n"}, CodeCase{-8, "", "Executor error: "},
                      CodeCase{-9, "k", "Invalid keygen keypair: k"}, CodeCase{-10, "i", "Invalid keygen ID: i"},
                      CodeCase{-11, "p", "Invalid derivation element: p"},
                      CodeCase{-12, "x", "Invalid extended private key: x"},
                      CodeCase{-13, "x", "Invalid secret private key: x"}, CodeCase{-14, "a", "Invalid API key: a"},
                      CodeCase{-15, "k", "Invalid private key: k"}, CodeCase{-16, "t", "Invalid tweak: t"},
                      CodeCase{-17, "x", "Invalid extended public key: x"},
                      CodeCase{-18, "x", "Invalid secret public key: x"},
                      CodeCase{-19, "x", "Invalid public key: x"}, CodeCase{-253, "o", "Null pointer error: o"},
                      CodeCase{-254, "boom", "Panic error: boom"}, CodeCase{-255, "p", "Platform error: p"},
                      CodeCase{-5, "q", "Unknown executor error (code: -5): q"},
                      CodeCase{-7, "q", "Unknown executor error (code: -7): q"},
                      CodeCase{-20, "c", "Unknown executor error (code: -20): c"},
                      CodeCase{-21, "c", "Unknown executor error (code: -21): c"},
                      CodeCase{3, "p", "Unknown executor error (code: 3): p"}));

TEST(ResultConversion, SuccessReleasesAnyMessageAndNullMessageIsEmpty) {
  EXPECT_TRUE(result_from_ffi(ResultFFI{{nullptr, 0}, 0}).has_value());
  EXPECT_TRUE(result_from_ffi(result(0, "ignored")).has_value());  // released: the leak checker watches
  auto r = result_from_ffi(ResultFFI{{nullptr, 0}, -8});
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display(), "Executor error: ");
}

TEST(ResultConversion, MessageThatIsNotUtf8IsAnInternalFaultAfterRelease) {
  try {
    (void)result_from_ffi(result(-3, "\xff\xfe"));
    FAIL() << "no fault";
  } catch (const Panic& p) {
    EXPECT_EQ(p.message(), "[VELTO] Invalid UTF-8 in HeapString from FFI");
  }
}

TEST(ResultConversion, InternalErrorDisplay) {
  EXPECT_EQ(VeltoError::internal(kLostResult).display(),
            "Internal error: Failed to receive FFI result: oneshot canceled");
}

// --- received texts ------------------------------------------------------------

TEST(ReceivedTexts, SignatureLengthBounds) {
  EXPECT_EQ(EcdsaSignature::parse_ffi(std::string(146, 'a')).bytes.size(), 73u);
  EXPECT_EQ(EcdsaSignature::parse_ffi("0x" + std::string(274, 'B')).bytes.size(), 137u);
  for (std::size_t digits : {144u, 276u}) {
    try {
      (void)EcdsaSignature::parse_ffi(std::string(digits, '1'));
      FAIL() << digits;
    } catch (const Panic& p) {
      EXPECT_EQ(p.message(), "Invalid signature length, expected between 73..137 bytes, found: " +
                                 std::to_string(digits / 2));
    }
  }
}

TEST(ReceivedTexts, SignatureParts) {
  std::string hex;
  for (int i = 0; i < 80; ++i) hex += to_ffi(std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)});
  const auto sig = EcdsaSignature::parse_ffi(hex);
  EXPECT_EQ(sig.r()[0], 0);
  EXPECT_EQ(sig.r()[31], 31);
  EXPECT_EQ(sig.s()[0], 32);
  EXPECT_EQ(sig.v(), 64);
  EXPECT_EQ(sig.der().size(), 15u);
  EXPECT_EQ(sig.der()[0], 65);
}

TEST(ReceivedTexts, BadHexAndWrongLengthAreInternalFaults) {
  for (const std::string& text : {std::string(63, 'a'), std::string(62, 'a') + "zz", std::string(66, 'a')}) {
    try {
      (void)parse_fixed<32>(text);
      FAIL() << text;
    } catch (const Panic& p) {
      EXPECT_EQ(p.message().rfind("internal FFI error", 0), 0u) << p.message();
    }
  }
  EXPECT_EQ(parse_fixed<32>("0X" + std::string(64, 'F'))[31], 0xff);
}

TEST(ReceivedTexts, CompressedKeyFollowsTheParityOfTheLastByte) {
  EcdsaPublicKey k{};
  k.bytes[0] = 0x04;
  for (std::size_t i = 1; i < 65; ++i) k.bytes[i] = static_cast<std::uint8_t>(i);
  k.bytes[64] = 0x11;
  auto c = k.compressed();
  EXPECT_EQ(c[0], 0x03);
  EXPECT_EQ(c[1], 1);
  EXPECT_EQ(c[32], 32);
  k.bytes[64] = 0x10;
  EXPECT_EQ(k.compressed()[0], 0x02);
}

TEST(ReceivedTexts, Utf8Check) {
  EXPECT_TRUE(is_utf8("plain \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
  for (const char* bad : {"\xff", "\xc3", "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"})
    EXPECT_FALSE(is_utf8(bad)) << bad;
}

TEST(LentValues, EmptyValuesAreNullWithZeroLength) {
  EXPECT_EQ(const_str("").ptr, nullptr);
  EXPECT_EQ(u32_array({}).ptr, nullptr);
  EXPECT_EQ(ConstStrList({}).array().ptr, nullptr);
  const std::vector<std::string> ids{"a", "", "ccc"};
  ConstStrList list(ids);
  ASSERT_EQ(list.array().count, 3u);
  EXPECT_EQ(list.array().ptr[1].ptr, nullptr);
  EXPECT_EQ(list.array().ptr[2].len, 3u);
  std::array<std::uint8_t, 32> v{};
  v[0] = 0xab;
  v[31] = 0x01;
  EXPECT_EQ(to_ffi(v).view(), "ab" + std::string(60, '0') + "01");
}

// --- the asynchronous call pattern -----------------------------------------------

class AsyncPattern : public ::testing::Test {
 protected:
  async::Runtime rt{2};
};

TEST_F(AsyncPattern, CallbackBeforeReturnDeliversItsValue) {
  const std::string out = "room";
  auto call = [&](SingleCallback cb, void* ctx) {
    cb(ctx, view(out), ResultFFI{{nullptr, 0}, 0});
    return ResultFFI{{nullptr, 0}, 0};
  };
  auto r = rt.block_on(async_ffi_single(call));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, "room");
}

TEST_F(AsyncPattern, RefusedCallYieldsItsErrorAndNoCallbackIsExpected) {
  auto call = [&](DoubleCallback, void*) { return result(-2, "bad host"); };
  auto r = rt.block_on(async_ffi_double(call));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display(), "Invalid host URL: bad host");
}

TEST_F(AsyncPattern, CallbackFromAnotherThreadWithErrorAndEmptyOutputs) {
  std::thread worker;
  auto call = [&](DoubleCallback cb, void* ctx) {
    worker = std::thread([cb, ctx] {
      std::this_thread::sleep_for(5ms);
      cb(ctx, ConstStr{nullptr, 0}, ConstStr{nullptr, 0}, result(-8, "Error Kind: x"));
    });
    return ResultFFI{{nullptr, 0}, 0};
  };
  auto r = rt.block_on(async_ffi_double(call));
  worker.join();
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display(), "Executor error: Error Kind: x");
}

TEST_F(AsyncPattern, DoubleOutputsInOrderAndEmptyTextAsEmpty) {
  const std::string first = "04ab";
  auto call = [&](DoubleCallback cb, void* ctx) {
    cb(ctx, view(first), ConstStr{nullptr, 0}, ResultFFI{{nullptr, 0}, 0});
    return ResultFFI{{nullptr, 0}, 0};
  };
  auto r = rt.block_on(async_ffi_double(call));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->first, "04ab");
  EXPECT_EQ(r->second, "");
}

TEST_F(AsyncPattern, NonUtf8OutputReachesTheOperationAsAnInternalFault) {
  const std::string bad = "\xc3\x28";
  auto call = [&](SingleCallback cb, void* ctx) {
    cb(ctx, view(bad), ResultFFI{{nullptr, 0}, 0});
    return ResultFFI{{nullptr, 0}, 0};
  };
  try {
    (void)rt.block_on(async_ffi_single(call));
    FAIL() << "no fault";
  } catch (const Panic& p) {
    EXPECT_EQ(p.message(), "[VELTO] invalid utf8 in ConstStr");
  }
}

TEST_F(AsyncPattern, NonUtf8MessageInACallbackIsAFaultToo) {
  auto call = [&](DoubleCallback cb, void* ctx) {
    cb(ctx, ConstStr{nullptr, 0}, ConstStr{nullptr, 0}, result(-8, "\x80"));
    return ResultFFI{{nullptr, 0}, 0};
  };
  try {
    (void)rt.block_on(async_ffi_double(call));
    FAIL() << "no fault";
  } catch (const Panic& p) {
    EXPECT_EQ(p.message(), "[VELTO] Invalid UTF-8 in HeapString from FFI");
  }
}

TEST_F(AsyncPattern, ContextDroppedWithoutValueIsTheLostResultError) {
  // A library that accepted the call but released the context without calling
  // back (a broken contract) leaves the channel without a sender.
  auto call = [&](SingleCallback, void* ctx) {
    delete static_cast<SingleContext*>(ctx);
    return ResultFFI{{nullptr, 0}, 0};
  };
  auto r = rt.block_on(async_ffi_single(call));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display(), "Internal error: Failed to receive FFI result: oneshot canceled");
}

TEST_F(AsyncPattern, LateCallbackAfterTheOperationIsGoneOnlyFreesItsContext) {
  SingleCallback saved_cb = nullptr;
  void* saved_ctx = nullptr;
  auto call = [&](SingleCallback cb, void* ctx) {
    saved_cb = cb;
    saved_ctx = ctx;
    return ResultFFI{{nullptr, 0}, 0};
  };
  auto gave_up = rt.block_on(async::timeout(10ms, async_ffi_single(call)));
  EXPECT_FALSE(gave_up.has_value());
  ASSERT_NE(saved_cb, nullptr);
  const std::string out = "late";
  saved_cb(saved_ctx, view(out), result(0, "ignored"));  // frees the cell; the sanitizers watch
}

}  // namespace
}  // namespace velto::mpc
