#ifndef VEK_CHANNELS_METHOD_RESULT_H_
#define VEK_CHANNELS_METHOD_RESULT_H_

#include <string>

#include "channels/encodable_value.h"

namespace vek_native {

// The reply owed for one method call. Exactly one of Success, Error or
// NotImplemented should be called; implementations enforce it.
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;
  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  void Success(const EncodableValue& result) { SuccessInternal(&result); }
  void Success() { SuccessInternal(nullptr); }
  void Error(const std::string& error_code, const std::string& error_message,
             const EncodableValue& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }
  void Error(const std::string& error_code, const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }
  void NotImplemented() { NotImplementedInternal(); }

 protected:
  virtual void SuccessInternal(const EncodableValue* result) = 0;
  virtual void ErrorInternal(const std::string& error_code, const std::string& error_message,
                             const EncodableValue* error_details) = 0;
  virtual void NotImplementedInternal() = 0;
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_METHOD_RESULT_H_
