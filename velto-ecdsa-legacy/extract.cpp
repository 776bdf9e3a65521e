#include "velto-ecdsa-legacy/extract.hpp"

#include <utility>

#include "sised/secp256k1_codec.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto::ecdsa::legacy {

namespace {

VssError communication_error(BoxedError error) { return VssError{VssError::CommunicationError{std::move(error)}}; }

}  // namespace

boost::asio::awaitable<std::expected<std::optional<Xpriv>, VssError>> ecdsa_v110_extract_rounds(
    ProtocolExecutor& executor, const KeyPair& key, PartyId receiver) {
  const std::uint16_t found = executor.number_of_parties();
  if (found != key.threshold) {
    co_return std::unexpected(VssError{VssError::InvalidNumberOfParticipants{key.threshold, found}});
  }
  const PartyId me = executor.my_party_id();
  const NumDen start{crypto::Scalar::one(), crypto::Scalar::one()};
  const crypto::Scalar lambda =
      lagrange_fraction(lagrange_num_den_excluding_pair(executor.parties(), key, key, party_scalar(me), start));
  crypto::Scalar weighted = lambda * key.secret_share;

  if (me != receiver) {
    if (auto sent = executor.send_to(receiver, weighted); !sent) {
      co_return std::unexpected(communication_error(std::move(sent.error())));
    }
    co_return std::optional<Xpriv>{};
  }

  crypto::Scalar sum = std::move(weighted);
  auto poll = BufferedPoll::start(executor, executor.parties());
  for (;;) {
    auto item = co_await poll.next<crypto::Scalar>();
    if (!item) co_return std::unexpected(communication_error(std::move(item.error())));
    if (!*item) break;
    sum += (*item)->value;
  }
  if (!(crypto::Point::base_mul(sum) == key.public_key)) {
    co_return std::unexpected(VssError{VssError::ReceivedInvalidPrivateKey{}});
  }
  std::optional<Xpriv> out(std::in_place);
  out->private_key = std::move(sum);
  out->chain_code = key.chain_code;
  co_return std::move(out);
}

}  // namespace velto::ecdsa::legacy
