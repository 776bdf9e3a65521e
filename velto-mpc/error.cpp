#include "velto-mpc/error.hpp"

#include <array>
#include <utility>

namespace velto::mpc {

namespace {

struct KindRow {
  std::int32_t code;
  VeltoError::Kind kind;
  const char* name;
  const char* prefix;
};

using K = VeltoError::Kind;

constexpr std::array<KindRow, 20> kRows{{
    {-1, K::InvalidUuid, "InvalidUuid", "Invalid UUID: "},
    {-2, K::InvalidHostUrl, "InvalidHostUrl", "Invalid host URL: "},
    {-3, K::InvalidSecretShare, "InvalidSecretShare", "Invalid secret share: "},
    {-4, K::InvalidMessage, "InvalidMessage", "Invalid message: "},
    {-6, K::InvalidNumberOfParties, "InvalidNumberOfParties", "Invalid number of parties: "},
    {-8, K::ExecutorError, "ExecutorError", "Executor error: "},
    {-9, K::InvalidKeygenKeypair, "InvalidKeygenKeypair", "Invalid keygen keypair: "},
    {-10, K::InvalidKeygenId, "InvalidKeygenId", "Invalid keygen ID: "},
    {-11, K::InvalidDerivationElement, "InvalidDerivationElement", "Invalid derivation element: "},
    {-12, K::InvalidExtendedPrivateKey, "InvalidExtendedPrivateKey", "Invalid extended private key: "},
    {-13, K::InvalidSecretPrivateKey, "InvalidSecretPrivateKey", "Invalid secret private key: "},
    {-14, K::InvalidApiKey, "InvalidApiKey", "Invalid API key: "},
    {-15, K::InvalidPrivateKey, "InvalidPrivateKey", "Invalid private key: "},
    {-16, K::InvalidTweak, "InvalidTweak", "Invalid tweak: "},
    {-17, K::InvalidExtendedPublicKey, "InvalidExtendedPublicKey", "Invalid extended public key: "},
    {-18, K::InvalidSecretPublicKey, "InvalidSecretPublicKey", "Invalid secret public key: "},
    {-19, K::InvalidPublicKey, "InvalidPublicKey", "Invalid public key: "},
    {-253, K::NullPointerError, "NullPointerError", "Null pointer error: "},
    {-254, K::PanicError, "PanicError", "Panic error: "},
    {-255, K::PlatformError, "PlatformError", "Platform error: "},
}};

const KindRow& row_of(K kind) {
  for (const auto& r : kRows)
    if (r.kind == kind) return r;
  panic("VeltoError kind without a code row. Bug!");
}

}  // namespace

VeltoError VeltoError::from_code(std::int32_t code, std::string message) {
  for (const auto& r : kRows)
    if (r.code == code) return VeltoError(r.kind, code, std::move(message));
  return VeltoError(K::UnknownExecutorError, code, std::move(message));
}

std::string VeltoError::display() const {
  if (kind_ == K::InternalError) return "Internal error: " + message_;
  if (kind_ == K::UnknownExecutorError)
    return "Unknown executor error (code: " + std::to_string(code_) + "): " + message_;
  return row_of(kind_).prefix + message_;
}

std::string VeltoError::debug() const {
  if (kind_ == K::InternalError) return "InternalError(" + debug_string(message_) + ")";
  if (kind_ == K::UnknownExecutorError)
    return "UnknownExecutorError { code: " + std::to_string(code_) + ", msg: " + debug_string(message_) + " }";
  return std::string(row_of(kind_).name) + "(" + debug_string(message_) + ")";
}

}  // namespace velto::mpc
