// Feeds arbitrary bytes to the USB descriptor decoders. The first byte picks
// the decoder; the rest is the descriptor as a hub would return it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "common/text.h"
#include "hid/usb_descriptors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek_native;
  if (size == 0) return 0;
  const ByteSpan bytes(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      const UsbConfigurationRecord config = ParseConfiguration(bytes);
      Check(config.raw.size() == (bytes.size >= 9 ? bytes.size : 0));
      Check(config.interfaces.size() <= kMaxInterfaces);
      size_t total = 0;
      for (const auto& interface : config.interfaces) {
        Check(interface.endpoints.size() <= kMaxEndpoints);
        Check(interface.class_descriptors.size() <= kMaxClassDescriptors);
        for (const auto& endpoint : interface.endpoints) total += endpoint.raw.size();
        for (const auto& descriptor : interface.class_descriptors) total += descriptor.size();
        total += interface.bLength;
      }
      Check(total <= bytes.size);
      UsbDescriptorRecord record;
      record.configurations.push_back(config);
      DeclaredReportDescriptorLength(record.configurations, bytes.size ? data[1] : 0);
      ConfigurationList(record);
      break;
    }
    case 1: {
      Check(IsValidUtf8(DecodeStringDescriptor(bytes)));
      break;
    }
    case 2: {
      UsbDescriptorRecord record;
      if (DecodeDeviceDescriptor(bytes, &record)) DeviceDescriptorMap(record);
      const std::vector<uint8_t> request(data + 1, data + size);
      DescriptorRequestData(request, size > 1 ? data[1] * 37u : 0u);
      break;
    }
  }
  return 0;
}
