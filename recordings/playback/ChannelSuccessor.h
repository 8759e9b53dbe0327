#pragma once
// What happens to a stream's channel when the stream leaves it.

#include <memory>
#include <string>

namespace fsv::playback {

class Player;

// Who takes a stream's channel over when its queue has nothing more for it (the main panel).
// Called on the queue's worker thread while the stream still holds the channel; the stream is
// destroyed afterwards.
class ChannelSuccessor {
  public:
    virtual ~ChannelSuccessor() = default;
    // A download that was played while it arrived has finished: its file goes on as a local
    // file on `position`. False: the channel is given back.
    virtual bool playFinishedFile(int position, const std::string& path, const std::string& id,
                                  const std::string& password) = 0;
    // A stream stopped before its end: `still` (its last picture, paused) takes `position`
    // and belongs to the successor from now on, which closes it like any channel. False: the
    // channel is given back and `still` is dropped.
    virtual bool keepStopped(int position, std::unique_ptr<Player> still) = 0;
};

}  // namespace fsv::playback
