#include "recordings/download/Stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "net/Messages.h"
#include "platform/Shared.h"
#include "platform/System.h"
#include "recordings/download/PlayFile.h"
#include "recordings/download/StreamQueue.h"

namespace fsv::download {

// A shown stream is a player of the channel table, played by the playback library's state.
using playback::PausedPicture;
using playback::PlayCommand;
using playback::PlayState;
using playback::PlayStatus;

namespace {
playback::SystemClock systemClock;

// How often a file stream's thread shows the bytes written so far.
constexpr std::chrono::milliseconds kProgressInterval{100};

std::string timeText(const std::string& hhmmss) {
    if (hhmmss.size() != 6) return hhmmss;
    return hhmmss.substr(0, 2) + ":" + hhmmss.substr(2, 2) + ":" + hhmmss.substr(4, 2);
}

// The date of a recording from its event key (YYYYMMDD...); zero when it does not read as one.
SystemTime recordingDateOf(const std::string& eventKey) {
    SystemTime date{};
    unsigned y = 0, mo = 0, d = 0;
    const std::string text = eventKey.substr(0, 8);
    if (text.size() == 8 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        std::sscanf(text.c_str(), "%4u%2u%2u", &y, &mo, &d) == 3 && mo >= 1 && mo <= 12 && d >= 1 &&
        d <= 31) {
        date.year = static_cast<uint16_t>(y);
        date.month = static_cast<uint16_t>(mo);
        date.day = static_cast<uint16_t>(d);
    }
    return date;
}
}  // namespace

Stream::Stream(DownloadContext& ctx, SessionLink& link, StreamQueue& queue, WorkItem item,
               uint32_t cookie, std::string channelName)
    : ctx_(ctx),
      link_(link),
      queue_(queue),
      item_(std::move(item)),
      cookie_(cookie),
      mode_(item_.mode()),
      audio_(item_.queue == QueueKind::Audio),
      channelName_(item_.channelName.empty() ? std::move(channelName) : item_.channelName),
      clock_(ctx.clock ? *ctx.clock : systemClock),
      play_(mode_, clock_),
      path_(item_.outputPath) {
    caption_ = format("%s - %s: %s", link_.serverName().c_str(), channelName_.c_str(),
                      timeText(item_.time()).c_str());
    pacingOff_ = mode_ == net::stream::kModeDownloadPlay && !ctx_.settings.pacing;
    if (pacingOff_) play_.setNoPacing(true);
}

Stream::~Stream() {
    stop();
    join();
    queue_.cookies().giveBack(cookie_);
}

void Stream::start() {
    thread_ = startThread(ctx_.startThread, [this] { run(); });
}

void Stream::join() {
    if (thread_.joinable()) thread_.join();
}

std::string Stream::outputPath() const {
    std::lock_guard lock(lock_);
    return path_;
}

std::string Stream::fileCaption() const { return caption_; }

int Stream::waitFor(std::initializer_list<platform::Event*> events,
                    std::optional<std::chrono::milliseconds> timeout) {
    std::vector<platform::Event*> all{&stop_, &link_.stopEvent(),
                                      ctx_.globalExit ? ctx_.globalExit : &never_};
    all.insert(all.end(), events.begin(), events.end());
    const int fired = platform::waitAny(all, timeout);
    if (fired == platform::kWaitTimeout) return platform::kWaitTimeout;
    return fired < 3 ? -1 : fired - 3;
}

bool Stream::sendOpen(uint8_t op, uint8_t append, uint32_t firstFrame, uint32_t resumeOffset) {
    net::StreamOpen open;
    open.op = op;
    open.mode = mode_;
    open.append = append;
    open.cookie = cookie_;
    open.audio = audio_ ? 1 : 0;
    open.name = item_.recorderKey();
    open.dateId = item_.dateId;
    open.firstFrame = firstFrame;
    open.lastFrame = item_.lastFrame;
    open.resumeOffset = resumeOffset;
    auto bytes = net::encodeStreamOpen(open);
    return bytes && link_.send(*bytes, &stop_);
}

void Stream::takeReply(uint8_t kind, std::span<const uint8_t> body) {
    if (mode_ == net::stream::kModeFile) {
        if (kind == kReplyHeader) {
            // Only the size is used: the first header before the end gives it.
            auto size = parseFileHeaderReply(body);
            std::lock_guard lock(lock_);
            if (!size || headerTaken_ || statusReceived_) return;
            expectedSize_ = *size;
            headerTaken_ = true;
            dataReady_.set();
            return;
        }
        if (kind != kReplyBlock && kind != kReplyStatus) return;
        {
            // Blocks and the status until the end. A block that comes ahead of the header (or
            // without one) starts the transfer as well: it is written, not dropped, and the
            // size the recording query listed is what the file must come to.
            std::lock_guard lock(lock_);
            if (statusReceived_) return;
        }
        if (kind == kReplyBlock) {
            auto b = parseBlockReply(body);
            if (b) writeBlock(b->data);
            return;
        }
        auto s = parseStatusReply(body, mode_);
        if (!s) return;
        // Every block before the status is in the file already: they came on this thread.
        std::lock_guard lock(lock_);
        lastStatus_ = *s;
        statusReceived_ = true;
        status_ev_.set();
        return;
    }

    std::lock_guard lock(lock_);
    if (kind == kReplyHeader) {
        if (headerTaken_ || frameCount_ != 0 || statusReceived_ || headerBuffered_) return;
        auto h = parseHeaderReply(body);
        if (!h) return;
        frameCount_ = h->frameCount;
        header_.assign(h->header.begin(), h->header.end());
        headerBuffered_ = true;
        dataReady_.set();
    } else if (kind == kReplyBlock) {
        if (!headerTaken_ || statusReceived_) return;
        auto b = parseBlockReply(body);
        if (!b) return;
        block_.assign(b->data.begin(), b->data.end());
        blockBuffered_ = true;
        dataReady_.set();
    } else if (kind == kReplyStatus) {
        auto s = parseStatusReply(body, mode_);
        if (!s) return;
        lastStatus_ = *s;
        statusReceived_ = true;
        status_ev_.set();
    }
}

void Stream::run() {
    if (mode_ == net::stream::kModeFile)
        runFile();
    else
        runPlay();
    queue_.streamEnded(this);
}

std::optional<FilePlan> Stream::prepareOutput() {
    const FreeSpaceFn space = ctx_.freeSpace ? ctx_.freeSpace : systemFreeSpace();
    std::string path = checkStreamDisk(outputPath(), item_.size, ctx_.user, space);
    if (path.empty()) return std::nullopt;
    FilePlan plan =
        planOutputFile({path, mode_, item_.size, item_.append, ctx_.alwaysOverwrite()}, ctx_.user);
    {
        std::lock_guard lock(lock_);
        path_ = plan.path;
    }
    if (plan.path != item_.outputPath) ctx_.work.setPath(item_.row, plan.path);
    if (plan.outcome == FilePlan::Outcome::Abort) return std::nullopt;
    return plan;
}

void Stream::runFile() {
    const auto prepared = prepareOutput();
    if (!prepared) return finish(false);
    const FilePlan& plan = *prepared;

    const bool resume = plan.outcome == FilePlan::Outcome::Resume;
    const uint64_t startOffset = resume ? plan.offset : 0;
    const int fd = ::open(plan.path.c_str(),
                          O_WRONLY | O_CREAT | O_CLOEXEC | (resume ? O_APPEND : O_TRUNC), 0666);
    // A file that cannot be opened ends the stream before anything is asked of the recorder.
    if (fd < 0) return finish(false);
    if (ctx_.settings.hashFiles) startHash(plan.path, startOffset);
    {
        std::lock_guard lock(fileLock_);
        fileFd_ = fd;
        fileEnd_ = handedToDisk_ = startOffset;
    }
    ctx_.work.setReceived(item_.row, startOffset);

    // The recorder pushes the whole transfer: it is waited on from the open to its end.
    std::optional<AwaitingAnswer> awaiting(std::in_place, link_);
    const bool sent = sendOpen(net::stream::kOpen, resume ? 1 : 0, 0,
                               resume ? static_cast<uint32_t>(plan.offset) : 0);
    // The blocks go to the file as they come (writeBlock); meanwhile this thread shows the size
    // and the progress, and waits for the status, a failed write or a stop. A status without
    // anything before it still goes through the size check below.
    auto stopped = [this] {
        return stop_.isSet() || link_.stopEvent().isSet() ||
               (ctx_.globalExit && ctx_.globalExit->isSet());
    };
    bool sizeShown = false;
    uint64_t shown = 0;
    for (bool last = false; !last;) {
        // Below 0: stopped, or the time for the next progress report.
        const int fired = sent
                              ? waitFor({&status_ev_, &fileFailed_, &dataReady_}, kProgressInterval)
                              : platform::kWaitTimeout;
        last = !sent || fired == 0 || fired == 1 || (fired < 0 && stopped());
        if (last) {
            bool failed;
            {
                // Nothing is written after this: a write in progress finishes first.
                std::lock_guard lock(fileLock_);
                if (ctx_.settings.writeBehind) handToDisk(0);
                fileFd_ = -1;
                failed = writeFailed_;
            }
            if (failed)
                ctx_.user.messageBox(format("Write file fail!\n%s", plan.path.c_str()),
                                     mb::kIconStop);
        }
        {
            std::lock_guard lock(lock_);
            if (!sizeShown && headerTaken_ && expectedSize_) {
                ctx_.work.setSize(item_.row, expectedSize_);
                sizeShown = true;
            }
        }
        const uint64_t now = written_.load();
        if (now != shown) {
            ctx_.work.addReceived(item_.row, now - shown);
            shown = now;
        }
    }
    awaiting.reset();
    ::close(fd);
    if (sent) {
        checkFileSize(plan.path, startOffset);
        noteHash();
    }
    finish(sent);
}

void Stream::startHash(const std::string& path, uint64_t keptBytes) {
    auto hash = std::make_unique<platform::Sha256>();
    if (keptBytes > 0) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        std::vector<uint8_t> buffer(1 << 16);
        uint64_t left = keptBytes;
        while (left > 0) {
            const ssize_t n = ::read(fd, buffer.data(), std::min<uint64_t>(left, buffer.size()));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            hash->update(buffer.data(), static_cast<size_t>(n));
            left -= static_cast<uint64_t>(n);
        }
        ::close(fd);
        if (left > 0) return;
    }
    std::lock_guard lock(fileLock_);
    hash_ = std::move(hash);
}

void Stream::noteHash() {
    std::unique_ptr<platform::Sha256> hash;
    {
        std::lock_guard lock(fileLock_);
        if (writeFailed_) return;
        hash = std::move(hash_);
    }
    if (!hash || wrongSize_.load()) return;
    {
        std::lock_guard lock(lock_);
        if (!statusReceived_ || lastStatus_.status != kStatusFinished) return;
    }
    ctx_.work.setHash(item_.row, hash->hex());
}

void Stream::writeBlock(std::span<const uint8_t> data) {
    std::lock_guard lock(fileLock_);
    if (fileFd_ < 0 || writeFailed_) return;
    for (size_t at = 0; at < data.size();) {
        const ssize_t n = ::write(fileFd_, data.data() + at, data.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeFailed_ = true;
            fileFailed_.set();
            return;
        }
        if (hash_) hash_->update(data.data() + at, static_cast<size_t>(n));
        at += static_cast<size_t>(n);
        fileEnd_ += static_cast<uint64_t>(n);
        written_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    }
    if (ctx_.settings.writeBehind) handToDisk(ctx_.settings.writeBehind);
}

void Stream::handToDisk(uint64_t atLeast) {
    if (fileFd_ < 0 || fileEnd_ <= handedToDisk_ || fileEnd_ - handedToDisk_ < atLeast) return;
    platform::startWriteback(fileFd_, handedToDisk_, fileEnd_ - handedToDisk_);
    handedToDisk_ = fileEnd_;
}

void Stream::checkFileSize(const std::string& path, uint64_t startOffset) {
    uint64_t expected;
    {
        std::lock_guard lock(lock_);
        // Only a transfer the recorder ended as finished is looked at; the others fail anyway.
        if (!statusReceived_ || lastStatus_.status != kStatusFinished) return;
        expected = headerTaken_ && expectedSize_ ? expectedSize_ : item_.size;
    }
    std::error_code ec;
    const uint64_t onDisk = std::filesystem::file_size(path, ec);
    if (!ec && expected > 0 && onDisk == expected) return;
    wrongSize_.store(true);
    std::string text;
    if (ec) {
        text = format("Download failed: %s cannot be read.", path.c_str());
    } else if (expected == 0) {
        text = format("Download failed: the size of %s is not known.", path.c_str());
    } else if (onDisk < expected) {
        text = format("Download incomplete: %s holds %llu of %llu bytes.", path.c_str(),
                      static_cast<unsigned long long>(onDisk),
                      static_cast<unsigned long long>(expected));
    } else {
        // More than the recording: what this transfer added cannot be trusted (a recorder that
        // answered a resume from the start, say). The file goes back to what it was before.
        std::filesystem::resize_file(path, startOffset, ec);
        text = format(
            "Download failed: the recorder sent %llu bytes for %llu; %s is set back to "
            "%llu bytes.",
            static_cast<unsigned long long>(onDisk - startOffset),
            static_cast<unsigned long long>(expected - std::min(expected, startOffset)),
            path.c_str(), static_cast<unsigned long long>(startOffset));
    }
    ctx_.user.messageBox(format("%s\n%s", text.c_str(), caption_.c_str()), mb::kIconStop);
}

// What the frame loop of a playing stream carries from step to step.
//
// Download and play: frames 0 ... written - 1 are in the file, each once and in order. The
// frame the play state wants is asked for once the frames before it are written (those are
// written and decoded on the way, not shown). A frame behind them, or any frame of a play-only
// stream, is decoded from the nearest key frame known at or before it (a play-only stream goes
// back at most kMaxLeadIn frames), so that the picture is whole after a step back or a seek.
struct Stream::PlayRun {
    static constexpr uint32_t kMaxLeadIn = 64;

    bool download = false;                 // mode 10: written to a file as well as shown
    std::unique_ptr<PlayFile> file;        // download and play only
    std::unique_ptr<PlayDecoder> decoder;  // play only
    uint32_t first = 0;                    // the frame the open asks for first
    bool append = false;                   // the open goes on from a kept file
    std::vector<uint8_t> header;
    uint32_t frameCount = 0;
    SystemTime recordingDate{};  // from the event key (YYYYMMDD...), when it reads as a date
    uint32_t written = 0;
    std::map<uint32_t, bool> keyOf;  // key-frame flags of the frames received
    int64_t decoded = -1;            // the frame the picture was last decoded from
    uint32_t received = 0;
    // Whether the play-only decoder's picture is whole: it is from a key frame on, through the
    // frames that follow it in order. A frame decoded after a jump to beyond the key frames
    // known is not, and the panel keeps the last whole picture until one comes.
    bool whole = false, sawKey = false;
    bool advance = true;
    bool failed = false;
    // The picture handed to the display; it keeps its memory from frame to frame.
    int width = 0, height = 0;
    std::vector<uint8_t> bits;

    // The frame to ask for on the way to `next`; key frames are looked for up to `limit`.
    uint32_t leadIn(uint32_t next, uint32_t limit) const {
        if (decoded + 1 == next || next == 0) return next;
        std::optional<uint32_t> key;
        for (auto it = keyOf.upper_bound(limit); it != keyOf.begin();) {
            --it;
            if (!download && next - it->first > kMaxLeadIn) break;
            if (it->second || (download && it->first == 0)) {
                key = it->first;
                break;
            }
        }
        uint32_t from = key.value_or(next);
        if (decoded >= 0 && decoded < next) {
            // Going on from the picture decoded last is as good, and nearer.
            const uint32_t on = static_cast<uint32_t>(decoded + 1);
            if (key ? on > *key : next - on < kMaxLeadIn) from = on;
        }
        return from;
    }
};

// One turn of the frame loop: the frame the play state wants and the one asked for on the way.
struct Stream::FrameAsk {
    uint32_t wanted = 0;
    uint32_t frame = 0;
    bool write = false;  // the next frame of the file
    bool show = false;   // the wanted frame itself
};

void Stream::runPlay() {
    PlayRun run;
    run.download = mode_ == net::stream::kModeDownloadPlay;
    run.first = item_.firstFrame;
    if (run.download && !openPlayFile(run)) return finish(false);
    if (!openPlayStream(run)) return;
    if (!prepareDecoding(run)) return finish(true);
    ctx_.work.setFrames(item_.row, 0, run.frameCount);
    run.recordingDate = recordingDateOf(item_.eventKey);

    playFrames(run);

    keepLastPicture(run);
    if (run.download && !run.failed && run.written >= run.frameCount) awaitLastStatus();
    if (run.file) run.file->finish();
    finish(true);
}

bool Stream::openPlayFile(PlayRun& run) {
    const auto prepared = prepareOutput();
    if (!prepared) return false;
    const FilePlan& plan = *prepared;
    run.file = makePlayFile();
    if (!run.file) {
        ctx_.user.messageBox(format("Write file fail!\n%s", plan.path.c_str()), mb::kIconStop);
        return false;
    }
    run.append = plan.outcome == FilePlan::Outcome::Append;
    const uint32_t from = run.file->setAside(plan.path, run.append, run.first);
    run.append = run.append && from != run.first;
    run.first = from;
    return true;
}

bool Stream::openPlayStream(PlayRun& run) {
    const uint8_t op = link_.version() > 34 ? net::stream::kOpenWithId : net::stream::kOpen;
    // Each question to the recorder is waited on until its answer comes; a paused stream asks
    // nothing, and its recorder's silence then is no stall.
    std::optional<AwaitingAnswer> awaitingHeader(std::in_place, link_);
    if (!sendOpen(op, run.append ? 1 : 0, run.first, 0)) {
        if (run.file) run.file->finish();
        finish(false);
        return false;
    }
    const int opened = waitFor({&dataReady_, &status_ev_});
    awaitingHeader.reset();
    if (opened != 0) {
        if (run.file) run.file->finish();
        finish(true);
        return false;
    }
    {
        std::lock_guard lock(lock_);
        run.header.swap(header_);
        headerBuffered_ = false;
        headerTaken_ = true;
        run.frameCount = frameCount_;
    }
    play_.setFrameCount(run.frameCount);
    return true;
}

bool Stream::prepareDecoding(PlayRun& run) {
    if (!run.download) {
        run.decoder = ctx_.makeDecoder ? ctx_.makeDecoder() : makePlayDecoder();
        if (run.decoder && !run.decoder->prepare(run.header, link_.loginId(), link_.password())) {
            ctx_.user.messageBox(format("Unexpected file format!\n%s", caption_.c_str()),
                                 mb::kIconStop);
            return false;
        }
    }
    if (run.file) {
        const int rc = run.file->prepare(run.header, run.first, item_.lastFrame, link_.loginId(),
                                         link_.password());
        if (rc != kPlayFileOk) {
            ctx_.user.messageBox(run.file->failureText(caption_), mb::kIconStop);
            run.file->finish();
            return false;
        }
    }
    return true;
}

void Stream::playFrames(PlayRun& run) {
    for (;;) {
        if (run.download && run.written >= run.frameCount) break;  // a recording without frames
        if (!waitWhilePaused(run)) break;
        if (run.advance || play_.pendingCommands() > 0) play_.advance();
        run.advance = true;
        const FrameAsk ask = nextAsk(run);
        std::vector<uint8_t> block;
        if (!fetchFrame(ask.frame, block)) break;
        std::optional<SystemTime> time;
        const bool taken = run.download ? takeWrittenFrame(run, ask, block, time)
                                        : takePlayedFrame(run, ask, block, time);
        if (!taken) break;
        if (!ask.show) {
            // On the way to the wanted frame: not paced, not shown.
            run.advance = false;
            continue;
        }
        if (!showWanted(run, ask.wanted, time)) break;
    }
}

bool Stream::waitWhilePaused(const PlayRun& run) {
    // Paused: wait for play or a command; a step shows its frame and stays paused.
    while (run.advance && play_.paused() && play_.pendingCommands() == 0) {
        const int w = waitFor({&play_.continueEvent(), &play_.wakeUp()});
        if (w < 0) return false;
        if (w == 1) play_.wakeUp().reset();
    }
    return true;
}

Stream::FrameAsk Stream::nextAsk(const PlayRun& run) const {
    FrameAsk ask;
    ask.wanted = std::min(play_.position(), run.frameCount > 0 ? run.frameCount - 1 : 0);
    // Download and play fills the file up to the wanted frame first.
    const uint32_t next = run.download ? std::min(ask.wanted, run.written) : ask.wanted;
    ask.frame = run.leadIn(next, run.download && next > 0 ? std::min(next, run.written - 1) : next);
    ask.write = run.download && ask.frame == run.written;
    ask.show = ask.frame == ask.wanted;
    return ask;
}

bool Stream::fetchFrame(uint32_t frame, std::vector<uint8_t>& block) {
    {
        std::lock_guard lock(lock_);
        if (statusReceived_) return false;
    }
    auto request = net::encodeStreamPosition(cookie_, frame);
    int answered;
    {
        AwaitingAnswer awaiting(link_);
        if (!link_.send(request, &stop_)) return false;
        answered = waitFor({&dataReady_, &status_ev_});
    }
    if (answered != 0) return false;
    std::lock_guard lock(lock_);
    if (!blockBuffered_) return false;  // the status came instead
    block.swap(block_);
    blockBuffered_ = false;
    return true;
}

bool Stream::takeWrittenFrame(PlayRun& run, const FrameAsk& ask, const std::vector<uint8_t>& block,
                              std::optional<SystemTime>& time) {
    const int rc = ask.write ? run.file->writeFrame(block) : run.file->decodeFrame(block);
    if (rc != kPlayFileOk) {
        ctx_.user.messageBox(run.file->failureText(caption_), mb::kIconStop);
        run.failed = true;
        return false;
    }
    run.decoded = ask.frame;
    auto f = parseTextFrame(block);
    if (ask.write) {
        run.keyOf[ask.frame] = f && f->keyFrame;
        ++run.written;
        ctx_.work.setFrames(item_.row, run.written, run.frameCount);
        ctx_.work.addReceived(item_.row, block.size());
    }
    if (f)
        if (auto t = parseFrameTimeText(f->text)) {
            // The text carries the time of day; the date is the recording's.
            t->year = run.recordingDate.year;
            t->month = run.recordingDate.month;
            t->day = run.recordingDate.day;
            time = *t;
        }
    return true;
}

bool Stream::takePlayedFrame(PlayRun& run, const FrameAsk& ask, const std::vector<uint8_t>& block,
                             std::optional<SystemTime>& time) {
    const bool follows = run.decoded >= 0 && run.decoded + 1 == ask.frame;
    run.decoded = ask.frame;
    if (auto f = parseTimedFrame(block)) {
        run.keyOf[ask.frame] = f->keyFrame;
        // A recorder that flags no key frame at all is taken at its word that every frame
        // decodes.
        run.sawKey = run.sawKey || f->keyFrame;
        run.whole = f->keyFrame || !run.sawKey || ask.frame == 0 || (run.whole && follows);
        time = f->time;
        if (run.decoder && !f->data.empty() && !run.decoder->decode(f->data, f->keyFrame)) {
            ctx_.user.messageBox(format("Unexpected file format!\n%s", caption_.c_str()),
                                 mb::kIconStop);
            return false;
        }
    }
    ++run.received;
    ctx_.work.setFrames(item_.row, run.received, run.frameCount);
    ctx_.work.addReceived(item_.row, block.size());
    return true;
}

bool Stream::showWanted(PlayRun& run, uint32_t wanted, const std::optional<SystemTime>& time) {
    // A paused stream shows a stepped-to frame at once.
    if (time && !play_.paused() && !play_.pace(*time, stop_)) return false;
    const SystemTime shownTime = time.value_or(SystemTime{});
    const bool have = panel_.load() >= 0 &&
                      (run.file ? run.file->picture(&run.width, &run.height, &run.bits)
                                : run.whole && run.decoder &&
                                      run.decoder->picture(&run.width, &run.height, &run.bits));
    show(have ? run.width : 0, have ? run.height : 0, run.bits, wanted, shownTime);
    play_.shown(shownTime);

    if (run.download) return run.written < run.frameCount;
    if (run.frameCount > 0 && play_.position() + 1 >= run.frameCount) {
        // The last frame of a play-only recording was shown.
        if (queue_.hasItems()) return false;
        if (play_.holdAtEnd(stop_) == PlayState::HoldResult::Stop) return false;
        run.advance = false;
    }
    return true;
}

void Stream::keepLastPicture(PlayRun& run) {
    // The picture the channel stays on when the stream stops before its end.
    std::lock_guard lock(shownLock_);
    bool have = run.file ? run.file->picture(&lastWidth_, &lastHeight_, &lastBits_)
                         : run.whole && run.decoder &&
                               run.decoder->picture(&lastWidth_, &lastHeight_, &lastBits_);
    if (!run.file && !run.whole) {
        // The last whole picture is the one shown.
        lastWidth_ = shownWidth_;
        lastHeight_ = shownHeight_;
        lastBits_ = shownBits_;
        have = !lastBits_.empty();
    }
    if (!have || shownCount_.load() == 0) lastBits_.clear();
}

void Stream::awaitLastStatus() {
    // Every frame is in the file; the recorder's status normally follows the last one. Without
    // it (silence, or the link dropped) the stream ends as stopped: only the recorder can say
    // the recording is whole.
    {
        std::lock_guard lock(lock_);
        if (statusReceived_) return;
    }
    AwaitingAnswer awaiting(link_);
    waitFor({&status_ev_}, ctx_.settings.lastStatusWait);
}

void Stream::attachPanel(int panel) {
    std::lock_guard lock(drawLock_);
    panel_.store(panel);
}

void Stream::show(int width, int height, const std::vector<uint8_t>& bits, uint32_t position,
                  const SystemTime& time) {
    {
        std::lock_guard lock(drawLock_);
        const int panel = panel_.load();
        // A stream without a panel keeps receiving; its pictures are not drawn.
        if (ctx_.display && panel >= 0 && width > 0 && height > 0)
            ctx_.display->draw(panel, width, height, bits);
    }
    {
        std::lock_guard lock(shownLock_);
        shownPosition_ = position;
        shownTime_ = time;
        if (width > 0 && height > 0) {
            shownWidth_ = width;
            shownHeight_ = height;
            shownBits_.assign(bits.begin(), bits.end());
        }
        shownCount_.fetch_add(1);
    }
    tellPosition();
}

void Stream::tellPosition() {
    const int panel = panel_.load();
    if (!ctx_.display || panel < 0) return;
    uint32_t position;
    {
        std::lock_guard lock(shownLock_);
        position = shownPosition_;
    }
    const int fast = play_.fastFactor();
    ctx_.display->moved(panel, position, play_.frameCount(),
                        fast > 1 ? fast : -static_cast<int>(play_.slowDivisor()));
}

bool Stream::setNoPacing(bool on) {
    if (mode_ == net::stream::kModeFile) return false;
    play_.setNoPacing(on || pacingOff_);
    return true;
}

bool Stream::pausedPicture(PausedPicture& out) const {
    if (mode_ == net::stream::kModeFile || !(play_.paused() || play_.holding() || ended()))
        return false;
    std::lock_guard lock(shownLock_);
    if (shownBits_.empty()) return false;
    out.width = shownWidth_;
    out.height = shownHeight_;
    out.bits = shownBits_;
    return true;
}

bool Stream::command(PlayCommand command) {
    if (mode_ == net::stream::kModeFile) return false;
    switch (command) {
        case PlayCommand::Play:
            play_.play();
            break;
        case PlayCommand::Pause:
            play_.pause();
            break;
        case PlayCommand::StepBack:
            play_.stepBack();
            break;
        case PlayCommand::StepForward:
            play_.stepForward();
            break;
        case PlayCommand::First:
            play_.toFirst();
            break;
        case PlayCommand::Last:
            play_.toLast();
            break;
        case PlayCommand::Slower:
            play_.slower();
            break;
        case PlayCommand::Faster:
            play_.faster();
            break;
    }
    return true;
}

bool Stream::goTo(uint32_t frame) { return mode_ != net::stream::kModeFile && play_.goTo(frame); }

bool Stream::setSpeed(int factor) {
    if (mode_ == net::stream::kModeFile || factor < 1 || factor > 5) return false;
    play_.setSpeed(factor);
    return true;
}

std::optional<PlayStatus> Stream::playStatus() const {
    if (mode_ == net::stream::kModeFile) return std::nullopt;
    PlayStatus s;
    s.paused = play_.paused() || ended();
    s.atEnd = play_.holding();
    s.local = false;
    s.frameCount = play_.frameCount();
    const int fast = play_.fastFactor(), slow = play_.slowDivisor();
    s.slow = fast < 2 && slow > 1;
    s.speed = fast >= 2 ? fast : slow;
    s.caption = caption_;
    s.serverName = link_.serverName();
    s.cameraName = channelName_;
    std::lock_guard lock(shownLock_);
    s.position = shownPosition_;
    s.time = shownTime_;
    return s;
}

bool Stream::takeLastPicture(int* width, int* height, std::vector<uint8_t>* bits) {
    std::lock_guard lock(shownLock_);
    if (lastBits_.empty()) return false;
    *width = lastWidth_;
    *height = lastHeight_;
    *bits = std::move(lastBits_);
    lastBits_.clear();
    return true;
}

void Stream::finish(bool requestSent) {
    bool received;
    StatusReply s;
    {
        std::lock_guard lock(lock_);
        received = statusReceived_;
        s = lastStatus_;
    }
    // A file whose size is not the recording's is not finished, whatever the recorder said.
    const bool wrongSize = wrongSize_.load();
    const uint8_t status = received && !wrongSize ? s.status : kStatusStopped;
    status_.store(status);
    const std::string path = outputPath();
    if (!received) {
        if (requestSent) link_.send(net::encodeStreamClose(cookie_), nullptr);
        if (ctx_.reporter) ctx_.reporter->report(item_, audio_, EndReport::Stopped);
    } else if (wrongSize) {
        if (ctx_.reporter) ctx_.reporter->report(item_, audio_, EndReport::Stopped);
    } else if (status == kStatusCannotOpen) {
        if (ctx_.reporter) ctx_.reporter->report(item_, audio_, EndReport::CannotOpen);
        ctx_.user.messageBox(format("Failed to open file\n%s", caption_.c_str()),
                             mb::kIconInformation);
    } else if (status == kStatusFinished && ctx_.tellWhenFinished()) {
        ctx_.user.messageBox(format("%s finish download.", caption_.c_str()), mb::kIconInformation);
    }
    {
        std::lock_guard lock(lock_);
        header_.clear();
        block_.clear();
    }
    if (mode_ != net::stream::kModePlay) {
        if (status == kStatusFinished) {
            ctx_.work.setState(item_.row, RowState::Finished);
            if (ctx_.reporter) ctx_.reporter->report(item_, audio_, EndReport::Finished);
        } else {
            ctx_.work.setState(item_.row, RowState::Stopped);
        }
    }
    ended_.set();
    // The control panel shows the channel as paused from now on.
    if (mode_ != net::stream::kModeFile) tellPosition();
}

}  // namespace fsv::download
