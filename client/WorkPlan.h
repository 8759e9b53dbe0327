#pragma once
// What a selection in the event list becomes: the recorder's events marked for work, and the
// work items made of them. Both front ends make their work here: the controller when the user
// starts work, and `fsv download` to know beforehand which files it will write.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "client/Notifications.h"
#include "recordings/EventList.h"
#include "recordings/RecorderCatalog.h"
#include "recordings/download/Work.h"

namespace fsv::client {

// One event marked for work in a recorder's part of the event list.
struct PickedEvent {
    SessionId session = -1;
    bool audio = false;
    uint16_t code = 0;
    std::string channelName;
    int channel = -1;  // positions in the event list
    int day = -1, event = -1;
    std::string date, time;  // YYYYMMDD, HHMMSS
    uint32_t dateId = 0;
    uint64_t size = 0;
};

// Every selected event of a recorder's cameras, then of its audio channels, in list order; days
// whose events are not loaded are passed over. The caller holds the list's lock when another
// thread may change it.
std::vector<PickedEvent> pickSelected(const EventList& list, const RecorderCatalog& catalog,
                                      SessionId session);

// The work items of a selection, one per picked event and in the same order: an audio channel's
// recording is always fetched as a plain file; a camera's goes to the file queue for "Just
// Download" and to the video queue otherwise. Every item but "Just Play" is named by the
// storage layout under `destination`. `frames` is the range of "Download && Play (Period)".
std::vector<download::WorkItem> planWork(const std::vector<PickedEvent>& picked,
                                         download::Action action, const std::string& destination,
                                         const std::optional<download::FrameRange>& frames = {});

}  // namespace fsv::client
