// The input of the harnesses of extended-key texts (xpub/xprv, spub/spriv):
// a mode byte (bit 0: the rest is the text itself; otherwise the rest is the
// payload, framed with a valid Base58Check checksum so the fuzzer gets past
// it; bit 1: the private form), a derivation path of up to four indices,
// then up to 200 bytes of text or payload.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/codec.hpp"

namespace velto::fuzz {

struct KeyTextInput {
  bool private_form = false;
  std::vector<std::uint32_t> path;
  std::string text;
};

inline KeyTextInput read_key_text(FuzzInput& in) {
  KeyTextInput out;
  const std::uint8_t mode = in.u8();
  out.private_form = (mode & 2) != 0;
  out.path = in.path(4);
  const auto rest = in.bytes(200);
  out.text = (mode & 1) ? std::string(FuzzInput::text(rest)) : crypto::base58check_encode(rest);
  return out;
}

}  // namespace velto::fuzz
