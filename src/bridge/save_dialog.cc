#include "bridge/save_dialog.h"

#include "common/format.h"

namespace vek_native {

const char kDefaultSaveFilterName[] = "HTML 报告";
const char kSaveDialogEmptyPathMessage[] = "保存对话框返回了空路径";

SaveDialogFileType SaveDialogFileTypeFor(const std::string& filter_name,
                                         const std::vector<std::string>& extensions) {
  SaveDialogFileType type;
  type.name = filter_name.empty() ? kDefaultSaveFilterName : filter_name;
  for (const std::string& extension : extensions) {
    if (extension.empty()) continue;
    if (!type.pattern.empty()) type.pattern += ";";
    type.pattern += "*." + extension;
  }
  if (type.pattern.empty()) type.pattern = "*.*";
  return type;
}

std::string SaveDialogDefaultExtension(const std::vector<std::string>& extensions) {
  return extensions.empty() ? std::string() : extensions.front();
}

std::string SaveDialogFailureMessage(SaveDialogStep step, uint32_t hresult) {
  const char* prefix = "";
  switch (step) {
    case SaveDialogStep::kComInit:
      prefix = "保存对话框线程 COM 初始化失败（HRESULT ";
      break;
    case SaveDialogStep::kCreate:
      prefix = "创建保存对话框失败（HRESULT ";
      break;
    case SaveDialogStep::kShow:
      prefix = "保存对话框显示失败（HRESULT ";
      break;
    case SaveDialogStep::kGetResult:
      prefix = "保存对话框未返回文件（HRESULT ";
      break;
  }
  return prefix + FormatHresult(hresult) + "）";
}

}  // namespace vek_native
