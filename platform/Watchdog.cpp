// The request deadline's watchdog: one thread with a timed wait, the same on
// every system but for the signal mask.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/Platform.h"
#include "runtime/Exception.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace platform {

int64_t SteadyMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct TWatchdog::TState {
  std::mutex lock;
  std::condition_variable wake;
  bool armed = false;
  bool stop = false;
  int64_t deadline = 0;
  std::function<void()> action;
  std::atomic<bool> fired{false};
  std::thread thread;

  void Loop() {
    std::unique_lock<std::mutex> guard(lock);
    while (!stop) {
      if (!armed) {
        wake.wait(guard);
        continue;
      }
      const std::chrono::steady_clock::time_point at{std::chrono::milliseconds(deadline)};
      wake.wait_until(guard, at);
      if (stop || !armed || SteadyMilliseconds() < deadline) continue;
      armed = false;
      fired = true;
      // Run under the lock: Disarm returns only once the action is over.
      std::function<void()> run = std::move(action);
      action = nullptr;
      try {
        run();
      } catch (...) {
      }
    }
  }
};

TWatchdog::TWatchdog() : FState(std::make_unique<TState>()) {}

TWatchdog::~TWatchdog() {
  {
    std::lock_guard<std::mutex> guard(FState->lock);
    FState->stop = true;
  }
  FState->wake.notify_one();
  if (FState->thread.joinable()) FState->thread.join();
}

void TWatchdog::Arm(int64_t deadline, std::function<void()> action) {
  TState& s = *FState;
  if (!s.thread.joinable()) {
    // The thread starts with every signal blocked: the termination signal must
    // reach the thread that serves requests, which waits for it.
#ifndef _WIN32
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
#endif
    try {
      s.thread = std::thread([&s] { s.Loop(); });
    } catch (const std::system_error& e) {
#ifndef _WIN32
      pthread_sigmask(SIG_SETMASK, &old, nullptr);
#endif
      throw EOSError("The request watchdog could not start: " + std::string(e.what()));
    }
#ifndef _WIN32
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
#endif
  }
  {
    std::lock_guard<std::mutex> guard(s.lock);
    s.deadline = deadline;
    s.action = std::move(action);
    s.armed = true;
    s.fired = false;
  }
  s.wake.notify_one();
}

bool TWatchdog::Disarm() {
  std::lock_guard<std::mutex> guard(FState->lock);
  FState->armed = false;
  FState->action = nullptr;
  return FState->fired;
}

bool TWatchdog::Fired() const { return FState->fired; }

}  // namespace platform
