// The base OT messages: the sender's 64 bytes (A_c on Curve25519, A_t on its
// twist) and the receiver's byte string of 4,096 bytes. Decoded messages
// re-encode byte for byte, the message readers agree with the codecs, and
// both sides derive their keys from any message that decodes without a
// panic.
//
// Input: a selector byte, then the message.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/chacha.hpp"
#include "crypto/secret.hpp"
#include "sised/fuzz/roundtrip.hpp"
#include "velto-ot/base_ot.hpp"

namespace {

namespace ot = velto::ot;
using velto::fuzz::Encoding;
using velto::fuzz::sised_roundtrip;

const velto::UcTag kTag(velto::crypto::ByteArray<32>{7});

const ot::BaseOtReceiver& receiver() {
  static const ot::BaseOtReceiver r = [] {
    velto::crypto::ChaCha20Rng rng(velto::crypto::ByteArray<32>{1});
    return ot::BaseOtReceiver::random(kTag, rng);
  }();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t selector = in.u8();
  const velto::crypto::ByteSpan body = in.rest();
  if (selector & 1) {
    auto message = ot::decode_sender_message(body);
    auto coded = sised_roundtrip<ot::BaseOtSenderMessage>(body, Encoding::Canonical);
    VELTO_FUZZ_CHECK(message.has_value() == coded.has_value());
    if (message) {
      const auto out = receiver().derive_keys(*message);
      VELTO_FUZZ_CHECK(out.bytes().size() == ot::BaseOtReceiverOutput::kRecordSize * ot::kBaseOtBatchSize);
    }
  } else {
    auto message = ot::decode_receiver_message(body);
    auto coded = sised_roundtrip<ot::BaseOtReceiverMessage>(body, Encoding::Canonical);
    if (message) VELTO_FUZZ_CHECK(coded && message->values.size() == 4096);
    if (coded && coded->values.size() == 4096) VELTO_FUZZ_CHECK(message.has_value());
    if (message) {
      velto::crypto::SecretArray<32> a;
      std::fill(a.mut_span().begin(), a.mut_span().end(), std::uint8_t{0x42});
      const ot::BaseOtSender sender(a);
      (void)sender.derive_keys(kTag, message->values);
    }
  }
  return 0;
}
