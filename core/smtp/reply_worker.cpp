// A single consumer over a FIFO queue: calls never overlap and keep the order of Post.
#include "core/smtp/reply_worker.h"

#include <utility>

namespace tarvel {

ReplyWorker::ReplyWorker(Handler handler) : handler_(std::move(handler)), thread_([this] { Run(); }) {}

ReplyWorker::~ReplyWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

void ReplyWorker::Post(std::string text, bool early) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Item{std::move(text), early, {}});
    }
    changed_.notify_all();
}

void ReplyWorker::Then(std::function<void()> notice) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Item{{}, false, std::move(notice)});
    }
    changed_.notify_all();
}

bool ReplyWorker::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return queue_.empty() && !busy_; });
}

void ReplyWorker::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        // The handler may take long (a whole transfer): Post must not wait for it.
        lock.unlock();
        if (item.notice)
            item.notice();
        else
            handler_(item.text, item.early);
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

} // namespace tarvel
