// The lane kernels behind moller_ladder_batch, and the choice between them.
//
// A kernel runs several independent ladders at once, one per lane, and ends
// in projective form (X : Z) with 51-bit limbs, as the single ladder does;
// moller_ladder_batch then shares one inversion over the whole batch. Every
// kernel is constant time in u and k: the scalar bits become lane masks,
// never branches or indices.
//
// This header is also read by the AVX-512 translation unit, which is built
// with its own instruction-set flags: keep it free of anything but plain
// declarations, so that no inline function of another header is compiled
// there (the linker could pick that copy for every caller).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto::ot::lanes {

// Ladders per call of the AVX-512 IFMA kernel.
inline constexpr std::size_t kIfmaLanes = 8;

// Runs kIfmaLanes ladders. x1[i][l] is limb i (51-bit radix, each below
// 2^52) of lane l's u; k[w][l] is word w (little-endian, bits 64w..64w+63)
// of lane l's scalar, of which bits 0..254 are used. Writes lane l's X and
// Z to x_out[i][l] and z_out[i][l], limbs below 2^52. Only callable when
// ifma_supported().
void ladder_ifma(const std::uint64_t x1[5][kIfmaLanes], const std::uint64_t k[4][kIfmaLanes],
                 std::uint64_t x_out[5][kIfmaLanes], std::uint64_t z_out[5][kIfmaLanes]) noexcept;

// Whether this CPU and operating system run the AVX-512 IFMA kernel.
bool ifma_supported() noexcept;

}  // namespace velto::ot::lanes
