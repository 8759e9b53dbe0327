#include <gtest/gtest.h>

#include "platform/ScriptedUserPort.h"
#include "recordings/download/StreamReplies.h"
#include "recordings/download/Work.h"

using namespace fsv;
using namespace fsv::download;

namespace {

TEST(Work, FrameRangeRules) {
    FrameRange r;
    EXPECT_EQ(checkFrameRange(5, 5, 100, &r), FrameRangeCheck::Ok);
    EXPECT_EQ(r.first, 4u);
    EXPECT_EQ(r.last, 4u);
    EXPECT_EQ(checkFrameRange(6, 5, 100, &r), FrameRangeCheck::EndBeforeStart);
    EXPECT_EQ(checkFrameRange(0, 5, 100, &r), FrameRangeCheck::OutOfRange);
    EXPECT_EQ(checkFrameRange(1, 101, 100, &r), FrameRangeCheck::OutOfRange);
    EXPECT_EQ(checkFrameRange(1, kDefaultFrameCount, kDefaultFrameCount, &r), FrameRangeCheck::Ok);
    EXPECT_EQ(r.last, 8999u);
}

TEST(Work, ItemsDescribeTheirStream) {
    WorkItem whole;
    whole.eventKey = "20070101080509";
    whole.channelCode = 12;
    EXPECT_EQ(whole.recorderKey(), "20070101080509012");
    EXPECT_EQ(whole.firstFrame, 0u);
    EXPECT_EQ(whole.lastFrame, 0xFFFFFFFEu) << "a whole recording asks for every frame";
    EXPECT_EQ(whole.mode(), 10);
    EXPECT_EQ(whole.date(), "20070101");
    EXPECT_EQ(whole.time(), "080509");
    EXPECT_EQ(streamModeFor(Action::JustPlay, false), 12);
    EXPECT_EQ(streamModeFor(Action::JustDownload, false), 11);
    EXPECT_EQ(streamModeFor(Action::DownloadAndPlayPeriod, false), 10);
    EXPECT_EQ(streamModeFor(Action::DownloadAndPlay, true), 11) << "audio always as files";
}

TEST(Work, ChannelLimitCountsCamerasWithoutAStream) {
    EXPECT_FALSE(channelsAvailable(2, 0, 1)) << "two cameras, MaxChannel 1: nothing starts";
    EXPECT_TRUE(channelsAvailable(1, 0, 1));
    EXPECT_FALSE(channelsAvailable(1, 1, 1));
    EXPECT_TRUE(channelsAvailable(0, 32, 32)) << "queues with a stream hand their channel on";
    ScriptedUserPort port;
    EXPECT_FALSE(checkChannelLimit(port, 2, 0, 1));
    ASSERT_EQ(port.boxes().size(), 1u);
    EXPECT_EQ(port.boxes()[0].text, "Over the maximum channel number!");
    EXPECT_EQ(port.boxes()[0].type, mb::kIconStop);
}

TEST(Work, RowsCountProgressAndTellTheListener) {
    WorkList list;
    std::vector<WorkRow> heard;
    list.setListener([&](const WorkRow& r) { heard.push_back(r); });
    int id = list.addRow("a.avi", "cap", 1000);
    list.setReceived(id, 100);
    list.addReceived(id, 50);
    list.setState(id, RowState::Finished);
    list.setState(42, RowState::Stopped);  // no such row: nothing
    WorkRow row;
    ASSERT_TRUE(list.row(id, &row));
    EXPECT_EQ(row.received, 150u);
    EXPECT_EQ(row.state, RowState::Finished);
    // Whoever shows the rows ends up with the row as it is, however its changes were grouped;
    // the change to a row that does not exist is not reported, and progress never goes back.
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back().received, 150u);
    EXPECT_EQ(heard.back().state, RowState::Finished);
    EXPECT_EQ(heard.back().size, 1000u);
    EXPECT_EQ(heard.back().path, "a.avi");
    for (size_t i = 0; i < heard.size(); ++i) {
        EXPECT_EQ(heard[i].id, id);
        if (i > 0) {
            EXPECT_GE(heard[i].received, heard[i - 1].received);
        }
    }
}

TEST(StreamReplies, BodiesAreCheckedBeforeReading) {
    const uint8_t header[] = {1, 0, 0, 0, 0x10, 0x27, 0, 0, 'h', 'd'};
    auto h = parseHeaderReply(header);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->frameCount, 10000u);
    EXPECT_EQ(h->header.size(), 2u);
    EXPECT_FALSE(parseHeaderReply(std::span(header, 7)));

    const uint8_t full[] = {0, 1, 2, 0, 0, 0, 3, 0, 0, 0};
    EXPECT_FALSE(parseStatusReply(std::span(full, 1), 10));
    auto s = parseStatusReply(std::span(full, 2), 10);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->check, 1);
    EXPECT_EQ(s->first, 0x00010001u) << "values the reply did not carry";
    s = parseStatusReply(full, 10);
    EXPECT_EQ(s->first, 2u);
    EXPECT_EQ(s->second, 3u);
    EXPECT_TRUE(parseStatusReply(std::span(full, 2), 11));
    EXPECT_FALSE(parseStatusReply(full, 11)) << "file streams take exactly two bytes";

    const uint8_t text[] = {1,   0,   0,   0,   '#', '1', '-', '8',  ':', '0',
                            ':', '5', '.', '2', '5', '0', 0,   0xAA, 0xBB};
    auto f = parseTextFrame(text);
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->keyFrame);
    EXPECT_EQ(f->data.size(), 2u);
    auto t = parseFrameTimeText(f->text);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->second, 5);
    EXPECT_EQ(t->milliseconds, 250);
    auto noData = parseTextFrame(std::span(text, 15));
    ASSERT_TRUE(noData);
    EXPECT_TRUE(noData->data.empty());
    EXPECT_EQ(parseFrameTimeText("Event#1-8:5:9(1/1/2007)")->minute, 5);
    EXPECT_FALSE(parseFrameTimeText("garbage"));
    EXPECT_FALSE(parseTimedFrame(std::span(text, 19)));
}

}  // namespace
