#include "velto-mpc-infra/party_map.hpp"

namespace velto {

std::string debug_party_list(std::span<const PartyId> ids, bool multi_line) {
  if (ids.empty()) return "[]";
  std::string out = "[";
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (multi_line) {
      out += "\n    " + ids[i].debug() + ",";
    } else {
      if (i > 0) out += ", ";
      out += ids[i].debug();
    }
  }
  out += multi_line ? "\n]" : "]";
  return out;
}

}  // namespace velto
