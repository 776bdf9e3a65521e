#include "velto-mpc-infra/transcript.hpp"

namespace velto {
namespace {

crypto::Blake3Reader zero_share_reader(crypto::ByteSpan seed, const crypto::ByteArray<32>& instance) {
  if (seed.size() != 32) velto::panic("A zero-share seed has 32 bytes. Bug!");
  crypto::Blake3 h = crypto::Blake3::derive_key(kZeroSharesContext);
  h.update(seed);
  h.update(instance);
  return h.finalize_xof();
}

}  // namespace

ZeroShareStream::ZeroShareStream(crypto::ByteSpan seed, const crypto::ByteArray<32>& instance)
    : reader_(zero_share_reader(seed, instance)) {}

crypto::SecretArray<32> ZeroShareStream::next_bytes() {
  if (used_ == block_.size()) {
    reader_.fill(block_.mut_span());
    used_ = 0;
  }
  crypto::SecretArray<32> out(block_.span().subspan(used_, 32));
  used_ += 32;
  return out;
}

crypto::Scalar ZeroShareStream::next_scalar() {
  const crypto::SecretArray<32> bytes = next_bytes();
  return crypto::Scalar::from_bytes_reduced(bytes.array());
}

crypto::Scalar next_zero_share(std::span<ZeroShareEntry> entries, PartyId own_id) {
  crypto::Scalar share = crypto::Scalar::zero();
  for (ZeroShareEntry& e : entries) {
    const crypto::Scalar v = e.stream.next_scalar();
    // The peer ids are public; only the values are secret.
    if (e.peer < own_id) {
      share += v;
    } else {
      share -= v;
    }
  }
  return share;
}

}  // namespace velto
