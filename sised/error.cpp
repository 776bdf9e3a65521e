#include "sised/error.hpp"

namespace velto::sised {

std::string SisedError::display() const {
  switch (kind_) {
    case Kind::OutOfBounds: return "Out of bounds";
    case Kind::HeapSizeLimitExceeded: return "Heap size limit exceeded";
    case Kind::InvalidVarIntEncoding: return "Invalid varint encoding";
    case Kind::Custom: return text_;
  }
  return {};
}

std::string SisedError::debug() const {
  switch (kind_) {
    case Kind::OutOfBounds: return "OutOfBounds";
    case Kind::HeapSizeLimitExceeded: return "HeapSizeLimitExceeded";
    case Kind::InvalidVarIntEncoding: return "InvalidVarIntEncoding";
    case Kind::Custom: return "Custom(" + debug_string(text_) + ")";
  }
  return {};
}

std::string EncodeError::display() const {
  return kind_ == Kind::OutOfBounds ? std::string("Out of bounds") : text_;
}

std::string EncodeError::debug() const {
  return kind_ == Kind::OutOfBounds ? std::string("OutOfBounds") : "Custom(" + debug_string(text_) + ")";
}

}  // namespace velto::sised
