#include "bridge/bridge_own_operations.h"

#include "bridge/key_block.h"
#include "bridge/save_dialog.h"

namespace vek_native {

void PlugBridgeOwnOperations(BridgeOperations& ops) {
  ops.start_key_block = [](std::string* message) { return StartKeyBlock(message); };
  ops.stop_key_block = [] { StopKeyBlock(); };
  ops.pick_save_file = ShowSaveDialog;
}

}  // namespace vek_native
