#include "recordings/playback/PlayState.h"

#include <algorithm>

namespace fsv::playback {

PlayState::PlayState(uint8_t mode, Clock& clock) : mode_(mode), clock_(clock) {}

void PlayState::setFrameCount(uint32_t count) {
    std::lock_guard lock(mutex_);
    frameCount_ = count;
}
uint32_t PlayState::frameCount() const {
    std::lock_guard lock(mutex_);
    return frameCount_;
}
uint32_t PlayState::position() const {
    std::lock_guard lock(mutex_);
    return position_;
}
void PlayState::setObserver(PlayObserver* observer) {
    std::lock_guard lock(mutex_);
    observer_ = observer;
}
uint8_t PlayState::slowDivisor() const {
    std::lock_guard lock(mutex_);
    return slow_;
}
uint8_t PlayState::fastFactor() const {
    std::lock_guard lock(mutex_);
    return fast_;
}
bool PlayState::paused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}
bool PlayState::holding() const {
    std::lock_guard lock(mutex_);
    return holding_;
}
bool PlayState::noPacing() const {
    std::lock_guard lock(mutex_);
    return noPacing_;
}
bool PlayState::stopAtEnd() const {
    std::lock_guard lock(mutex_);
    return stopAtEnd_;
}
int PlayState::pendingCommands() const {
    std::lock_guard lock(mutex_);
    return pending_;
}

void PlayState::addTarget(int32_t target) {
    {
        std::lock_guard lock(mutex_);
        target_ = target;
        ++pending_;
    }
    wakeUp_.set();
}

void PlayState::stepBack() { addTarget(kBack); }
void PlayState::stepForward() { addTarget(kForward); }
void PlayState::toFirst() { addTarget(0); }

void PlayState::toLast() {
    int32_t last;
    {
        std::lock_guard lock(mutex_);
        last = frameCount_ > 0 ? static_cast<int32_t>(frameCount_ - 1) : 0;
        stopAtEnd_ = false;
        holding_ = true;
    }
    addTarget(last);
}

bool PlayState::goTo(uint32_t frame) {
    {
        std::lock_guard lock(mutex_);
        if (frame >= frameCount_) return false;
    }
    addTarget(static_cast<int32_t>(frame));
    return true;
}

void PlayState::pause() {
    {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    continue_.reset();
    if (mode_ == 12) {
        // Cuts a pacing wait that is running now.
        wakeUp_.set();
        wakeUp_.reset();
    }
}

void PlayState::play() {
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    continue_.set();
}

void PlayState::setNoPacing(bool on) {
    {
        std::lock_guard lock(mutex_);
        noPacing_ = on;
    }
    wakeUp_.set();
}

void PlayState::notifySpeedLocked() {
    if (!observer_) return;
    if (fast_ >= 2)
        observer_->speed(fast_, false);
    else
        observer_->speed(slow_, slow_ > 1);
}

void PlayState::slower() {
    std::lock_guard lock(mutex_);
    if (fast_ >= 2)
        --fast_;
    else if (slow_ < 8)
        slow_ = static_cast<uint8_t>(slow_ * 2);
    notifySpeedLocked();
}

void PlayState::faster() {
    bool jump = false;
    int32_t target = 0;
    bool wake;
    {
        std::lock_guard lock(mutex_);
        if (slow_ >= 2) {
            slow_ = static_cast<uint8_t>(slow_ / 2);
        } else if (mode_ == 12) {
            jump = true;
            const int64_t last = frameCount_ > 0 ? frameCount_ - 1 : 0;
            const int64_t to = static_cast<int64_t>(position_) + 30 * fast_ - 27;
            target = static_cast<int32_t>(std::clamp<int64_t>(to, 0, last));
        } else if (fast_ < 5) {
            ++fast_;
        }
        notifySpeedLocked();
        wake = !paused_;
    }
    if (jump) addTarget(target);
    if (wake) wakeUp_.set();
}

void PlayState::setSpeed(int factor) {
    std::lock_guard lock(mutex_);
    // A chosen factor is the speed: a slow divisor left from the slower steps goes.
    fast_ = static_cast<uint8_t>(std::clamp(factor, 1, 5));
    slow_ = 1;
    notifySpeedLocked();
}

static int64_t msOfDay(const SystemTime& t) {
    return ((static_cast<int64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 + t.milliseconds;
}

uint32_t PlayState::pacingWait(const SystemTime& frameTime) {
    const uint32_t now = clock_.now();
    std::lock_guard lock(mutex_);
    if (noPacing_ || !hasShown_) return 0;
    const int64_t elapsed = static_cast<uint32_t>(now - lastTick_);
    int64_t delay = msOfDay(frameTime) - msOfDay(lastTime_) - elapsed;
    if (slow_ == 1 && elapsed > 1000) return 0;
    delay = std::clamp<int64_t>(delay, 0, kMaxPacingMs);
    if (fast_ > 1 && mode_ == 10) delay /= 2 * fast_;
    if (slow_ == 1) return static_cast<uint32_t>(delay);
    return static_cast<uint32_t>(slow_ * std::max<int64_t>(delay, 1));
}

bool PlayState::pace(const SystemTime& frameTime, platform::Event& stop) {
    const uint32_t wait = pacingWait(frameTime);
    if (wait == 0) return !stop.isSet();
    // The wake-up event is reset here so that one command cuts one wait.
    const int fired = clock_.waitAny({&stop, &wakeUp_}, std::chrono::milliseconds(wait));
    if (fired == 1) wakeUp_.reset();
    return fired != 0;
}

void PlayState::shown(const SystemTime& frameTime) {
    const uint32_t now = clock_.now();
    std::lock_guard lock(mutex_);
    lastTime_ = frameTime;
    lastTick_ = now;
    hasShown_ = true;
    if (observer_) observer_->frameShown(frameTime, position_);
}

void PlayState::takeCommandLocked() {
    --pending_;
    const uint32_t last = frameCount_ > 0 ? frameCount_ - 1 : 0;
    if (target_ == kBack) {
        if (position_ > 0) --position_;
    } else if (target_ == kForward) {
        if (position_ < last) ++position_;
        if (position_ >= last) holding_ = true;
    } else {
        position_ = std::min(static_cast<uint32_t>(target_), last);
    }
}

void PlayState::advance() {
    std::lock_guard lock(mutex_);
    if (pending_ > 0) {
        takeCommandLocked();
    } else {
        ++position_;
        if (stopAtEnd_ && frameCount_ > 0 && position_ >= frameCount_) {
            stopAtEnd_ = false;
            position_ = frameCount_ - 1;
        }
    }
    if (observer_) observer_->atStart(position_ == 0);
}

PlayState::HoldResult PlayState::holdAtEnd(platform::Event& stop) {
    {
        std::lock_guard lock(mutex_);
        holding_ = true;
        paused_ = true;
        position_ = frameCount_ > 0 ? frameCount_ - 1 : 0;
    }
    continue_.reset();
    const int fired = clock_.waitAny({&stop, &continue_, &wakeUp_}, std::nullopt);
    HoldResult result = HoldResult::Stop;
    {
        std::lock_guard lock(mutex_);
        if (fired == 1) {
            position_ = 0;
            result = HoldResult::Restart;
        } else if (fired == 2) {
            if (pending_ > 0) takeCommandLocked();
            result = HoldResult::Command;
        }
        holding_ = false;
    }
    if (fired == 2) wakeUp_.reset();
    if (result != HoldResult::Stop && !paused()) continue_.set();
    return result;
}

}  // namespace fsv::playback
