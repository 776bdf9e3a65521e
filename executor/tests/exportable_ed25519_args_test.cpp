// The argument checks of the exportable Ed25519 functions, driven as a C
// caller drives them: the order in which each function checks its
// arguments, with the code and text of the first failure, and the local
// functions' refusals. A refused call starts nothing, so no callback may
// follow.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"
#include "executor/ed25519_share.hpp"
#include "executor/tests/ffi_recorder.hpp"
#include "noise-kk/keys.hpp"
#include "velto-frost-ed25519/exportable.hpp"

namespace velto::executor {
namespace {

using testing::CallbackRecorder;
using testing::cstr;
using testing::take;

// A one-party exportable share of a fixed seed.
std::string one_party_share() {
  crypto::SecretArray<32> seed;
  for (std::size_t i = 0; i < 32; ++i) seed[i] = static_cast<std::uint8_t>(i + 1);
  auto key = frost::exportable_mask_preimage(seed);
  EXPECT_TRUE(key.has_value());
  noise::NoiseKeyPair transport = noise::generate_ephemeral();
  PartyPubkeyMap map{{PartyId::unchecked(1), transport.public_key()}};
  return exportable_ed25519_share_encode({std::move(*key), transport, map});
}

// Inputs of one call: valid unless a case overrides them.
struct Inputs {
  std::string host = "127.0.0.1:1";
  std::string room = "0123456789abcdef0123456789ABCDEF";
  std::uint16_t n = 3;
  std::uint16_t t = 2;
  std::string keygen_secret = std::string(62, '0') + "09";
  std::vector<std::string> ids;
  bool null_ids = false;
  std::string share = one_party_share();
  std::string message = "00ff";
  std::string export_to = testing::new_identity().id;
  std::string private_key = std::string(63, '0') + "1";
  bool null_callback = false;
  bool null_host = false;
};

struct Args {
  std::vector<ConstStr> id_texts;
  ConstStrArray ids(const Inputs& in) {
    for (const auto& s : in.ids) id_texts.push_back(cstr(s));
    if (in.null_ids) return ConstStrArray{nullptr, 3};
    return ConstStrArray{id_texts.data(), id_texts.size()};
  }
};

ConstStr host(const Inputs& in) { return in.null_host ? ConstStr{nullptr, 5} : cstr(in.host); }
DoubleCallback dcb(const Inputs& in) { return in.null_callback ? nullptr : &CallbackRecorder::double_cb; }
SingleCallback scb(const Inputs& in) { return in.null_callback ? nullptr : &CallbackRecorder::single_cb; }

using Function = std::function<ResultFFI(const Inputs&, CallbackRecorder&)>;

const Function kSample = [](const Inputs& in, CallbackRecorder& rec) {
  Args a;
  return velto_exportable_ed25519_sample_key(in.n, in.t, cstr(in.keygen_secret), cstr(in.room), host(in), a.ids(in),
                                             dcb(in), &rec);
};
const Function kReceive = [](const Inputs& in, CallbackRecorder& rec) {
  Args a;
  return velto_exportable_ed25519_receive_key(in.n, in.t, cstr(in.keygen_secret), cstr(in.room), host(in),
                                              a.ids(in), dcb(in), &rec);
};
const Function kSign = [](const Inputs& in, CallbackRecorder& rec) {
  return velto_exportable_ed25519_sign(cstr(in.share), cstr(in.message), cstr(in.room), host(in), scb(in), &rec);
};
const Function kRefresh = [](const Inputs& in, CallbackRecorder& rec) {
  return velto_exportable_ed25519_refresh(cstr(in.share), dcb(in), &rec, cstr(in.room), host(in));
};
const Function kReshareNew = [](const Inputs& in, CallbackRecorder& rec) {
  Args a;
  return velto_exportable_ed25519_reshare_new_party(in.t, cstr(in.keygen_secret), a.ids(in), cstr(in.room),
                                                    host(in), dcb(in), &rec);
};
const Function kReshareRemaining = [](const Inputs& in, CallbackRecorder& rec) {
  Args a;
  return velto_exportable_ed25519_reshare_remaining_party(in.t, cstr(in.share), a.ids(in), cstr(in.room), host(in),
                                                          dcb(in), &rec);
};
const Function kExport = [](const Inputs& in, CallbackRecorder& rec) {
  return velto_exportable_ed25519_export_full_private_key(cstr(in.share), cstr(in.export_to), cstr(in.room),
                                                          host(in), scb(in), &rec);
};
const Function kRecipient = [](const Inputs& in, CallbackRecorder& rec) {
  Args a;
  return velto_exportable_ed25519_import_private_key_recipient(in.t, cstr(in.keygen_secret), a.ids(in),
                                                               cstr(in.room), host(in), dcb(in), &rec);
};
const Function kImporter = [](const Inputs& in, CallbackRecorder& rec) {
  Args a;
  return velto_exportable_ed25519_import_private_key_importer(in.t, cstr(in.private_key), cstr(in.keygen_secret),
                                                              cstr(in.room), host(in), a.ids(in), dcb(in), &rec);
};

struct Case {
  const char* name;
  Function fn;
  std::function<void(Inputs&)> change;
  int code;
  std::string message;  // the whole message; empty: only its start is "Error Kind: "
};

const std::string kRoomText = "Error Kind: Invalid UUID";
const std::string kHostText = "Error Kind: Invalid host URL";

TEST(ExportableEd25519Args, ChecksInTheirOrder) {
  auto bad_room = [](Inputs& in) { in.room = "xyz"; };
  auto bad_host_and_room = [](Inputs& in) {
    in.host = "";
    in.room = "xyz";
  };
  const Case cases[] = {
      {"sample: host before room", kSample, bad_host_and_room, -2, ""},
      {"receive: room", kReceive, bad_room, -1, ""},
      {"sample: n 0", kSample, [](Inputs& in) { in.n = 0; }, -6,
       "Error Kind: Invalid number of parties, Context: invalid number of parties: 0 (must be between 1..=8192)"},
      {"sample: n 8193", kSample, [](Inputs& in) { in.n = 8193; }, -6,
       "Error Kind: Invalid number of parties, Context: invalid number of parties: 8193 (must be between 1..=8192)"},
      {"receive: t 0 after n", kReceive, [](Inputs& in) { in.t = 0; }, -6,
       "Error Kind: Invalid number of parties, Context: invalid number of parties: 0 (must be between 1..=8192)"},
      {"sample: keygen secret", kSample, [](Inputs& in) { in.keygen_secret = "zz"; }, -9, ""},
      {"sample: keygen id", kSample, [](Inputs& in) { in.ids = {"not base58 0"}; }, -10, ""},
      {"sign: null host with a length", kSign, [](Inputs& in) { in.null_host = true; }, -2,
       "Error Kind: Invalid host URL, Context: Received a slice with null pointer, but length: 5"},
      {"sign: odd message before the share", kSign,
       [](Inputs& in) {
         in.message = "abc";
         in.share = "zz";
       },
       -4, ""},
      {"sign: share", kSign, [](Inputs& in) { in.share = "00"; }, -3, ""},
      {"refresh: share", kRefresh, [](Inputs& in) { in.share = ""; }, -3, ""},
      {"reshare new: threshold", kReshareNew, [](Inputs& in) { in.t = 0; }, -6, ""},
      {"reshare remaining: share before ids", kReshareRemaining,
       [](Inputs& in) {
         in.share = "00";
         in.ids = {"bad"};
       },
       -3, ""},
      {"export: share before export_to", kExport,
       [](Inputs& in) {
         in.share = "00";
         in.export_to = "bad";
       },
       -3, ""},
      {"export: export_to", kExport, [](Inputs& in) { in.export_to = ""; }, -10, ""},
      {"recipient: keygen secret", kRecipient, [](Inputs& in) { in.keygen_secret = ""; }, -9, ""},
      {"importer: keygen id before private key", kImporter,
       [](Inputs& in) {
         in.private_key = "00";
         in.ids = {"bad"};
       },
       -10, ""},
      {"importer: private key last", kImporter, [](Inputs& in) { in.private_key = std::string(62, 'f'); }, -15, ""},
      {"null callback after the arguments", kRefresh, [](Inputs& in) { in.null_callback = true; }, -253, ""},
      {"null callback, a bad argument first", kSign,
       [](Inputs& in) {
         in.null_callback = true;
         in.message = "0";
       },
       -4, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Inputs in;
    c.change(in);
    CallbackRecorder rec;
    const auto r = take(c.fn(in, rec));
    EXPECT_EQ(r.code, c.code) << r.message;
    if (c.message.empty()) {
      EXPECT_TRUE(r.message.starts_with("Error Kind: ")) << r.message;
    } else {
      EXPECT_EQ(r.message, c.message);
    }
    EXPECT_TRUE(rec.calls().empty());
  }
}

TEST(ExportableEd25519Args, LocalFunctions) {
  const std::string share = one_party_share();
  const auto decoded = exportable_ed25519_share_decode(share);
  ASSERT_TRUE(decoded.has_value());

  HeapString out{nullptr, 0};
  auto r = take(velto_exportable_ed25519_get_pubkey(cstr(share), &out));
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.ptr), out.len),
            crypto::hex_encode(decoded->key_share.key_share.public_key.to_bytes()));
  velto_dealloc_heap_string(out.ptr, out.len);

  out = HeapString{nullptr, 0};
  r = take(velto_exportable_ed25519_get_export_id(cstr(share), &out));
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.ptr), out.len),
            decoded->transport_keypair.public_key().display());
  velto_dealloc_heap_string(out.ptr, out.len);

  // A one-party key rebuilds from its one share.
  const ConstStr one[] = {cstr(share)};
  out = HeapString{nullptr, 0};
  r = take(velto_exportable_ed25519_offline_export_full_private_key(ConstStrArray{one, 1}, &out));
  ASSERT_EQ(r.code, 0) << r.message;
  std::string seed_hex;
  for (std::size_t i = 0; i < 32; ++i) seed_hex += crypto::hex_encode(crypto::Bytes{static_cast<std::uint8_t>(i + 1)});
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.ptr), out.len),
            seed_hex + crypto::hex_encode(decoded->key_share.key_share.public_key.to_bytes()));
  velto_dealloc_heap_string(out.ptr, out.len);

  // The share is checked before the out-pointer; nothing is stored on failure.
  for (auto fn : {&velto_exportable_ed25519_get_pubkey, &velto_exportable_ed25519_get_export_id}) {
    out = HeapString{nullptr, 0};
    EXPECT_EQ(take(fn(cstr("zz"), nullptr)).code, -3);
    EXPECT_EQ(take(fn(cstr("00"), &out)).code, -3);
    EXPECT_EQ(out.ptr, nullptr);
    EXPECT_EQ(take(fn(cstr(share), nullptr)).code, -253);
  }
  EXPECT_EQ(take(velto_exportable_ed25519_offline_export_full_private_key(ConstStrArray{one, 1}, nullptr)).code,
            -253);
  const ConstStr bad[] = {cstr(share), cstr("00")};
  EXPECT_EQ(take(velto_exportable_ed25519_offline_export_full_private_key(ConstStrArray{bad, 2}, &out)).code, -3);
}

}  // namespace
}  // namespace velto::executor
