#include "recordings/download/QueueRunner.h"

#include <algorithm>

namespace fsv::download {

std::thread startThread(const StartThread& start, std::function<void()> body) {
    if (start) return start(std::move(body));
    return std::thread(std::move(body));
}

QueueRunner::QueueRunner(platform::Event* globalExit, platform::Event& sessionStop,
                         size_t maxThreads, StartThread start)
    : exit_(globalExit),
      sessionStop_(sessionStop),
      max_(std::max<size_t>(maxThreads, 1)),
      start_(std::move(start)) {}

QueueRunner::~QueueRunner() { shutDown(); }

bool QueueRunner::schedule(Steppable* queue) {
    {
        std::lock_guard lock(lock_);
        if (shutDown_) return true;  // the session is ending: no step is owed any more
        if (queue->running_) {
            queue->again_ = true;
            return true;
        }
        if (!queue->lined_) {
            queue->lined_ = true;
            line_.push_back(queue);
        }
        if (idle_ < line_.size() && threads_.size() < max_) {
            try {
                threads_.push_back(startThread(start_, [this] { run(); }));
            } catch (const std::system_error&) {
                // No thread to spare: the ones running take the line in turn.
                if (threads_.empty()) {
                    line_.erase(std::remove(line_.begin(), line_.end(), queue), line_.end());
                    queue->lined_ = false;
                    return false;
                }
            }
        }
    }
    wake_.set();
    return true;
}

void QueueRunner::forget(Steppable* queue) {
    std::unique_lock lock(lock_);
    if (queue->lined_) {
        line_.erase(std::remove(line_.begin(), line_.end(), queue), line_.end());
        queue->lined_ = false;
    }
    queue->again_ = false;
    stepped_.wait(lock, [queue] { return !queue->running_; });
}

void QueueRunner::shutDown() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(lock_);
        shutDown_ = true;
        threads.swap(threads_);
    }
    stop_.set();
    for (auto& t : threads)
        if (t.joinable()) t.join();
}

size_t QueueRunner::threadCount() const {
    std::lock_guard lock(lock_);
    return threads_.size();
}

void QueueRunner::run() {
    platform::Event* exit = exit_ ? exit_ : &never_;
    for (;;) {
        Steppable* queue = nullptr;
        {
            std::lock_guard lock(lock_);
            if (!line_.empty() && !shutDown_) {
                queue = line_.front();
                line_.pop_front();
                queue->lined_ = false;
                queue->running_ = true;
            } else {
                ++idle_;
            }
        }
        if (!queue) {
            const int fired = platform::waitAny({exit, &sessionStop_, &stop_, &wake_});
            std::lock_guard lock(lock_);
            --idle_;
            if (fired != 3) return;
            continue;
        }
        queue->step();
        {
            std::lock_guard lock(lock_);
            queue->running_ = false;
            if (queue->again_) {
                queue->again_ = false;
                queue->lined_ = true;
                line_.push_back(queue);
            }
        }
        stepped_.notify_all();
    }
}

}  // namespace fsv::download
