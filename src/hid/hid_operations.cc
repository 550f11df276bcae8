#include "hid/hid_operations.h"

#include <memory>
#include <utility>

#include "hid/hid_devices.h"
#include "hid/hid_input.h"
#include "hid/hid_report_read.h"
#include "hid/hid_write.h"

namespace vek_native {

void BindHidOperations(BridgeOperations& ops, HidDeviceApi& api, DeviceTree& tree,
                       EventEmitter emit) {
  HidDeviceApi* api_ptr = &api;
  DeviceTree* tree_ptr = &tree;
  auto readers = std::make_shared<HidInputReaders>(api, std::move(emit), StartDetachedThread,
                                                   MakeHidInputDecoder);

  ops.list_hid_devices = [api_ptr, tree_ptr](EncodableValue* value, std::string* message) {
    std::vector<HidDeviceRecord> records;
    if (!ListHidDevices(*api_ptr, *tree_ptr, &records, message)) return false;
    EncodableList list;
    list.reserve(records.size());
    for (const HidDeviceRecord& record : records) list.emplace_back(HidDeviceRecordToMap(record));
    *value = EncodableValue(std::move(list));
    return true;
  };
  ops.open_hid_input = [readers](const std::string& path, const HidInputOptions& options,
                                 std::string* message) {
    return readers->Open(path, options, message);
  };
  ops.close_hid_input = [readers](const std::string& path) { readers->Close(path); };
  ops.close_all_hid_inputs = [readers] { readers->CloseAll(); };
  ops.write_hid_report = [api_ptr](const std::string& path, const std::vector<uint8_t>& data,
                                   bool feature, std::string* message) {
    return WriteHidReport(*api_ptr, path, data,
                          feature ? HidReportKind::kFeature : HidReportKind::kOutput, message);
  };
  ops.read_hid_report = [api_ptr](const std::string& path, int kind, uint8_t report_id, bool decode,
                                  EncodableValue* value, std::string* message) {
    return ReadHidReport(*api_ptr, path, static_cast<HidReportKind>(kind), report_id, decode, value,
                         message);
  };
}

}  // namespace vek_native
