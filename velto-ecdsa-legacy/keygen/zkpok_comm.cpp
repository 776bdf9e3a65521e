#include "velto-ecdsa-legacy/keygen/zkpok_comm.hpp"

#include "velto-ecdsa/zkpok_comm.hpp"

namespace velto::ecdsa::legacy {

DlogProofStep dlog_proof_step_v4() { return &committed_dlog_proof<DlogOpeningV4>; }

}  // namespace velto::ecdsa::legacy
