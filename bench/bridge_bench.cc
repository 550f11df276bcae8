// Event stream throughput: EmitEvent on 1 or 4 producer threads, drained on
// the "window thread" and encoded by the event channel's sink with the
// standard method codec, as the engine would be handed them.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "bridge/native_bridge.h"
#include "counting_messenger.h"

namespace vek_native {
namespace {

class AcceptingPoster : public WindowPoster {
 public:
  bool Post(WindowHandle, uint32_t) override { return true; }
};

EncodableMap HidInputEvent(int64_t sequence) {
  return EncodableMap{
      {EncodableValue("channel"), EncodableValue("hidInput")},
      {EncodableValue("devicePath"),
       EncodableValue("\\\\?\\hid#vid_046d&pid_c52b&mi_00#7&2a3b4c5d&0&0000#{4d1e55b2-f16f-11cf-"
                      "88cb-001111000030}")},
      {EncodableValue("timestampUs"), EncodableValue(sequence)},
      {EncodableValue("data"), EncodableValue(std::vector<uint8_t>(64, 0x5A))}};
}

struct Rig {
  Rig() {
    static int window;
    AttachListening(bridge, messenger, poster, &window);
  }
  ~Rig() { bridge.Detach(); }
  CountingMessenger messenger;
  AcceptingPoster poster;
  NativeBridge bridge;
};

void BM_EmitDrainEncode(benchmark::State& state) {
  const int producers = static_cast<int>(state.range(0));
  constexpr int kBatch = 8192;  // events per iteration, below the queue bound
  Rig rig;
  for (auto _ : state) {
    if (producers == 1) {
      for (int i = 0; i < kBatch; ++i) rig.bridge.EmitEvent(HidInputEvent(i));
      rig.bridge.DrainEvents();
      continue;
    }
    std::atomic<int> running{producers};
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
      threads.emplace_back([&rig, &running, producers] {
        for (int i = 0; i < kBatch / producers; ++i) rig.bridge.EmitEvent(HidInputEvent(i));
        --running;
      });
    }
    while (running.load() > 0) rig.bridge.DrainEvents();
    for (auto& t : threads) t.join();
    rig.bridge.DrainEvents();
  }
  state.SetItemsProcessed(static_cast<int64_t>(rig.messenger.messages_));
  state.SetBytesProcessed(static_cast<int64_t>(rig.messenger.bytes_));
  state.counters["dropped"] = static_cast<double>(rig.bridge.DroppedEventCount());
}
BENCHMARK(BM_EmitDrainEncode)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vek_native

BENCHMARK_MAIN();
