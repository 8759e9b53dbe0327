#pragma once
// What a stream's channel shows after the stream stopped before its end (the recorder went
// silent, the link was lost): the stream's last picture, paused, with its caption and
// position, until the user closes the channel. It draws that picture into whichever panel the
// channel table shows it in; the control panel's commands have nothing to act on.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/FrameSink.h"

namespace fsv::playback {

class StoppedStream : public Player {
  public:
    StoppedStream(FrameSink* display, PlayStatus last, std::string serverName,
                  std::string cameraName, std::string eventKey, int width, int height,
                  std::vector<uint8_t> bits)
        : display_(display),
          status_(std::move(last)),
          serverName_(std::move(serverName)),
          cameraName_(std::move(cameraName)),
          eventKey_(std::move(eventKey)),
          width_(width),
          height_(height),
          bits_(std::move(bits)) {
        status_.paused = true;
        status_.atEnd = false;
        status_.serverName = serverName_;
        status_.cameraName = cameraName_;
    }

    void attachPanel(int panel) override {
        std::lock_guard lock(lock_);
        if (display_ && panel >= 0 && !bits_.empty()) display_->draw(panel, width_, height_, bits_);
    }
    std::optional<PlayStatus> playStatus() const override { return status_; }
    // The channel stays paused: its picture is there for a snapshot.
    bool pausedPicture(PausedPicture& out) const override {
        if (bits_.empty()) return false;
        out.width = width_;
        out.height = height_;
        out.bits = bits_;
        return true;
    }
    const std::string& serverName() const { return serverName_; }
    const std::string& cameraName() const { return cameraName_; }
    const std::string& eventKey() const { return eventKey_; }

  private:
    std::mutex lock_;  // one drawing at a time
    FrameSink* display_;
    PlayStatus status_;
    const std::string serverName_, cameraName_, eventKey_;
    const int width_, height_;
    const std::vector<uint8_t> bits_;
};

}  // namespace fsv::playback
