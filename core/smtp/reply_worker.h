// The one worker thread that hands received texts to the SMTP session: in their order of arrival,
// one at a time, each with its own copy, so that a long transfer never blocks the window's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tarvel {

class ReplyWorker {
public:
    // `early` as given to Post.
    using Handler = std::function<void(std::string_view text, bool early)>;

    explicit ReplyWorker(Handler handler);
    // Drops the texts not yet started and waits for the running call (the caller has set
    // SendAborted first if a transfer may be running). Never call it from the handler.
    ~ReplyWorker();
    ReplyWorker(const ReplyWorker&) = delete;
    ReplyWorker& operator=(const ReplyWorker&) = delete;

    // Queues a copy of the text; returns at once. Safe from any thread. `early`: read while the
    // message text was still being written.
    void Post(std::string text, bool early = false);
    // Runs `notice` on the worker once every text posted before it has been handled, so that a
    // waiting thread learns of it without blocking; dropped if the worker stops first.
    void Then(std::function<void()> notice);
    // Waits until every queued text has been handled, at most `limit`; false on time-out.
    bool WaitIdle(std::chrono::milliseconds limit);

private:
    // A received text, or a notice when `notice` is set.
    struct Item {
        std::string text;
        bool early = false;
        std::function<void()> notice;
    };

    void Run();

    Handler handler_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_; // last: starts once everything it uses exists
};

} // namespace tarvel
