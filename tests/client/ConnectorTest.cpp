// The connector: interactive connects run one at a time in the order they were asked for, a
// Cancel ends only the connect in progress, and stop drops what is still queued.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "client/Connector.h"
#include "platform/Event.h"

using namespace fsv;
using namespace fsv::client;
using namespace std::chrono_literals;

namespace {

ConnectRequest to(const std::string& address) {
    ConnectRequest r;
    r.address = address;
    return r;
}

// Attempts that log what they saw and wait until released or cancelled, like a login waiting
// for a silent recorder.
struct Script {
    fsv::platform::Event cancel{fsv::platform::Event::Reset::Manual};
    fsv::platform::Event started{fsv::platform::Event::Reset::Auto};
    fsv::platform::Event release{fsv::platform::Event::Reset::Auto};
    std::mutex m;
    std::vector<std::string> log;
    Connector connector{cancel,
                        [this](const ConnectRequest& r) {
                            add("start " + r.address + (cancel.isSet() ? " cancelled" : ""));
                            started.set();
                            const int w = fsv::platform::waitAny({&release, &cancel}, 10s);
                            add((w == 1 ? "cancel " : "end ") + r.address);
                        },
                        [this] { add("finished " + std::to_string(connector.pending())); }};

    void add(const std::string& line) {
        std::lock_guard lock(m);
        log.push_back(line);
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(m);
        return log;
    }
};

}  // namespace

TEST(Connector, QueuedConnectsRunOneAfterTheOtherAndCancelEndsOnlyTheOneInProgress) {
    Script s;
    EXPECT_EQ(s.connector.last().kind, 0xFFFF);
    EXPECT_EQ(s.connector.last().port, kDefaultPort);
    EXPECT_TRUE(s.connector.last().id.empty());

    // A Cancel pressed before a connect starts does not end it.
    s.connector.cancel();
    ASSERT_TRUE(s.connector.enqueue(to("yard")));
    ASSERT_TRUE(s.connector.enqueue(to("gate")));
    ASSERT_TRUE(s.connector.enqueue(to("hall")));
    ASSERT_TRUE(s.started.wait(10s));
    EXPECT_EQ(s.connector.pending(), 3);
    EXPECT_EQ(s.connector.last().address, "yard");
    EXPECT_EQ(s.lines(), std::vector<std::string>{"start yard"});  // the others wait their turn

    s.release.set();
    ASSERT_TRUE(s.started.wait(10s));
    s.connector.cancel();  // the gate's wait ends; the hall's connect is not touched
    ASSERT_TRUE(s.started.wait(10s));
    s.release.set();
    s.connector.waitIdle();
    EXPECT_EQ(s.connector.pending(), 0);
    EXPECT_EQ(s.connector.last().address, "hall");
    const std::vector<std::string> expected = {"start yard", "end yard",    "finished 2",
                                               "start gate", "cancel gate", "finished 1",
                                               "start hall", "end hall",    "finished 0"};
    EXPECT_EQ(s.lines(), expected);
}

TEST(Connector, StopDropsTheQueueAndEndsTheConnectInProgress) {
    Script s;
    ASSERT_TRUE(s.connector.enqueue(to("yard")));
    ASSERT_TRUE(s.connector.enqueue(to("gate")));
    ASSERT_TRUE(s.started.wait(10s));
    s.connector.stop();
    EXPECT_EQ(s.connector.pending(), 0);
    EXPECT_FALSE(s.connector.enqueue(to("hall")));
    s.connector.waitIdle();  // returns at once
    const std::vector<std::string> expected = {"start yard", "cancel yard", "finished 0"};
    EXPECT_EQ(s.lines(), expected);
    EXPECT_TRUE(s.cancel.isSet());  // it stays set: a connect cannot start any more
}
