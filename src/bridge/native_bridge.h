// The one object through which the user interface reaches every native
// feature: the method channel "vek_tool/native" (dispatch, argument checks,
// asynchronous jobs answered on the window thread) and the event channel
// "vek_tool/native_events" (a bounded queue drained on the window thread).
#ifndef VEK_BRIDGE_NATIVE_BRIDGE_H_
#define VEK_BRIDGE_NATIVE_BRIDGE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>

#include "bridge/bridge_operations.h"
#include "bridge/window_poster.h"
#include "channels/binary_messenger.h"
#include "channels/encodable_value.h"
#include "channels/event_sink.h"
#include "channels/method_call.h"
#include "channels/method_result.h"
#include "common/detached_thread.h"

namespace vek_native {

// Events kept while the window thread falls behind; older ones are dropped.
constexpr size_t kEventQueueBound = 16384;
// How long Detach waits for running jobs.
constexpr int kJobTeardownLimitMs = 1500;

// The request id after `last`: 1 after the largest id, so the counter never
// overflows and never hands out 0 or a negative id.
int32_t NextRequestId(int32_t last);

class NativeBridge {
 public:
  struct AsyncOutcome {
    int32_t request_id = 0;
    bool success = false;
    EncodableValue value;
    std::string error_code;
    std::string error_message;
  };
  // Runs on a worker thread with the window the bridge had when it started.
  using AsyncJob = std::function<void(WindowHandle window, AsyncOutcome* outcome)>;

  // The process's bridge. Never destroyed: detached workers may still be
  // finishing while static objects are torn down at exit.
  static NativeBridge& Instance();

  // Jobs run on threads from `start_thread`.
  explicit NativeBridge(ThreadStarter start_thread = StartDetachedThread);
  ~NativeBridge();
  NativeBridge(const NativeBridge&) = delete;
  NativeBridge& operator=(const NativeBridge&) = delete;

  // Window thread, before Attach. Empty operations answer not-implemented.
  void SetOperations(BridgeOperations operations);
  // The poster must outlive every job and emitter (the Windows one does).
  void SetPoster(WindowPoster* poster);

  // Binds the bridge to the engine's messenger and the top-level window
  // (detaching first); a null messenger does nothing.
  void Attach(BinaryMessenger* messenger, WindowHandle window);
  // Stops the features, drops the channels, waits up to kJobTeardownLimitMs
  // for running jobs, and drops queued outcomes, owed replies and events.
  void Detach();

  // Window thread. Answers the call, or hands its reply to a job.
  void HandleMethodCall(const MethodCall& call, std::unique_ptr<MethodResult> result);
  // Window thread. Parks `result` and runs `job` on a worker thread.
  void RunAsync(AsyncJob job, std::unique_ptr<MethodResult> result);

  // Any thread. Queues the event (taken by move) while attached.
  void EmitEvent(EncodableMap&& event);
  // Window thread, on the events-ready and outcomes-ready messages. Either
  // one delivers both queues (see the .cc for why).
  void DrainEvents();
  void DrainAsyncOutcomes();
  // Events dropped at the queue bound since the last Detach.
  uint64_t DroppedEventCount() const;

  // The event channel's stream handler: a listen replaces the sink, a cancel
  // drops it. Window thread.
  void OnListen(std::unique_ptr<EventSink> sink);
  void OnCancel();

  // For diagnostics and tests.
  int32_t RunningJobCount() const;
  size_t PendingReplyCount() const { return pending_replies_.size(); }

 private:
  struct Core;
  struct Channels;
  struct ChannelsDeleter {
    void operator()(Channels* channels) const;
  };

  void BindChannels(BinaryMessenger* messenger);
  void DrainAll();

  // Everything a worker thread or an emitter touches lives in the core,
  // which workers share, so a worker that outlives the bridge is harmless.
  std::shared_ptr<Core> core_;
  BridgeOperations operations_;
  const ThreadStarter start_thread_;
  std::unique_ptr<Channels, ChannelsDeleter> channels_;
  std::unique_ptr<EventSink> sink_;
  // Window thread only.
  std::map<int32_t, std::unique_ptr<MethodResult>> pending_replies_;
  int32_t last_request_id_ = 0;
};
static_assert(!std::is_copy_constructible_v<NativeBridge>, "owns its jobs' replies");

}  // namespace vek_native

#endif  // VEK_BRIDGE_NATIVE_BRIDGE_H_
