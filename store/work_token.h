// Pausing and abandoning a worker between records. The worker calls Checkpoint() between
// records and items; the user-interface side pauses it while it asks, then resumes or
// cancels it.
#pragma once

#include <condition_variable>
#include <mutex>

namespace store {

class WorkToken {
  public:
    // The worker stops at its next checkpoint and waits there.
    void Pause() {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    void Resume() {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
        }
        changed_.notify_all();
    }
    // The worker leaves at its next checkpoint, also when it waits there.
    void Cancel() {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
            paused_ = false;
        }
        changed_.notify_all();
    }
    // Waits while paused; false once the work has been cancelled.
    bool Checkpoint() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !paused_ || cancelled_; });
        return !cancelled_;
    }
    bool cancelled() const {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }
    bool paused() const {
        std::lock_guard lock(mutex_);
        return paused_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool paused_ = false;
    bool cancelled_ = false;
};

}  // namespace store
