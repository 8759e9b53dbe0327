#include <gtest/gtest.h>

#include <deque>
#include <future>
#include <thread>

#include "ScriptedPeer.h"
#include "net/Transport.h"

using namespace fsv::net;
using fsv::test::ScriptedPeer;
using namespace std::chrono_literals;

namespace {

// An owner that records what its connection tells it.
struct Owner {
    std::mutex mutex;
    std::vector<Bytes> messages;  // small pieces kept whole
    std::vector<uint32_t> pieceSizes;
    bool piecesIntact = true;
    uint64_t offset = 0;  // running position in a large patterned payload
    int gone = 0;
    fsv::platform::Event message{fsv::platform::Event::Reset::Auto};
    fsv::platform::Event goneEvent{fsv::platform::Event::Reset::Manual};

    static void callback(void* owner, int event, const uint8_t* data, uint32_t length) {
        auto* o = static_cast<Owner*>(owner);
        std::lock_guard lock(o->mutex);
        if (event == kEventGone) {
            ++o->gone;
            o->goneEvent.set();
            return;
        }
        o->pieceSizes.push_back(length);
        if (length <= 4096) {
            o->messages.emplace_back(data, data + length);
        } else {
            // Large payloads carry byte (offset % 251); check a few places of each piece.
            for (uint64_t i : {uint64_t{0}, uint64_t{length / 2}, uint64_t{length - 1}})
                if (data[i] != static_cast<uint8_t>((o->offset + i) % 251)) o->piecesIntact = false;
            o->offset += length;
        }
        o->message.set();
    }
    int goneCount() {
        std::lock_guard lock(mutex);
        return gone;
    }
    std::vector<Bytes> received() {
        std::lock_guard lock(mutex);
        return messages;
    }
};

TransportTiming fastTiming() {
    TransportTiming t;
    t.verdict = 300ms;
    t.keepAlive = 100ms;
    t.disconnectWait = 200ms;
    t.cancelWait = 300ms;
    return t;
}

class TransportTest : public ::testing::Test {
  protected:
    // Connects `owner` and lets the peer answer with `verdict` (or nothing when 0).
    int connectWith(Owner& owner, uint8_t verdict, const std::string& host = "127.0.0.1") {
        auto result = std::async(std::launch::async, [&] {
            return manager.connect(&owner, host, peer.port(), Owner::callback);
        });
        EXPECT_TRUE(peer.accept());
        if (verdict) peer.writeControl(verdict);
        return result.get();
    }

    // Owners outlive the manager: its destruction still reports to them.
    Owner& newOwner() { return owners.emplace_back(); }

    std::deque<Owner> owners;
    ScriptedPeer peer;
    ConnectionManager manager{fastTiming()};
};

}  // namespace

TEST_F(TransportTest, VerdictDecidesTheConnectResult) {
    struct Case {
        uint8_t verdict;
        int result;
    };
    for (Case c : {Case{kFrameAccepted, kConnectAccepted}, Case{kFrameRefused, kConnectRefused},
                   Case{0, kConnectFailed}, Case{kFrameCloseAck, kConnectFailed}}) {
        Owner& owner = newOwner();
        EXPECT_EQ(connectWith(owner, c.verdict), c.result) << int(c.verdict);
        if (c.result != kConnectAccepted) {
            EXPECT_TRUE(peer.waitClosed()) << "a connection without acceptance is dropped";
            EXPECT_EQ(owner.goneCount(), 0) << "an owner that was never accepted hears nothing";
        } else {
            EXPECT_EQ(manager.disconnect(&owner), 1);
            EXPECT_EQ(owner.goneCount(), 1);
        }
    }
}

TEST_F(TransportTest, NobodyListeningFails) {
    // A port that was free a moment ago.
    fsv::test::LoopbackListener gone;
    ASSERT_TRUE(gone.listening());
    gone.close();
    Owner& owner = newOwner();
    EXPECT_EQ(manager.connect(&owner, "127.0.0.1", gone.port(), Owner::callback), kConnectFailed);
    EXPECT_EQ(owner.goneCount(), 0);
}

TEST_F(TransportTest, HostNamesAreResolved) {
    Owner& owner = newOwner();
    EXPECT_EQ(connectWith(owner, kFrameAccepted, "localhost"), kConnectAccepted);
}

TEST_F(TransportTest, CancelAbandonsAConnectWithoutVerdict) {
    TransportTiming slow = fastTiming();
    slow.verdict = 20s;
    ConnectionManager m(slow);
    Owner& owner = newOwner();
    fsv::platform::Event cancel(fsv::platform::Event::Reset::Manual);
    auto start = std::chrono::steady_clock::now();
    auto result = std::async(std::launch::async, [&] {
        return m.connect(&owner, "127.0.0.1", peer.port(), Owner::callback, &cancel);
    });
    ASSERT_TRUE(peer.accept());
    cancel.set();
    EXPECT_EQ(result.get(), kConnectFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(owner.goneCount(), 0);
}

TEST_F(TransportTest, DataFramesGoOutWholeAndComeInWhole) {
    Owner& owner = newOwner();
    ASSERT_EQ(connectWith(owner, kFrameAccepted), kConnectAccepted);

    const Bytes out{4, 5, 6};
    EXPECT_EQ(manager.send(&owner, out.data(), 3), 1);
    EXPECT_EQ(peer.read(8), (Bytes{0, 3, 0, 0, 0, 4, 5, 6}));

    // A header split across two reads is completed before its length is read.
    peer.write({0, 2});
    std::this_thread::sleep_for(50ms);
    peer.write({0, 0, 0, 'h', 'i'});
    ASSERT_TRUE(owner.message.wait(5s));
    EXPECT_EQ(owner.received().back(), (Bytes{'h', 'i'}));

    // A close request and a message in one write: the request is answered with 2, the link
    // stays, and the message behind it is not lost.
    Bytes both = encodeFrameHeader(kFrameCloseRequest, 0);
    Bytes msg = ScriptedPeer::frame({9});
    both.insert(both.end(), msg.begin(), msg.end());
    peer.write(both);
    auto ack = peer.readFrame();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->type, kFrameCloseAck);
    ASSERT_TRUE(owner.message.wait(5s));
    EXPECT_EQ(owner.received().back(), Bytes{9});
    EXPECT_EQ(manager.send(&owner, out.data(), 3), 1) << "data after a control frame is data";
    auto f = peer.readFrame();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, kFrameData);
    EXPECT_EQ(f->payload, out);

    // A data header of length 0 ends the connection.
    peer.write({0, 0, 0, 0, 0});
    EXPECT_TRUE(owner.goneEvent.wait(5s));
    EXPECT_EQ(owner.goneCount(), 1);
    EXPECT_EQ(manager.send(&owner, out.data(), 3), 0);
}

TEST_F(TransportTest, LargePayloadArrivesInPiecesOfAtMostTheDeliverySize) {
    Owner& owner = newOwner();
    ASSERT_EQ(connectWith(owner, kFrameAccepted), kConnectAccepted);
    const uint32_t total = 250'000'000;
    std::thread writer([&] {
        peer.write(encodeFrameHeader(kFrameData, total));
        Bytes chunk(251 * 4000);
        for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i % 251);
        for (uint32_t sent = 0; sent < total;) {
            uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(chunk.size()), total - sent);
            if (!peer.write(Bytes(chunk.begin(), chunk.begin() + n))) break;
            sent += n;
        }
    });
    writer.join();
    auto deadline = std::chrono::steady_clock::now() + 60s;
    std::unique_lock lock(owner.mutex);
    while (owner.offset < total && std::chrono::steady_clock::now() < deadline) {
        lock.unlock();
        owner.message.wait(100ms);
        lock.lock();
    }
    EXPECT_EQ(owner.pieceSizes, (std::vector<uint32_t>{100'000'000, 100'000'000, 50'000'000}));
    EXPECT_TRUE(owner.piecesIntact);
}

TEST_F(TransportTest, KeepAliveByteAfterSendSilence) {
    Owner& owner = newOwner();
    ASSERT_EQ(connectWith(owner, kFrameAccepted), kConnectAccepted);
    // The silence started when the connection did, somewhat before connectWith() returned, so
    // only the gap between two keep-alive bytes is measured.
    std::chrono::steady_clock::time_point last;
    for (int i = 0; i < 3; ++i) {
        auto f = peer.readFrame(5000, true);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->type, kFrameKeepAlive);
        auto now = std::chrono::steady_clock::now();
        if (i > 0) {
            EXPECT_GE(now - last, 90ms);
        }
        last = now;
    }
    // A frame restarts the silence.
    const Bytes out{1};
    ASSERT_EQ(manager.send(&owner, out.data(), 1), 1);
    auto sent = std::chrono::steady_clock::now();
    auto data = peer.readFrame(5000, true);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->type, kFrameData);
    auto next = peer.readFrame(5000, true);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->type, kFrameKeepAlive);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 90ms);
}

TEST_F(TransportTest, DisconnectSendsCloseRequestAndWaitsBriefly) {
    Owner& owner = newOwner();
    ASSERT_EQ(connectWith(owner, kFrameAccepted), kConnectAccepted);
    auto start = std::chrono::steady_clock::now();
    auto done = std::async(std::launch::async, [&] { return manager.disconnect(&owner); });
    auto req = peer.readFrame();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->type, kFrameCloseRequest);
    // No acknowledgement: the wait ends after its time-out.
    EXPECT_EQ(done.get(), 1);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 3s);
    EXPECT_EQ(owner.goneCount(), 1);
    EXPECT_EQ(manager.disconnect(&owner), 0);
}

TEST(Transport, DisconnectEndsAtTheAcknowledgement) {
    TransportTiming t = fastTiming();
    t.disconnectWait = 10s;
    ConnectionManager m(t);
    ScriptedPeer peer;
    Owner owner;
    auto r = std::async(std::launch::async, [&] {
        return m.connect(&owner, "127.0.0.1", peer.port(), Owner::callback);
    });
    ASSERT_TRUE(peer.accept());
    peer.writeControl(kFrameAccepted);
    ASSERT_EQ(r.get(), kConnectAccepted);
    auto start = std::chrono::steady_clock::now();
    auto done = std::async(std::launch::async, [&] { return m.disconnect(&owner); });
    ASSERT_TRUE(peer.readFrame());
    peer.writeControl(kFrameCloseAck);
    EXPECT_EQ(done.get(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(owner.goneCount(), 1);
}

TEST(Transport, DestroyingTheManagerReportsTheEndToEveryAcceptedOwner) {
    ScriptedPeer a, b;
    Owner oa, ob;
    {
        ConnectionManager m(fastTiming());
        for (auto [peer, owner] : {std::pair{&a, &oa}, std::pair{&b, &ob}}) {
            auto r = std::async(std::launch::async, [&, peer = peer, owner = owner] {
                return m.connect(owner, "127.0.0.1", peer->port(), Owner::callback);
            });
            ASSERT_TRUE(peer->accept());
            peer->writeControl(kFrameAccepted);
            ASSERT_EQ(r.get(), kConnectAccepted);
        }
    }
    EXPECT_EQ(oa.goneCount(), 1);
    EXPECT_EQ(ob.goneCount(), 1);
}
