#pragma once

#include "report/ldap/plumbing/Clock.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace quindral {

// Flushes the program's own output streams without waiting on any stream's lock: a thread that
// holds one while it waits in a read keeps what that stream has buffered.
void FlushOwnOutput();

// Runs a task on a thread of its own, detached. Should any such task still be at work when the
// program ends, the end flushes the program's own output and ends the process with its status
// at once, so that no library's destructor runs beside the task.
void StartErrandThread(std::function<void()> task);

// Work that may block on what the program does not control (a library's file reads, a lease, a
// FIFO where a file should be), run on a thread of its own so that a caller waits for it until its
// deadline at most, and drops a late answer. One run at a time: while a run is still at work, a
// caller waits for that run rather than starting another, so a hung source costs one thread, not
// one a call. The thread is never joined: it holds neither the window's close nor the program's
// end, which skips the destructors of the libraries it may still be in.
template <typename Result> class Errand {
public:
    using Work = std::function<Result(Clock::time_point deadline)>;
    explicit Errand(Work work) : work_(std::move(work)) {}

    // The result of a run started now (given the deadline), or of the run still at work; nothing
    // when it has not come by the deadline.
    std::optional<Result> ResultBy(Clock::time_point deadline) {
        std::shared_ptr<Run> run;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!current_ || current_->done) {
                current_ = std::make_shared<Run>();
                StartErrandThread([run = current_, work = work_, deadline] {
                    Result result = work(deadline);
                    const std::lock_guard<std::mutex> done(run->mutex);
                    run->result = std::move(result);
                    run->done = true;
                    run->changed.notify_all();
                });
            }
            run = current_;
        }
        std::unique_lock<std::mutex> lock(run->mutex);
        if (!run->changed.wait_until(lock, deadline, [&] { return run->done; })) {
            return std::nullopt;
        }
        return run->result;
    }

private:
    struct Run {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
        std::optional<Result> result;
    };

    Work work_;
    std::mutex mutex_;
    std::shared_ptr<Run> current_;
};

} // namespace quindral
