// Merlin transcripts (version 1.0) on STROBE-128: a protocol transcript that
// absorbs labelled messages and hands out labelled challenge bytes, so a
// non-interactive proof hashes exactly what an interactive verifier would
// have seen. sr25519 signatures and soft derivation are built on it.
//
//   new(label)                  = STROBE("Merlin v1.0"), then
//                                 append_message("dom-sep", label)
//   append_message(label, msg)  = meta-AD(label) ‖ meta-AD(LE32(|msg|)) ‖ AD(msg)
//   challenge_bytes(label, n)   = meta-AD(label) ‖ meta-AD(LE32(n)) ‖ PRF(n)
//
// Lengths above 2^32 − 1 bytes cannot be framed and are a programming error
// (panic). The state wipes itself when the transcript dies.
#pragma once

#include <cstdint>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/strobe.hpp"

namespace velto::crypto {

class MerlinTranscript {
 public:
  explicit MerlinTranscript(ByteSpan label);
  explicit MerlinTranscript(std::string_view label) : MerlinTranscript(as_bytes(label)) {}

  void append_message(ByteSpan label, ByteSpan message);
  void append_message(std::string_view label, ByteSpan message) { append_message(as_bytes(label), message); }
  // Fills `out` with challenge bytes bound to everything appended so far.
  void challenge_bytes(ByteSpan label, MutByteSpan out);
  void challenge_bytes(std::string_view label, MutByteSpan out) { challenge_bytes(as_bytes(label), out); }

 private:
  Strobe128 strobe_;
};

}  // namespace velto::crypto
