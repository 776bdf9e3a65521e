// Test-only: the sampling party of an exportable Ed25519 key generation, the
// service side that the Python class never plays. Built only with the tests,
// with the test CA trusted.
//
//   velto_exportable_sampler HOST ROOM N T KEYGEN_SECRET [KEYGEN_ID ...]
//
// Prints "ok {public key hex} {share text}" or "error {code} {message}" on
// one line; the exit code is 0 only on success.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"

namespace {

struct Outcome {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  int code = 0;
  std::string first, second;
};

std::string text(ConstStr s) { return s.ptr == nullptr ? std::string() : std::string((const char*)s.ptr, s.len); }
std::string take(ResultFFI r) {
  std::string m = r.message.ptr == nullptr ? std::string() : std::string((const char*)r.message.ptr, r.message.len);
  velto_dealloc_heap_string(r.message.ptr, r.message.len);
  return m;
}

void done(void* ctx, ConstStr first, ConstStr second, ResultFFI result) {
  auto* o = static_cast<Outcome*>(ctx);
  std::lock_guard lock(o->mutex);
  o->code = result.code;
  o->first = result.code == 0 ? text(first) : take(result);
  o->second = text(second);
  if (result.code == 0) (void)take(result);
  o->done = true;
  o->cv.notify_all();
}

ConstStr cstr(const std::string& s) { return ConstStr{(const uint8_t*)s.data(), s.size()}; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: %s HOST ROOM N T KEYGEN_SECRET [KEYGEN_ID ...]\n", argv[0]);
    return 2;
  }
  const std::string host = argv[1], room = argv[2], secret = argv[5];
  const auto n = static_cast<std::uint16_t>(std::atoi(argv[3]));
  const auto t = static_cast<std::uint16_t>(std::atoi(argv[4]));
  std::vector<std::string> ids(argv + 6, argv + argc);
  std::vector<ConstStr> id_texts;
  for (const auto& id : ids) id_texts.push_back(cstr(id));

  Outcome outcome;
  const ResultFFI r = velto_exportable_ed25519_sample_key(n, t, cstr(secret), cstr(room), cstr(host),
                                                          ConstStrArray{id_texts.data(), id_texts.size()}, &done,
                                                          &outcome);
  if (r.code != 0) {
    const int code = r.code;
    std::printf("error %d %s\n", code, take(r).c_str());
    return 1;
  }
  std::unique_lock lock(outcome.mutex);
  outcome.cv.wait(lock, [&] { return outcome.done; });
  if (outcome.code != 0) {
    std::printf("error %d %s\n", outcome.code, outcome.first.c_str());
    return 1;
  }
  std::printf("ok %s %s\n", outcome.first.c_str(), outcome.second.c_str());
  std::fflush(stdout);
  return 0;
}
