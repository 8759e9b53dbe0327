// The session against our own recorder, run in-process: real key, real encryption, the version
// agreement of each recorder version, and the faults the recorder can be told to make.

#include <gtest/gtest.h>

#include <fstream>

#include <unistd.h>

#include "net/HeadlessConnect.h"
#include "platform/ScriptedUserPort.h"
#include "sim/Server.h"

using namespace fsv;
using namespace fsv::net;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

fs::path makeRecordings(const std::string& name) {
    // One folder per test process: ctest runs tests in parallel, and each test rebuilds it.
    fs::path dir = fs::path(FSV_BINARY_DIR) / "test-recordings" /
                   (name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    for (auto* f :
         {"Cam01/20261130/093000.avi", "Cam01/20261201/100000.avi", "Cam01/20261201/110000.avi",
          "Cam12/20261201/080000.avi", "Aud01/20261201/100000.wav", "Cam01/20261201/notes.txt",
          "Cam1/20261201/100000.avi", "Other/20261201/100000.avi"}) {
        fs::create_directories((dir / f).parent_path());
        std::ofstream(dir / f) << "x";
    }
    fs::create_directories(dir / "Cam03");  // a camera without days
    std::ofstream(dir / "Cam01" / "name") << "Front door\n";
    return dir;
}

struct Sim {
    sim::Server server;
    explicit Sim(sim::ServerOptions o) : server(fix(std::move(o))) {
        std::string error;
        EXPECT_TRUE(server.start(&error)) << error;
    }
    static sim::ServerOptions fix(sim::ServerOptions o) {
        o.port = 0;
        if (o.recordings.empty()) o.recordings = makeRecordings("sim");
        o.user = "admin";
        o.password = "secret";
        return o;
    }
    ConnectRequest request(const std::string& password = "secret") const {
        ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = server.port();
        r.id = "admin";
        r.password = password;
        return r;
    }
};

TransportTiming fastTransport() {
    TransportTiming t;
    t.verdict = 5s;
    t.disconnectWait = 2s;
    return t;
}

}  // namespace

TEST(RecorderSim, EachVersionLogsInAndServesItsFolder) {
    for (uint16_t protocol : {32, 33, 34, 35}) {
        sim::ServerOptions o;
        o.protocol = protocol;
        Sim sim(o);
        ScriptedUserPort user;
        ConnectionManager transport(fastTransport());
        HeadlessConnection c(transport, user);
        ASSERT_TRUE(c.open(sim.request(), 10s)) << protocol << ": " << c.error();
        EXPECT_EQ(c.session()->version(), protocol);
        EXPECT_TRUE(user.boxes().empty());

        const ServerInfo& info = c.info();
        EXPECT_EQ(info.recorderName, "recorder-sim");
        ASSERT_EQ(info.cameras.size(), 3u) << protocol;
        EXPECT_EQ(info.cameras[0].code, 1);
        EXPECT_EQ(info.cameras[0].name, "Front door");
        EXPECT_EQ(info.cameras[1].code, 3);
        EXPECT_EQ(info.cameras[1].name, "Camera 3");
        EXPECT_TRUE(info.cameras[1].days.empty());
        EXPECT_EQ(info.cameras[2].code, 12);
        ASSERT_EQ(info.cameras[0].days.size(), 2u);
        EXPECT_EQ(info.cameras[0].days[0].text, "20261130");
        EXPECT_EQ(info.cameras[0].days[1].text, "20261201");
        // From 35 the days come in groups (one per month here): December is the second.
        EXPECT_EQ(info.cameras[0].days[1].dateId, protocol >= 35 ? 1u : 0u);
        ASSERT_EQ(info.audio.size(), 1u);
        EXPECT_EQ(info.audio[0].name, "Audio 1");
    }
}

TEST(RecorderSim, WrongPasswordIsRefused) {
    for (uint16_t protocol : {33, 35}) {
        sim::ServerOptions o;
        o.protocol = protocol;
        Sim sim(o);
        ScriptedUserPort user;
        ConnectionManager transport(fastTransport());
        HeadlessConnection c(transport, user);
        EXPECT_FALSE(c.open(sim.request("wrong"), 10s));
        EXPECT_EQ(c.error(), "Password Error! (127.0.0.1)") << protocol;
    }
}

// Without a key reply the password goes out only scrambled, unless the client refuses that:
// then the recorder receives no login at all.
TEST(RecorderSim, RecorderWithoutKeyGetsThePlainLoginUnlessRefused) {
    for (bool refuse : {false, true}) {
        sim::ServerOptions o;
        o.answerKey = false;
        o.loginLog = fs::path(FSV_BINARY_DIR) / "test-recordings" /
                     ("plain-login-" + std::to_string(::getpid()));
        fs::remove(o.loginLog);
        Sim sim(o);
        ScriptedUserPort user;
        ConnectionManager transport(fastTransport());
        HeadlessConnection c(transport, user, nullptr, SessionTiming{150ms});
        c.refusePlainLogin(refuse);
        std::ifstream log;
        std::string received;
        if (refuse) {
            EXPECT_FALSE(c.open(sim.request(), 10s));
            EXPECT_EQ(c.error(), kTextPlainLoginRefused);
            EXPECT_FALSE(fs::exists(o.loginLog)) << "no login was sent";
        } else {
            ASSERT_TRUE(c.open(sim.request(), 10s)) << c.error();
            EXPECT_EQ(c.session()->version(), 33);
            EXPECT_EQ(c.info().cameras.size(), 3u);
            log.open(o.loginLog);
            std::getline(log, received);
            EXPECT_EQ(received, "admin:secret");
        }
        fs::remove(o.loginLog);
    }
}

TEST(RecorderSim, ConnectionsBeyondTheLimitAreRefused) {
    sim::ServerOptions o;
    o.maxClients = 1;
    Sim sim(o);
    ScriptedUserPort user;
    ConnectionManager transport(fastTransport());
    HeadlessConnection first(transport, user), second(transport, user);
    ASSERT_TRUE(first.open(sim.request(), 10s)) << first.error();
    EXPECT_FALSE(second.open(sim.request(), 10s));
    EXPECT_EQ(second.error(), "Connect fail!");
}

// Under a stall limit shorter than the key wait, a recorder that never answers the key request
// still gets the plain login; one that falls silent after the key or after the login ends the
// open within the limit, as a stall.
TEST(RecorderSim, StallLimit) {
    const struct {
        const char* name;
        bool answerKey;
        const char* fault;
        bool opens;
    } cases[] = {
        {"no key reply", false, "", true},
        {"silent after the key", true, "silent-after-key", false},
        {"silent after the login", true, "silent-after-login", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ServerOptions o;
        o.answerKey = c.answerKey;
        o.fault = c.fault;
        Sim sim(o);
        ScriptedUserPort user;
        ConnectionManager transport(fastTransport());
        SessionTiming timing;
        timing.stallLimit = 800ms;
        HeadlessConnection conn(transport, user, nullptr, timing);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(conn.open(sim.request()), c.opens) << conn.error();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        if (c.opens) {
            EXPECT_EQ(conn.session()->version(), 33);
        } else {
            EXPECT_EQ(conn.error(), "Timeout: no answer from 127.0.0.1 for 1 second.");
        }
    }
}

TEST(RecorderSim, Faults) {
    {
        // Every reply after the login preceded by a cut-short copy: the login still works, and
        // the first part of the server information that cannot be read (from version 35 the
        // channel names) ends the wait for it at once; the good copy behind it is not waited for.
        sim::ServerOptions o;
        o.malformed = true;
        o.delayMs = 20;
        Sim sim(o);
        ScriptedUserPort user;
        ConnectionManager transport(fastTransport());
        HeadlessConnection c(transport, user);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(c.open(sim.request(), 10s));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_EQ(c.error(), kTextUnreadableChannels);
    }
    {
        // The recorder drops the link after answering the channel names (the third message).
        sim::ServerOptions o;
        o.dropAfter = 3;
        Sim sim(o);
        ScriptedUserPort user;
        ConnectionManager transport(fastTransport());
        HeadlessConnection c(transport, user);
        EXPECT_FALSE(c.open(sim.request(), 10s));
        EXPECT_EQ(c.error(), "recorder-sim (127.0.0.1) is closed by remote site!");
    }
}
