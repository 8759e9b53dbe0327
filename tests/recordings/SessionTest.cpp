// The recordings layer on live sessions: recorder-sim in this process, serving a small folder of
// recordings, and the client's transport, session and catalogs over 127.0.0.1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "net/HeadlessConnect.h"
#include "platform/ScriptedUserPort.h"
#include "recordings/PeriodQuery.h"
#include "recordings/SessionCatalogs.h"
#include "sim/Server.h"
#include "tests/support/TempDir.h"

using namespace fsv;
namespace fs = std::filesystem;

namespace {

// DIR/Cam01/<date>/<time>.avi and DIR/Aud01/..., each file `size` bytes.
struct Folder {
    fs::path dir;
    explicit Folder(const std::string& name) : dir(fsv::test::makeTempDir("fsv-events-" + name)) {}
    ~Folder() { fs::remove_all(dir); }
    void add(const std::string& channel, const std::string& date, const std::string& time,
             size_t size) {
        auto folder = dir / channel / date;
        fs::create_directories(folder);
        std::ofstream(folder / (time + (channel[0] == 'A' ? ".wav" : ".avi")))
            << std::string(size, 'x');
    }
};

struct Live {
    sim::Server server;
    ScriptedUserPort user;
    EventList list;
    DateQueryWaiter waiter;
    SessionCatalogs catalogs{list, &waiter};
    net::ConnectionManager transport;
    net::HeadlessConnection connection{transport, user, &catalogs};

    Live(const fs::path& dir, uint16_t protocol) : server(options(dir, protocol)) {}
    static sim::ServerOptions options(const fs::path& dir, uint16_t protocol) {
        sim::ServerOptions o;
        o.port = 0;
        o.recordings = dir;
        o.protocol = protocol;
        return o;
    }
    bool open() {
        std::string error;
        if (!server.start(&error)) return false;
        ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = server.port();
        return connection.open(r, std::chrono::seconds(10));
    }
    RecorderCatalog& catalog() { return *catalogs.catalog(*connection.session()); }
    std::vector<std::string> marked(int ch) {
        std::vector<std::string> out;
        const int r = catalog().connectionNumber();
        for (auto& d : list.days(r, ch))
            for (auto& e : list.events(r, ch, d.position))
                if (e.mark) out.push_back(d.date + e.time + "/" + std::to_string(e.mark));
        return out;
    }
};

}  // namespace

TEST(LiveSession, PeriodOfBothProtocolsAndMarksAcrossARefresh) {
    Folder folder("live");
    folder.add("Cam01", "20261130", "230000", 3);
    folder.add("Cam01", "20261201", "080000", 5);
    folder.add("Cam01", "20261201", "120000", 7);
    folder.add("Cam01", "20261202", "090000", 11);
    folder.add("Cam02", "20261201", "100000", 13);
    folder.add("Aud01", "20261201", "120000", 17);
    for (uint16_t protocol : {34, 35}) {
        SCOPED_TRACE(protocol);
        Live live(folder.dir, protocol);
        ASSERT_TRUE(live.open()) << live.connection.error();
        auto& cat = live.catalog();
        const int r = cat.connectionNumber();
        ASSERT_EQ(r, 0);
        EXPECT_EQ(live.connection.session()->connectionNumber(), r);
        const int cam1 = cat.channelOfCode(net::kCamera, 1);
        const int aud1 = cat.channelOfCode(net::kAudio, 1);
        ASSERT_GE(cam1, 0);
        ASSERT_GE(aud1, 0);
        EXPECT_EQ(live.list.days(r, cam1).size(), 3u);

        PeriodQuery q(live.waiter, &live.user, nullptr);
        q.replyTimeout = std::chrono::seconds(10);
        auto s = q.run(cat, {cam1, aud1}, {"20261201", "100000", "20261202", "235959"});
        EXPECT_EQ(s.outcome, PeriodOutcome::Selected);
        EXPECT_EQ(s.asked.size(), 3u);  // two days of the camera, one of the audio channel
        EXPECT_EQ(live.marked(cam1),
                  (std::vector<std::string>{"20261201120000/1", "20261202090000/1"}));
        EXPECT_EQ(live.list.recordingSize(r, aud1, 0, 0), 17u);
        EXPECT_EQ(live.list.selection().totalSize, 7u + 11 + 17);

        // Queue the selection, download one, then read the recorder again.
        live.list.queueSelection();
        live.list.reportFinished(r, cam1, "20261202", "090000", nullptr);
        ASSERT_TRUE(live.catalogs.refreshRecorder(*live.connection.session()));
        EXPECT_EQ(cat.connectionNumber(), r);
        EXPECT_EQ(live.marked(cam1),
                  (std::vector<std::string>{"20261201120000/2", "20261202090000/3"}));
        EXPECT_EQ(live.marked(aud1), (std::vector<std::string>{"20261201120000/2"}));
        EXPECT_TRUE(cat.pending().empty());
        EXPECT_FALSE(live.connection.session()->refreshing());

        live.connection.close();
        EXPECT_TRUE(live.list.recorders().empty());  // the entry left with the session
    }
}

TEST(LiveSession, RefreshWhileAnotherWaitOwnsReplyOk) {
    Folder folder("owned");
    folder.add("Cam01", "20261201", "080000", 5);
    Live live(folder.dir, 35);
    ASSERT_TRUE(live.open()) << live.connection.error();
    auto& session = *live.connection.session();
    // Another wait holds the reply-OK event: the refresh only asks, and ends with the answer.
    auto ok = session.createReplyOk();
    EXPECT_TRUE(live.catalogs.refreshRecorder(session));
    EXPECT_TRUE(ok->wait(std::chrono::seconds(10)));
    EXPECT_FALSE(session.refreshing());
    EXPECT_EQ(live.list.days(0, 0).size(), 1u);
    session.closeReplyOk();
    // A refresh already running is not started twice.
    session.setRefreshing(true);
    EXPECT_FALSE(live.catalogs.refreshRecorder(session));
}
