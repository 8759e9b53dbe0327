// A kept moment: a clip per camera around the clock and a manifest whose hashes check.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ReferenceFrame.h"
#include "media/AviReader.h"
#include "merge/Moment.h"
#include "recordings/playback/SyncClock.h"
#include "sim/Generate.h"

using namespace fsv;
namespace fs = std::filesystem;

namespace {

std::vector<int64_t> stampsOf(const fs::path& file) {
    std::vector<int64_t> out;
    media::AviReader r;
    const int n = r.open(file);
    SystemTime first{};
    r.readTimeStamp(0, first);
    for (int i = 0; i < n; ++i) {
        SystemTime t = first;
        r.readTimeStamp(i, t);
        out.push_back(playback::stampMs(t));
    }
    return out;
}

// sha256sum's answer, apart from our own code.
std::string sha256sum(const fs::path& file) {
    std::string out;
    if (FILE* p = ::popen(("sha256sum '" + file.string() + "'").c_str(), "r")) {
        char buf[128] = {};
        if (std::fgets(buf, sizeof buf, p)) out = std::string(buf).substr(0, 64);
        ::pclose(p);
    }
    return out;
}

class MomentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::path(FSV_BINARY_DIR) / ("test-moment-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        sim::GenerateOptions o;
        o.cameras = 3;
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = 4;
        o.audioChannels = 0;
        o.cameraOffsetSeconds = 1;
        std::string error;
        ASSERT_TRUE(sim::generateRecordings(dir_ / "rec", o, &error)) << error;
        for (int c = 1; c <= 3; ++c) {
            merge::MomentCamera cam;
            cam.camera = format("%d. Local File", c);
            cam.source = playback::test::firstAvi(dir_ / "rec" / format("Cam%02d", c));
            cam.times = stampsOf(cam.source);
            ASSERT_GT(cam.times.size(), 20u);
            cameras_.push_back(cam);
        }
        fs::create_directories(dir_ / "out");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
    std::vector<merge::MomentCamera> cameras_;
};

TEST_F(MomentTest, ClipsAroundTheClockWithAManifestWhoseHashesCheck) {
    // Two seconds around a moment when all three record.
    const int64_t clock = cameras_[2].times[5];
    const auto r = merge::saveMomentClips(cameras_, clock, 2, dir_ / "out", "moment");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.clips.size(), 3u);
    std::ifstream in(r.manifest);
    const auto manifest = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(manifest.is_array());
    ASSERT_EQ(manifest.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const auto& m = manifest[i];
        const fs::path clip = dir_ / "out" / m["file"].get<std::string>();
        EXPECT_EQ(m["camera"], cameras_[i].camera);
        EXPECT_EQ(m["sha256"].get<std::string>(), sha256sum(clip));
        // The clip's own stamps (times of day: a clip's first text carries no date) are the
        // manifest's first and last; its last frame is the last one of the span.
        const auto stamps = stampsOf(clip);
        ASSERT_FALSE(stamps.empty());
        const auto timeOfDay = [](const std::string& s) { return s.substr(11); };
        EXPECT_EQ(timeOfDay(m["first"]), timeOfDay(merge::momentTimeText(stamps.front())));
        EXPECT_EQ(timeOfDay(m["last"]), timeOfDay(merge::momentTimeText(stamps.back())));
        const auto& all = cameras_[i].times;
        const int lastInSpan = playback::frameAtOrBefore(all, clock + 1000);
        EXPECT_EQ(timeOfDay(m["last"]), timeOfDay(merge::momentTimeText(all[size_t(lastInSpan)])));
        EXPECT_EQ(m["first"].get<std::string>().substr(0, 10), "2026-12-01");
    }

    // Before camera 3 has started: no clip of it.
    const auto early =
        merge::saveMomentClips(cameras_, cameras_[0].times[2], 1, dir_ / "out", "early");
    ASSERT_TRUE(early.ok) << early.error;
    EXPECT_EQ(early.clips.size(), 1u);
}

// A camera whose recording has gone: nothing is left behind, not even the clips before it.
TEST_F(MomentTest, AClipThatCannotBeWrittenFailsAndLeavesNothing) {
    cameras_[1].source = dir_ / "gone.avi";
    const auto r = merge::saveMomentClips(cameras_, cameras_[2].times[5], 2, dir_ / "out", "m");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("gone.avi"), std::string::npos) << r.error;
    EXPECT_TRUE(r.clips.empty());
    EXPECT_TRUE(fs::is_empty(dir_ / "out"));
}

}  // namespace
