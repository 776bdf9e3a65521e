// The function interface's common machinery: argument conversion, the host
// check, out-pointers, the panic guard, the operation task and its one
// callback, and the library runtime's once-guarded cell.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "executor/bindings/c_api.hpp"
#include "executor/log.hpp"
#include "executor/runtime.hpp"
#include "executor/tests/ffi_recorder.hpp"

namespace velto::executor {
namespace {

namespace asio = boost::asio;
using testing::CallbackRecorder;
using testing::cstr;
using testing::take;

// ---------------------------------------------------------------------------
// Text and array arguments.

TEST(TextArg, FourSteps) {
  struct Case {
    const char* name;
    ConstStr arg;
    std::optional<std::string> text;  // accepted text, or
    std::string context;              // the refusal's context
  };
  static const std::string ascii = "relay.example:443";
  static const std::string multibyte = "k\xc3\xa9y\xe2\x82\xac";
  static const std::string ff_fe = "\xff\xfe";
  static const std::string cut = "ab\xe2\x82";
  static const std::string surrogate = "ab\xed\xa0\x80";
  const std::vector<Case> cases = {
      {"len 0, null", ConstStr{nullptr, 0}, std::string(), ""},
      {"len 0, pointer", ConstStr{reinterpret_cast<const uint8_t*>("zz"), 0}, std::string(), ""},
      {"ascii", cstr(ascii), ascii, ""},
      {"multi-byte", cstr(multibyte), multibyte, ""},
      {"null, len 5", ConstStr{nullptr, 5}, std::nullopt, "Received a slice with null pointer, but length: 5"},
      {"FF FE", cstr(ff_fe), std::nullopt,
       "Received a str expected to be UTF8 but invalid: invalid utf-8 sequence of 1 bytes from index 0"},
      {"ends inside a character", cstr(cut), std::nullopt,
       "Received a str expected to be UTF8 but invalid: incomplete utf-8 byte sequence from index 2"},
      {"surrogate", cstr(surrogate), std::nullopt,
       "Received a str expected to be UTF8 but invalid: invalid utf-8 sequence of 1 bytes from index 2"},
  };
  for (const auto& c : cases) {
    const auto r = ffi::text_arg(c.arg, FfiErrorKind::InvalidApiKey);
    if (c.text) {
      ASSERT_TRUE(r.has_value()) << c.name;
      EXPECT_EQ(*r, *c.text) << c.name;
    } else {
      ASSERT_FALSE(r.has_value()) << c.name;
      EXPECT_EQ(r.error().kind(), FfiErrorKind::InvalidApiKey) << c.name;
      EXPECT_EQ(r.error().display(), "Error Kind: Invalid API key, Context: " + c.context) << c.name;
    }
  }
}

TEST(TextArg, OwnedCopyOutlivesTheCaller) {
  std::string caller = "abc";
  const auto r = ffi::text_arg(cstr(caller), FfiErrorKind::InvalidApiKey);
  caller[0] = 'X';
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, "abc");
}

TEST(TextArg, DecoderErrorIsTheContextAlone) {
  const auto r = ffi::decode_arg(cstr("https://h"), FfiErrorKind::InvalidHostUrl, parse_host_authority);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display(), "Error Kind: Invalid host URL, Context: Invalid host address: invalid uri character");
  EXPECT_EQ(r.error().debug(),
            "Error { kind: InvalidHostUrl, inner: Some(Decode(InvalidHostAddressError(InvalidUri(InvalidUriChar)))) }");
  // Conversion failures come before the decoder.
  const auto n = ffi::decode_arg(ConstStr{nullptr, 2}, FfiErrorKind::InvalidHostUrl, parse_host_authority);
  ASSERT_FALSE(n.has_value());
  EXPECT_EQ(n.error().debug(), "Error { kind: InvalidHostUrl, inner: Some(NullPointerNonNullLength { len: 2 }) }");
}

TEST(ArrayArgs, U32AndTextArrays) {
  const std::uint32_t path[] = {0, 2147483648u, 5};
  const auto copied = ffi::u32_array_arg(path, 3, FfiErrorKind::InvalidDerivationElement, 3);
  ASSERT_TRUE(copied.has_value());
  EXPECT_EQ(*copied, (std::vector<std::uint32_t>{0, 2147483648u, 5}));
  for (const std::uint32_t* p : {static_cast<const std::uint32_t*>(nullptr), path}) {
    const auto empty = ffi::u32_array_arg(p, 0, FfiErrorKind::InvalidDerivationElement, 3);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
  }
  const auto refused = ffi::u32_array_arg(nullptr, 3, FfiErrorKind::InvalidDerivationElement, 3);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(take(ffi::refuse(refused.error())).code, -11);
  EXPECT_EQ(refused.error().display(),
            "Error Kind: Invalid derivation path: elements must be between 0 and ((2^31) - 1), Context: Received a "
            "slice with null pointer, but length: 3");

  const ConstStr texts[] = {cstr("a"), cstr("b")};
  EXPECT_EQ(ffi::text_array_arg(texts, 2, FfiErrorKind::InvalidKeygenId, 2)->size(), 2u);
  EXPECT_EQ(ffi::text_array_arg(nullptr, 4, FfiErrorKind::InvalidKeygenId, 2).error().display(),
            "Error Kind: Invalid keygenId, Context: Received a slice with null pointer, but length: 4");
  EXPECT_TRUE(ffi::optional_text_array_arg(nullptr, 4, FfiErrorKind::InvalidKeygenId, 2)->empty());
  EXPECT_TRUE(ffi::optional_text_array_arg(nullptr, ~std::uint64_t{0}, FfiErrorKind::InvalidKeygenId, 2)->empty());
  EXPECT_EQ(ffi::optional_text_array_arg(texts, 2, FfiErrorKind::InvalidKeygenId, 2)->size(), 2u);
  // One above the most accepted: refused with the argument's own code, the
  // array untouched.
  const auto u32_over = ffi::u32_array_arg(path, 4, FfiErrorKind::InvalidDerivationElement, 3);
  ASSERT_FALSE(u32_over.has_value());
  EXPECT_EQ(take(ffi::refuse(u32_over.error())).code, -11);
  EXPECT_EQ(u32_over.error().debug(),
            "Error { kind: InvalidDerivationElement, inner: Some(ArrayTooLong { len: 4, max: 3 }) }");
  EXPECT_EQ(ffi::text_array_arg(texts, 3, FfiErrorKind::InvalidKeygenId, 2).error().display(),
            "Error Kind: Invalid keygenId, Context: Received a slice of length 3, but at most 2 elements are accepted");
  EXPECT_EQ(ffi::optional_text_array_arg(texts, 3, FfiErrorKind::InvalidKeygenId, 2).error().display(),
            "Error Kind: Invalid keygenId, Context: Received a slice of length 3, but at most 2 elements are accepted");
}

// ---------------------------------------------------------------------------
// The host check.

TEST(HostAuthority, AcceptedUnchanged) {
  for (const char* host : {"relay.example.com", "relay.example.com:443", "127.0.0.1:8080", "[::1]", "[::1]:443",
                           "[2001:db8::7]:9", "user:pw@relay.example:1", "r%41y.example", "host:", "host:abc",
                           "a-b_c~d.e!$&'()*+,;="}) {
    const auto r = parse_host_authority(host);
    ASSERT_TRUE(r.has_value()) << host << ": " << r.error().display();
    EXPECT_EQ(*r, host);
  }
}

TEST(HostAuthority, Refusals) {
  struct Case {
    const char* host;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"", "empty string"},
      {"https://relay.example", "invalid uri character"},
      {"relay.example/", "invalid uri character"},
      {"relay.example/path", "invalid uri character"},
      {"relay.example?q", "invalid uri character"},
      {"relay.example#f", "invalid uri character"},
      {"relay example", "invalid uri character"},
      {"relay\"x", "invalid uri character"},
      {"a:1:2", "invalid authority"},
      {"::1", "invalid authority"},
      {"[::1", "invalid authority"},
      {"::1]", "invalid authority"},
      {"[::1]x", "invalid authority"},
      {"[]", "invalid authority"},
      {"[zz]", "invalid authority"},
      {"a@b@c", "invalid authority"},
      {"user@", "invalid authority"},
      {":443", "invalid authority"},
      {"r%4", "invalid authority"},
  };
  for (const auto& c : cases) {
    const auto r = parse_host_authority(c.host);
    ASSERT_FALSE(r.has_value()) << c.host;
    EXPECT_EQ(r.error().display(), std::string("Invalid host address: ") + c.reason) << c.host;
  }
}

// ---------------------------------------------------------------------------
// Out-pointers, results and the panic guard.

TEST(Outputs, AllOutPointersCheckedBeforeAnyIsStored) {
  HeapString a{nullptr, 0}, c{nullptr, 0};
  {
    std::array<ffi::OwnedHeapString, 3> values{ffi::OwnedHeapString(ffi::make_heap_string("one")),
                                              ffi::OwnedHeapString(ffi::make_heap_string("two")),
                                              ffi::OwnedHeapString(ffi::make_heap_string("three"))};
    const std::array<HeapString*, 3> outs{&a, nullptr, &c};
    CapturedLog log;
    const auto r = take(ffi::store_outputs(outs, values));
    EXPECT_EQ(r.code, -253);
    EXPECT_EQ(r.message, "Error Kind: Null pointer");
    EXPECT_EQ(log.lines().size(), 1u);
  }
  EXPECT_EQ(a.ptr, nullptr);
  EXPECT_EQ(c.ptr, nullptr);

  std::array<ffi::OwnedHeapString, 2> values{ffi::OwnedHeapString(ffi::make_heap_string("one")),
                                            ffi::OwnedHeapString(ffi::make_heap_string(""))};
  const std::array<HeapString*, 2> outs{&a, &c};
  const auto ok = take(ffi::store_outputs(outs, values));
  EXPECT_EQ(ok.code, 0);
  EXPECT_TRUE(ok.message_null);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.ptr), a.len), "one");
  EXPECT_EQ(c.ptr, nullptr);  // the empty text is {null, 0}
  EXPECT_EQ(c.len, 0u);
  velto_dealloc_heap_string(a.ptr, a.len);
  velto_dealloc_heap_string(c.ptr, c.len);
}

TEST(Outputs, DeallocOfNothingIsHarmless) {
  velto_dealloc_heap_string(nullptr, 0);
  velto_dealloc_heap_string(nullptr, 7);
  std::uint8_t not_ours = 1;
  velto_dealloc_heap_string(&not_ours, 0);  // length 0: nothing is freed
  EXPECT_EQ(not_ours, 1);
}

struct NotAnError {};

TEST(PanicGuard, PayloadTexts) {
  struct Case {
    const char* name;
    std::exception_ptr payload;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"panic", std::make_exception_ptr(Panic("Deserialization of keypair failed. Bug!")),
       "Deserialization of keypair failed. Bug!"},
      {"error value", std::make_exception_ptr(TextError("an error's display")), "an error's display"},
      {"boxed error", std::make_exception_ptr(box_error<TextError>("boxed display")), "boxed display"},
      {"static text", std::make_exception_ptr(static_cast<const char*>("static text")), "static text"},
      {"owned text", std::make_exception_ptr(std::string("owned text")), "owned text"},
      {"other", std::make_exception_ptr(NotAnError{}),
       "velto::executor::(anonymous namespace)::NotAnError, error: Any { .. }"},
      {"std exception", std::make_exception_ptr(std::runtime_error("x")), "std::runtime_error, error: Any { .. }"},
  };
  for (const auto& c : cases) EXPECT_EQ(ffi::panic_payload_to_string(c.payload), c.text) << c.name;
}

TEST(PanicGuard, PanicIsCode254WithoutLogLine) {
  CapturedLog log;
  const auto r = take(ffi::guarded([]() -> ResultFFI { panic("Can't fail, we just got it from the map"); }));
  EXPECT_EQ(r.code, -254);
  EXPECT_EQ(r.message, "Can't fail, we just got it from the map");
  EXPECT_TRUE(log.lines().empty());
  const auto ok = take(ffi::guarded([] { return ffi::success(); }));
  EXPECT_EQ(ok.code, 0);
  EXPECT_TRUE(ok.message_null);
}

// ---------------------------------------------------------------------------
// Operation tasks.

using SingleResult = ffi::OperationResult<std::string>;
using DoubleResult = ffi::OperationResult<ffi::DoubleOutput>;

ExecutorFailure version_failure() {
  return ExecutorFailure(ExecutorErrorKind(ExecutorErrorKind::UnexpectedVersion{Version::V1_0_3}));
}

// A body that suspends once on a timer, so that it really resumes on the
// runtime, then yields `outcome`. `alive` expires when the body (and so the
// task that owns it) is gone.
template <class R>
class Body {
 public:
  Body(R outcome, std::shared_ptr<int> token, bool panics = false)
      : outcome_(std::move(outcome)), token_(std::move(token)), panics_(panics) {}
  asio::awaitable<R> operator()() {
    asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::milliseconds(1));
    co_await timer.async_wait(asio::use_awaitable);
    if (panics_) panic("Bug!");
    co_return outcome_;
  }

 private:
  R outcome_;
  std::shared_ptr<int> token_;
  bool panics_;
};

// Waits until the task has ended and dropped its body.
void wait_until_gone(const std::weak_ptr<int>& alive) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!alive.expired() && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(alive.expired());
}

TEST(OperationTask, ExactlyOneCallbackOnEveryPath) {
  struct Case {
    const char* name;
    bool dbl;
    std::optional<std::string> first, second;
    int code;
    std::string message;
    std::size_t log_lines;
    SingleResult single;
    DoubleResult pair;
    bool panics = false;
  };
  const std::string failure_message = "Error Kind: Error in MPC Executor, Context: Received an unexpected version: v1.0.3";
  const std::vector<Case> cases = {
      {"single success", false, "room", std::nullopt, 0, "", 0, SingleResult("room"), DoubleResult()},
      {"single empty output", false, std::nullopt, std::nullopt, 0, "", 0, SingleResult(""), DoubleResult()},
      {"single failure", false, std::nullopt, std::nullopt, -8, failure_message, 1,
       SingleResult(std::unexpected(version_failure())), DoubleResult()},
      {"single panic", false, std::nullopt, std::nullopt, -254, "Bug!", 0, SingleResult(""), DoubleResult(), true},
      {"double success", true, "pk", "share", 0, "", 0, SingleResult(), DoubleResult(ffi::DoubleOutput{"pk", "share"})},
      {"double failure", true, std::nullopt, std::nullopt, -8, failure_message, 1, SingleResult(),
       DoubleResult(std::unexpected(version_failure()))},
      {"double panic", true, std::nullopt, std::nullopt, -254, "Bug!", 0, SingleResult(), DoubleResult(), true},
  };
  for (const auto& c : cases) {
    CapturedLog log;
    CallbackRecorder rec;
    auto token = std::make_shared<int>(0);
    const std::weak_ptr<int> alive = token;
    const auto started =
        c.dbl ? take(ffi::spawn_operation(&CallbackRecorder::double_cb, &rec, Body<DoubleResult>(c.pair, std::move(token), c.panics)))
              : take(ffi::spawn_operation(&CallbackRecorder::single_cb, &rec, Body<SingleResult>(c.single, std::move(token), c.panics)));
    ASSERT_EQ(started.code, 0) << c.name;
    EXPECT_TRUE(started.message_null) << c.name;
    rec.wait_for(1);
    wait_until_gone(alive);
    const auto calls = rec.calls();
    ASSERT_EQ(calls.size(), 1u) << c.name;
    EXPECT_EQ(calls[0].first, c.first) << c.name;
    EXPECT_EQ(calls[0].second, c.second) << c.name;
    EXPECT_EQ(calls[0].result.code, c.code) << c.name;
    EXPECT_EQ(calls[0].result.message, c.message) << c.name;
    EXPECT_EQ(calls[0].result.message_null, c.code == 0) << c.name;
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), c.log_lines) << c.name;
    if (!lines.empty()) {
      EXPECT_TRUE(lines[0].starts_with("Logic Error: display: " + failure_message +
                                       ", debug: Error { kind: ExecutorError, inner: Some("))
          << lines[0];
    }
  }
}

TEST(OperationTask, NullCallbackRefusedAndNothingRuns) {
  CapturedLog log;
  auto token = std::make_shared<int>(0);
  const std::weak_ptr<int> alive = token;
  const auto r = take(ffi::spawn_operation(static_cast<SingleCallback>(nullptr), nullptr,
                                           Body<SingleResult>(SingleResult("x"), std::move(token))));
  EXPECT_EQ(r.code, -253);
  EXPECT_EQ(r.message, "Error Kind: Null pointer");
  EXPECT_TRUE(alive.expired());  // the body was dropped, never spawned
  EXPECT_EQ(log.lines().size(), 1u);

  auto token2 = std::make_shared<int>(0);
  const auto d = take(ffi::spawn_operation(static_cast<DoubleCallback>(nullptr), nullptr,
                                           Body<DoubleResult>(DoubleResult(), std::move(token2))));
  EXPECT_EQ(d.code, -253);
}

// A body that never suspends may finish and call back before spawn_operation
// has returned; the caller only has to have its context ready.
TEST(OperationTask, ImmediateBodies) {
  CallbackRecorder rec;
  constexpr int kCalls = 32;
  for (int i = 0; i < kCalls; ++i) {
    auto body = [i]() -> asio::awaitable<SingleResult> { co_return std::to_string(i); };
    ASSERT_EQ(take(ffi::spawn_operation(&CallbackRecorder::single_cb, &rec, std::move(body))).code, 0);
  }
  const auto calls = rec.wait_for(kCalls);
  ASSERT_EQ(calls.size(), static_cast<std::size_t>(kCalls));
  std::vector<int> seen;
  for (const auto& c : calls) seen.push_back(std::stoi(c.first.value_or("-1")));
  std::sort(seen.begin(), seen.end());
  for (int i = 0; i < kCalls; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
}

// ---------------------------------------------------------------------------
// The runtime cell.

TEST(RuntimeCell, ConcurrentFirstCallsBuildOnce) {
  std::atomic<int> building{0};
  RuntimeCell cell([&]() -> std::expected<std::unique_ptr<async::Runtime>, std::string> {
    building.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // widen the window
    return std::make_unique<async::Runtime>(1);
  });
  EXPECT_EQ(cell.get(), nullptr);
  std::atomic<bool> go{false};
  std::vector<async::Runtime*> got(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < got.size(); ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      got[i] = &cell.get_or_build();
    });
  }
  go.store(true);
  for (auto& t : threads) t.join();
  EXPECT_EQ(building.load(), 1);
  EXPECT_EQ(cell.builds(), 1u);
  for (auto* rt : got) EXPECT_EQ(rt, cell.get());
}

TEST(RuntimeCell, FailedBuildPanicsAndLeavesTheCellEmpty) {
  int calls = 0;
  RuntimeCell cell([&]() -> std::expected<std::unique_ptr<async::Runtime>, std::string> {
    if (++calls == 1) return std::unexpected(std::string("Resource temporarily unavailable (os error 11)"));
    return std::make_unique<async::Runtime>(1);
  });
  CapturedLog log;
  const auto r = take(ffi::guarded([&]() -> ResultFFI {
    cell.get_or_build();
    return ffi::success();
  }));
  EXPECT_EQ(r.code, -254);
  EXPECT_EQ(r.message, "called `Result::unwrap()` on an `Err` value: Resource temporarily unavailable (os error 11)");
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(cell.get(), nullptr);
  EXPECT_EQ(cell.builds(), 0u);
  // The next call tries again.
  async::Runtime& rt = cell.get_or_build();
  EXPECT_EQ(&rt, cell.get());
  EXPECT_EQ(cell.attempts(), 2u);
  EXPECT_EQ(cell.builds(), 1u);
}

// Whatever ran before in this process, the library's own cell has been built
// at most once, and two threads starting operations at once share it.
TEST(LibraryRuntime, TwoThreadsStartingAtOnceShareOneRuntime) {
  CallbackRecorder rec;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      auto body = []() -> asio::awaitable<SingleResult> { co_return std::string("ok"); };
      EXPECT_EQ(take(ffi::spawn_operation(&CallbackRecorder::single_cb, &rec, std::move(body))).code, 0);
    });
  }
  go.store(true);
  for (auto& t : threads) t.join();
  EXPECT_EQ(rec.wait_for(2).size(), 2u);
  EXPECT_EQ(library_runtime_cell().attempts(), 1u);
  EXPECT_EQ(library_runtime_cell().builds(), 1u);
  ASSERT_NE(library_runtime_cell().get(), nullptr);
  EXPECT_EQ(library_runtime_cell().get()->threads(), std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace
}  // namespace velto::executor
