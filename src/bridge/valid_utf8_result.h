// The one place where replies leave the bridge: every text in a reply (the
// success value's strings and map keys, an error's code and message) is made
// valid UTF-8 there, whichever method or job produced it. The user
// interface's decoder rejects a whole message over one ill-formed string, and
// some replies carry bytes the caller sent (an instance ID, a device path) or
// a driver made.
#ifndef VEK_BRIDGE_VALID_UTF8_RESULT_H_
#define VEK_BRIDGE_VALID_UTF8_RESULT_H_

#include <memory>
#include <string>

#include "channels/encodable_value.h"
#include "channels/method_result.h"

namespace vek_native {

// True when every string in `value`, map keys included, is valid UTF-8.
bool HoldsOnlyValidUtf8(const EncodableValue& value);

// `value` with every ill-formed sequence of its strings and map keys replaced
// by U+FFFD (RepairUtf8). Two keys that become equal keep the first entry.
EncodableValue RepairUtf8Texts(const EncodableValue& value);

// Hands each reply on to `inner` with its texts repaired.
class ValidUtf8Result : public MethodResult {
 public:
  explicit ValidUtf8Result(std::unique_ptr<MethodResult> inner) : inner_(std::move(inner)) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override;
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const EncodableValue* error_details) override;
  void NotImplementedInternal() override;

 private:
  std::unique_ptr<MethodResult> inner_;
};

}  // namespace vek_native

#endif  // VEK_BRIDGE_VALID_UTF8_RESULT_H_
