// Work items as resume records: where the rebuild will look each one up, and what is never kept.
#include <gtest/gtest.h>

#include "client/ResumeWork.h"

using namespace fsv;
namespace dl = fsv::download;

TEST(ResumeWork, EachQueueKeepsItsRecordAndPlayOnlyWorkIsLeftOut) {
    struct Case {
        dl::QueueKind queue;
        dl::Action action;
        uint32_t first, last;
        bool kept;
        uint8_t listFlag, type;
    };
    const Case cases[] = {
        {dl::QueueKind::File, dl::Action::JustDownload, 0, dl::kWholeRecordingLastFrame, true, 0,
         11},
        {dl::QueueKind::Audio, dl::Action::JustDownload, 0, dl::kWholeRecordingLastFrame, true, 1,
         11},
        {dl::QueueKind::Video, dl::Action::DownloadAndPlay, 0, dl::kWholeRecordingLastFrame, true,
         0, 10},
        {dl::QueueKind::Video, dl::Action::DownloadAndPlayPeriod, 4, 9, true, 0, 10},
        {dl::QueueKind::Video, dl::Action::JustPlay, 0, dl::kWholeRecordingLastFrame, false, 0, 0},
    };
    const state::ResumeHeader header{6000, "10.0.0.7", "admin", "pw"};
    for (auto& c : cases) {
        dl::WorkItem item;
        item.queue = c.queue;
        item.action = c.action;
        item.channelCode = 3;
        item.eventKey = "20261201100000";
        item.dateId = 7;
        item.firstFrame = c.first;
        item.lastFrame = c.last;
        item.outputPath = "/tmp/x/Cam03/1201/Event20261201100000003.avi";
        const auto data = client::resumeDataOf(header, {item});
        EXPECT_EQ(data.header, header);
        ASSERT_EQ(data.records.size(), c.kept ? 1u : 0u) << int(c.queue) << int(c.action);
        if (!c.kept) continue;
        const auto& r = data.records[0];
        EXPECT_EQ(r.listFlag, c.listFlag) << int(c.queue);
        EXPECT_EQ(r.type, c.type) << int(c.queue);
        EXPECT_EQ(r.camera, 3);
        EXPECT_EQ(r.eventKey, item.eventKey);
        EXPECT_EQ(r.path, item.outputPath);
        EXPECT_EQ(r.firstFrame, c.first);
        EXPECT_EQ(r.lastFrame, c.last);
        EXPECT_EQ(r.dateId, 7u);
    }
}
