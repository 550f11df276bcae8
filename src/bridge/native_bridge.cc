#include "bridge/native_bridge.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/detached_thread.h"
#include "common/format.h"

namespace vek_native {

// Waking the window thread.
//
// Windows lets a thread's queue hold about 10,000 posted messages. Posting
// one message per event would let an event flood fill that quota, after
// which the outcomes-ready message of a finished job is refused and its
// reply never sent. So the bridge keeps at most one wake-up message of its
// own in flight (`wake_outstanding`), shared by events and outcomes, and
// either drain delivers both queues: whichever message arrives, nothing
// queued before it waits for another one. The flag is cleared under the
// state mutex before a drain takes the queues; producers queue first and
// test the flag afterwards, so an item queued after a drain started always
// posts a new wake-up.
//
// A refused post (the quota filled by someone else, or the window gone)
// clears the flag, so the next event or finished job posts again, and that
// message delivers everything queued. A finished job does not rely on
// someone else: its worker keeps waking the window thread, with a growing
// pause, until a wake-up of its own or someone else's is known to be posted,
// a drain has taken its outcome, or the bridge left the window the job
// started with. A wake-up that another thread is still posting does not
// count, as that post may yet be refused. The outcome stays queued
// throughout, so whichever wake-up gets through answers it exactly once.
struct NativeBridge::Core {
  enum class Wake { kPosted, kCovered, kInFlight, kRefused, kDetached };

  // Guards everything down to the dropped-event count.
  std::mutex state_mutex;
  WindowHandle window = nullptr;
  uint64_t window_generation = 0;
  WindowPoster* poster = nullptr;
  // A deque: once full, each new event drops the oldest in constant time.
  std::deque<EncodableMap> event_queue;
  bool wake_outstanding = false;
  // The outstanding wake-up's post is known to have succeeded.
  bool wake_posted = false;
  uint64_t wake_ticket = 0;
  std::atomic<uint64_t> dropped_events{0};

  // Guards the finished outcomes and the running-job count. Never held
  // together with the state mutex.
  mutable std::mutex job_mutex;
  std::vector<AsyncOutcome> finished_outcomes;
  std::condition_variable job_condition;
  int32_t running_jobs = 0;

  // Under the state mutex: claims the wake-up if none is in flight.
  bool ClaimWakeLocked(WindowHandle* target, WindowPoster** target_poster, uint64_t* ticket) {
    if (wake_outstanding) return false;
    wake_outstanding = true;
    wake_posted = false;
    *ticket = ++wake_ticket;
    *target = window;
    *target_poster = poster;
    return true;
  }

  // Without the state mutex: posts a claimed wake-up, then records that it
  // went out, or releases the claim when the post is refused.
  Wake PostClaimed(WindowHandle target, WindowPoster* target_poster, uint64_t ticket,
                   uint32_t message) {
    const bool posted = target_poster != nullptr && target_poster->Post(target, message);
    std::lock_guard<std::mutex> lock(state_mutex);
    // A drain or a new attach may have reset the flag meanwhile, and someone
    // else may hold it now; then it is not ours to touch.
    if (wake_outstanding && wake_ticket == ticket) {
      if (posted) {
        wake_posted = true;
      } else {
        wake_outstanding = false;
      }
    }
    return posted ? Wake::kPosted : Wake::kRefused;
  }

  // Wakes the window thread for a job's outcome, unless the bridge left the
  // window the job started with.
  Wake WakeForOutcome(uint64_t generation) {
    WindowHandle target = nullptr;
    WindowPoster* target_poster = nullptr;
    uint64_t ticket = 0;
    {
      std::lock_guard<std::mutex> lock(state_mutex);
      if (window_generation != generation) return Wake::kDetached;
      if (!ClaimWakeLocked(&target, &target_poster, &ticket)) {
        return wake_posted ? Wake::kCovered : Wake::kInFlight;
      }
    }
    return PostClaimed(target, target_poster, ticket, kOutcomesReadyMessage);
  }

  // Whether the bridge is still on the window a job of `generation` started
  // with. A job starts only on a window, and every change of window (to none
  // as well) begins a new generation, so the generation alone tells.
  bool Current(uint64_t generation) {
    std::lock_guard<std::mutex> lock(state_mutex);
    return window_generation == generation;
  }

  // Whether the outcome of job `id` still waits for a drain.
  bool OutcomeWaiting(int32_t id) {
    std::lock_guard<std::mutex> lock(job_mutex);
    return std::any_of(finished_outcomes.begin(), finished_outcomes.end(),
                       [id](const AsyncOutcome& outcome) { return outcome.request_id == id; });
  }
};

namespace {

// The longest pause between a worker's attempts to wake the window thread.
constexpr auto kOutcomeWakeMaxPause = std::chrono::milliseconds(50);

}  // namespace

int32_t NextRequestId(int32_t last) {
  return last >= std::numeric_limits<int32_t>::max() || last < 0 ? 1 : last + 1;
}

NativeBridge& NativeBridge::Instance() {
  static NativeBridge* const instance = new NativeBridge();
  return *instance;
}

NativeBridge::NativeBridge(ThreadStarter start_thread)
    : core_(std::make_shared<Core>()), start_thread_(std::move(start_thread)) {}

NativeBridge::~NativeBridge() {
  // Jobs still running keep the core alive; moving on to a new generation
  // makes them discard their outcomes instead of posting to a window that is
  // no longer ours.
  std::lock_guard<std::mutex> lock(core_->state_mutex);
  core_->window = nullptr;
  ++core_->window_generation;
}

void NativeBridge::SetOperations(BridgeOperations operations) {
  operations_ = std::move(operations);
}

void NativeBridge::SetPoster(WindowPoster* poster) {
  std::lock_guard<std::mutex> lock(core_->state_mutex);
  core_->poster = poster;
}

void NativeBridge::Attach(BinaryMessenger* messenger, WindowHandle window) {
  if (messenger == nullptr) return;
  Detach();
  {
    std::lock_guard<std::mutex> lock(core_->state_mutex);
    core_->window = window;
    ++core_->window_generation;
  }
  BindChannels(messenger);
  if (operations_.set_raw_input_window) operations_.set_raw_input_window(window);
}

void NativeBridge::Detach() {
  {
    std::lock_guard<std::mutex> lock(core_->state_mutex);
    core_->window = nullptr;
    ++core_->window_generation;
    // A wake-up still in flight went to this window (or nowhere): the next
    // window needs one of its own.
    core_->wake_outstanding = false;
    ++core_->wake_ticket;
  }
  if (operations_.stop_key_block) operations_.stop_key_block();
  if (operations_.stop_raw_input) operations_.stop_raw_input();
  if (operations_.set_raw_input_window) operations_.set_raw_input_window(nullptr);
  if (operations_.close_all_hid_inputs) operations_.close_all_hid_inputs();
  if (operations_.close_all_serial) operations_.close_all_serial();
  sink_.reset();
  channels_.reset();
  {
    std::unique_lock<std::mutex> lock(core_->job_mutex);
    core_->job_condition.wait_for(lock, std::chrono::milliseconds(kJobTeardownLimitMs),
                                  [this] { return core_->running_jobs == 0; });
    core_->finished_outcomes.clear();
  }
  pending_replies_.clear();
  {
    std::lock_guard<std::mutex> lock(core_->state_mutex);
    core_->event_queue.clear();
    core_->dropped_events.store(0);
  }
}

void NativeBridge::RunAsync(AsyncJob job, std::unique_ptr<MethodResult> result) {
  std::unique_lock<std::mutex> state_lock(core_->state_mutex);
  WindowHandle window = core_->window;
  const uint64_t generation = core_->window_generation;
  state_lock.unlock();
  if (window == nullptr) {
    result->Error("native-async-unavailable", "原生窗口尚未就绪");
    return;
  }
  if (!job) {
    result->Error("native-async-unavailable", "异步任务为空");
    return;
  }
  // After two thousand million calls the ids start over; one still owed a
  // reply is skipped rather than overwritten (which would lose that reply).
  int32_t id = NextRequestId(last_request_id_);
  while (pending_replies_.count(id) != 0) id = NextRequestId(id);
  last_request_id_ = id;
  pending_replies_[id] = std::move(result);
  {
    std::lock_guard<std::mutex> lock(core_->job_mutex);
    ++core_->running_jobs;
  }

  std::shared_ptr<Core> core = core_;
  auto work = [core, id, job = std::move(job), generation, window]() {
    AsyncOutcome outcome;
    outcome.request_id = id;
    job(window, &outcome);
    if (core->Current(generation)) {
      {
        std::lock_guard<std::mutex> lock(core->job_mutex);
        core->finished_outcomes.push_back(std::move(outcome));
      }
      auto pause = std::chrono::milliseconds(1);
      for (;;) {
        const Core::Wake wake = core->WakeForOutcome(generation);
        if (wake != Core::Wake::kRefused && wake != Core::Wake::kInFlight) break;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(kOutcomeWakeMaxPause));
        if (!core->OutcomeWaiting(id)) break;
      }
    }
    std::lock_guard<std::mutex> lock(core->job_mutex);
    --core->running_jobs;
    core->job_condition.notify_all();
  };

  std::string failure;
  try {
    start_thread_(std::move(work));
    return;
  } catch (const std::system_error& error) {
    failure = "无法启动后台线程" + ErrorCodeSuffix(static_cast<uint32_t>(error.code().value()));
  } catch (const std::exception&) {
    failure = "无法启动后台线程";
  }
  {
    std::lock_guard<std::mutex> lock(core_->job_mutex);
    --core_->running_jobs;
    core_->job_condition.notify_all();
  }
  auto it = pending_replies_.find(id);
  std::unique_ptr<MethodResult> owed = std::move(it->second);
  pending_replies_.erase(it);
  owed->Error("native-async-unavailable", failure);
}

void NativeBridge::EmitEvent(EncodableMap&& event) {
  EncodableMap taken = std::move(event);
  event.clear();
  WindowHandle target = nullptr;
  WindowPoster* target_poster = nullptr;
  uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(core_->state_mutex);
    if (core_->window == nullptr) return;
    auto& queue = core_->event_queue;
    queue.push_back(std::move(taken));
    if (queue.size() > kEventQueueBound) {
      const size_t excess = queue.size() - kEventQueueBound;
      core_->dropped_events.fetch_add(excess);
      queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(excess));
    }
    if (!core_->ClaimWakeLocked(&target, &target_poster, &ticket)) return;
  }
  core_->PostClaimed(target, target_poster, ticket, kEventsReadyMessage);
}

void NativeBridge::DrainEvents() { DrainAll(); }

void NativeBridge::DrainAsyncOutcomes() { DrainAll(); }

void NativeBridge::DrainAll() {
  std::deque<EncodableMap> events;
  {
    std::lock_guard<std::mutex> lock(core_->state_mutex);
    core_->wake_outstanding = false;
    events.swap(core_->event_queue);
  }
  std::vector<AsyncOutcome> outcomes;
  {
    std::lock_guard<std::mutex> lock(core_->job_mutex);
    outcomes.swap(core_->finished_outcomes);
  }
  for (AsyncOutcome& outcome : outcomes) {
    auto it = pending_replies_.find(outcome.request_id);
    if (it == pending_replies_.end()) continue;
    std::unique_ptr<MethodResult> reply = std::move(it->second);
    pending_replies_.erase(it);
    if (outcome.success) {
      reply->Success(outcome.value);
    } else {
      reply->Error(outcome.error_code, outcome.error_message);
    }
  }
  for (EncodableMap& event : events) {
    // A listener may cancel while we send.
    if (!sink_) break;
    sink_->Success(EncodableValue(std::move(event)));
  }
}

uint64_t NativeBridge::DroppedEventCount() const { return core_->dropped_events.load(); }

void NativeBridge::OnListen(std::unique_ptr<EventSink> sink) { sink_ = std::move(sink); }

void NativeBridge::OnCancel() { sink_.reset(); }

int32_t NativeBridge::RunningJobCount() const {
  std::lock_guard<std::mutex> lock(core_->job_mutex);
  return core_->running_jobs;
}

}  // namespace vek_native
