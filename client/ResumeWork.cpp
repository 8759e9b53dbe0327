#include "client/ResumeWork.h"

namespace fsv::client {

namespace dl = fsv::download;

state::ResumeRecord resumeRecordOf(const dl::WorkItem& item) {
    state::ResumeRecord r;
    r.listFlag = item.queue == dl::QueueKind::Audio ? 1 : 0;
    r.type = item.mode();
    r.camera = item.channelCode;
    r.eventKey = item.eventKey;
    r.path = item.outputPath;
    r.firstFrame = item.firstFrame;
    r.lastFrame = item.lastFrame;
    r.dateId = item.dateId;  // the day's own id: a recorder that numbers its days has no day 0
    return r;
}

state::ResumeData resumeDataOf(const state::ResumeHeader& header,
                               const std::vector<dl::WorkItem>& items) {
    state::ResumeData data;
    data.header = header;
    for (auto& item : items)
        if (item.action != dl::Action::JustPlay) data.records.push_back(resumeRecordOf(item));
    return data;
}

namespace {

// The day of a record: by its date and date id. A record without a date id (written by an older
// program, which always wrote 0) takes the one day of its date when the recorder numbers its
// days; two days of one date cannot be told apart and find none. -1: no such day.
int findRecordDay(const EventList& list, int r, int channel, const std::string& date,
                  uint32_t dateId, uint32_t* foundId) {
    int day = list.findDay(r, channel, date, dateId);
    *foundId = dateId;
    if (day >= 0 || dateId != 0) return day;
    for (auto& d : list.days(r, channel)) {
        if (d.date != date) continue;
        if (day >= 0) return -1;
        day = d.position;
        *foundId = d.dateId;
    }
    return day;
}

}  // namespace

RebuiltWork rebuildWork(const std::vector<state::ResumeRecord>& records, RecorderCatalog& catalog,
                        DateQueryWaiter& waiter, UserPort& user,
                        std::chrono::milliseconds replyTimeout, platform::Event* exit) {
    RebuiltWork out;
    EventList& list = catalog.list();
    const int r = catalog.connectionNumber();
    for (auto& rec : records) {
        const std::string what = rec.eventKey + " of channel " + std::to_string(rec.camera);
        const bool audio = rec.listFlag == 1;
        const auto kind = audio ? net::kAudio : net::kCamera;
        // The work writes only where the storage layout would have put it below an existing
        // destination folder: a crafted file cannot send the recorder's bytes anywhere else.
        const auto queue = audio ? dl::QueueKind::Audio
                                 : (rec.type == 11 ? dl::QueueKind::File : dl::QueueKind::Video);
        std::string why;
        if (rec.eventKey.size() != 14 ||
            !dl::isOutputPathOf(rec.path,
                                {"", queue, rec.camera, rec.eventKey.substr(0, 8),
                                 rec.eventKey.substr(8), rec.dateId, rec.lastFrame},
                                &why)) {
            out.skipped.push_back(what + ": refused " + rec.path + ": " +
                                  (why.empty() ? "not a download's event key" : why));
            continue;
        }
        const int channel = catalog.channelOfCode(kind, rec.camera);
        if (channel < 0 || rec.eventKey.size() != 14) {
            out.skipped.push_back(what + ": the recorder has no such channel");
            continue;
        }
        const std::string date = rec.eventKey.substr(0, 8), time = rec.eventKey.substr(8);
        uint32_t dateId = rec.dateId;
        int day = findRecordDay(list, r, channel, date, rec.dateId, &dateId);
        if (day < 0) {
            out.skipped.push_back(what + ": the recorder has no such day");
            continue;
        }
        bool loaded = false;
        for (auto& d : list.days(r, channel))
            if (d.position == day) loaded = d.loaded;
        if (!loaded) {
            PeriodQuery query(waiter, &user, exit);
            query.replyTimeout = replyTimeout;
            query.askOnTimeout = false;
            const auto summary = query.run(catalog, {channel}, {date, "000000", date, "235959"});
            if (summary.outcome == PeriodOutcome::Cancelled ||
                summary.outcome == PeriodOutcome::Exiting) {
                out.cancelled = true;
                out.items.clear();
                return out;
            }
            day = findRecordDay(list, r, channel, date, rec.dateId, &dateId);
        }
        const int event = day < 0 ? -1 : list.findEvent(r, channel, day, time);
        if (event < 0) {
            out.skipped.push_back(what + ": the recorder has no such recording");
            continue;
        }
        list.setMark(kMarkQueued, r, channel, day, event);

        dl::WorkItem item;
        item.queue = queue;
        const bool ranged = rec.firstFrame != 0 || rec.lastFrame != dl::kWholeRecordingLastFrame;
        item.action =
            item.queue != dl::QueueKind::Video
                ? dl::Action::JustDownload
                : (ranged ? dl::Action::DownloadAndPlayPeriod : dl::Action::DownloadAndPlay);
        item.channelCode = rec.camera;
        for (auto& row : list.channels(r))
            if (row.position == channel) item.channelName = row.name;
        item.dayPosition = day;
        item.eventPosition = event;
        item.eventKey = rec.eventKey;
        item.dateId = dateId;
        item.firstFrame = rec.firstFrame;
        item.lastFrame = rec.lastFrame;
        item.outputPath = rec.path;
        item.append = true;
        item.size = list.recordingSize(r, channel, day, event);
        out.items.push_back(item);
    }
    return out;
}

}  // namespace fsv::client
