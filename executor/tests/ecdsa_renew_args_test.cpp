// The argument checks of the refresh, reshare and import functions, driven as
// a C caller drives them: the order in which each function checks its
// arguments, with the code and text of the first failure. A refused call
// starts nothing, so no callback may follow.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/share_fixtures.hpp"

namespace velto::executor {
namespace {

using testing::CallbackRecorder;
using testing::cstr;
using testing::take;

// Inputs of one call: valid unless a case overrides them. Texts are owned
// here so that every ConstStr made from them stays valid for the call.
struct Inputs {
  std::string host = "127.0.0.1:1";
  std::string room = "0123456789abcdef0123456789ABCDEF";
  std::uint16_t threshold = 2;
  std::string keygen_secret = std::string(62, '0') + "09";
  std::string share;
  std::vector<std::string> ids;
  bool null_ids = false;
  std::string private_key = std::string(63, '0') + "1";
  std::string chain_code;
  bool null_callback = false;
};

struct Call {
  std::vector<ConstStr> id_texts;
  ConstStrArray ids(const Inputs& in) {
    id_texts.clear();
    for (const auto& s : in.ids) id_texts.push_back(cstr(s));
    if (in.null_ids) return ConstStrArray{nullptr, 3};
    return ConstStrArray{id_texts.data(), id_texts.size()};
  }
};

using Function = std::function<ResultFFI(const Inputs&, CallbackRecorder&)>;

DoubleCallback cb(const Inputs& in) { return in.null_callback ? nullptr : &CallbackRecorder::double_cb; }

ResultFFI refresh(const Inputs& in, CallbackRecorder& rec) {
  return velto_ecdsa_refresh(cstr(in.share), cb(in), &rec, cstr(in.room), cstr(in.host));
}
ResultFFI reshare_new(const Inputs& in, CallbackRecorder& rec) {
  Call c;
  return velto_ecdsa_reshare_new_party(in.threshold, cstr(in.keygen_secret), c.ids(in), cstr(in.room), cstr(in.host),
                                       cb(in), &rec);
}
ResultFFI reshare_remaining(const Inputs& in, CallbackRecorder& rec) {
  Call c;
  return velto_ecdsa_reshare_remaining_party(in.threshold, cstr(in.share), c.ids(in), cstr(in.room), cstr(in.host),
                                             cb(in), &rec);
}
ResultFFI import_recipient(const Inputs& in, CallbackRecorder& rec) {
  Call c;
  return velto_ecdsa_import_private_key_recipient(in.threshold, cstr(in.keygen_secret), c.ids(in), cstr(in.room),
                                                  cstr(in.host), cb(in), &rec);
}
ResultFFI import_importer(const Inputs& in, CallbackRecorder& rec) {
  Call c;
  return velto_ecdsa_import_private_key_importer(in.threshold, cstr(in.private_key), cstr(in.keygen_secret),
                                                 cstr(in.room), cstr(in.host), c.ids(in), cstr(in.chain_code), cb(in),
                                                 &rec);
}

const std::string kHost = "Error Kind: Invalid host URL, Context: Invalid host address: ";
const std::string kRoom = "Error Kind: Invalid UUID, Context: ";
const std::string kCount = "Error Kind: Invalid number of parties, Context: ";
const std::string kShare = "Error Kind: Invalid secret Share, Context: ";
const std::string kSecret = "Error Kind: Invalid keypair from initKeygen, Context: ";
const std::string kIds = "Error Kind: Invalid keygenId, Context: ";
const std::string kKey = "Error Kind: Invalid private key: must be a hex string of length exactly 64, Context: ";
const std::string kChain =
    "Error Kind: Invalid chaincode: must be either an empty string(no chaincode) or a hex string of length exactly "
    "64, Context: ";
const std::string kZeroParties = "invalid number of parties: 0 (must be between 1..=8192)";
const std::string kHyphenRoom = "01234567-89ab-cdef-0123-456789abcdef";
const std::string kShortIdLength = "Invalid key length, expected 32 bytes, found: 4";

struct Case {
  const char* name;
  Function call;
  std::function<void(Inputs&)> change;
  int code;
  std::string message;
};

class EcdsaRenewArgs : public ::testing::Test {
 protected:
  void run(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      Inputs in;
      in.share = valid_share_;
      in.ids = {valid_id_};
      c.change(in);
      CallbackRecorder rec;
      const auto r = take(c.call(in, rec));
      EXPECT_EQ(r.code, c.code) << c.name;
      EXPECT_EQ(r.message, c.message) << c.name;
      EXPECT_TRUE(rec.calls().empty()) << c.name;
    }
  }

  static std::string fresh_keygen_id() {
    HeapString id{nullptr, 0};
    HeapString secret{nullptr, 0};
    EXPECT_EQ(take(velto_init_keygen(&id, &secret)).code, 0);
    std::string out(reinterpret_cast<const char*>(id.ptr), id.len);
    velto_dealloc_heap_string(id.ptr, id.len);
    velto_dealloc_heap_string(secret.ptr, secret.len);
    return out;
  }

  std::string valid_share_ = test::share_fixture("latest").at("record");
  std::string valid_id_ = fresh_keygen_id();
};

// Every function checks the host first and the room second.
TEST_F(EcdsaRenewArgs, HostThenRoomInEveryFunction) {
  const std::vector<std::pair<const char*, Function>> functions = {
      {"refresh", refresh},
      {"reshare new", reshare_new},
      {"reshare remaining", reshare_remaining},
      {"import recipient", import_recipient},
      {"import importer", import_importer}};
  for (const auto& [name, f] : functions) {
    SCOPED_TRACE(name);
    run({
        {"empty host", f, [](Inputs& in) { in.host.clear(); }, -2, kHost + "empty string"},
        {"host with path", f, [](Inputs& in) { in.host = "127.0.0.1:1/relay"; }, -2, kHost + "invalid uri character"},
        {"bad host before everything else", f,
         [](Inputs& in) {
           in.host.clear();
           in.room.clear();
           in.threshold = 0;
           in.share = "zz";
           in.keygen_secret.clear();
           in.ids = {"1111"};
           in.private_key.clear();
         },
         -2, kHost + "empty string"},
        {"empty room", f, [](Inputs& in) { in.room.clear(); }, -1,
         kRoom + "Invalid string length, expected 32 characters, found: 0"},
        {"room with hyphens", f, [](Inputs& in) { in.room = kHyphenRoom; }, -1,
         kRoom + "Invalid string length, expected 32 characters, found: 36"},
        {"bad room before the rest", f,
         [](Inputs& in) {
           in.room = "0123456789abcdef0123456789abcdeg";
           in.threshold = 0;
           in.share = "zz";
           in.keygen_secret.clear();
           in.ids = {"1111"};
         },
         -1, kRoom + "Invalid character 'g' at position 31"},
    });
  }
}

TEST_F(EcdsaRenewArgs, Refresh) {
  run({
      {"share not hex", refresh, [](Inputs& in) { in.share = "zz"; }, -3, kShare + "Invalid hex encoding"},
      {"empty share", refresh, [](Inputs& in) { in.share.clear(); }, -3, kShare + "Invalid secret share: Out of bounds"},
      {"null callback", refresh, [](Inputs& in) { in.null_callback = true; }, -253, "Error Kind: Null pointer"},
      {"bad share before null callback", refresh,
       [](Inputs& in) {
         in.share = "zz";
         in.null_callback = true;
       },
       -3, kShare + "Invalid hex encoding"},
  });
}

// Both functions whose party is named by a keygen secret: threshold, secret,
// keygen ids.
TEST_F(EcdsaRenewArgs, ReshareNewPartyAndImportRecipient) {
  for (const auto& [name, f] : std::vector<std::pair<const char*, Function>>{{"reshare new", reshare_new},
                                                                             {"import recipient", import_recipient}}) {
    SCOPED_TRACE(name);
    run({
        {"threshold 0", f, [](Inputs& in) { in.threshold = 0; }, -6, kCount + kZeroParties},
        {"threshold 8193", f, [](Inputs& in) { in.threshold = 8193; }, -6,
         kCount + "invalid number of parties: 8193 (must be between 1..=8192)"},
        {"bad threshold before bad secret", f,
         [](Inputs& in) {
           in.threshold = 0;
           in.keygen_secret = "00";
         },
         -6, kCount + kZeroParties},
        {"short secret", f, [](Inputs& in) { in.keygen_secret.pop_back(); }, -9,
         kSecret + "Invalid keypair length, expected 64 hex chars, found: 63"},
        {"secret not hex", f, [](Inputs& in) { in.keygen_secret.back() = 'x'; }, -9, kSecret + "Invalid hex encoding"},
        {"bad secret before bad ids", f,
         [](Inputs& in) {
           in.keygen_secret.back() = 'x';
           in.ids = {"1111"};
         },
         -9, kSecret + "Invalid hex encoding"},
        {"short keygen id", f, [](Inputs& in) { in.ids.push_back("1111"); }, -10, kIds + kShortIdLength},
        {"keygen id not base58", f, [](Inputs& in) { in.ids = {"0OIl"}; }, -10,
         kIds + "Invalid bs58 encoding: provided string contained invalid character '0' at byte 0"},
    });
  }
}

TEST_F(EcdsaRenewArgs, ReshareRemainingParty) {
  run({
      {"threshold 0", reshare_remaining, [](Inputs& in) { in.threshold = 0; }, -6, kCount + kZeroParties},
      {"bad threshold before bad share", reshare_remaining,
       [](Inputs& in) {
         in.threshold = 0;
         in.share = "zz";
       },
       -6, kCount + kZeroParties},
      {"share not hex", reshare_remaining, [](Inputs& in) { in.share = "zz"; }, -3, kShare + "Invalid hex encoding"},
      {"bad share before bad ids", reshare_remaining,
       [](Inputs& in) {
         in.share = "zz";
         in.ids = {"1111"};
       },
       -3, kShare + "Invalid hex encoding"},
      {"short keygen id", reshare_remaining, [](Inputs& in) { in.ids = {"1111"}; }, -10, kIds + kShortIdLength},
  });
}

// The importer checks its private key and chain code last, the key first.
TEST_F(EcdsaRenewArgs, ImportImporter) {
  run({
      {"threshold 0", import_importer, [](Inputs& in) { in.threshold = 0; }, -6, kCount + kZeroParties},
      {"short secret", import_importer, [](Inputs& in) { in.keygen_secret.pop_back(); }, -9,
       kSecret + "Invalid keypair length, expected 64 hex chars, found: 63"},
      {"bad ids before bad private key", import_importer,
       [](Inputs& in) {
         in.ids = {"1111"};
         in.private_key = "00";
       },
       -10, kIds + kShortIdLength},
      {"private key of 63 digits", import_importer, [](Inputs& in) { in.private_key.pop_back(); }, -15,
       kKey + "Invalid Hex length, expected 64 hex chars, found: 63"},
      {"empty private key", import_importer, [](Inputs& in) { in.private_key.clear(); }, -15,
       kKey + "Invalid Hex length, expected 64 hex chars, found: 0"},
      {"private key not hex", import_importer, [](Inputs& in) { in.private_key.back() = 'g'; }, -15,
       kKey + "Invalid hex encoding"},
      {"chain code of 63 digits", import_importer, [](Inputs& in) { in.chain_code = std::string(63, 'a'); }, -20,
       kChain + "Invalid Hex length, expected 64 hex chars, found: 63"},
      {"chain code not hex", import_importer, [](Inputs& in) { in.chain_code = std::string(63, 'a') + "z"; }, -20,
       kChain + "Invalid hex encoding"},
      {"bad private key before bad chain code", import_importer,
       [](Inputs& in) {
         in.private_key.pop_back();
         in.chain_code = std::string(63, 'a');
       },
       -15, kKey + "Invalid Hex length, expected 64 hex chars, found: 63"},
  });
}

}  // namespace
}  // namespace velto::executor
