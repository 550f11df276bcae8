// Throughput of the trace XML readers over a generated dump of realistic USB
// enumeration and HID class events, next to reading the same bytes from a file
// and to expat parsing them, all in one run. Every reader runs over the whole
// dump and over a quarter of it: a linear reader keeps its MB/s at both sizes.
// A ratio table follows the usual output. Rates are per CPU second, which
// holds up better than wall time on a machine shared with other work.
//
// Size: VEK_TRACE_BENCH_MB (default 16; 200 for the throughput figure). The
// full event parse runs over a dump just under its 20000-record cap, where it
// reads every event, and over a quarter of that.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture/trace_xml.h"

namespace vek_native {
namespace {

const char kKeyboardDescriptor[] =
    "0x05010906A101050719E029E71500250175019508810295017508810395057501050819012905"
    "910295017503910395067508150025650507190029658100C0";
const char kConfigDescriptor[] =
    "09023B00020100A0320904000001030101000921110100012241000705810308000A"
    "090401000103010200092111010001224A000705820308000A";

std::string Time(uint64_t us) {
  char text[64];
  const uint64_t s = us / 1000000;
  std::snprintf(text, sizeof(text), "2024-05-01T18:%02u:%02u.%06u000+08:00",
                static_cast<unsigned>(s / 60 % 60), static_cast<unsigned>(s % 60),
                static_cast<unsigned>(us % 1000000));
  return text;
}

void Event(std::string& out, const char* provider, unsigned id, uint64_t us,
           const std::string& data, const char* message) {
  out +=
      "<Event xmlns=\"http://schemas.microsoft.com/win/2004/08/events/event\">\r\n\t<System>\r\n";
  out += "\t\t<Provider Name=\"";
  out += provider;
  out += "\" Guid=\"{ac52ad17-cc01-4f85-8df5-4dce4333c99b}\" />\r\n\t\t<EventID>";
  out += std::to_string(id);
  out +=
      "</EventID>\r\n\t\t<Version>0</Version>\r\n\t\t<Level>4</Level>\r\n\t\t<Task>9</Task>\r\n"
      "\t\t<Opcode>0</Opcode>\r\n\t\t<Keywords>0x8000000000000000</Keywords>\r\n"
      "\t\t<TimeCreated SystemTime=\"";
  out += Time(us);
  out +=
      "\" />\r\n\t\t<Correlation ActivityID=\"{00000000-0000-0000-0000-000000000000}\" />\r\n"
      "\t\t<Execution ProcessID=\"4\" ThreadID=\"188\" ProcessorID=\"1\" KernelTime=\"15\" "
      "UserTime=\"0\" />\r\n\t\t<Channel />\r\n\t\t<Computer>BENCH-PC</Computer>\r\n"
      "\t</System>\r\n\t<EventData>\r\n";
  out += data;
  out +=
      "\t</EventData>\r\n\t<RenderingInfo Culture=\"en-US\">\r\n\t\t<Level>Information "
      "</Level>\r\n\t\t<Message>";
  out += message;
  out += " </Message>\r\n\t</RenderingInfo>\r\n</Event>\r\n";
}

std::string Data(const char* name, const std::string& value) {
  return std::string("\t\t<Data Name=\"") + name + "\">" + value + "</Data>\r\n";
}

// One device re-enumeration: hub, port, controller and HID class events.
void Cycle(std::string& out, uint64_t& us, size_t* events) {
  const char* hub = "Microsoft-Windows-USB-USBHUB3";
  Event(out, hub, 60, us += 250,
        Data("fid_UsbDevice", "0xFFFFC00D1F0C8D30") + Data("fid_PortNumber", "3"),
        "Start of USB Device Enumeration");
  for (int i = 0; i < 4; ++i) {
    Event(out, hub, 110, us += 40,
          Data("fid_UsbDevice", "0xFFFFC00D1F0C8D30") + Data("fid_Context", "0xFFFFC00D1F0C8E00") +
              Data("fid_StartIndex", "0") + Data("fid_State", std::to_string(1000 + i)) +
              Data("fid_Event", "2") + Data("fid_Depth", "1"),
          "State Machine Event");
  }
  std::string config = Data("fid_HubDevice", "0xFFFFC00D1E9A5B40") +
                       Data("fid_UsbDevice", "0xFFFFC00D1F0C8D30") + Data("fid_PortNumber", "3") +
                       Data("fid_DeviceDescription", "USB Composite Device") +
                       Data("fid_ConfigurationDescriptorLength", "59");
  for (size_t i = 0; i + 1 < sizeof(kConfigDescriptor); i += 2) {
    config += Data("fid_ConfigurationDescriptor",
                   std::string("0x") + kConfigDescriptor[i] + kConfigDescriptor[i + 1]);
  }
  Event(out, hub, 43, us += 300, config, "New USB Device Information");
  Event(out, "Microsoft-Windows-USB-USBPORT", 68, us += 120,
        Data("fid_URB_Ptr", "0xFFFFC00D20A1B010") + Data("SetupPacket", "80 06 00 02 00 00 FF 00") +
            Data("fid_URB_TransferDataLength", "9"),
        "");
  Event(out, "Microsoft-Windows-Input-HIDCLASS", 3, us += 900,
        Data("VendorID", "1133") + Data("ProductID", "50475") +
            Data("DeviceInstancePath",
                 "USB\\VID_046D&amp;PID_C52B&amp;MI_00\\7&amp;2F1A3C5B&amp;0&amp;0000") +
            Data("ReportDescriptorLength", "63") + Data("ReportDescriptor", kKeyboardDescriptor),
        "HIDCLASS device information");
  Event(out, hub, 61, us += 500,
        Data("fid_UsbDevice", "0xFFFFC00D1F0C8D30") + Data("fid_PortNumber", "3") +
            Data("fid_NtStatus", "0"),
        "Completion of USB Device Enumeration");
  *events += 9;
}

std::string Generate(size_t bytes, size_t max_events) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Events>\r\n";
  uint64_t us = 0;
  size_t events = 0;
  while (out.size() < bytes && events + 9 <= max_events) Cycle(out, us, &events);
  return out + "</Events>\r\n";
}

size_t BenchMegabytes() {
  const char* text = std::getenv("VEK_TRACE_BENCH_MB");
  const long mb = text ? std::strtol(text, nullptr, 10) : 0;
  return mb > 0 ? static_cast<size_t>(mb) : 16;
}

// range(0) of every benchmark: 1 for the whole dump, 4 for a quarter of it.
const std::string& SizedDump(int64_t divisor) {
  static const std::string whole = Generate(BenchMegabytes() << 20, SIZE_MAX);
  static const std::string quarter = Generate((BenchMegabytes() << 20) / 4, SIZE_MAX);
  return divisor == 4 ? quarter : whole;
}

const std::string& CappedDump(int64_t divisor) {
  static const std::string whole = Generate(SIZE_MAX, kMaxTraceEventRecords - 9);
  static const std::string quarter = Generate(SIZE_MAX, kMaxTraceEventRecords / 4);
  return divisor == 4 ? quarter : whole;
}

// The dump written once per size for the file-read baseline; removed at exit.
const std::string& DumpFile(int64_t divisor) {
  struct File {
    std::string path;
    explicit File(int64_t divisor)
        : path("/tmp/vek_trace_bench_" + std::to_string(::getpid()) + "_" +
               std::to_string(divisor) + ".xml") {
      const std::string& xml = SizedDump(divisor);
      std::ofstream(path, std::ios::binary)
          .write(xml.data(), static_cast<std::streamsize>(xml.size()));
    }
    ~File() { std::remove(path.c_str()); }
  };
  static const File whole(1);
  static const File quarter(4);
  return divisor == 4 ? quarter.path : whole.path;
}

void Done(benchmark::State& state, const std::string& xml) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
  state.counters["MB"] = static_cast<double>(xml.size()) / (1 << 20);
}

void BM_ReadFileIntoMemory(benchmark::State& state) {
  const std::string& xml = SizedDump(state.range(0));
  const std::string& path = DumpFile(state.range(0));
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      state.SkipWithError("cannot open the dump file");
      break;
    }
    std::string text(xml.size(), '\0');
    const size_t read = std::fread(text.data(), 1, text.size(), file);
    std::fclose(file);
    if (read != text.size()) state.SkipWithError("short read of the dump file");
    benchmark::DoNotOptimize(text.data());
  }
  Done(state, xml);
}

void BM_ExpatParse(benchmark::State& state) {
  const std::string& xml = SizedDump(state.range(0));
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreate("UTF-8");
    size_t elements = 0;
    XML_SetUserData(parser, &elements);
    XML_SetStartElementHandler(parser, [](void* user, const XML_Char*, const XML_Char**) {
      ++*static_cast<size_t*>(user);
    });
    // Character data is where a trace dump spends its bytes; a reader that
    // wants the payloads has to look at it.
    XML_SetCharacterDataHandler(parser, [](void* user, const XML_Char*, int length) {
      *static_cast<size_t*>(user) += static_cast<size_t>(length);
    });
    if (XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) != XML_STATUS_OK) {
      state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser)));
    }
    benchmark::DoNotOptimize(elements);
    XML_ParserFree(parser);
  }
  Done(state, xml);
}

void BM_ScanEventBlocks(benchmark::State& state) {
  const std::string& xml = SizedDump(state.range(0));
  for (auto _ : state) {
    size_t blocks = 0;
    ForEachEventBlock(xml, [&](std::string_view) {
      ++blocks;
      return true;
    });
    benchmark::DoNotOptimize(blocks);
  }
  Done(state, xml);
}

void BM_ParseHidDescriptorEvents(benchmark::State& state) {
  const std::string& xml = SizedDump(state.range(0));
  std::vector<HidDescriptorCapture> captures;
  for (auto _ : state) {
    ParseHidDescriptorEvents(xml, 0x046D, 0xC52B, -1, &captures);
    benchmark::DoNotOptimize(captures.data());
  }
  if (captures.size() != 1) state.SkipWithError("the descriptor event was not found");
  Done(state, xml);
}

void BM_ParseTraceEvents(benchmark::State& state) {
  const std::string& xml = CappedDump(state.range(0));
  for (auto _ : state) {
    std::vector<TraceEventRecord> events;
    bool truncated = false;
    ParseTraceEvents(xml, 1714557600000000, 1714586400000000, true, &events, &truncated);
    if (truncated) state.SkipWithError("the dump went over the record cap");
    benchmark::DoNotOptimize(events.data());
  }
  Done(state, xml);
}

BENCHMARK(BM_ReadFileIntoMemory)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpatParse)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanEventBlocks)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseHidDescriptorEvents)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseTraceEvents)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// Console output as usual, then the readers' MB/s side by side: against the
// file read and expat on the whole dump, and whole against quarter.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal: the output is often kept in a file.
  RatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto rate = run.counters.find("bytes_per_second");
      if (run.error_occurred || !run.aggregate_name.empty() || rate == run.counters.end()) {
        continue;
      }
      mb_per_s_[run.benchmark_name()] = rate->second.value / (1 << 20);
    }
  }

  void PrintRatios() const {
    const double read = Rate("BM_ReadFileIntoMemory/1");
    const double expat = Rate("BM_ExpatParse/1");
    std::printf("\n%-28s %10s %10s %10s %14s\n", "reader (whole dump)", "MB/s", "/ read", "/ expat",
                "quarter/whole");
    for (const char* name : {"BM_ReadFileIntoMemory", "BM_ExpatParse", "BM_ScanEventBlocks",
                             "BM_ParseHidDescriptorEvents", "BM_ParseTraceEvents"}) {
      const std::string base = name;
      const double whole = Rate(base + "/1");
      const double quarter = Rate(base + "/4");
      if (whole <= 0) continue;
      std::printf("%-28s %10.1f %10s %10s %14s\n", name + 3, whole, Ratio(whole, read).c_str(),
                  Ratio(whole, expat).c_str(), Ratio(quarter, whole).c_str());
    }
  }

 private:
  // "-" where a run is missing (filtered out or failed).
  static std::string Ratio(double a, double b) {
    if (a <= 0 || b <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", a / b);
    return text;
  }

  double Rate(const std::string& name) const {
    const auto it = mb_per_s_.find(name);
    return it == mb_per_s_.end() ? 0.0 : it->second;
  }

  std::map<std::string, double> mb_per_s_;
};

}  // namespace
}  // namespace vek_native

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  vek_native::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
