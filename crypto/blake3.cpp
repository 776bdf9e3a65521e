#include "crypto/blake3.hpp"

extern "C" {
#include "blake3_impl.h"
}

#include <algorithm>
#include <cstring>

#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

// A node of the hash tree before compression, as the C library's
// finalisation builds it.
struct Node {
  std::uint32_t cv[8];
  std::uint8_t block[BLAKE3_BLOCK_LEN];
  std::uint8_t block_len;
  std::uint64_t counter;
  std::uint8_t flags;
};

Node chunk_node(const blake3_chunk_state& c) noexcept {
  Node n{};
  std::memcpy(n.cv, c.cv, sizeof n.cv);
  std::memcpy(n.block, c.buf, sizeof n.block);
  n.block_len = c.buf_len;
  n.counter = c.chunk_counter;
  n.flags = static_cast<std::uint8_t>(c.flags | (c.blocks_compressed == 0 ? CHUNK_START : 0) |
                                      CHUNK_END);
  return n;
}

Node parent_node(const std::uint8_t* children, const std::uint32_t key[8],
                 std::uint8_t flags) noexcept {
  Node n{};
  std::memcpy(n.cv, key, sizeof n.cv);
  std::memcpy(n.block, children, sizeof n.block);
  n.block_len = BLAKE3_BLOCK_LEN;
  n.counter = 0;
  n.flags = static_cast<std::uint8_t>(flags | PARENT);
  return n;
}

void chaining_value(const Node& n, std::uint8_t out[32]) noexcept {
  std::uint32_t cv[8];
  std::memcpy(cv, n.cv, sizeof cv);
  blake3_compress_in_place(cv, n.block, n.block_len, n.counter, n.flags);
  for (int i = 0; i < 8; ++i) store32(out + 4 * i, cv[i]);
}

// The root node of everything absorbed so far; mirrors the merge that the
// library's own finalisation performs.
Node root_node(const blake3_hasher& h) noexcept {
  if (h.cv_stack_len == 0) return chunk_node(h.chunk);
  std::size_t remaining;
  Node out;
  const std::size_t chunk_len =
      static_cast<std::size_t>(h.chunk.blocks_compressed) * BLAKE3_BLOCK_LEN + h.chunk.buf_len;
  if (chunk_len > 0) {
    remaining = h.cv_stack_len;
    out = chunk_node(h.chunk);
  } else {
    // The top of the stack is a finished chunk; at least two entries exist.
    remaining = h.cv_stack_len - 2u;
    out = parent_node(&h.cv_stack[remaining * BLAKE3_OUT_LEN], h.key, h.chunk.flags);
  }
  while (remaining > 0) {
    --remaining;
    std::uint8_t children[BLAKE3_BLOCK_LEN];
    std::memcpy(children, &h.cv_stack[remaining * BLAKE3_OUT_LEN], BLAKE3_OUT_LEN);
    chaining_value(out, children + BLAKE3_OUT_LEN);
    out = parent_node(children, h.key, h.chunk.flags);
  }
  return out;
}

void key_words(const ByteArray<32>& key, std::uint32_t out[8]) noexcept {
  for (int i = 0; i < 8; ++i) out[i] = load32(key.data() + 4 * i);
}

}  // namespace

// ---------------------------------------------------------------- Blake3Reader

Blake3Reader::~Blake3Reader() {
  secure_wipe(cv_.data(), sizeof cv_);
  secure_wipe(block_.data(), block_.size());
  secure_wipe(cached_.data(), cached_.size());
}

void Blake3Reader::compute_block(std::uint64_t index, std::uint8_t* out) const noexcept {
  blake3_compress_xof(cv_.data(), block_.data(), block_len_, index,
                      static_cast<std::uint8_t>(flags_ | ROOT), out);
}

void Blake3Reader::fill(MutByteSpan out) noexcept {
  std::uint8_t* p = out.data();
  std::size_t n = out.size();
  while (n > 0) {
    const std::uint64_t index = position_ / BLAKE3_BLOCK_LEN;
    const std::size_t offset = static_cast<std::size_t>(position_ % BLAKE3_BLOCK_LEN);
    if (offset == 0 && n >= BLAKE3_BLOCK_LEN) {
      compute_block(index, p);
      p += BLAKE3_BLOCK_LEN;
      n -= BLAKE3_BLOCK_LEN;
      position_ += BLAKE3_BLOCK_LEN;
      continue;
    }
    if (cached_index_ != index) {
      compute_block(index, cached_.data());
      cached_index_ = index;
    }
    const std::size_t take = std::min(n, BLAKE3_BLOCK_LEN - offset);
    std::memcpy(p, cached_.data() + offset, take);
    p += take;
    n -= take;
    position_ += take;
  }
}

// ---------------------------------------------------------------- Blake3

Blake3 Blake3::hasher() noexcept {
  Blake3 b;
  blake3_hasher_init(&b.h_);
  return b;
}

Blake3 Blake3::keyed(const ByteArray<32>& key) noexcept {
  Blake3 b;
  blake3_hasher_init_keyed(&b.h_, key.data());
  return b;
}

Blake3 Blake3::derive_key(std::string_view context) noexcept {
  Blake3 b;
  blake3_hasher_init_derive_key_raw(&b.h_, context.data(), context.size());
  return b;
}

// Subtree chaining values exist only once a chunk has been completed, which
// is exactly when the chunk counter has moved; short inputs skip wiping the
// 1.7 KiB stack.
void Blake3::wipe_stack() noexcept {
  if (h_.chunk.chunk_counter != 0 || h_.cv_stack_len != 0) {
    secure_wipe(h_.cv_stack, sizeof h_.cv_stack);
  }
}

Blake3::~Blake3() {
  wipe_stack();
  secure_wipe(&h_.chunk, sizeof h_.chunk);
  secure_wipe(h_.key, sizeof h_.key);
}

Blake3& Blake3::update(ByteSpan data) noexcept {
  blake3_hasher_update(&h_, data.data(), data.size());
  return *this;
}

Blake3& Blake3::reset() noexcept {
  // The library's reset overwrites the chunk (keeping its mode flags) but
  // leaves old subtree values in the stack.
  wipe_stack();
  blake3_hasher_reset(&h_);
  return *this;
}

ByteArray<32> Blake3::finalize() const noexcept {
  ByteArray<32> out;
  blake3_hasher_finalize(&h_, out.data(), out.size());
  return out;
}

Blake3Reader Blake3::finalize_xof() const noexcept {
  Node root = root_node(h_);
  Blake3Reader r;
  std::memcpy(r.cv_.data(), root.cv, sizeof root.cv);
  std::memcpy(r.block_.data(), root.block, sizeof root.block);
  r.block_len_ = root.block_len;
  r.flags_ = root.flags;
  secure_wipe(&root, sizeof root);
  return r;
}

ByteArray<32> blake3_derive_key(std::string_view context, ByteSpan input) noexcept {
  return Blake3::derive_key(context).update(input).finalize();
}

ByteArray<32> blake3_keyed(const ByteArray<32>& key, ByteSpan input) noexcept {
  return Blake3::keyed(key).update(input).finalize();
}

ByteArray<64> blake3_keyed_single_block(const ByteArray<32>& key, ByteSpan input,
                                        std::uint64_t counter) {
  if (input.size() > BLAKE3_BLOCK_LEN) {
    panic("blake3_keyed_single_block: input longer than one block. Bug!");
  }
  std::uint32_t cv[8];
  key_words(key, cv);
  std::uint8_t block[BLAKE3_BLOCK_LEN] = {};
  if (!input.empty()) std::memcpy(block, input.data(), input.size());
  ByteArray<64> out;
  blake3_compress_xof(cv, block, static_cast<std::uint8_t>(input.size()), counter,
                      CHUNK_START | CHUNK_END | ROOT | KEYED_HASH, out.data());
  secure_wipe(cv, sizeof cv);
  secure_wipe(block, sizeof block);
  return out;
}

}  // namespace velto::crypto
