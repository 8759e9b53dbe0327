#include "client/Notifications.h"

#include <algorithm>

namespace fsv::client {

NotificationQueue::NotificationQueue(Wake wake) : wake_(std::move(wake)) {}

std::optional<uint64_t> NotificationQueue::coalesceKey(const Notification& n) {
    auto key = [&](int64_t id) {
        return (static_cast<uint64_t>(n.index()) << 32) | static_cast<uint32_t>(id);
    };
    if (auto* r = std::get_if<WorkRowChanged>(&n)) return key(r->row.id);
    if (auto* p = std::get_if<PlaybackPosition>(&n)) return key(p->panel);
    if (auto* f = std::get_if<FrameReady>(&n)) return key(f->panel);
    return std::nullopt;
}

void NotificationQueue::push(Notification n) {
    const auto key = coalesceKey(n);
    bool wasEmpty;
    {
        std::lock_guard lock(mutex_);
        if (key) {
            auto it = std::find_if(latest_.begin(), latest_.end(),
                                   [&](const auto& e) { return e.first == *key; });
            if (it != latest_.end()) {
                items_[it->second] = std::move(n);
                return;
            }
            latest_.emplace_back(*key, items_.size());
        }
        wasEmpty = items_.empty();
        items_.push_back(std::move(n));
    }
    if (wasEmpty && wake_) wake_();
}

size_t NotificationQueue::drain(const std::function<void(Notification&)>& handle) {
    std::vector<Notification> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(items_);
        items_.swap(spare_);
        latest_.clear();
    }
    for (auto& n : batch) handle(n);
    const size_t count = batch.size();
    batch.clear();
    std::lock_guard lock(mutex_);
    if (spare_.capacity() < batch.capacity()) spare_.swap(batch);
    return count;
}

bool NotificationQueue::empty() const {
    std::lock_guard lock(mutex_);
    return items_.empty();
}

}  // namespace fsv::client
