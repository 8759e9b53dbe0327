#include "recordings/playback/SyncClock.h"

#include <algorithm>

namespace fsv::playback {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's civil algorithms).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

}  // namespace

int64_t stampMs(const SystemTime& t) {
    // A stamp without a date (all zero) counts from day 0.
    const int64_t days = t.month == 0 || t.day == 0 ? 0 : daysFromCivil(t.year, t.month, t.day);
    return ((days * 24 + t.hour) * 60 + t.minute) * 60000 + t.second * 1000LL + t.milliseconds;
}

SystemTime stampTime(int64_t ms) {
    int64_t days = ms / 86400000;
    int64_t rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    SystemTime t;
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    t.year = static_cast<uint16_t>(y);
    t.month = static_cast<uint16_t>(m);
    t.day = static_cast<uint16_t>(d);
    t.dayOfWeek = static_cast<uint16_t>((days % 7 + 11) % 7);  // 1970-01-01 was a Thursday
    t.hour = static_cast<uint16_t>(rest / 3600000);
    t.minute = static_cast<uint16_t>(rest / 60000 % 60);
    t.second = static_cast<uint16_t>(rest / 1000 % 60);
    t.milliseconds = static_cast<uint16_t>(rest % 1000);
    return t;
}

int frameAtOrBefore(std::span<const int64_t> times, int64_t t) {
    const auto it = std::upper_bound(times.begin(), times.end(), t);
    return static_cast<int>(it - times.begin()) - 1;
}

int64_t SyncClock::nowLocked() {
    if (!playing_) return base_;
    const uint32_t elapsed = ticks_.now() - baseTick_;
    int64_t t = base_ + static_cast<int64_t>(elapsed) * fast_ / slow_;
    if (end_ && t >= *end_) {
        base_ = *end_;
        playing_ = false;
        changedLocked();
        return base_;
    }
    return t;
}

void SyncClock::rebaseLocked() {
    base_ = nowLocked();
    baseTick_ = ticks_.now();
}

void SyncClock::changedLocked() {
    for (auto* e : followers_) e->set();
}

int64_t SyncClock::now() {
    std::lock_guard lock(mutex_);
    return nowLocked();
}

bool SyncClock::playing() const {
    std::lock_guard lock(mutex_);
    return playing_;
}

void SyncClock::play() {
    std::lock_guard lock(mutex_);
    rebaseLocked();
    playing_ = true;
    changedLocked();
}

void SyncClock::pause() {
    std::lock_guard lock(mutex_);
    rebaseLocked();
    playing_ = false;
    changedLocked();
}

void SyncClock::seek(int64_t t) {
    std::lock_guard lock(mutex_);
    rebaseLocked();
    base_ = t;
    changedLocked();
}

void SyncClock::setEnd(std::optional<int64_t> end) {
    std::lock_guard lock(mutex_);
    rebaseLocked();
    end_ = end;
    changedLocked();
}

std::optional<int64_t> SyncClock::end() const {
    std::lock_guard lock(mutex_);
    return end_;
}

void SyncClock::faster() {
    std::lock_guard lock(mutex_);
    rebaseLocked();
    if (slow_ > 1)
        slow_ = static_cast<uint8_t>(slow_ / 2);
    else if (fast_ < kMaxFast)
        fast_ = static_cast<uint8_t>(fast_ * 2);
    changedLocked();
}

void SyncClock::slower() {
    std::lock_guard lock(mutex_);
    rebaseLocked();
    if (fast_ > 1)
        fast_ = static_cast<uint8_t>(fast_ / 2);
    else if (slow_ < kMaxSlow)
        slow_ = static_cast<uint8_t>(slow_ * 2);
    changedLocked();
}

void SyncClock::setSpeed(uint8_t fast, uint8_t slow) {
    std::lock_guard lock(mutex_);
    rebaseLocked();
    fast_ = std::clamp<uint8_t>(fast, 1, kMaxFast);
    slow_ = fast_ > 1 ? 1 : std::clamp<uint8_t>(slow, 1, kMaxSlow);
    changedLocked();
}

uint8_t SyncClock::fastFactor() const {
    std::lock_guard lock(mutex_);
    return fast_;
}

uint8_t SyncClock::slowFactor() const {
    std::lock_guard lock(mutex_);
    return slow_;
}

std::optional<uint32_t> SyncClock::realUntil(int64_t t) {
    std::lock_guard lock(mutex_);
    const int64_t now = nowLocked();
    if (!playing_) return std::nullopt;
    if (t <= now) return 0;
    // Rounded up, so that a follower woken at that moment finds the time reached.
    const int64_t real = ((t - now) * slow_ + fast_ - 1) / fast_;
    return static_cast<uint32_t>(std::min<int64_t>(real, UINT32_MAX));
}

void SyncClock::subscribe(platform::Event* event) {
    std::lock_guard lock(mutex_);
    if (std::find(followers_.begin(), followers_.end(), event) == followers_.end())
        followers_.push_back(event);
}

void SyncClock::unsubscribe(platform::Event* event) {
    std::lock_guard lock(mutex_);
    std::erase(followers_, event);
}

}  // namespace fsv::playback
