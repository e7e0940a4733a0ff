// A fixed pool of worker threads for the HTTP server, with a bounded backlog.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tessera::console {

// The library's own pool queues without limit. This one holds at most
// `max_queued` accepted connections; when it is full, enqueue blocks the
// accepting thread, so further clients wait in the kernel's listen backlog
// instead of growing memory. The library's enqueue cannot refuse a task, and
// dropping one would leak its socket, hence blocking rather than refusing.
class BoundedTaskQueue : public httplib::TaskQueue {
public:
    BoundedTaskQueue(std::size_t worker_count, std::size_t max_queued);
    ~BoundedTaskQueue() override;

    void enqueue(std::function<void()> task) override;
    // Runs every task already queued, then joins the workers.
    void shutdown() override;

private:
    void WorkerLoop();

    std::size_t max_queued_;
    std::mutex mutex_;
    std::condition_variable has_task_;
    std::condition_variable has_room_;
    std::deque<std::function<void()>> tasks_;
    bool is_shutting_down_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace tessera::console
