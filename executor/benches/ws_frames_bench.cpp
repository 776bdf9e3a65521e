// The relay frame codec runs once per protocol message in each direction.
#include <benchmark/benchmark.h>

#include "executor/ws_frames.hpp"

namespace {

using velto::crypto::Bytes;

void BM_EncodeRelayFrame(benchmark::State& state) {
  const Bytes payload(static_cast<std::size_t>(state.range(0)), 0x5A);
  for (auto _ : state) {
    Bytes frame = velto::executor::encode_relay_frame(3, 7, payload);
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_EncodeRelayFrame)->Arg(48)->Arg(4096)->Arg(1 << 20);

void BM_ReadRelayFrame(benchmark::State& state) {
  const Bytes frame = velto::executor::encode_relay_frame(3, 7, Bytes(static_cast<std::size_t>(state.range(0)), 0x5A));
  for (auto _ : state) {
    auto decoded = velto::executor::read_relay_frame(frame);
    benchmark::DoNotOptimize(decoded->payload.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ReadRelayFrame)->Arg(48)->Arg(4096)->Arg(1 << 20);

void BM_DecodeRoomParties(benchmark::State& state) {
  velto::executor::RoomMap room;
  for (std::uint16_t i = 1; i <= state.range(0); ++i) room[i].fill(static_cast<std::uint8_t>(i));
  const Bytes payload = velto::executor::encode_room_parties(room);
  for (auto _ : state) {
    auto decoded = velto::executor::decode_room_parties_payload(payload);
    benchmark::DoNotOptimize(decoded->size());
  }
}
BENCHMARK(BM_DecodeRoomParties)->Arg(3)->Arg(8192);

}  // namespace
