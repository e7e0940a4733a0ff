// A fixed pool of worker threads for the connection server, with a bounded backlog.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tessera::console {

// The web console's workers. The queue holds at most `max_queued` tasks; when
// it is full, Enqueue blocks its caller rather than dropping a task (which
// would leak its connection). The connection server sizes it to its
// connection limit, and a connection is queued at most once, so its event
// loop never blocks here.
class BoundedTaskQueue {
public:
    BoundedTaskQueue(std::size_t worker_count, std::size_t max_queued);
    ~BoundedTaskQueue();
    BoundedTaskQueue(const BoundedTaskQueue&) = delete;
    BoundedTaskQueue& operator=(const BoundedTaskQueue&) = delete;

    void Enqueue(std::function<void()> task);
    // Runs every task already queued, then joins the workers.
    void Shutdown();

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
