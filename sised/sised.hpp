// Everything of sised in one include: the core encoding, PartyId, and the
// codecs of the curve types.
#pragma once

#include "sised/codec.hpp"
#include "sised/decoder.hpp"
#include "sised/ed25519_codec.hpp"
#include "sised/encoder.hpp"
#include "sised/error.hpp"
#include "sised/party_id.hpp"
#include "sised/ristretto255_codec.hpp"
#include "sised/secp256k1_codec.hpp"
