// What a selection becomes: the queue, action, frames and file of each work item.
#include <gtest/gtest.h>

#include "client/WorkPlan.h"

namespace {

using namespace fsv;
using namespace fsv::client;
namespace dl = fsv::download;

PickedEvent camera(uint16_t code, uint32_t dateId = 0) {
    PickedEvent p;
    p.session = 7;
    p.code = code;
    p.channelName = "Gate";
    p.channel = 1;
    p.day = 2;
    p.event = 3;
    p.date = "20261210";
    p.time = "101500";
    p.dateId = dateId;
    p.size = 4096;
    return p;
}

PickedEvent audio(uint16_t code) {
    PickedEvent p = camera(code);
    p.audio = true;
    return p;
}

TEST(WorkPlan, EachPickedEventBecomesTheItemItsActionAsks) {
    struct Case {
        const char* what;
        PickedEvent picked;
        dl::Action action;
        std::optional<dl::FrameRange> frames;
        dl::QueueKind queue;
        dl::Action itemAction;
        std::string path;
        uint32_t first, last;
    };
    const uint32_t whole = dl::kWholeRecordingLastFrame;
    const Case cases[] = {
        {"download and play",
         camera(3),
         dl::Action::DownloadAndPlay,
         {},
         dl::QueueKind::Video,
         dl::Action::DownloadAndPlay,
         "/d/Cam03/1210/Event20261210101500003.avi",
         0,
         whole},
        {"just download",
         camera(3),
         dl::Action::JustDownload,
         {},
         dl::QueueKind::File,
         dl::Action::JustDownload,
         "/d/Cam03/1210/Event20261210101500003.avi",
         0,
         whole},
        {"a day of daylight saving",
         camera(12, 2),
         dl::Action::JustDownload,
         {},
         dl::QueueKind::File,
         dl::Action::JustDownload,
         "/d/Cam12/1210/Dst0220261210101500012.avi",
         0,
         whole},
        {"just play writes nothing",
         camera(3),
         dl::Action::JustPlay,
         {},
         dl::QueueKind::Video,
         dl::Action::JustPlay,
         "",
         0,
         whole},
        {"a frame range is a clip", camera(3), dl::Action::DownloadAndPlayPeriod,
         dl::FrameRange{9, 99}, dl::QueueKind::Video, dl::Action::DownloadAndPlayPeriod,
         "/d/Cam03/1210/Clip20261210101500003.avi", 9, 99},
        {"audio is always a plain file",
         audio(2),
         dl::Action::DownloadAndPlay,
         {},
         dl::QueueKind::Audio,
         dl::Action::JustDownload,
         "/d/Aud02/1210/Event20261210101500002.wav",
         0,
         whole},
        {"audio takes no frame range", audio(2), dl::Action::DownloadAndPlayPeriod,
         dl::FrameRange{9, 99}, dl::QueueKind::Audio, dl::Action::JustDownload,
         "/d/Aud02/1210/Event20261210101500002.wav", 0, whole},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto items = planWork({c.picked}, c.action, "/d", c.frames);
        ASSERT_EQ(items.size(), 1u);
        const dl::WorkItem& item = items[0];
        EXPECT_EQ(item.queue, c.queue);
        EXPECT_EQ(item.action, c.itemAction);
        EXPECT_EQ(item.outputPath, c.path);
        EXPECT_EQ(item.firstFrame, c.first);
        EXPECT_EQ(item.lastFrame, c.last);
        EXPECT_EQ(item.channelCode, c.picked.code);
        EXPECT_EQ(item.eventKey, "20261210101500");
        EXPECT_EQ(item.dateId, c.picked.dateId);
        EXPECT_EQ(item.size, 4096u);
        EXPECT_EQ(item.dayPosition, 2);
        EXPECT_EQ(item.eventPosition, 3);
    }
}

TEST(WorkPlan, ItemsKeepTheOrderOfTheSelection) {
    const auto items = planWork({camera(5), audio(1), camera(2)}, dl::Action::JustDownload, "/d");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].channelCode, 5);
    EXPECT_EQ(items[1].queue, dl::QueueKind::Audio);
    EXPECT_EQ(items[2].channelCode, 2);
    EXPECT_TRUE(planWork({}, dl::Action::JustDownload, "/d").empty());
}

}  // namespace
