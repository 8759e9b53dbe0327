#pragma once
// A local file channel in the channel table: it takes a free position when its file has opened,
// draws into the frame slot of whichever panel the table shows it in, and gives its position
// back when it is destroyed (after its thread has ended, so the two never race).

#include <filesystem>
#include <string>

#include "client/FrameSlot.h"
#include "recordings/download/ChannelTable.h"
#include "recordings/playback/LocalChannel.h"

namespace fsv::playback {

class LocalPlayer : public download::Player {
  public:
    // `slots` and `table` outlive the player.
    LocalPlayer(download::ChannelTable& table, client::FrameSlots& frameSlots,
                LocalChannel::Options options)
        : table_(table), slots_(frameSlots), channel_(withTable(std::move(options))) {}
    ~LocalPlayer() override {
        channel_.stop();
        const int position = channel_.channelPosition();
        if (position >= 0 && table_.playerAt(position) == this) table_.giveBack(position);
        channel_.attach(nullptr, -1);
    }

    LocalChannel& channel() { return channel_; }
    // A user-opened file takes the lowest free position; a finished download keeps `position`
    // (the owner has already put this player there).
    bool start(const std::filesystem::path& path, bool userOpened, int position = -1,
               const std::string& id = {}, const std::string& password = {}) {
        return channel_.start(path, userOpened, position, id, password);
    }

    void attachPanel(int panel) override { channel_.attach(slots_.slot(panel), panel); }

  private:
    LocalChannel::Options withTable(LocalChannel::Options o) {
        o.choosePosition = [this] { return table_.take(download::ChannelKind::LocalFile, this); };
        return o;
    }

    download::ChannelTable& table_;
    client::FrameSlots& slots_;
    LocalChannel channel_;
};

}  // namespace fsv::playback
