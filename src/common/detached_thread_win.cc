#include <windows.h>

#include <memory>
#include <system_error>
#include <utility>

#include "common/detached_thread.h"
#include "common/scoped_win.h"

namespace vek_native {
namespace {

DWORD WINAPI RunDetached(void* parameter) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
  (*work)();
  return 0;
}

}  // namespace

void StartDetachedThread(std::function<void()> work) {
  auto owned = std::make_unique<std::function<void()>>(std::move(work));
  // Nobody joins the thread, so its handle is closed at once.
  const ScopedHandle thread(CreateThread(nullptr, 0, RunDetached, owned.get(), 0, nullptr));
  if (!thread.IsValid()) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "CreateThread");
  }
  static_cast<void>(owned.release());  // the thread owns it now
}

}  // namespace vek_native
