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

// The web console's workers. The queue holds at most `max_queued` tasks; when
// it is full, enqueue blocks its caller rather than dropping a task (which
// would leak its connection). The connection server sizes it to its
// connection limit, and a connection is queued at most once, so its event
// loop never blocks here.
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
