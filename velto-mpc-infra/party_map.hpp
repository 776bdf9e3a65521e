// PartyMap: a vector of (PartyId, value) entries sorted by party id, each id
// at most once; and the text forms of party-id lists.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "crypto/error.hpp"
#include "sised/party_id.hpp"

namespace velto {

// "[PartyId(1), PartyId(2)]"; the multi-line form puts each entry on its own
// line: "[\n    PartyId(1),\n    PartyId(2),\n]".
std::string debug_party_list(std::span<const PartyId> ids, bool multi_line = false);

template <class T>
class PartyMap {
 public:
  using Entry = std::pair<PartyId, T>;
  using const_iterator = typename std::vector<Entry>::const_iterator;
  using iterator = typename std::vector<Entry>::iterator;

  PartyMap() = default;
  explicit PartyMap(std::size_t capacity) { entries_.reserve(capacity); }

  // Inserts (id, value) in order, or replaces the value an entry with that id
  // holds (the old value is released).
  void insert(PartyId id, T value) {
    auto it = lower_bound(id);
    if (it != entries_.end() && it->first == id) {
      it->second = std::move(value);
    } else {
      entries_.insert(it, Entry(id, std::move(value)));
    }
  }

  // The value of `id`, which must be present: callers only look up ids that
  // the protocol has collected (panic "no entry found for key" otherwise).
  const T& at(PartyId id) const {
    const T* v = find(id);
    if (v == nullptr) panic("no entry found for key");
    return *v;
  }
  T& at(PartyId id) { return const_cast<T&>(std::as_const(*this).at(id)); }

  const T* find(PartyId id) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                               [](const Entry& e, PartyId x) { return e.first < x; });
    return it != entries_.end() && it->first == id ? &it->second : nullptr;
  }
  bool contains(PartyId id) const { return find(id) != nullptr; }

  // The entries of `ids`, in that order, skipping `own`. The ids must be
  // ascending and each must be in the map (panic "Expected `filter` ids to be
  // ordered and a subset of map" otherwise); entries not asked for are passed
  // over. Each id is searched in the part of the map after the previous find.
  std::vector<std::reference_wrapper<const Entry>> filter(std::span<const PartyId> ids, PartyId own) const {
    std::vector<std::reference_wrapper<const Entry>> out;
    out.reserve(ids.size());
    auto from = entries_.begin();
    for (const PartyId id : ids) {
      if (id == own) continue;
      auto it = std::lower_bound(from, entries_.end(), id, [](const Entry& e, PartyId x) { return e.first < x; });
      if (it == entries_.end() || it->first != id) panic("Expected `filter` ids to be ordered and a subset of map");
      out.emplace_back(*it);
      from = it + 1;
    }
    return out;
  }

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }
  iterator begin() noexcept { return entries_.begin(); }
  iterator end() noexcept { return entries_.end(); }
  const Entry& operator[](std::size_t i) const { return entries_[i]; }
  const std::vector<Entry>& entries() const noexcept { return entries_; }
  std::vector<Entry> into_entries() && { return std::move(entries_); }

 private:
  iterator lower_bound(PartyId id) {
    return std::lower_bound(entries_.begin(), entries_.end(), id,
                            [](const Entry& e, PartyId x) { return e.first < x; });
  }

  std::vector<Entry> entries_;
};

}  // namespace velto
