// The gadget vector of the random VOLE: 512 fixed public scalars g_0..g_511,
// identical in every party. Entry i weights random OT i: the receiver's VOLE
// input is b = sum of g_i over the OTs whose choice bit is 1.
//
// g_0..g_3, g_510 and g_511 are fixed values of the protocol. Every other
// entry is our own derivation, done once and compiled in as a constant
// table: g_i = bytes 32i .. 32i + 31 of the extendable output of BLAKE3
// derive-key under "Velto ECDSA RVOLE Gadget Vector V0" over the empty
// input, read big-endian and reduced once modulo n. (The table was generated
// by testdata/gen_rvole_vectors.py; a test re-derives it.)
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "crypto/secp256k1.hpp"

namespace velto::ecdsa {

inline constexpr std::size_t kRvoleGadgetSize = 512;
inline constexpr std::string_view kRvoleGadgetContext = "Velto ECDSA RVOLE Gadget Vector V0";

using RvoleGadget = std::array<crypto::Scalar, kRvoleGadgetSize>;

// The table, built from its constant text on first use.
const RvoleGadget& rvole_gadget();

}  // namespace velto::ecdsa
