#include "client/Connector.h"

#include <system_error>

namespace fsv::client {

Connector::Connector(platform::Event& cancel, std::function<void(const ConnectRequest&)> attempt,
                     std::function<void()> finished)
    : cancel_(cancel), attempt_(std::move(attempt)), finished_(std::move(finished)) {
    last_.kind = 0xFFFF;
    last_.id.clear();
}

Connector::~Connector() { stop(); }

bool Connector::enqueue(const ConnectRequest& request) {
    {
        std::lock_guard lock(lock_);
        if (stopped_) return false;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        queue_.push_back(request);
        ++pending_;
    }
    wake_.notify_one();
    return true;
}

void Connector::cancel() { cancel_.set(); }

int Connector::pending() const {
    std::lock_guard lock(lock_);
    return pending_;
}

void Connector::waitIdle() {
    std::unique_lock lock(lock_);
    idle_.wait(lock, [this] { return stopped_ || (queue_.empty() && !busy_); });
}

ConnectRequest Connector::last() const {
    std::lock_guard lock(lock_);
    return last_;
}

void Connector::run() {
    for (;;) {
        ConnectRequest request;
        {
            std::unique_lock lock(lock_);
            wake_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
            if (stopped_) return;
            request = std::move(queue_.front());
            queue_.pop_front();
            last_ = request;
            busy_ = true;
            // A Cancel pressed for the connect before does not end this one.
            cancel_.reset();
        }
        attempt_(request);
        {
            std::lock_guard lock(lock_);
            --pending_;
        }
        if (finished_) finished_();
        {
            std::lock_guard lock(lock_);
            busy_ = false;
        }
        idle_.notify_all();
    }
}

void Connector::stop() {
    std::thread thread;
    {
        std::lock_guard lock(lock_);
        if (!stopped_) {
            stopped_ = true;
            pending_ -= static_cast<int>(queue_.size());
            queue_.clear();
        }
        thread = std::move(thread_);
    }
    cancel_.set();
    wake_.notify_all();
    idle_.notify_all();
    if (thread.joinable()) thread.join();
}

}  // namespace fsv::client
