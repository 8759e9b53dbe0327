#include "recordings/PendingMarks.h"

#include <algorithm>

namespace fsv {

std::vector<PendingMarks::Entry>::iterator PendingMarks::find(uint8_t kind, uint16_t code,
                                                              const std::string& date,
                                                              const std::string& time) {
    return std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return e.kind == kind && e.code == code && e.time == time && e.date == date;
    });
}

void PendingMarks::add(Entry e) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(e));
}

std::optional<int> PendingMarks::take(uint8_t kind, uint16_t code, const std::string& date,
                                      const std::string& time) {
    std::lock_guard lock(mutex_);
    auto it = find(kind, code, date, time);
    if (it == entries_.end()) return std::nullopt;
    int mark = it->mark;
    entries_.erase(it);
    return mark;
}

bool PendingMarks::update(uint8_t kind, uint16_t code, const std::string& date,
                          const std::string& time, int mark) {
    std::lock_guard lock(mutex_);
    auto it = find(kind, code, date, time);
    if (it == entries_.end()) return false;
    it->mark = mark;
    return true;
}

bool PendingMarks::remove(uint8_t kind, uint16_t code, const std::string& date,
                          const std::string& time) {
    std::lock_guard lock(mutex_);
    auto it = find(kind, code, date, time);
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

std::vector<PendingMarks::Entry> PendingMarks::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

size_t PendingMarks::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void PendingMarks::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

}  // namespace fsv
