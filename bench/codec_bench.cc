// Cost of encoding and decoding: a corpus of random messages, and the
// bridge's most frequent and biggest events as the event sink sends them
// (success envelopes). Every case runs twice, on the current codec and on the
// baseline copy of the old one (codec_baseline.h), side by side in one run, so
// the ratio table at the end compares the two under the same machine load.
//
//   codec_bench [--rounds=N] [benchmark flags]
//
// The whole set runs N times (default 3), the pairs alternating; the table
// takes each case's best CPU time per iteration over the rounds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "channels/standard_codec.h"
#include "codec_baseline.h"
#include "hid/hid_input.h"
#include "rawinput/rawinput_capture.h"

namespace vek_native {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- payloads -------------------------------------------------------------

// A deterministic corpus: every alternative the wire carries, nested lists and
// maps, sizes on both sides of the one-byte size limit.
class RandomValues {
 public:
  explicit RandomValues(uint64_t seed) : engine_(seed) {}

  EncodableValue Message() {
    // Method arguments and events are mostly maps keyed by strings.
    switch (Below(4)) {
      case 0:
      case 1:
        return StringKeyedMap(0);
      case 2:
        return List(0);
      default:
        return Value(0);
    }
  }

 private:
  uint64_t Below(uint64_t n) { return engine_() % n; }

  size_t Count() {
    // Mostly short, sometimes past the 254 that needs a longer size.
    return Below(16) == 0 ? 200 + Below(200) : Below(24);
  }

  std::string Text() {
    std::string text(Below(8) == 0 ? Count() : Below(20), 'a');
    for (char& c : text) c = static_cast<char>('a' + Below(26));
    if (!text.empty() && Below(4) == 0) text += "设备";
    return text;
  }

  template <typename T>
  std::vector<T> Numbers() {
    std::vector<T> list(Below(8) == 0 ? Count() : Below(12));
    for (T& element : list) {
      uint64_t bits = engine_();
      std::memcpy(&element, &bits, sizeof element);
    }
    return list;
  }

  EncodableValue List(int depth) {
    EncodableList list(Below(8));
    for (EncodableValue& element : list) element = Value(depth + 1);
    return EncodableValue(std::move(list));
  }

  EncodableValue StringKeyedMap(int depth) {
    EncodableMap map;
    for (size_t i = Below(10); i > 0; --i) map[EncodableValue(Text())] = Value(depth + 1);
    return EncodableValue(std::move(map));
  }

  EncodableValue Value(int depth) {
    switch (Below(depth < 3 ? 15 : 12)) {
      case 0:
        return EncodableValue();
      case 1:
        return EncodableValue(Below(2) == 0);
      case 2:
        return EncodableValue(static_cast<int32_t>(engine_()));
      case 3:
        return EncodableValue(static_cast<int64_t>(engine_()));
      case 4: {
        double value = 0;
        uint64_t bits = engine_();
        std::memcpy(&value, &bits, sizeof value);
        return EncodableValue(value);
      }
      case 5:
      case 6:
        return EncodableValue(Text());
      case 7:
        return EncodableValue(Numbers<uint8_t>());
      case 8:
        return EncodableValue(Numbers<int32_t>());
      case 9:
        return EncodableValue(Numbers<int64_t>());
      case 10:
        return EncodableValue(Numbers<double>());
      case 11:
        return EncodableValue(Numbers<float>());
      case 12:
        return List(depth);
      case 13:
        return StringKeyedMap(depth);
      default: {
        EncodableMap map;  // integer keys, as a table of indices
        for (size_t i = Below(6); i > 0; --i) {
          map[EncodableValue(static_cast<int64_t>(Below(1000)))] = Value(depth + 1);
        }
        return EncodableValue(std::move(map));
      }
    }
  }

  std::mt19937_64 engine_;
};

std::vector<EncodableValue> RandomMessages() {
  RandomValues random(29);
  std::vector<EncodableValue> messages;
  for (int i = 0; i < 20000; ++i) messages.push_back(random.Message());
  return messages;
}

// One 64-byte report as the HID reader emits it.
EncodableValue HidInputEvent() {
  const std::string path =
      "\\\\?\\hid#vid_046d&pid_c52b&mi_02#8&2a1b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  const Bytes report(64, 0x5A);
  return EncodableValue(MakeHidInputEvent(path, report.data(), report.size(), 1234567890123));
}

// 64 mouse events of one device, built the way the raw input capture builds
// and batches them.
EncodableValue RawInputBatch() {
  EncodableMap fixed;
  fixed[EncodableValue("channel")] = EncodableValue("rawInput");
  fixed[EncodableValue("kind")] = EncodableValue("mouse");
  fixed[EncodableValue("devicePath")] = EncodableValue(
      "\\\\?\\HID#VID_046D&PID_C52B&MI_01&Col01#8&1c8d3a2&0&0000#{378de44c-56ef-11d1-bc8c-"
      "00a0c91405dd}");
  const EventTemplate mouse(
      std::move(fixed),
      {"timestampUs", "dx", "dy", "wheel", "buttonsDownMask", "buttonsChangedMask"}, "isAbsolute");
  EncodableList events;
  for (int64_t i = 0; i < 64; ++i) {
    const int64_t numbers[] = {1234567890123 + i * 125, i % 5 - 2, 2 - i % 5, 0, i & 1, i % 7 == 0};
    events.emplace_back(mouse.Make(numbers, false));
  }
  EncodableMap batch;
  batch[EncodableValue("channel")] = EncodableValue("rawInputBatch");
  batch[EncodableValue("events")] = EncodableValue(std::move(events));
  return EncodableValue(std::move(batch));
}

// 2,000 events of a USB enumeration capture, each shaped as the capture's
// result lists them.
EncodableValue TraceEventList() {
  EncodableList events;
  for (int i = 0; i < 2000; ++i) {
    EncodableMap fields;
    fields[EncodableValue("fid_UsbDevice")] = EncodableValue("0xFFFFE001A2B3C4D0");
    fields[EncodableValue("fid_PortNumber")] = EncodableValue(std::to_string(1 + i % 4));
    EncodableMap event;
    event[EncodableValue("offsetMs")] = EncodableValue(int32_t{i / 3});
    event[EncodableValue("timestampUs")] = EncodableValue(int64_t{1234567890123} + i * 337);
    event[EncodableValue("provider")] = EncodableValue("Microsoft-Windows-USB-UCX");
    event[EncodableValue("eventId")] = EncodableValue(int64_t{i % 40});
    event[EncodableValue("level")] = EncodableValue("Information");
    event[EncodableValue("task")] = EncodableValue("Enumeration");
    event[EncodableValue("opcode")] = EncodableValue("Info");
    event[EncodableValue("channel")] = EncodableValue("Microsoft-Windows-USB-UCX/Operational");
    event[EncodableValue("message")] = EncodableValue("GetDescriptor DEVICE length 18");
    event[EncodableValue("dataHex")] = EncodableValue(i % 4 == 0 ? "1201000200000040" : "");
    event[EncodableValue("fields")] = EncodableValue(std::move(fields));
    events.emplace_back(std::move(event));
  }
  return EncodableValue(std::move(events));
}

// ---- the two codecs -------------------------------------------------------

struct Codec {
  const char* name;
  std::function<std::unique_ptr<Bytes>(const EncodableValue&)> encode_message;
  std::function<std::unique_ptr<EncodableValue>(const uint8_t*, size_t)> decode_message;
  std::function<std::unique_ptr<Bytes>(const EncodableValue*)> encode_envelope;
  std::function<bool(const uint8_t*, size_t, EncodableValue*)> decode_envelope;
};

const Codec kCodecs[] = {
    {"baseline", codec_baseline::EncodeMessage, codec_baseline::DecodeMessage,
     codec_baseline::EncodeSuccessEnvelope,
     [](const uint8_t* bytes, size_t size, EncodableValue* result) {
       return codec_baseline::DecodeResponseEnvelope(bytes, size, result, nullptr, nullptr,
                                                     nullptr);
     }},
    {"current",
     [](const EncodableValue& value) {
       return StandardMessageCodec::GetInstance().EncodeMessage(value);
     },
     [](const uint8_t* bytes, size_t size) {
       return StandardMessageCodec::GetInstance().DecodeMessage(bytes, size);
     },
     [](const EncodableValue* value) {
       return StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(value);
     },
     [](const uint8_t* bytes, size_t size, EncodableValue* result) {
       return StandardMethodCodec::GetInstance().DecodeResponseEnvelope(bytes, size, result,
                                                                        nullptr, nullptr, nullptr);
     }},
};

// A payload: the random corpus goes as bare messages, each event as the
// success envelope the event sink sends.
struct Payload {
  const char* name;
  std::vector<EncodableValue> values;
  bool envelopes;
  std::vector<Bytes> frames;  // encoded by the baseline
  size_t total_bytes = 0;
};

std::vector<Bytes> EncodeAll(const Codec& codec, const Payload& payload) {
  std::vector<Bytes> frames;
  for (const EncodableValue& value : payload.values) {
    frames.push_back(payload.envelopes ? *codec.encode_envelope(&value)
                                       : *codec.encode_message(value));
  }
  return frames;
}

std::vector<Payload>& Payloads() {
  static std::vector<Payload> payloads = [] {
    std::vector<Payload> list;
    list.push_back({"random20000", RandomMessages(), false, {}});
    list.push_back({"hidInput", {HidInputEvent()}, true, {}});
    list.push_back({"rawInputBatch64", {RawInputBatch()}, true, {}});
    list.push_back({"traceEvents2000", {TraceEventList()}, true, {}});
    for (Payload& payload : list) {
      payload.frames = EncodeAll(kCodecs[0], payload);
      for (const Bytes& frame : payload.frames) payload.total_bytes += frame.size();
    }
    return list;
  }();
  return payloads;
}

// The new codec must not change one byte on the wire, neither in what it
// writes nor in what it makes of the baseline's frames when written again.
void CheckSameBytes() {
  for (const Payload& payload : Payloads()) {
    const Codec& current = kCodecs[1];
    bool same = EncodeAll(current, payload) == payload.frames;
    for (const Bytes& frame : payload.frames) {
      EncodableValue value;
      if (payload.envelopes) {
        same = same && current.decode_envelope(frame.data(), frame.size(), &value);
      } else {
        value = *current.decode_message(frame.data(), frame.size());
      }
      const auto again =
          payload.envelopes ? kCodecs[0].encode_envelope(&value) : kCodecs[0].encode_message(value);
      same = same && *again == frame;
    }
    if (!same) {
      std::fprintf(stderr, "%s: the current codec's bytes differ from the baseline's\n",
                   payload.name);
      std::exit(1);
    }
  }
}

void Encode(benchmark::State& state, const Codec* codec, const Payload* payload) {
  for (auto _ : state) {
    for (const EncodableValue& value : payload->values) {
      auto encoded =
          payload->envelopes ? codec->encode_envelope(&value) : codec->encode_message(value);
      benchmark::DoNotOptimize(encoded->data());
    }
  }
  state.counters["bytes"] = static_cast<double>(payload->total_bytes);
}

void Decode(benchmark::State& state, const Codec* codec, const Payload* payload) {
  for (auto _ : state) {
    for (const Bytes& frame : payload->frames) {
      if (payload->envelopes) {
        EncodableValue result;
        bool ok = codec->decode_envelope(frame.data(), frame.size(), &result);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(result);
      } else {
        auto result = codec->decode_message(frame.data(), frame.size());
        benchmark::DoNotOptimize(result);
      }
    }
  }
  state.counters["bytes"] = static_cast<double>(payload->total_bytes);
}

const char* const kOperations[] = {"encode", "decode"};

void RegisterAll() {
  for (const char* operation : kOperations) {
    for (const Payload& payload : Payloads()) {
      // Baseline and current next to each other, so both see the same load.
      for (const Codec& codec : kCodecs) {
        const std::string name = std::string(operation) + "/" + payload.name + "/" + codec.name;
        auto* run = std::strcmp(operation, "encode") == 0 ? Encode : Decode;
        benchmark::RegisterBenchmark(name.c_str(), run, &codec, &payload)
            ->Unit(payload.values.size() > 1 || payload.total_bytes > 10000
                       ? benchmark::kMicrosecond
                       : benchmark::kNanosecond);
      }
    }
  }
}

// Prints as usual and keeps each case's best CPU time per iteration.
class BestTimes : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      auto [entry, inserted] = best_.emplace(run.benchmark_name(), seconds);
      if (!inserted && seconds < entry->second) entry->second = seconds;
    }
  }

  // One row per payload and operation: baseline, current, and how many times
  // faster the current codec is.
  void PrintRatios(int rounds) const {
    std::printf("\nBest CPU time per iteration over %d rounds\n", rounds);
    std::printf("| operation | payload | bytes | baseline | current | speed-up |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const char* operation : kOperations) {
      for (const Payload& payload : Payloads()) {
        const std::string stem = std::string(operation) + "/" + payload.name + "/";
        auto baseline = best_.find(stem + "baseline");
        auto current = best_.find(stem + "current");
        if (baseline == best_.end() || current == best_.end()) continue;
        std::printf("| %s | %s | %zu | %s | %s | %.2fx |\n", operation, payload.name,
                    payload.total_bytes, Time(baseline->second).c_str(),
                    Time(current->second).c_str(), baseline->second / current->second);
      }
    }
  }

 private:
  static std::string Time(double seconds) {
    char text[32];
    if (seconds < 1e-6) {
      std::snprintf(text, sizeof text, "%.1f ns", seconds * 1e9);
    } else {
      std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
    }
    return text;
  }

  std::map<std::string, double> best_;
};

}  // namespace
}  // namespace vek_native

int main(int argc, char** argv) {
  int rounds = 3;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rounds=", 9) == 0) {
      rounds = std::max(1, std::atoi(argv[i] + 9));
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  vek_native::CheckSameBytes();
  vek_native::RegisterAll();
  vek_native::BestTimes reporter;
  for (int round = 0; round < rounds; ++round) benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios(rounds);
  benchmark::Shutdown();
  return 0;
}
