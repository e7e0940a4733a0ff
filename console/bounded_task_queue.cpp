// A fixed pool of worker threads with a bounded backlog.
#include "bounded_task_queue.h"

#include <utility>

namespace tessera::console {

BoundedTaskQueue::BoundedTaskQueue(std::size_t worker_count, std::size_t max_queued)
    : max_queued_(max_queued == 0 ? 1 : max_queued) {
    workers_.reserve(worker_count);
    for (std::size_t i = 0; i < worker_count; ++i) workers_.emplace_back([this] { WorkerLoop(); });
}

BoundedTaskQueue::~BoundedTaskQueue() { Shutdown(); }

void BoundedTaskQueue::Enqueue(std::function<void()> task) {
    std::unique_lock<std::mutex> lock(mutex_);
    has_room_.wait(lock, [this] { return tasks_.size() < max_queued_ || is_shutting_down_; });
    tasks_.push_back(std::move(task));
    lock.unlock();
    has_task_.notify_one();
}

void BoundedTaskQueue::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (is_shutting_down_ && workers_.empty()) return;
        is_shutting_down_ = true;
    }
    has_task_.notify_all();
    has_room_.notify_all();
    for (auto& worker : workers_) worker.join();
    workers_.clear();
}

void BoundedTaskQueue::WorkerLoop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            has_task_.wait(lock, [this] { return !tasks_.empty() || is_shutting_down_; });
            if (tasks_.empty()) return;  // shutting down and drained
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        has_room_.notify_one();
        task();
    }
}

}  // namespace tessera::console
