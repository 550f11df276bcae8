// The engine's side of a channel for benchmarks: counts what it is handed.
#ifndef VEK_BENCH_COUNTING_MESSENGER_H_
#define VEK_BENCH_COUNTING_MESSENGER_H_

#include <cstdint>
#include <string>

#include "channels/binary_messenger.h"

namespace vek_native {

class CountingMessenger : public BinaryMessenger {
 public:
  void Send(const std::string&, const uint8_t*, size_t size, BinaryReply) const override {
    bytes_ += size;
    messages_ += 1;
  }
  void SetMessageHandler(const std::string&, BinaryMessageHandler) override {}
  mutable uint64_t bytes_ = 0;
  mutable uint64_t messages_ = 0;
};

}  // namespace vek_native

#endif  // VEK_BENCH_COUNTING_MESSENGER_H_
