#include "client/WorkPlan.h"

#include "recordings/download/StorageLayout.h"

namespace fsv::client {

std::vector<PickedEvent> pickSelected(const EventList& list, const RecorderCatalog& catalog,
                                      SessionId session) {
    std::vector<PickedEvent> picked;
    const int r = catalog.connectionNumber();
    if (r < 0) return picked;
    for (bool audio : {false, true})
        for (auto& ch : audio ? catalog.audioChannels() : catalog.cameras())
            for (auto& day : list.days(r, ch.position)) {
                if (!day.loaded) continue;
                for (auto& e : list.events(r, ch.position, day.position)) {
                    if (e.mark != kMarkSelected) continue;
                    picked.push_back({session, audio, ch.code, ch.name, ch.position, day.position,
                                      e.position, day.date, e.time, day.dateId, e.size});
                }
            }
    return picked;
}

std::vector<download::WorkItem> planWork(const std::vector<PickedEvent>& picked,
                                         download::Action action, const std::string& destination,
                                         const std::optional<download::FrameRange>& frames) {
    namespace dl = download;
    std::vector<dl::WorkItem> items;
    items.reserve(picked.size());
    for (auto& p : picked) {
        dl::WorkItem item;
        item.queue = p.audio ? dl::QueueKind::Audio
                             : (action == dl::Action::JustDownload ? dl::QueueKind::File
                                                                   : dl::QueueKind::Video);
        item.action = p.audio ? dl::Action::JustDownload : action;
        item.channelCode = p.code;
        item.channelName = p.channelName;
        item.dayPosition = p.day;
        item.eventPosition = p.event;
        item.eventKey = p.date + p.time;
        item.dateId = p.dateId;
        item.size = p.size;
        if (item.action == dl::Action::DownloadAndPlayPeriod && frames) {
            item.firstFrame = frames->first;
            item.lastFrame = frames->last;
        }
        if (item.action != dl::Action::JustPlay)
            item.outputPath = dl::makeOutputPath({destination, item.queue, item.channelCode, p.date,
                                                  p.time, p.dateId, item.lastFrame});
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace fsv::client
