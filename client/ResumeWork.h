#pragma once
// Work items as resume records and back: the record of one item, a connection's file of
// items, and the work rebuilt from a loaded file's records (the days they need are asked for
// first). Every front end writes and reads work this way.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "recordings/EventList.h"
#include "recordings/PeriodQuery.h"
#include "recordings/RecorderCatalog.h"
#include "recordings/download/Work.h"
#include "state/ResumeFile.h"

namespace fsv::client {

// The record of one item. Byte 0 tells where the rebuild looks the channel up: 1 among the
// audio channels (audio-queue items), 0 among the cameras (file- and video-queue items).
state::ResumeRecord resumeRecordOf(const download::WorkItem& item);
// The file of a connection: its login data and one record per item; "Just Play" work is never
// kept.
state::ResumeData resumeDataOf(const state::ResumeHeader& header,
                               const std::vector<download::WorkItem>& items);

struct RebuiltWork {
    std::vector<download::WorkItem> items;
    std::vector<std::string> skipped;  // why each skipped record was left out
    bool cancelled = false;            // a day could not be asked for: nothing was rebuilt
};

// The work of a resume file's records on the catalog's recorder: each record's channel, day
// (by date and date id) and event are looked up, days not loaded yet are asked for, and the
// items come back with the append flag set and their events marked queued. The exit event,
// when given, ends a wait for a day (nothing is rebuilt then).
RebuiltWork rebuildWork(const std::vector<state::ResumeRecord>& records, RecorderCatalog& catalog,
                        DateQueryWaiter& waiter, UserPort& user,
                        std::chrono::milliseconds replyTimeout, platform::Event* exit = nullptr);

}  // namespace fsv::client
