// x-only arithmetic on Curve25519 and its quadratic twist, for the base OT.
//
// The base OT needs public values that look like uniform 32-byte strings.
// Every u in GF(2^255 - 19) is the u-coordinate of a point either on
// Curve25519 or on its quadratic twist, and the x-only Montgomery ladder
// computes the same formulas on both. So one scalar works on both groups, and
// a receiver can pick its group at random (see base_ot.hpp).
//
// Unlike X25519 the scalar is not clamped and is read big-endian.
#pragma once

#include <span>

#include "crypto/bytes.hpp"

namespace velto::ot {

// u = 6: a point of Curve25519.
inline constexpr crypto::ByteArray<32> kCurveBasePoint = {6};
// u = 3: a point of the quadratic twist.
inline constexpr crypto::ByteArray<32> kTwistBasePoint = {3};

// k * (u, ...) as a u-coordinate, for any u on the curve or the twist.
//
// u: 32 bytes little-endian, bit 255 ignored; values at or above the prime
// are reduced. k: a big-endian integer below 2^255 (the top bit of k[0] is
// ignored), used as it is. The result is the canonical little-endian
// encoding; the point at infinity gives 0. Constant time in u and k.
crypto::ByteArray<32> moller_ladder(const crypto::ByteArray<32>& u, const crypto::ByteArray<32>& k) noexcept;

// out[j] = moller_ladder(u[j], k[j]) for every j (or with k[0] for all j
// when k holds one scalar), sharing one field inversion over the batch.
// Mismatched lengths are a bug of the caller and panic. Runs on
// ladder_kernel(). Constant time in u and k.
void moller_ladder_batch(std::span<const crypto::ByteArray<32>> u, std::span<const crypto::ByteArray<32>> k,
                         std::span<crypto::ByteArray<32>> out);

// How a batch computes its ladders; every kernel gives the same results.
enum class LadderKernel {
  // One ladder after the other in 64-bit integer arithmetic; always there.
  portable,
  // Eight ladders at once in AVX-512 registers with the 52-bit
  // multiply-accumulate instructions (IFMA).
  ifma,
};

// Whether this machine runs the kernel.
bool ladder_kernel_available(LadderKernel kernel) noexcept;

// The kernel moller_ladder_batch uses: ifma where available, else portable,
// chosen once per process.
LadderKernel ladder_kernel() noexcept;

// moller_ladder_batch on the given kernel, for tests and benchmarks that
// compare kernels. An unavailable kernel panics.
void moller_ladder_batch(LadderKernel kernel, std::span<const crypto::ByteArray<32>> u,
                         std::span<const crypto::ByteArray<32>> k, std::span<crypto::ByteArray<32>> out);

// Whether u (read as by moller_ladder) is the u-coordinate of a point of
// Curve25519 rather than of the twist, decided through the Edwards form:
// true when u != -1 and y = (u - 1) / (u + 1) decompresses as an Edwards25519
// y-coordinate with sign bit 0 (u = -1, a twist point, has no image). Not
// constant time: for public values only.
bool has_edwards_image(const crypto::ByteArray<32>& u) noexcept;

}  // namespace velto::ot
