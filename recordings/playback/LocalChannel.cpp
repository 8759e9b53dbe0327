#include "recordings/playback/LocalChannel.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "media/AviReader.h"
#include "platform/UserPort.h"

namespace fsv::playback {

namespace {

int64_t msOfDay(const SystemTime& t) {
    return ((static_cast<int64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 + t.milliseconds;
}

// The time of frame `index` when its stamp cannot be read: frame 0's time plus the frames'
// nominal period.
SystemTime nominalTime(const SystemTime& first, const media::AviStreamInfo& info, int index) {
    SystemTime t = first;
    if (info.rate == 0 || info.scale == 0) return t;
    int64_t ms = msOfDay(first) + static_cast<int64_t>(index) * 1000 * info.scale / info.rate;
    ms %= 24LL * 3600 * 1000;
    t.milliseconds = static_cast<uint16_t>(ms % 1000);
    t.second = static_cast<uint16_t>(ms / 1000 % 60);
    t.minute = static_cast<uint16_t>(ms / 60000 % 60);
    t.hour = static_cast<uint16_t>(ms / 3600000);
    return t;
}

// Every frame's stamp as stampMs, ascending: a stamp without a date takes frame 0's date and
// the next day once the time of day runs backwards by half a day or more (midnight passed); a
// stamp that goes back a little is held at the one before.
std::vector<int64_t> readFrameTimes(media::AviReader& reader, const SystemTime& first,
                                    const media::AviStreamInfo& info, int count) {
    std::vector<int64_t> times;
    times.reserve(static_cast<size_t>(count));
    int64_t dayShift = 0;
    for (int i = 0; i < count; ++i) {
        SystemTime work = first;
        if (!reader.readTimeStamp(i, work)) work = nominalTime(first, info, i);
        int64_t t = stampMs(work) + dayShift;
        if (!times.empty() && t < times.back() - 12 * 3600000LL) {
            dayShift += 24 * 3600000LL;
            t += 24 * 3600000LL;
        }
        if (!times.empty()) t = std::max(t, times.back());
        times.push_back(t);
    }
    return times;
}

}  // namespace

std::string localCaption(const CaptionParts& parts, int position) {
    std::string caption;
    int count = 0;
    if (parts.serverName || parts.cameraName) {
        caption = " Local File";
        ++count;
    }
    if (parts.channelNumber) {
        if (count == 0)
            caption = format("%d", position + 1);
        else
            caption = format("%d.", position + 1) + caption;
    }
    return caption;
}

uint32_t localPacingWait(const SystemTime& current, const SystemTime& next, uint32_t elapsed,
                         uint8_t fast, uint8_t slow) {
    if (slow <= 1 && elapsed > 1000) return 0;
    int64_t wait = msOfDay(next) - msOfDay(current) - static_cast<int64_t>(elapsed);
    wait = std::clamp<int64_t>(wait, 0, 3000);
    if (fast > 1) return static_cast<uint32_t>(wait / fast);
    if (slow > 1) return static_cast<uint32_t>(slow * std::max<int64_t>(wait, 1));
    return static_cast<uint32_t>(wait);
}

LocalChannel::LocalChannel(Options options)
    : options_(std::move(options)),
      clock_(options_.clock ? *options_.clock : systemClock_),
      exit_(options_.exitEvent ? *options_.exitEvent : noExit_),
      parts_(options_.captions) {}

LocalChannel::~LocalChannel() {
    stop();
    follow(nullptr);
}

void LocalChannel::stop() {
    stop_.set();
    if (thread_.joinable()) thread_.join();
}

bool LocalChannel::start(const std::filesystem::path& path, bool userOpened, int position,
                         const std::string& id, const std::string& password) {
    if (thread_.joinable()) return false;
    path_ = path;
    userOpened_ = userOpened;
    if (!userOpened) {
        std::lock_guard lock(mutex_);
        position_ = position;
        credential_ = id + ":" + password;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void LocalChannel::setPaused(bool pause) {
    if (!pause) {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
        }
        running_.set();
        notifyPosition();  // the control panel shows the change whoever asked for it
        return;
    }
    {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    // Setting and clearing the wake event cuts a pacing wait that is running now.
    wake_.set();
    running_.reset();
    wake_.reset();
    notifyPosition();
}

void LocalChannel::command(uint8_t code) {
    {
        std::lock_guard lock(mutex_);
        switch (code) {
            case kToLast:
                command_ = frameCount_ > 0 ? frameCount_ - 1 : 0;
                atEnd_ = true;
                lastFrameGuard_ = false;
                break;
            case kToFirst:
                command_ = 0;
                break;
            case kStepBack:
                command_ = -1;
                break;
            case kStepForward:
                command_ = -2;
                break;
            default:
                return;
        }
        ++pending_;
    }
    wake_.set();
}

bool LocalChannel::goTo(uint32_t frame) {
    {
        std::lock_guard lock(mutex_);
        if (frameCount_ <= 0 || frame >= static_cast<uint32_t>(frameCount_)) return false;
        command_ = static_cast<int32_t>(frame);
        ++pending_;
    }
    wake_.set();
    return true;
}

void LocalChannel::faster() {
    bool wake;
    {
        std::lock_guard lock(mutex_);
        if (slow_ > 1)
            slow_ = static_cast<uint8_t>(slow_ / 2);
        else if (fast_ < kMaxFast)
            fast_ = static_cast<uint8_t>(fast_ * 2);
        wake = !paused_;
    }
    if (wake) wake_.set();
    notifyPosition();
}

void LocalChannel::slower() {
    {
        std::lock_guard lock(mutex_);
        if (fast_ > 1)
            fast_ = static_cast<uint8_t>(fast_ / 2);
        else if (slow_ < kMaxSlow)
            slow_ = static_cast<uint8_t>(slow_ * 2);
    }
    notifyPosition();
}

void LocalChannel::setNoWait(bool on) {
    {
        std::lock_guard lock(mutex_);
        noWait_ = on;
    }
    wake_.set();
}

void LocalChannel::attach(int panel) {
    {
        std::lock_guard lock(frameMutex_);
        panel_ = std::max(panel, -1);
    }
    if (panel < 0 || !options_.sink) return;
    // The new panel gets the frame on show at once, even while paused.
    std::lock_guard bits(bitmapMutex_);
    std::lock_guard frame(frameMutex_);
    if (picture_ && panel_ == panel) options_.sink->show(panel, picture_);
}

void LocalChannel::setChannelPosition(int position) {
    std::lock_guard lock(mutex_);
    position_ = position;
    rebuildCaptionLocked();
}

void LocalChannel::setCaptionParts(const CaptionParts& parts) {
    std::lock_guard lock(mutex_);
    parts_ = parts;
    rebuildCaptionLocked();
}

void LocalChannel::rebuildCaptionLocked() {
    caption_ = localCaption(parts_, position_);
    if (loading_) caption_ += " - Loading...";
}

std::string LocalChannel::windowName() const { return "Local File - " + path_.string(); }

std::string LocalChannel::caption() const {
    std::lock_guard lock(mutex_);
    return caption_;
}
int LocalChannel::channelPosition() const {
    std::lock_guard lock(mutex_);
    return position_;
}
int LocalChannel::frameCount() const {
    std::lock_guard lock(mutex_);
    return frameCount_;
}
uint32_t LocalChannel::currentFrame() const {
    std::lock_guard lock(mutex_);
    return current_;
}
SystemTime LocalChannel::currentTime() const {
    std::lock_guard lock(mutex_);
    return currentTime_;
}
bool LocalChannel::paused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}
bool LocalChannel::atEnd() const {
    std::lock_guard lock(mutex_);
    return holding_;
}
bool LocalChannel::loading() const {
    std::lock_guard lock(mutex_);
    return loading_;
}
bool LocalChannel::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}
uint8_t LocalChannel::fastFactor() const {
    std::lock_guard lock(mutex_);
    return fast_;
}
uint8_t LocalChannel::slowFactor() const {
    std::lock_guard lock(mutex_);
    return slow_;
}
int LocalChannel::speed() const {
    std::lock_guard lock(mutex_);
    return fast_ > 1 ? fast_ : -static_cast<int>(slow_);
}
uint64_t LocalChannel::framesShown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

std::optional<LocalChannel::Frame> LocalChannel::pausedFrame() const {
    if (!paused()) return std::nullopt;
    std::shared_ptr<const media::DecodedPicture> picture;
    {
        std::lock_guard lock(bitmapMutex_);
        picture = picture_;
    }
    if (!picture) return std::nullopt;
    // Made now, from the picture by reference, off the bitmap lock.
    Frame frame{media::BitmapInfoHeader::rgb24(picture->width(), picture->height()),
                picture->bottomUp24()};
    if (frame.bits.empty()) return std::nullopt;
    return frame;
}

void LocalChannel::follow(SyncClock* clock) {
    {
        std::lock_guard sync(syncMutex_);
        if (sync_ == clock) return;
        if (sync_) sync_->unsubscribe(&wake_);
        sync_ = clock;
        if (clock) clock->subscribe(&wake_);
    }
    bool paused;
    {
        std::lock_guard lock(mutex_);
        noRecording_ = false;
        shownIndex_ = -1;
        if (!clock && !loading_) {
            // Back to its own pacing from the frame on show: the thread shows it again first.
            command_ = static_cast<int32_t>(current_);
            pending_ = 1;
            atEnd_ = false;
            holding_ = false;
        }
        paused = paused_;
    }
    if (!clock) {
        if (paused)
            running_.reset();
        else
            running_.set();
    }
    wake_.set();
    notifyPosition();
}

SyncClock* LocalChannel::syncClock() const {
    std::lock_guard lock(syncMutex_);
    return sync_;
}

bool LocalChannel::noRecording() const {
    std::lock_guard lock(mutex_);
    return noRecording_;
}

std::shared_ptr<const std::vector<int64_t>> LocalChannel::frameTimes() const {
    std::lock_guard lock(mutex_);
    return times_;
}

int64_t LocalChannel::framePeriod() const {
    std::lock_guard lock(mutex_);
    return period_;
}

bool LocalChannel::followStep(media::AviReader& reader) {
    // Cleared before the clock is read: a change after the read sets it again.
    wake_.reset();
    int64_t t;
    {
        std::lock_guard sync(syncMutex_);
        if (!sync_) return true;
        t = sync_->now();
    }
    std::shared_ptr<const std::vector<int64_t>> times;
    int64_t period;
    {
        std::lock_guard lock(mutex_);
        times = times_;
        period = period_;
    }
    const int index = frameAtOrBefore(*times, t);
    const bool none = index < 0 || t > times->back() + period;
    bool changed;
    int shownIndex;
    {
        std::lock_guard lock(mutex_);
        shownIndex = shownIndex_;
        // A frame about to be shown clears the mark together with its time (showFrame).
        const bool mark = none || index == shownIndex ? none : noRecording_;
        changed = noRecording_ != mark;
        noRecording_ = mark;
    }
    bool shown = false;
    if (!none && index != shownIndex) {
        if (auto picture = reader.getPicture(index)) {
            {
                std::lock_guard lock(mutex_);
                current_ = static_cast<uint32_t>(index);
                shownIndex_ = index;
                if (loading_) {
                    loading_ = false;
                    rebuildCaptionLocked();
                }
            }
            showFrame(std::move(picture), stampTime((*times)[static_cast<size_t>(index)]));
            shown = true;
        }
    }
    if (changed && !shown) {
        // The panel draws "No recording" over its picture, or stops drawing it.
        if (options_.sink) {
            int panel;
            {
                std::lock_guard lock(frameMutex_);
                panel = panel_;
            }
            options_.sink->repaint(panel);
        }
        notifyPosition();
    }
    // The next moment the picture changes: the next frame, the end of the recording, or its
    // start while the clock stands before it.
    std::optional<int64_t> next;
    if (index < 0)
        next = times->front();
    else if (static_cast<size_t>(index) + 1 < times->size())
        next = (*times)[static_cast<size_t>(index) + 1];
    else if (!none)
        next = times->back() + period + 1;
    std::optional<std::chrono::milliseconds> wait;
    if (next) {
        std::lock_guard sync(syncMutex_);
        if (!sync_) return true;
        if (auto real = sync_->realUntil(*next))
            wait = std::chrono::milliseconds(std::clamp<uint32_t>(*real, 1, 1000));
    }
    return waitEvents(false, wait) != Wait::Stop;
}

void LocalChannel::notifyPosition() {
    if (!options_.sink) return;
    int panel;
    {
        std::lock_guard lock(frameMutex_);
        panel = panel_;
    }
    uint32_t position, frameCount;
    int speed;
    {
        std::lock_guard lock(mutex_);
        position = current_;
        frameCount = static_cast<uint32_t>(std::max(frameCount_, 0));
        speed = fast_ > 1 ? fast_ : -static_cast<int>(slow_);
    }
    options_.sink->moved(panel, position, frameCount, speed);
}

void LocalChannel::report(const char* what) {
    if (options_.user)
        options_.user->messageBox(format("%s\n%s", what, path_.c_str()), mb::kOk | mb::kIconStop);
}

LocalChannel::Wait LocalChannel::waitEvents(bool withRunning,
                                            std::optional<std::chrono::milliseconds> timeout) {
    const int fired = withRunning ? clock_.waitAny({&stop_, &exit_, &wake_, &running_}, timeout)
                                  : clock_.waitAny({&stop_, &exit_, &wake_}, timeout);
    switch (fired) {
        case 0:
        case 1:
            return Wait::Stop;
        case 2:
            return Wait::Wake;
        case 3:
            return Wait::Running;
        default:
            return Wait::Timeout;
    }
}

// Under the command lock: a pending command first, else forward by the fast factor.
void LocalChannel::advance() {
    if (pending_ > 0) {
        --pending_;
        if (command_ == -1) {
            if (current_ > 0) --current_;
        } else if (command_ == -2) {
            ++current_;
            if (current_ >= static_cast<uint32_t>(frameCount_ - 1)) atEnd_ = true;
        } else {
            current_ = static_cast<uint32_t>(command_);
        }
        return;
    }
    current_ += fast_;
    if (lastFrameGuard_ && current_ >= static_cast<uint32_t>(frameCount_)) {
        lastFrameGuard_ = false;
        current_ = static_cast<uint32_t>(frameCount_ - 1);
    }
}

void LocalChannel::showFrame(std::shared_ptr<const media::DecodedPicture> picture,
                             const SystemTime& time) {
    std::shared_ptr<const media::DecodedPicture> previous;
    {
        std::lock_guard lock(bitmapMutex_);
        previous = std::exchange(picture_, picture);
    }
    previous.reset();  // the decoder's buffer goes back off the lock
    {
        std::lock_guard lock(mutex_);
        currentTime_ = time;
        noRecording_ = false;
    }
    {
        std::lock_guard lock(frameMutex_);
        if (options_.sink && panel_ >= 0) options_.sink->show(panel_, std::move(picture));
    }
    {
        std::lock_guard lock(mutex_);
        ++shown_;
    }
    notifyPosition();
}

// What the playback thread carries from step to step.
struct LocalChannel::FileRun {
    media::AviReader reader;
    int count = 0;
    media::AviStreamInfo videoInfo{};
    SystemTime firstTime{};
    bool first = true;       // no frame has been decoded yet
    bool everShown = false;  // a frame reached the panel
    uint32_t lastShown = 0;  // the clock when the last frame was shown
    bool failed = false;     // not a single frame of the file could be decoded
};

void LocalChannel::run() {
    FileRun run;
    if (!openFile(run)) return;
    takeChannel(run);
    loadFrameTimes(run);
    run.lastShown = clock_.now() - 10000;  // the first frame is shown at once

    for (;;) {
        if (syncClock()) {
            if (!followTurn(run)) break;
            continue;
        }
        const Turn waited = awaitTurn(run);
        if (waited == Turn::Stop) break;
        if (waited == Turn::Again) continue;
        if (showCurrent(run) == Turn::Stop) break;
    }
    endRun(run);
}

bool LocalChannel::openFile(FileRun& run) {
    run.count = run.reader.open(path_, true, credential_.c_str());
    if (run.count <= 0) {
        report("Failed to open file");
        std::lock_guard lock(mutex_);
        finished_ = true;
        return false;
    }
    run.reader.setPictureFrames(true);
    std::lock_guard lock(mutex_);
    frameCount_ = run.count;
    return true;
}

void LocalChannel::takeChannel(const FileRun& run) {
    if (userOpened_) {
        const int position = options_.choosePosition ? options_.choosePosition() : -1;
        std::lock_guard lock(mutex_);
        position_ = position;
    } else {
        {
            std::lock_guard lock(mutex_);
            current_ = static_cast<uint32_t>(run.count - 1);
        }
        command(kToLast);
    }
    {
        std::lock_guard lock(mutex_);
        rebuildCaptionLocked();
    }
}

void LocalChannel::loadFrameTimes(FileRun& run) {
    run.videoInfo = run.reader.streamInfo(run.reader.videoIndex());
    run.reader.readTimeStamp(0, run.firstTime);
    auto times = std::make_shared<const std::vector<int64_t>>(
        readFrameTimes(run.reader, run.firstTime, run.videoInfo, run.count));
    std::lock_guard lock(mutex_);
    lastFrameGuard_ = true;
    currentTime_ = run.firstTime;
    times_ = std::move(times);
    if (run.videoInfo.rate > 0 && run.videoInfo.scale > 0)
        period_ = std::max<int64_t>(1, 1000LL * run.videoInfo.scale / run.videoInfo.rate);
}

bool LocalChannel::followTurn(FileRun& run) {
    if (!followStep(run.reader)) return false;
    if (stop_.isSet() || exit_.isSet()) return false;
    std::lock_guard lock(mutex_);
    if (!loading_) {
        run.everShown = true;
        run.first = false;
    }
    return true;
}

LocalChannel::Turn LocalChannel::awaitTurn(FileRun& run) {
    bool atEnd, noWait;
    {
        std::lock_guard lock(mutex_);
        atEnd = atEnd_;
        noWait = noWait_;
    }
    if (noWait) wake_.set();
    if (!atEnd && waitEvents(true, std::nullopt) == Wait::Stop) return Turn::Stop;
    if (syncClock()) return Turn::Again;

    bool past;
    {
        std::lock_guard lock(mutex_);
        advance();
        past = current_ >= static_cast<uint32_t>(frameCount_);
        if (past) {
            current_ = static_cast<uint32_t>(frameCount_ - 1);
            lastFrameGuard_ = true;
            atEnd_ = true;
        }
    }
    if (!past) return Turn::Go;
    if (!run.everShown) {
        run.failed = true;
        return Turn::Stop;
    }
    return holdAtEnd();
}

LocalChannel::Turn LocalChannel::holdAtEnd() {
    setPaused(true);
    {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    notifyPosition();
    const Wait w = waitAtEnd();
    if (w == Wait::Stop) return Turn::Stop;
    const bool following = syncClock();  // the sync lock is never taken with the command lock
    std::lock_guard lock(mutex_);
    if (following) {
        // Asked to follow a clock: it decides what is shown from here.
        atEnd_ = false;
        holding_ = false;
        return Turn::Again;
    }
    if (w == Wait::Running) {
        current_ = 0;
    } else {
        advance();
        current_ = std::min(current_, static_cast<uint32_t>(frameCount_ - 1));
    }
    atEnd_ = false;
    holding_ = false;
    if (paused_)
        running_.reset();
    else
        running_.set();
    return Turn::Go;
}

LocalChannel::Wait LocalChannel::waitAtEnd() {
    // Wait for play or a command; a wake-up that carries neither (a no-wait switch) does not
    // leave the end.
    for (;;) {
        const Wait w = waitEvents(true, std::nullopt);
        wake_.reset();
        if (w != Wait::Wake) return w;
        if (syncClock()) return w;
        std::lock_guard lock(mutex_);
        if (pending_ > 0) return w;
        if (!paused_) return Wait::Running;
    }
}

LocalChannel::Turn LocalChannel::showCurrent(FileRun& run) {
    uint32_t index;
    uint8_t fast, slow;
    bool noWait;
    SystemTime shownTime;
    {
        std::lock_guard lock(mutex_);
        index = current_;
        fast = fast_;
        slow = slow_;
        noWait = noWait_;
        shownTime = currentTime_;
    }
    const int i = static_cast<int>(index);
    // A stamp that cannot be read is made up from the frame rate rather than ending playback.
    SystemTime work = run.firstTime;
    if (!run.reader.readTimeStamp(i, work)) work = nominalTime(run.firstTime, run.videoInfo, i);
    if (auto picture = run.reader.getPicture(i)) {
        if (run.first) {
            run.first = false;
            std::lock_guard lock(mutex_);
            loading_ = false;
            rebuildCaptionLocked();
        }
        const uint32_t wait =
            noWait ? 0 : localPacingWait(shownTime, work, clock_.now() - run.lastShown, fast, slow);
        if (wait > 0 && waitEvents(false, std::chrono::milliseconds(wait)) == Wait::Stop)
            return Turn::Stop;
        if (syncClock()) return Turn::Again;
        run.lastShown = clock_.now();
        showFrame(std::move(picture), work);
        run.everShown = true;
    }
    // A frame that cannot be decoded is passed over; the next one is tried.
    {
        std::lock_guard lock(mutex_);
        if (pending_ == 0) wake_.reset();
    }
    if (stop_.isSet() || exit_.isSet()) return Turn::Stop;
    return Turn::Go;
}

void LocalChannel::endRun(const FileRun& run) {
    if (run.failed && !stop_.isSet() && !exit_.isSet()) {
        report("Failed to open file");
        int position;
        {
            std::lock_guard lock(mutex_);
            position = position_;
        }
        if (options_.requestClose) options_.requestClose(position);
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
}

}  // namespace fsv::playback
