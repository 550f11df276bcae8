// Report descriptor analysis and report decoding. Goals on this machine:
// analysis under 50 us for a 1 KB descriptor, decoding under 1 us per report
// (a user interface decoding every report of an 8 kHz device), and every
// accepted hostile input answered within 50 ms: the Reply rows build the reply
// map and encode it with the standard method codec, which is what the window
// thread spends on "analyzeHidReportDescriptor" and "decodeHidReport".
//
// Descriptors: the largest real one of the test data (a FlatFrog touch
// screen, 2271 bytes), a Wacom tablet of 1027 bytes, and a 4 KB one made of
// 62 mouse collections with their own report IDs (4092 bytes). Reports: a 64-byte
// DualShock 4 input report (report ID 1, sticks, buttons, hat, motion
// sensors, touch points) and a 64-byte FIDO packet.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "channels/standard_codec.h"
#include "hid/report_analysis_map.h"
#include "hid/report_descriptor.h"

namespace {

using vek_native::AnalyzeHidReportDescriptor;
using vek_native::HidAnalysisContext;
using vek_native::HidDecodedReport;
using vek_native::HidReportAnalysis;
using vek_native::HidReportKind;

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// A descriptor of tests/data/hid_tools by the start of its "D" line.
std::vector<uint8_t> ToolsDescriptor(const std::string& source) {
  std::ifstream file(std::string(VEK_TEST_DATA) + "/hid_tools/report_descriptors.txt");
  bool found = false;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("D " + source + " ", 0) == 0) found = true;
    if (found && line.rfind("H ", 0) == 0) return FromHex(line.substr(2));
  }
  std::fprintf(stderr, "test data missing: %s\n", source.c_str());
  std::abort();
}

std::vector<uint8_t> FourKilobytes() {
  std::vector<uint8_t> descriptor;
  for (uint8_t id = 1; descriptor.size() < 4096 - 60; ++id) {
    const std::vector<uint8_t> mouse = {
        0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, id,   0x09, 0x01, 0xA1, 0x00, 0x05, 0x09,
        0x19, 0x01, 0x29, 0x05, 0x15, 0x00, 0x25, 0x01, 0x95, 0x05, 0x75, 0x01, 0x81, 0x02,
        0x95, 0x01, 0x75, 0x03, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x16, 0x01,
        0x80, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02, 0x81, 0x06, 0x09, 0x38, 0x15, 0x81,
        0x25, 0x7F, 0x75, 0x08, 0x95, 0x01, 0x81, 0x06, 0xC0, 0xC0};
    descriptor.insert(descriptor.end(), mouse.begin(), mouse.end());
  }
  return descriptor;
}

void Analyze(benchmark::State& state, const std::vector<uint8_t>& descriptor) {
  for (auto _ : state) {
    HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
    benchmark::DoNotOptimize(analysis);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * descriptor.size()));
  state.counters["bytes"] = static_cast<double>(descriptor.size());
}

// The analysis and its channel map, as "analyzeHidReportDescriptor" answers.
void AnalyzeAndMap(benchmark::State& state, const std::vector<uint8_t>& descriptor) {
  for (auto _ : state) {
    auto map = vek_native::HidReportAnalysisMap(
        AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext()), descriptor, false);
    benchmark::DoNotOptimize(map);
  }
  state.counters["bytes"] = static_cast<double>(descriptor.size());
}

void Decode(benchmark::State& state, const std::vector<uint8_t>& descriptor,
            const std::vector<uint8_t>& report) {
  const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
  HidDecodedReport decoded;
  vek_native::DecodeHidReport(analysis, HidReportKind::kInput, report, &decoded);
  if (decoded.layout == nullptr || !decoded.findings.empty()) {
    state.SkipWithError("the report does not fit its descriptor");
    return;
  }
  for (auto _ : state) {
    vek_native::DecodeHidReport(analysis, HidReportKind::kInput, report, &decoded);
    benchmark::DoNotOptimize(decoded.values.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.counters["values"] = static_cast<double>(decoded.values.size());
}

// The reply's whole cost on the window thread: analysis, map, encoded envelope.
void AnalysisReply(benchmark::State& state, const std::vector<uint8_t>& descriptor) {
  size_t reply = 0;
  for (auto _ : state) {
    const vek_native::EncodableValue map = vek_native::HidReportAnalysisMap(
        AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext()), descriptor, false);
    reply = vek_native::StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(&map)->size();
  }
  state.counters["bytes"] = static_cast<double>(descriptor.size());
  state.counters["reply"] = static_cast<double>(reply);
  state.counters["ratio"] = static_cast<double>(reply) / static_cast<double>(descriptor.size());
}

void DecodeReply(benchmark::State& state, const std::vector<uint8_t>& descriptor,
                 const std::vector<uint8_t>& report) {
  size_t reply = 0;
  for (auto _ : state) {
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
    HidDecodedReport decoded;
    vek_native::DecodeHidReport(analysis, HidReportKind::kInput, report, &decoded);
    const vek_native::EncodableValue map = vek_native::HidDecodedReportMap(decoded);
    reply = vek_native::StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(&map)->size();
  }
  state.counters["bytes"] = static_cast<double>(report.size());
  state.counters["reply"] = static_cast<double>(reply);
}

// 65,535 bytes of `pattern` repeated (the last one cut short).
std::vector<uint8_t> Repeated(const std::vector<uint8_t>& pattern) {
  std::vector<uint8_t> descriptor;
  while (descriptor.size() < 65535)
    descriptor.insert(descriptor.end(), pattern.begin(), pattern.end());
  descriptor.resize(65535);
  return descriptor;
}

// A mouse collection's head, then `body` until the descriptor is 65,535 bytes.
std::vector<uint8_t> MouseWith(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> descriptor = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x15,
                                     0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x01};
  while (descriptor.size() + body.size() <= 65535) {
    descriptor.insert(descriptor.end(), body.begin(), body.end());
  }
  return descriptor;
}

void BM_ReplyAllZeros(benchmark::State& state) { AnalysisReply(state, Repeated({0x00})); }
void BM_ReplyReservedF0(benchmark::State& state) { AnalysisReply(state, Repeated({0xF0})); }
void BM_ReplyPopB4(benchmark::State& state) { AnalysisReply(state, Repeated({0xB4})); }
void BM_ReplyEndCollectionC0(benchmark::State& state) { AnalysisReply(state, Repeated({0xC0})); }
void BM_ReplyCollectionA100(benchmark::State& state) {
  AnalysisReply(state, Repeated({0xA1, 0x00}));
}
// One variable field per two bytes: the most fields a descriptor can hold.
void BM_ReplyInputs8102(benchmark::State& state) {
  AnalysisReply(state, MouseWith({0x09, 0x30, 0x81, 0x02}));
}
// A top-level collection with a report of its own per 9 bytes.
void BM_ReplyCollectionsWithReports(benchmark::State& state) {
  AnalysisReply(state,
                Repeated({0xA1, 0x01, 0x09, 0x30, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0xC0}));
}
// Report Size set to a new value before each of its uses: a distinct message
// per finding.
void BM_ReplyChangingGlobals(benchmark::State& state) {
  std::vector<uint8_t> body;
  for (int i = 1; i < 255; ++i) {
    const std::vector<uint8_t> step = {0x75, static_cast<uint8_t>(i), 0x75,
                                       static_cast<uint8_t>(i)};
    body.insert(body.end(), step.begin(), step.end());
  }
  AnalysisReply(state, MouseWith(body));
}
// The descriptor that asks for 2^31 one-bit elements, with the longest report
// the decoder accepts; and 65,535 one-bit buttons with an 8 KB report.
void BM_DecodeReplyHugeCount(benchmark::State& state) {
  DecodeReply(state, FromHex("05010902a1017501970000008009308102c0"),
              std::vector<uint8_t>(65535, 0x5A));
}
void BM_DecodeReplyButtons65535(benchmark::State& state) {
  DecodeReply(state, FromHex("05010902a101050919012affff750196ffff150025018102c0"),
              std::vector<uint8_t>(8192, 0xFF));
}

std::vector<uint8_t> Report64(uint8_t first) {
  std::vector<uint8_t> report(64);
  report[0] = first;
  for (size_t i = 1; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i * 37);
  return report;
}

const std::vector<uint8_t>& FlatFrog() {
  static const auto* d =
      new std::vector<uint8_t>(ToolsDescriptor("tests_kernel/test_multitouch.py:1357"));
  return *d;
}
const std::vector<uint8_t>& Wacom() {
  static const auto* d =
      new std::vector<uint8_t>(ToolsDescriptor("tests_kernel/descriptors_wacom.py:885"));
  return *d;
}
const std::vector<uint8_t>& DualShock4() {
  static const auto* d =
      new std::vector<uint8_t>(ToolsDescriptor("hidtools/device/sony_gamepad.py:1022"));
  return *d;
}

void BM_AnalyzeLargestReal(benchmark::State& state) { Analyze(state, FlatFrog()); }
void BM_AnalyzeOneKilobyte(benchmark::State& state) { Analyze(state, Wacom()); }
void BM_AnalyzeFourKilobytes(benchmark::State& state) {
  static const std::vector<uint8_t> descriptor = FourKilobytes();
  Analyze(state, descriptor);
}
void BM_AnalyzeAndMapOneKilobyte(benchmark::State& state) { AnalyzeAndMap(state, Wacom()); }
void BM_DecodeDualShock4Report(benchmark::State& state) {
  Decode(state, DualShock4(), Report64(1));
}
void BM_DecodeFidoPacket(benchmark::State& state) {
  Decode(state, FromHex("06d0f10901a1010920150026ff007508954081020921150026ff00750895409102c0"),
         Report64(0x37));
}

BENCHMARK(BM_AnalyzeLargestReal);
BENCHMARK(BM_AnalyzeOneKilobyte);
BENCHMARK(BM_AnalyzeFourKilobytes);
BENCHMARK(BM_AnalyzeAndMapOneKilobyte);
BENCHMARK(BM_DecodeDualShock4Report);
BENCHMARK(BM_DecodeFidoPacket);
BENCHMARK(BM_ReplyAllZeros)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplyReservedF0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplyPopB4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplyEndCollectionC0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplyCollectionA100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplyInputs8102)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplyCollectionsWithReports)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplyChangingGlobals)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeReplyHugeCount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeReplyButtons65535)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
