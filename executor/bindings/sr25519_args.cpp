#include "executor/bindings/sr25519_args.hpp"

#include <limits>
#include <utility>

#include "executor/bindings/c_api.hpp"

namespace velto::executor::ffi {

std::expected<Sr25519StorableSecretShare, FfiError> sr25519_share_arg(ConstStr secret_share) {
  return decode_arg(secret_share, FfiErrorKind::InvalidSecretShare, sr25519_share_decode);
}

std::expected<std::vector<std::string>, FfiError> sr25519_path_arg(ConstStrArray path) {
  // Junction paths have no depth limit of their own.
  auto elements = text_array_arg(path.ptr, path.count, FfiErrorKind::InvalidDerivationElement,
                                 std::numeric_limits<std::size_t>::max());
  if (!elements) return std::unexpected(std::move(elements.error()));
  std::vector<std::string> out;
  out.reserve(elements->size());
  for (const ConstStr& element : *elements) {
    auto text = text_arg(element, FfiErrorKind::InvalidDerivationElement);
    if (!text) return std::unexpected(std::move(text.error()));
    out.push_back(std::move(*text));
  }
  return out;
}

}  // namespace velto::executor::ffi
