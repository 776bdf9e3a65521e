// Test-only: makes sr25519 signatures through the function interface for an
// independent verifier. Three parties of this process generate a 2-of-3
// key on the relay at HOST (trusting the test CA), then two of them sign
// each case below together. Built only with the tests.
//
//   velto_sr25519_signer HOST
//
// Prints one line per signature, "sig {public key} {message} {signature}"
// (hex; the public key is the one the signature is made under, the message
// may be empty), or "error {what} {code} {message}" and exits with 1.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
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

  void wait() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done; });
  }
};

std::string text(ConstStr s) { return s.ptr == nullptr ? std::string() : std::string((const char*)s.ptr, s.len); }
std::string take(ResultFFI r) {
  std::string m = r.message.ptr == nullptr ? std::string() : std::string((const char*)r.message.ptr, r.message.len);
  velto_dealloc_heap_string(r.message.ptr, r.message.len);
  return m;
}
std::string take(HeapString s) {
  std::string m((const char*)s.ptr, s.len);
  velto_dealloc_heap_string(s.ptr, s.len);
  return m;
}

void finish(Outcome* o, ConstStr first, ConstStr second, ResultFFI result) {
  std::lock_guard lock(o->mutex);
  o->code = result.code;
  o->first = result.code == 0 ? text(first) : take(result);
  o->second = text(second);
  if (result.code == 0) (void)take(result);
  o->done = true;
  o->cv.notify_all();
}
void single_done(void* ctx, ConstStr out, ResultFFI result) {
  finish(static_cast<Outcome*>(ctx), out, ConstStr{nullptr, 0}, result);
}
void double_done(void* ctx, ConstStr first, ConstStr second, ResultFFI result) {
  finish(static_cast<Outcome*>(ctx), first, second, result);
}

ConstStr cstr(const std::string& s) { return ConstStr{(const uint8_t*)s.data(), s.size()}; }

[[noreturn]] void fail(const std::string& what, int code, const std::string& message) {
  std::printf("error %s %d %s\n", what.c_str(), code, message.c_str());
  std::fflush(stdout);
  std::exit(1);
}

std::string new_room(const std::string& host, std::uint16_t n) {
  Outcome o;
  const ResultFFI r = velto_create_room(cstr(host), n, cstr(""), &single_done, &o);
  if (r.code != 0) fail("room", r.code, take(r));
  o.wait();
  if (o.code != 0) fail("room", o.code, o.first);
  return o.first;
}

// Starts one call per party (`start` returns the function's result) and
// waits for every callback; the outcomes in party order.
template <class Start>
std::vector<std::unique_ptr<Outcome>> run(const std::string& what, std::size_t parties, Start start) {
  std::vector<std::unique_ptr<Outcome>> out;
  for (std::size_t i = 0; i < parties; ++i) {
    out.push_back(std::make_unique<Outcome>());
    const ResultFFI r = start(i, out.back().get());
    if (r.code != 0) fail(what, r.code, take(r));
  }
  for (auto& o : out) {
    o->wait();
    if (o->code != 0) fail(what, o->code, o->first);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s HOST\n", argv[0]);
    return 2;
  }
  const std::string host = argv[1];

  std::vector<std::string> ids, secrets;
  for (int i = 0; i < 3; ++i) {
    HeapString id{nullptr, 0}, secret{nullptr, 0};
    const ResultFFI r = velto_init_keygen(&id, &secret);
    if (r.code != 0) fail("identity", r.code, take(r));
    ids.push_back(take(id));
    secrets.push_back(take(secret));
  }
  std::vector<ConstStr> id_texts;
  for (const auto& id : ids) id_texts.push_back(cstr(id));

  const std::string keygen_room = new_room(host, 3);
  const auto keygen = run("keygen", 3, [&](std::size_t i, Outcome* o) {
    return velto_sr25519_keygen(3, 2, cstr(secrets[i]), cstr(keygen_room), cstr(host),
                                ConstStrArray{id_texts.data(), id_texts.size()}, &double_done, o);
  });

  struct Case {
    std::string message_hex;
    std::vector<std::string> path;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"", {"alice", "7"}},
      {"48656c6c6f2c207372323535313921", {"polkadot", "0", ""}},
      {std::string(2048, 'a'), {"1"}},
  };
  for (const Case& c : cases) {
    std::vector<ConstStr> junctions;
    for (const auto& j : c.path) junctions.push_back(cstr(j));
    const ConstStrArray path{junctions.data(), junctions.size()};

    HeapString key{nullptr, 0};
    const ResultFFI derived = velto_sr25519_derive_pubkey(cstr(keygen[0]->second), path, &key);
    if (derived.code != 0) fail("derive", derived.code, take(derived));
    const std::string public_key = take(key);

    const std::string room = new_room(host, 2);
    // Parties 1 and 3 sign.
    const auto signed_by = run("sign", 2, [&](std::size_t i, Outcome* o) {
      return velto_sr25519_sign(cstr(keygen[i * 2]->second), cstr(c.message_hex), cstr(room), cstr(host), path,
                                &single_done, o);
    });
    std::printf("sig %s %s %s\n", public_key.c_str(), c.message_hex.c_str(), signed_by[0]->first.c_str());
  }
  std::fflush(stdout);
  return 0;
}
