#pragma once
// A local file channel in the channel table: it takes a free position when its file has opened,
// draws into whichever panel the table shows it in (through its frame sink), and gives its position
// back when it is destroyed (after its thread has ended, so the two never race).

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>

#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/LocalChannel.h"

namespace fsv::playback {

class LocalPlayer : public Player {
  public:
    // `table` and the options' sink outlive the player.
    LocalPlayer(ChannelTable& table, LocalChannel::Options options)
        : table_(table), channel_(withTable(std::move(options))) {}
    ~LocalPlayer() override {
        channel_.stop();
        const int position = channel_.channelPosition();
        if (position >= 0 && table_.playerAt(position) == this) table_.giveBack(position);
        channel_.attach(-1);
    }

    LocalChannel& channel() { return channel_; }
    // The position the owner took in the table for this player before start(): the file takes
    // it up once it is open, so that files take positions in the order they were chosen.
    void keepPosition(int position) { kept_ = position; }
    // A user-opened file takes the lowest free position; a finished download keeps `position`
    // (the owner has already put this player there).
    bool start(const std::filesystem::path& path, bool userOpened, int position = -1,
               const std::string& id = {}, const std::string& password = {}) {
        return channel_.start(path, userOpened, position, id, password);
    }

    void attachPanel(int panel) override { channel_.attach(panel); }

    bool command(PlayCommand c) override {
        switch (c) {
            case PlayCommand::Play:
            case PlayCommand::Pause:
                channel_.setPaused(c == PlayCommand::Pause);
                return true;
            case PlayCommand::StepBack:
                channel_.command(LocalChannel::kStepBack);
                return true;
            case PlayCommand::StepForward:
                channel_.command(LocalChannel::kStepForward);
                return true;
            case PlayCommand::First:
                channel_.command(LocalChannel::kToFirst);
                return true;
            case PlayCommand::Last:
                channel_.command(LocalChannel::kToLast);
                return true;
            case PlayCommand::Slower:
                channel_.slower();
                return true;
            case PlayCommand::Faster:
                channel_.faster();
                return true;
        }
        return false;
    }
    bool goTo(uint32_t frame) override { return channel_.goTo(frame); }
    // The speed menu belongs to streams; a local file has its own steps (faster, slower).
    bool setSpeed(int) override { return false; }
    bool setNoPacing(bool on) override {
        channel_.setNoWait(on);
        return true;
    }
    std::optional<PlayStatus> playStatus() const override {
        PlayStatus s;
        s.local = true;
        s.paused = channel_.paused();
        s.atEnd = channel_.atEnd();
        s.position = channel_.currentFrame();
        s.frameCount = static_cast<uint32_t>(std::max(channel_.frameCount(), 0));
        const uint8_t fast = channel_.fastFactor(), slow = channel_.slowFactor();
        s.slow = fast <= 1 && slow > 1;
        s.speed = s.slow ? slow : fast;
        s.time = channel_.currentTime();
        s.caption = channel_.caption();
        if (SyncClock* clock = channel_.syncClock()) {
            // In step the clock plays, pauses and sets the pace for every channel.
            s.synced = true;
            s.noRecording = channel_.noRecording();
            s.paused = !clock->playing();
            s.atEnd = false;
            const uint8_t cf = clock->fastFactor(), cs = clock->slowFactor();
            s.slow = cf <= 1 && cs > 1;
            s.speed = s.slow ? cs : cf;
        }
        return s;
    }
    bool pausedPicture(PausedPicture& out) const override {
        auto frame = channel_.pausedFrame();
        if (!frame) return false;
        out.width = frame->header.width;
        out.height = frame->header.height;
        out.bits = std::move(frame->bits);
        return true;
    }

  private:
    // A user-opened file takes, once it is open, the position its owner kept for it, or else
    // the lowest free one.
    LocalChannel::Options withTable(LocalChannel::Options o) {
        o.choosePosition = [this] {
            const int kept = kept_.load();
            return kept >= 0 ? kept : table_.take(ChannelKind::LocalFile, this);
        };
        return o;
    }

    ChannelTable& table_;
    std::atomic<int> kept_{-1};
    LocalChannel channel_;
};

}  // namespace fsv::playback
