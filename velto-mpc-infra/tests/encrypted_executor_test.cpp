// Encrypted executor: party numbering and the session prologue, whole
// sessions replayed byte for byte against an independent Noise
// implementation, sessions of 2, 3 and 16 parties under the manager with
// their wire sizes, frames kept during the handshake run, and the failures
// of the handshake and of the transport with their texts.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/codec.hpp"
#include "velto-mpc-infra/async/timeout.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/executor/encrypted.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::testing {
namespace {

using namespace std::chrono_literals;
using LinkResult = std::expected<std::shared_ptr<EncryptedLink>, HandshakeSetupError>;
using Kind = HandshakeSetupError::Kind;

// A receive deadline that keeps a lost frame from hanging a test.
const InMemoryNetwork::Options kBounded{.send_delay = {}, .receive_timeout = 5s};

crypto::Bytes unhex(std::string_view text) {
  if (text == "-") return {};
  auto b = crypto::hex_decode(text);
  if (!b) ADD_FAILURE() << "bad hex in test data: " << text;
  return b ? *b : crypto::Bytes{};
}

crypto::ByteArray<32> unhex32(std::string_view text) {
  crypto::ByteArray<32> out{};
  const auto b = unhex(text);
  if (b.size() != 32) ADD_FAILURE() << "expected 32 bytes: " << text;
  std::copy_n(b.begin(), std::min<std::size_t>(b.size(), 32), out.begin());
  return out;
}

noise::NoiseKeyPair keypair(const crypto::ByteArray<32>& private_key) {
  auto pair = noise::keypair_from_private(private_key);
  if (!pair) ADD_FAILURE() << pair.error().display();
  return std::move(*pair);
}

// Transport key pairs of test parties, in no particular key order.
noise::NoiseKeyPair test_keypair(std::uint32_t seed) {
  const std::array<std::uint8_t, 4> s{static_cast<std::uint8_t>(seed), static_cast<std::uint8_t>(seed >> 8),
                                      static_cast<std::uint8_t>(seed >> 16), static_cast<std::uint8_t>(seed >> 24)};
  return keypair(crypto::blake3_derive_key("encrypted executor test key", s));
}

template <class F>
std::string panic_text(F&& f) {
  try {
    f();
  } catch (const Panic& p) {
    return p.message();
  }
  return "(no panic)";
}

// A relay link that records every frame it sends, can hold back the frames
// for one recipient (a slow relay path), and can refuse every send.
class RecordingLink final : public Communicator {
 public:
  struct Sent {
    PartyId to;
    crypto::Bytes bytes;
  };

  explicit RecordingLink(std::shared_ptr<Communicator> inner) : inner_(std::move(inner)) {}

  PartyId my_party_id() const override { return inner_->my_party_id(); }
  asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() override {
    co_return co_await inner_->receive_next();
  }
  asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes bytes, PartyId to) override {
    if (refuse_) co_return std::unexpected(box_error<TextError>("refused"));
    {
      std::lock_guard lock(mu_);
      sent_.push_back(Sent{to, bytes});
      if (held_to_ && *held_to_ == to) {
        // Accepted, but the relay delivers it only at release_held().
        held_.push_back(std::move(bytes));
        co_return std::expected<void, BoxedError>();
      }
    }
    co_return co_await inner_->send(std::move(bytes), to);
  }
  asio::awaitable<void> close() override { co_await inner_->close(); }

  // Call before the link is used.
  void hold_sends_to(PartyId to) { held_to_ = to; }
  // Delivers the held frames, in order, and stops holding.
  asio::awaitable<void> release_held() {
    std::vector<crypto::Bytes> frames;
    {
      std::lock_guard lock(mu_);
      frames = std::move(held_);
    }
    for (auto& f : frames) EXPECT_TRUE((co_await inner_->send(std::move(f), *held_to_)).has_value());
  }
  void refuse_sends() { refuse_ = true; }

  std::vector<Sent> sent() const {
    std::lock_guard lock(mu_);
    return sent_;
  }
  std::vector<crypto::Bytes> sent_to(PartyId to) const {
    std::vector<crypto::Bytes> out;
    for (const auto& s : sent())
      if (s.to == to) out.push_back(s.bytes);
    return out;
  }

 private:
  std::shared_ptr<Communicator> inner_;
  std::optional<PartyId> held_to_;
  std::vector<crypto::Bytes> held_;
  std::atomic<bool> refuse_{false};
  mutable std::mutex mu_;
  std::vector<Sent> sent_;
};

struct Party {
  noise::NoiseKeyPair keys;
  PartyId id;
  std::shared_ptr<RecordingLink> link;
  std::optional<EncryptedChannels> channels;
};

// n keygen-type parties over an in-memory network (plus `strangers`: ids on
// the network that are not in the session). parties[i] is PartyId i + 1.
struct Session {
  std::shared_ptr<InMemoryNetwork> network;
  std::vector<Party> parties;

  Party& operator[](std::uint16_t id) { return parties.at(id - 1u); }
};

// `extra(i)` gives the bytes party i + 1 appends to its session hasher.
template <class Extra>
Session make_session(std::size_t n, InMemoryNetwork::Options options, std::vector<PartyId> strangers, Extra extra) {
  std::vector<noise::NoiseKeyPair> pairs;
  std::vector<noise::PublicKey> keys;
  for (std::size_t i = 0; i < n; ++i) {
    pairs.push_back(test_keypair(static_cast<std::uint32_t>(n * 100 + i)));
    keys.push_back(pairs.back().public_key());
  }
  std::sort(pairs.begin(), pairs.end(),
            [](const auto& a, const auto& b) { return a.public_key() < b.public_key(); });
  std::vector<PartyId> network_ids = ids_1_to(static_cast<std::uint16_t>(n));
  network_ids.insert(network_ids.end(), strangers.begin(), strangers.end());
  Session s;
  s.network = InMemoryNetwork::create(network_ids, options);
  for (std::size_t i = 0; i < n; ++i) {
    const PartyId id = pid(static_cast<std::uint16_t>(i + 1));
    auto setup = encrypted_channels_setup(keys);
    const crypto::Bytes appended = extra(i);
    setup.session_hasher().update(appended);
    auto channels = encrypted_channels_build(std::move(setup), pairs[i]);
    EXPECT_TRUE(channels.has_value());
    if (channels) {
      EXPECT_EQ(channels->my_id(), id);
    }
    s.parties.push_back(Party{pairs[i], id, std::make_shared<RecordingLink>(s.network->link(id)), std::move(channels)});
  }
  return s;
}

Session make_session(std::size_t n, InMemoryNetwork::Options options = {}, std::vector<PartyId> strangers = {}) {
  return make_session(n, options, std::move(strangers), [](std::size_t) { return crypto::Bytes{}; });
}

async::JoinHandle<LinkResult> start_handshake(async::Runtime& rt, Party& p) {
  return async::spawn_task(rt.executor(), open_encrypted_link(p.link, std::move(*p.channels)));
}

template <class T>
T join(async::Runtime& rt, async::JoinHandle<T>& handle) {
  auto r = rt.block_on(handle.join());
  if (!r) throw std::runtime_error(r.error().display());
  return std::move(*r);
}

// Runs `a` to its end from the test thread.
template <class T>
T block(async::Runtime& rt, asio::awaitable<T> a) {
  auto wrapped = [](asio::awaitable<T> inner) -> asio::awaitable<std::optional<T>> {
    co_return std::optional<T>(co_await std::move(inner));
  };
  return std::move(*rt.block_on(wrapped(std::move(a))));
}

std::vector<LinkResult> handshake_all(async::Runtime& rt, Session& s) {
  std::vector<async::JoinHandle<LinkResult>> handles;
  for (auto& p : s.parties) handles.push_back(start_handshake(rt, p));
  std::vector<LinkResult> out;
  for (auto& h : handles) out.push_back(join(rt, h));
  return out;
}

std::vector<std::shared_ptr<EncryptedLink>> links_of(std::vector<LinkResult> results) {
  std::vector<std::shared_ptr<EncryptedLink>> out;
  for (auto& r : results) {
    EXPECT_TRUE(r.has_value()) << (r ? "" : r.error().display());
    out.push_back(r ? *r : nullptr);
  }
  return out;
}

std::string error_text(const LinkResult& r) { return r ? std::string("ok") : r.error().display(); }

// ---------------------------------------------------------------------------
// Errors

TEST(EncryptedExecutorErrors, TextsDebugFormsAndSources) {
  const auto text = box_error<TextError>("boom");
  const noise::NoiseError decryption(noise::NoiseError::Kind::DecryptionError);
  struct Case {
    BoxedError error;
    std::string display;
    std::string debug;
    std::string source;  // display of the source, "" for none
  };
  const std::vector<Case> cases = {
      {box_error<ChannelError>(ChannelError::send(text)), "Error while sending: `boom`", R"(Send("boom"))", ""},
      {box_error<EncryptedExecutorError>(EncryptedExecutorError::inner_error(ChannelError::receive(text))),
       "Error while receiving: `boom`", R"(InnerError(Receive("boom")))", ""},
      {box_error<EncryptedExecutorError>(EncryptedExecutorError::decryption_error(decryption)),
       "Failed to decrypt message", "DecryptionError(DecryptionError)", "Unsuccesful decryption."},
      {box_error<EncryptedExecutorError>(EncryptedExecutorError::unknown_party_id(pid(9))),
       "Failed to encrypt message, unknown party: 9", "UnknownPartyId(PartyId(9))", ""},
      {box_error<HandshakeSetupError>(HandshakeSetupError::communication_error(
           ChannelError::receive(box_error<async::TimeoutError>(async::Duration(30s))))),
       "Error while receiving: `The operation has timed out, waited for 30s`",
       "CommunicationError(Receive(TimedOut(30s)))", ""},
      {box_error<HandshakeSetupError>(HandshakeSetupError::noise_error(decryption)),
       "The noise protocol failed: `Unsuccesful decryption.`", "NoiseError(DecryptionError)",
       "Unsuccesful decryption."},
      {box_error<HandshakeSetupError>(HandshakeSetupError::unknown_party(pid(3))),
       "Received a message from an unknown party: `3`", "UnknownParty(PartyId(3))", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error->display(), c.display);
    EXPECT_EQ(c.error->debug(), c.debug);
    const Error* source = c.error->source();
    EXPECT_EQ(source ? source->display() : "", c.source) << c.debug;
  }
}

// ---------------------------------------------------------------------------
// Set-up and build

TEST(EncryptedChannelSetup, KeyGivenTwiceCountsOnce) {
  std::vector<noise::PublicKey> keys;
  for (std::uint32_t i = 0; i < 3; ++i) keys.push_back(test_keypair(i).public_key());
  auto with_duplicate = keys;
  with_duplicate.push_back(keys[1]);
  std::reverse(with_duplicate.begin(), with_duplicate.end());

  auto a = encrypted_channels_setup(keys);
  auto b = encrypted_channels_setup(with_duplicate);
  EXPECT_EQ(b.party_ids(), ids_1_to(3));
  EXPECT_EQ(a.keys(), b.keys());
  EXPECT_TRUE(std::is_sorted(b.keys().begin(), b.keys().end()));
  EXPECT_EQ(a.session_hasher().finalize(), b.session_hasher().finalize());
}

TEST(EncryptedChannelSetup, BuildRefusals) {
  const auto own = test_keypair(1);
  const auto other = test_keypair(2);
  const auto stranger = test_keypair(3);

  // The own key is not in the session.
  const std::vector<noise::PublicKey> without_own = {other.public_key(), stranger.public_key()};
  EXPECT_FALSE(encrypted_channels_build(encrypted_channels_setup(without_own), own).has_value());

  // A stored table that lists the own key under two ids.
  const std::map<PartyId, noise::PublicKey> twice = {
      {pid(1), own.public_key()}, {pid(2), other.public_key()}, {pid(3), own.public_key()}};
  EXPECT_EQ(panic_text([&] { (void)encrypted_channels_build(encrypted_channels_setup_2(twice), own); }),
            "assertion failed: my_id.is_none()");
}

TEST(EncryptedChannelSetup, AtMost8192Parties) {
  std::vector<noise::PublicKey> keys;
  std::map<PartyId, noise::PublicKey> table;
  for (std::uint32_t i = 0; i < 8193; ++i) {
    crypto::ByteArray<32> k{};
    k[0] = 0x42;
    k[1] = static_cast<std::uint8_t>(i);
    k[2] = static_cast<std::uint8_t>(i >> 8);
    keys.push_back(*noise::public_key_from_bytes(k));
    table.emplace(pid(static_cast<std::uint16_t>(i + 1)), keys.back());
  }
  const std::string too_many = "The number of parties is too large, the maximum is 8192";
  EXPECT_EQ(panic_text([&] { (void)encrypted_channels_setup(keys); }), too_many);
  EXPECT_EQ(panic_text([&] { (void)encrypted_channels_setup_2(table); }), too_many);

  keys.pop_back();
  EXPECT_EQ(encrypted_channels_setup(keys).party_ids().size(), 8192u);
  // 8192 distinct keys and one of them again: still 8192 parties.
  keys.push_back(keys.front());
  EXPECT_EQ(encrypted_channels_setup(keys).party_ids().size(), 8192u);
}

// ---------------------------------------------------------------------------
// Sessions replayed against the independent implementation

struct VectorCase {
  std::string name;
  bool sign_form = false;
  std::vector<std::pair<std::uint16_t, crypto::ByteArray<32>>> parties;  // id, static private key
  crypto::Bytes extra;
  crypto::ByteArray<32> prologue{};
  std::map<std::pair<std::uint16_t, std::uint16_t>, crypto::ByteArray<32>> ephemerals;
  std::map<std::pair<std::uint16_t, std::uint16_t>, crypto::Bytes> handshakes;
  struct Transport {
    std::uint16_t from, to;
    crypto::Bytes plaintext, frame;
  };
  std::vector<Transport> transports;
};

std::vector<VectorCase> load_vector_cases() {
  std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/encrypted_cases.txt");
  EXPECT_TRUE(in.good()) << "missing encrypted_cases.txt";
  std::vector<VectorCase> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    std::string word;
    f >> word;
    if (word == "case") {
      out.emplace_back();
      f >> out.back().name;
      continue;
    }
    if (out.empty()) continue;
    VectorCase& c = out.back();
    std::string a, b, x, y;
    if (word == "form") {
      f >> a;
      c.sign_form = a == "sign";
    } else if (word == "party") {
      f >> a >> b;
      c.parties.emplace_back(static_cast<std::uint16_t>(std::stoi(a)), unhex32(b));
    } else if (word == "extra") {
      f >> a;
      c.extra = unhex(a);
    } else if (word == "prologue") {
      f >> a;
      c.prologue = unhex32(a);
    } else if (word == "ephemeral") {
      f >> a >> b >> x;
      c.ephemerals[{std::stoi(a), std::stoi(b)}] = unhex32(x);
    } else if (word == "handshake") {
      f >> a >> b >> x;
      c.handshakes[{std::stoi(a), std::stoi(b)}] = unhex(x);
    } else if (word == "transport") {
      f >> a >> b >> x >> y;
      c.transports.push_back({static_cast<std::uint16_t>(std::stoi(a)), static_cast<std::uint16_t>(std::stoi(b)),
                              unhex(x), unhex(y)});
    }
  }
  return out;
}

TEST(EncryptedExecutorVectors, SessionsMatchIndependentNoise) {
  const auto cases = load_vector_cases();
  ASSERT_EQ(cases.size(), 3u);
  async::Runtime rt(4);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<noise::PublicKey> keys;
    std::map<PartyId, noise::PublicKey> table;
    std::vector<PartyId> ids;
    for (const auto& [id, priv] : c.parties) {
      keys.push_back(keypair(priv).public_key());
      table.emplace(pid(id), keys.back());
      ids.push_back(pid(id));
    }
    auto network = InMemoryNetwork::create(ids, kBounded);
    std::map<std::uint16_t, std::shared_ptr<RecordingLink>> recorders;
    std::vector<async::JoinHandle<LinkResult>> handles;
    for (const auto& [id, priv] : c.parties) {
      auto setup = c.sign_form ? encrypted_channels_setup_2(table) : encrypted_channels_setup(keys);
      setup.session_hasher().update(c.extra);
      auto channels = encrypted_channels_build(std::move(setup), keypair(priv));
      ASSERT_TRUE(channels.has_value());
      // The numbering (keygen form) and the prologue of the oracle.
      EXPECT_EQ(channels->my_id(), pid(id));
      EXPECT_EQ(channels->prologue(), c.prologue);
      for (const auto& [pair, e] : c.ephemerals) {
        if (pair.first != id) continue;
        noise::HandshakeState* channel = channels->channel(pid(pair.second));
        ASSERT_NE(channel, nullptr);
        channel->set_ephemeral(keypair(e));
      }
      recorders[id] = std::make_shared<RecordingLink>(network->link(pid(id)));
      handles.push_back(async::spawn_task(rt.executor(), open_encrypted_link(recorders[id], std::move(*channels))));
    }
    std::map<std::uint16_t, std::shared_ptr<EncryptedLink>> links;
    for (std::size_t i = 0; i < handles.size(); ++i) {
      auto r = join(rt, handles[i]);
      ASSERT_TRUE(r.has_value()) << r.error().display();
      links[c.parties[i].first] = *r;
    }

    // Every directed pair sent exactly its handshake message.
    for (const auto& [pair, message] : c.handshakes) {
      const auto sent = recorders[pair.first]->sent_to(pid(pair.second));
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_EQ(sent[0], message) << pair.first << " -> " << pair.second;
    }

    // Transport frames in sending order; each is opened by its recipient.
    for (const auto& t : c.transports) {
      auto sent = rt.block_on(links[t.from]->send(t.plaintext, pid(t.to)));
      ASSERT_TRUE(sent.has_value());
      EXPECT_EQ(recorders[t.from]->sent().back().bytes, t.frame) << t.from << " -> " << t.to;
      auto received = block(rt, links[t.to]->receive_next());
      ASSERT_TRUE(received.has_value()) << received.error()->display();
      EXPECT_EQ(received->sender, pid(t.from));
      EXPECT_EQ(received->plaintext, t.plaintext);
    }
  }
}

// ---------------------------------------------------------------------------
// Whole sessions under the manager

// The protocol message party `from` sends to party `to`: 0 to 22 bytes.
crypto::Bytes message_for(PartyId from, PartyId to) {
  const std::size_t m = (from.value() * 7u + to.value() * 3u) % 23u;
  crypto::Bytes out(m);
  for (std::size_t i = 0; i < m; ++i) out[i] = static_cast<std::uint8_t>(from.value() * 31 + to.value() + i);
  return out;
}

crypto::ByteArray<32> value_of(PartyId p) {
  crypto::ByteArray<32> v{};
  v[0] = static_cast<std::uint8_t>(p.value());
  v[31] = 0xA5;
  return v;
}

// One personal message to every peer on the root, then a 32-byte broadcast
// on a child; returns how many messages arrived intact.
asio::awaitable<std::size_t> exchange(ProtocolExecutor root) {
  const PartyId me = root.my_party_id();
  for (const PartyId p : root.parties()) {
    if (p == me) continue;
    crypto::Bytes payload = message_for(me, p);
    payload.reserve(payload.size() + kTagSize);
    EXPECT_TRUE(root.send_payload_to(p, std::move(payload)).has_value());
  }
  std::size_t intact = 0;
  auto poll = BufferedPoll::start(root, root.parties());
  for (;;) {
    auto next = co_await poll.next_message();
    if (!next) {
      ADD_FAILURE() << next.error()->display();
      co_return intact;
    }
    if (!*next) break;
    if ((*next)->payload == message_for((*next)->sender, me)) ++intact;
  }

  ProtocolExecutor step = root.child("step");
  EXPECT_TRUE(step.send_to_all(value_of(me)).has_value());
  auto values = co_await collect_map<crypto::ByteArray<32>>(step);
  EXPECT_TRUE(values.has_value());
  if (values)
    for (const auto& [from, v] : *values) intact += v == value_of(from) ? 1 : 0;
  co_return intact;
}

struct Outcome {
  std::size_t intact = 0;
  ManagerResult manager;
};

asio::awaitable<Outcome> run_party(std::shared_ptr<Communicator> relay, EncryptedChannels channels) {
  auto link = co_await open_encrypted_link(std::move(relay), std::move(channels));
  if (!link) {
    ADD_FAILURE() << link.error().display();
    co_return Outcome{};
  }
  std::vector<PartyId> ids = (*link)->channels().party_ids();
  ExecutorBuilder builder(*link);
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  Outcome out;
  out.intact = co_await exchange(std::move(*root));
  root.reset();
  auto joined = co_await manager.join();
  if (!joined) ADD_FAILURE() << joined.error().display();
  if (joined) out.manager = std::move(*joined);
  co_return out;
}

class EncryptedSession : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(EncryptedSession, HandshakeThenTaggedMessagesWithSizesOnTheWire) {
  const std::uint16_t n = GetParam();
  async::Runtime rt(4);
  Session s = make_session(n);
  std::vector<async::JoinHandle<Outcome>> handles;
  for (auto& p : s.parties)
    handles.push_back(async::spawn_task(rt.executor(), run_party(p.link, std::move(*p.channels))));
  for (auto& h : handles) {
    Outcome o = join(rt, h);
    EXPECT_EQ(o.intact, 2u * (n - 1u));
    EXPECT_TRUE(o.manager.has_value()) << (o.manager ? "" : o.manager.error().display());
  }

  // Per directed pair: one 48-byte handshake message, then the personal
  // message of m bytes as m + 48, then the 32-byte broadcast as 80.
  for (auto& p : s.parties) {
    for (auto& q : s.parties) {
      if (p.id == q.id) continue;
      std::vector<std::size_t> sizes;
      for (const auto& b : p.link->sent_to(q.id)) sizes.push_back(b.size());
      const std::vector<std::size_t> expected = {48, message_for(p.id, q.id).size() + 48, 32 + 48};
      EXPECT_EQ(sizes, expected) << p.id.value() << " -> " << q.id.value();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Parties, EncryptedSession, ::testing::Values(2, 3, 16));

TEST(EncryptedHandshake, SinglePartySendsNothing) {
  async::Runtime rt(2);
  Session s = make_session(1);
  auto links = links_of(handshake_all(rt, s));
  ASSERT_NE(links[0], nullptr);
  EXPECT_EQ(links[0]->my_party_id(), pid(1));
  EXPECT_TRUE(s[1].link->sent().empty());
}

// Parties 1 < 2 < 3 by key. Party 3 only answers, so it finishes first and
// sends a protocol message to 2 while 2 still waits for 1's first message
// (held back): 2 keeps 3's answer and that message, uses the answer in its
// last phase, and hands the message out first once its link is up.
TEST(EncryptedHandshake, EarlyFramesAreKeptAndDeliveredFirst) {
  async::Runtime rt(4);
  Session s = make_session(3, kBounded);
  s[1].link->hold_sends_to(pid(2));

  auto h1 = start_handshake(rt, s[1]);
  auto h2 = start_handshake(rt, s[2]);
  auto h3 = start_handshake(rt, s[3]);
  auto link3 = join(rt, h3);
  ASSERT_TRUE(link3.has_value()) << link3.error().display();

  const crypto::Bytes early = {1, 2, 3, 4};
  const crypto::Bytes later = {5, 6};
  ASSERT_TRUE(rt.block_on((*link3)->send(early, pid(2))).has_value());
  ASSERT_TRUE(rt.block_on((*link3)->send(later, pid(2))).has_value());
  rt.block_on(s[1].link->release_held());

  auto link1 = join(rt, h1);
  auto link2 = join(rt, h2);
  ASSERT_TRUE(link1.has_value()) << link1.error().display();
  ASSERT_TRUE(link2.has_value()) << link2.error().display();
  // 3's answer was read early and used in the last phase; both protocol
  // messages, which reached 2 before 1's first message, were kept.
  EXPECT_EQ((*link2)->kept_frames(), 2u);
  for (const auto& expected : {early, later}) {
    auto r = block(rt, (*link2)->receive_next());
    ASSERT_TRUE(r.has_value()) << r.error()->display();
    EXPECT_EQ(r->sender, pid(3));
    EXPECT_EQ(r->plaintext, expected);
  }
  EXPECT_EQ((*link2)->kept_frames(), 0u);
}

// Frames from a relay party outside the session, before anything else
// arrives: 1024 are kept (and fail decryption as a stranger's later), one
// more ends the run.
TEST(EncryptedHandshake, KeptFramesAreBounded) {
  for (const std::size_t count : {kRelayEarlyCapacity, kRelayEarlyCapacity + 1}) {
    SCOPED_TRACE(count);
    async::Runtime rt(2);
    Session s = make_session(2, InMemoryNetwork::Options{.send_delay = {}, .receive_timeout = 300ms}, {pid(9)});
    for (std::size_t i = 0; i < count; ++i) s.network->inject(pid(2), s.network->relay_id(pid(9)), crypto::Bytes(60, 7));
    auto results = handshake_all(rt, s);
    if (count == kRelayEarlyCapacity) {
      auto links = links_of(std::move(results));
      ASSERT_NE(links[1], nullptr);
      EXPECT_EQ(links[1]->kept_frames(), kRelayEarlyCapacity);
      auto r = block(rt, links[1]->receive_next());
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error()->display(), "Failed to encrypt message, unknown party: 9");
    } else {
      ASSERT_FALSE(results[1].has_value());
      EXPECT_EQ(results[1].error().kind(), Kind::CommunicationError);
      EXPECT_EQ(error_text(results[1]), "Error while receiving: `Too many messages have came from unexpected parties`");
      // Party 1 never gets its answer.
      EXPECT_EQ(error_text(results[0]), "Error while receiving: `The operation has timed out, waited for 300ms`");
    }
  }
}

// The kept frames' bytes are bounded too: 64 frames of 1 MiB fill the 64 MiB
// budget of a small session, one more ends the run as an overflow does.
TEST(EncryptedHandshake, KeptFramesAreBoundedInBytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  for (const std::size_t count : {std::size_t{64}, std::size_t{65}}) {
    SCOPED_TRACE(count);
    async::Runtime rt(2);
    Session s = make_session(2, InMemoryNetwork::Options{.send_delay = {}, .receive_timeout = 300ms}, {pid(9)});
    for (std::size_t i = 0; i < count; ++i) s.network->inject(pid(2), s.network->relay_id(pid(9)), crypto::Bytes(kMiB, 7));
    auto results = handshake_all(rt, s);
    if (count == 64) {
      auto links = links_of(std::move(results));
      ASSERT_NE(links[1], nullptr);
      EXPECT_EQ(links[1]->kept_frames(), 64u);
    } else {
      ASSERT_FALSE(results[1].has_value());
      EXPECT_EQ(error_text(results[1]), "Error while receiving: `Too many messages have came from unexpected parties`");
    }
  }
}

// Bytes appended to the session hasher on one side change that side's
// prologue: the responder (party 2, higher key) cannot read the first
// message, the initiator waits for an answer until the receive deadline.
TEST(EncryptedHandshake, DifferentPrologueInputFailsToDecrypt) {
  struct Case {
    crypto::Bytes extra1, extra2;
    bool ok;
  };
  const std::vector<Case> cases = {
      {{}, {}, true},
      {{3, 0, 2, 0}, {3, 0, 2, 0}, true},
      {{3, 0, 2, 0}, {3, 0, 3, 0}, false},  // the parties disagree on t
      {{0x01}, {}, false},                  // the initiator appended a byte
      {{}, {0x01}, false},                  // the responder appended a byte
  };
  for (const auto& c : cases) {
    async::Runtime rt(2);
    Session s = make_session(2, InMemoryNetwork::Options{.send_delay = {}, .receive_timeout = 300ms}, {},
                             [&](std::size_t i) { return i == 0 ? c.extra1 : c.extra2; });
    auto results = handshake_all(rt, s);
    if (c.ok) {
      EXPECT_TRUE(results[0].has_value() && results[1].has_value());
      continue;
    }
    ASSERT_FALSE(results[1].has_value());
    EXPECT_EQ(results[1].error().kind(), Kind::NoiseError);
    EXPECT_EQ(results[1].error().noise()->kind(), noise::NoiseError::Kind::DecryptionError);
    EXPECT_EQ(error_text(results[1]), "The noise protocol failed: `Unsuccesful decryption.`");
    EXPECT_EQ(results[1].error().debug(), "NoiseError(DecryptionError)");
    ASSERT_FALSE(results[0].has_value());
    EXPECT_EQ(error_text(results[0]), "Error while receiving: `The operation has timed out, waited for 300ms`");
  }
}

TEST(EncryptedHandshake, RelayFailuresAreCommunicationErrors) {
  const InMemoryNetwork::Options timed{.send_delay = {}, .receive_timeout = 300ms};
  {
    // The responder's relay fails while it waits for the first message.
    async::Runtime rt(2);
    Session s = make_session(2, timed);
    s.network->inject_error(pid(2), box_error<TextError>("boom"));
    auto results = handshake_all(rt, s);
    ASSERT_FALSE(results[1].has_value());
    EXPECT_EQ(error_text(results[1]), "Error while receiving: `boom`");
    EXPECT_EQ(results[1].error().debug(), R"(CommunicationError(Receive("boom")))");
  }
  {
    // The initiator cannot send its first message.
    async::Runtime rt(2);
    Session s = make_session(2, timed);
    s[1].link->refuse_sends();
    auto results = handshake_all(rt, s);
    ASSERT_FALSE(results[0].has_value());
    EXPECT_EQ(error_text(results[0]), "Error while sending: `refused`");
    EXPECT_EQ(results[0].error().debug(), R"(CommunicationError(Send("refused")))");
    EXPECT_EQ(error_text(results[1]), "Error while receiving: `The operation has timed out, waited for 300ms`");
  }
}

// ---------------------------------------------------------------------------
// Transport

class EncryptedTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    s_ = make_session(3, kBounded);
    links_ = links_of(handshake_all(rt_, s_));
    for (const auto& l : links_) ASSERT_NE(l, nullptr);
  }

  EncryptedChannels& channels(std::uint16_t id) { return links_.at(id - 1u)->channels(); }

  crypto::Bytes seal(std::uint16_t from, std::uint16_t to, crypto::Bytes plaintext) {
    EXPECT_TRUE(encrypt_outgoing_message(channels(from), plaintext, pid(to)).has_value());
    return plaintext;
  }

  async::Runtime rt_{2};
  Session s_;
  std::vector<std::shared_ptr<EncryptedLink>> links_;
};

TEST_F(EncryptedTransport, FramesThatDoNotAuthenticateAreRefused) {
  const crypto::Bytes plaintext(40, 0x5C);
  struct Case {
    std::string name;
    // Frames delivered in order to `to` as if from `from`; the last one is
    // expected to fail, every earlier one to open.
    std::function<std::vector<crypto::Bytes>()> frames;
    std::uint16_t from, to;
    noise::NoiseError::Kind kind;
  };
  const std::vector<Case> cases = {
      {"replayed",
       [&] {
         auto f = seal(1, 2, plaintext);
         return std::vector<crypto::Bytes>{f, f};
       },
       1, 2, noise::NoiseError::Kind::DecryptionError},
      {"reordered",
       [&] {
         (void)seal(1, 2, plaintext);
         return std::vector<crypto::Bytes>{seal(1, 2, plaintext)};
       },
       1, 2, noise::NoiseError::Kind::DecryptionError},
      {"tampered",
       [&] {
         auto f = seal(2, 1, plaintext);
         f[3] ^= 0x01;
         return std::vector<crypto::Bytes>{f};
       },
       2, 1, noise::NoiseError::Kind::DecryptionError},
      // 1's frame for 2 shown to 3 as coming from 1.
      {"meant for another party", [&] { return std::vector<crypto::Bytes>{seal(1, 2, plaintext)}; }, 1, 3,
       noise::NoiseError::Kind::DecryptionError},
      // 2's frame for 1 shown to 1 as coming from 3: same recipient, other channel.
      {"other sender", [&] { return std::vector<crypto::Bytes>{seal(2, 1, plaintext)}; }, 3, 1,
       noise::NoiseError::Kind::DecryptionError},
      {"shorter than a tag", [&] { return std::vector<crypto::Bytes>{crypto::Bytes(15, 0)}; }, 3, 2,
       noise::NoiseError::Kind::UnsupportedMessageLengthError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto frames = c.frames();
    for (std::size_t i = 0; i < frames.size(); ++i) {
      auto r = decrypt_incoming_message(channels(c.to), frames[i], pid(c.from));
      if (i + 1 < frames.size()) {
        EXPECT_TRUE(r.has_value());
        continue;
      }
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().display(), "Failed to decrypt message");
      ASSERT_NE(r.error().noise_error(), nullptr);
      EXPECT_EQ(r.error().noise_error()->kind(), c.kind);
    }
  }
}

TEST_F(EncryptedTransport, ChannelStaysUsableAfterARefusedFrame) {
  const crypto::Bytes plaintext = {9, 8, 7};
  auto genuine = seal(1, 2, plaintext);
  auto forged = genuine;
  forged.back() ^= 0x80;
  EXPECT_FALSE(decrypt_incoming_message(channels(2), forged, pid(1)).has_value());
  ASSERT_TRUE(decrypt_incoming_message(channels(2), genuine, pid(1)).has_value());
  EXPECT_EQ(genuine, plaintext);
}

TEST_F(EncryptedTransport, UnknownPartiesOnBothPaths) {
  crypto::Bytes plaintext = {1, 2, 3};
  for (const std::uint16_t stranger : {9, 1}) {  // 1 is the own id of party 1
    auto sealed = encrypt_outgoing_message(channels(1), plaintext, pid(stranger));
    ASSERT_FALSE(sealed.has_value());
    EXPECT_EQ(sealed.error().display(), "Failed to encrypt message, unknown party: " + std::to_string(stranger));
    EXPECT_EQ(plaintext, (crypto::Bytes{1, 2, 3}));
    auto opened = decrypt_incoming_message(channels(1), plaintext, pid(stranger));
    ASSERT_FALSE(opened.has_value());
    EXPECT_EQ(opened.error().debug(), "UnknownPartyId(PartyId(" + std::to_string(stranger) + "))");
  }
  auto sent = rt_.block_on(links_[0]->send(plaintext, pid(9)));
  ASSERT_FALSE(sent.has_value());
  EXPECT_EQ(sent.error()->display(), "Failed to encrypt message, unknown party: 9");
}

TEST_F(EncryptedTransport, RelayFailuresAreInnerErrors) {
  s_.network->inject_error(pid(2), box_error<TextError>("boom"));
  auto received = block(rt_, links_[1]->receive_next());
  ASSERT_FALSE(received.has_value());
  EXPECT_EQ(received.error()->display(), "Error while receiving: `boom`");
  EXPECT_EQ(received.error()->debug(), R"(InnerError(Receive("boom")))");

  s_[1].link->refuse_sends();
  auto sent = rt_.block_on(links_[0]->send(crypto::Bytes(33, 1), pid(2)));
  ASSERT_FALSE(sent.has_value());
  EXPECT_EQ(sent.error()->display(), "Error while sending: `refused`");
  EXPECT_EQ(sent.error()->debug(), R"(InnerError(Send("refused")))");
}

TEST_F(EncryptedTransport, ReplayedThroughTheRelayEndsReceiving) {
  const crypto::Bytes plaintext(70, 0x42);
  ASSERT_TRUE(rt_.block_on(links_[0]->send(plaintext, pid(2))).has_value());
  const crypto::Bytes wire = s_[1].link->sent().back().bytes;
  EXPECT_EQ(wire.size(), plaintext.size() + 16);
  auto first = block(rt_, links_[1]->receive_next());
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->plaintext, plaintext);

  s_.network->inject(pid(2), s_.network->relay_id(pid(1)), wire);
  auto again = block(rt_, links_[1]->receive_next());
  ASSERT_FALSE(again.has_value());
  EXPECT_EQ(again.error()->display(), "Failed to decrypt message");
  EXPECT_EQ(again.error()->debug(), "DecryptionError(DecryptionError)");
}

}  // namespace
}  // namespace velto::testing
