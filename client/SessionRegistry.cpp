#include "client/SessionRegistry.h"

#include <algorithm>

namespace fsv::client {

SessionRegistry::Pin::~Pin() {
    if (!entry_) return;
    std::lock_guard pin(entry_->pinLock);
    --entry_->pins;
    entry_->unpinned.notify_all();
}

SessionId SessionRegistry::add(std::unique_ptr<SessionEntry> entry) {
    std::lock_guard lock(lock_);
    entry->id = nextId_++;
    entries_.push_back(std::move(entry));
    return entries_.back()->id;
}

std::unique_ptr<SessionEntry> SessionRegistry::take(SessionId id) {
    std::lock_guard lock(lock_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](auto& e) { return e->id == id; });
    if (it == entries_.end()) return nullptr;
    std::unique_ptr<SessionEntry> entry = std::move(*it);
    entries_.erase(it);
    return entry;
}

std::unique_ptr<SessionEntry> SessionRegistry::takeAt(int position) {
    std::lock_guard lock(lock_);
    if (position < 0 || position >= static_cast<int>(entries_.size())) return nullptr;
    std::unique_ptr<SessionEntry> entry = std::move(entries_[position]);
    entries_.erase(entries_.begin() + position);
    return entry;
}

SessionRegistry::Entries SessionRegistry::takeAll() {
    Entries all;
    std::lock_guard lock(lock_);
    all.swap(entries_);
    return all;
}

int SessionRegistry::size() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(entries_.size());
}

void SessionRegistry::locked(const std::function<void(const Entries&)>& f) const {
    std::lock_guard lock(lock_);
    f(entries_);
}

bool SessionRegistry::with(SessionId id, const std::function<void(SessionEntry&)>& f) const {
    std::lock_guard lock(lock_);
    for (auto& e : entries_)
        if (e->id == id) {
            f(*e);
            return true;
        }
    return false;
}

SessionRegistry::Pin SessionRegistry::pin(SessionId id,
                                          const std::function<bool(const SessionEntry&)>& accept) {
    std::lock_guard lock(lock_);
    for (auto& e : entries_)
        if (e->id == id && (!accept || accept(*e))) {
            std::lock_guard pin(e->pinLock);
            ++e->pins;
            return Pin(e.get());
        }
    return Pin();
}

void SessionRegistry::waitUnpinned(SessionEntry& entry) {
    std::unique_lock lock(entry.pinLock);
    entry.unpinned.wait(lock, [&] { return entry.pins == 0; });
}

std::optional<uint32_t> queryFrameCount(SessionRegistry& sessions, SessionId id,
                                        const std::string& recorderKey, uint32_t dateId) {
    // The wait lasts at most the recorder's time limit, or until the session stops or the
    // program exits.
    auto pinned = sessions.pin(id, [](const SessionEntry& e) { return e.queues != nullptr; });
    if (!pinned) return std::nullopt;
    return pinned->queues->queryFrameCount(recorderKey, dateId);
}

}  // namespace fsv::client
