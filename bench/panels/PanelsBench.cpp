// bench_panels [seconds] [channels] [folder] [sync]: plays one generated 704 x 480 MPEG-4
// recording at 25 fps in up to 16 panels at once for `seconds` (default 20) and reports the
// process's CPU share of the machine, the frames shown against the frames that fell due, and the
// cost of each step a frame takes. With "sync" the channels play in step on one clock, and the
// run also reports the processor time per shown frame against a plain single-threaded ffmpeg
// decode of the same file in the same run, and the largest difference between two panels:
// in frame times, in frames, and in real time against the clock (the recording pauses 1.5 s
// halfway, so two panels a frame apart there differ by 1.5 s of frame time).
// Run under Xvfb (or QT_QPA_PLATFORM=offscreen).

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "client/FrameSlot.h"
#include "client/Notifications.h"
#include "media/AviReader.h"
#include "media/Placement.h"
#include "recordings/playback/LocalChannel.h"
#include "recordings/playback/SyncGroup.h"
#include "sim/Generate.h"
#include "ui/panels/ChannelView.h"

using namespace fsv;
namespace fs = std::filesystem;

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double childCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int64_t msOfDay(const SystemTime& t) {
    return ((int64_t(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 + t.milliseconds;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int channels = std::clamp(argc > 2 ? std::atoi(argv[2]) : 16, 1, 16);
    const fs::path dir = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_panels";
    const bool sync = argc > 4 && std::strcmp(argv[4], "sync") == 0;

    // One recording of 704 x 480 MS-MPEG-4 v2 at 25 fps, a little longer than the run.
    fs::path file;
    if (fs::exists(dir / "Cam02"))
        for (auto& e : fs::recursive_directory_iterator(dir / "Cam02"))
            if (e.path().extension() == ".avi") file = e.path();
    if (file.empty()) {
        sim::GenerateOptions o;
        o.cameras = 2;
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = seconds + 5;
        o.framesPerSecond = 25;
        o.audioChannels = 0;
        std::string error;
        if (!sim::generateRecordings(dir, o, &error)) {
            std::fprintf(stderr, "cannot generate: %s\n", error.c_str());
            return 1;
        }
        for (auto& e : fs::recursive_directory_iterator(dir / "Cam02"))
            if (e.path().extension() == ".avi") file = e.path();
    }
    media::AviReader reader;
    const int count = reader.open(file, true);
    std::vector<int64_t> stamps(count);
    SystemTime t0{};
    reader.readTimeStamp(0, t0);
    for (int i = 0; i < count; ++i) {
        SystemTime t = t0;
        reader.readTimeStamp(i, t);
        stamps[i] = msOfDay(t) - msOfDay(t0);
    }
    auto due = [&](int64_t ms) {
        return int(std::upper_bound(stamps.begin(), stamps.end(), ms) - stamps.begin());
    };
    std::printf("recording: %s, %d frames, %.1f s, %dx%d\n", file.c_str(), count,
                stamps.back() / 1000.0, reader.videoFormat()->width, reader.videoFormat()->height);
    // The baseline of this run: a plain decode of the same file on one thread.
    double ffmpegPerFrame = 0;
    if (sync) {
        const double before = childCpuSeconds();
        const std::string cmd =
            "ffmpeg -nostdin -v error -threads 1 -i '" + file.string() + "' -f null - 2>/dev/null";
        if (std::system(cmd.c_str()) == 0)
            ffmpegPerFrame = (childCpuSeconds() - before) * 1000 / count;
        std::printf("ffmpeg -threads 1 -f null: %.3f ms CPU per frame\n", ffmpegPerFrame);
    }

    // The panels playing.
    client::FrameSlots slots(16);
    ui::ChannelView view(slots);
    client::NotificationQueue queue([&] {
        QMetaObject::invokeMethod(
            &view,
            [&] {
                queue.drain([&](client::Notification& n) {
                    if (auto* f = std::get_if<client::FrameReady>(&n)) view.frameReady(f->panel);
                });
            },
            Qt::QueuedConnection);
    });
    client::SlotDisplay display(slots, queue);
    view.setChannelsPerPage(16);
    view.resize(1024, 768);
    view.show();
    std::vector<std::unique_ptr<playback::LocalChannel>> players;
    for (int i = 0; i < channels; ++i) {
        playback::LocalChannel::Options o;
        o.sink = &display;
        o.choosePosition = [i] { return i; };
        auto p = std::make_unique<playback::LocalChannel>(o);
        p->attach(i);
        view.panel(i)->setShowing(true);
        players.push_back(std::move(p));
    }
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (auto& p : players) p->start(file, true);
    // In step: every channel follows one clock from the first frame on, once all have opened.
    playback::SystemClock ticks;
    playback::SyncGroup group(ticks);
    if (sync) {
        for (auto& p : players)
            while (p->loading()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::vector<playback::LocalChannel*> all;
        for (auto& p : players) all.push_back(p.get());
        for (auto& p : players) p->setPaused(true);
        group.start(*players[0], all);
        group.command(*players[0], playback::PlayCommand::First);
        // Every panel on the first frame before the clock runs.
        for (auto& p : players)
            for (int i = 0; i < 2000 && p->currentFrame() != 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        group.command(*players[0], playback::PlayCommand::Play);
    }
    // When each channel showed its first frame: its frames fall due from then on.
    std::vector<qint64> firstShown(channels, -1);
    int64_t spread = 0;  // the largest difference between two panels' frame times
    int64_t skew = 0;    // the same against the clock, in real time
    int framesApart = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (int i = 0; i < channels; ++i)
            if (firstShown[i] < 0 && players[i]->framesShown() > 0) firstShown[i] = wall.elapsed();
        if (!sync) return;
        int64_t lo = INT64_MAX, hi = INT64_MIN;
        for (auto& p : players) {
            const int64_t t = playback::stampMs(p->currentTime());
            lo = std::min(lo, t);
            hi = std::max(hi, t);
        }
        spread = std::max(spread, hi - lo);
        // Against the clock: how long each panel has owed the clock its next frame (0 while it
        // shows the frame due). Frame times jump where the recording pauses, so two panels one
        // frame apart can differ by much more than a frame period in frame time; this measures
        // the real time between what two panels show.
        const auto times = players[0]->frameTimes();
        if (!times || !group.clock().playing()) return;
        const int64_t now = group.clock().now();
        const int due = playback::frameAtOrBefore(*times, now);
        int64_t late = INT64_MIN, early = INT64_MAX;
        int first = INT_MAX, last = INT_MIN;
        for (auto& p : players) {
            const int shown = int(p->currentFrame());
            int64_t owed = 0;
            if (shown < due)
                owed = now - (*times)[size_t(shown) + 1];
            else if (shown > due)
                owed = now - (*times)[size_t(shown)];  // shown before the clock read: negative
            late = std::max(late, owed);
            early = std::min(early, owed);
            first = std::min(first, shown);
            last = std::max(last, shown);
        }
        skew = std::max(skew, late - early);
        framesApart = std::max(framesApart, last - first);
    });
    watch.start(2);
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, &QApplication::quit);
    app.exec();
    const qint64 endMs = wall.elapsed();
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    uint64_t shown = 0, painted = 0;
    for (int i = 0; i < channels; ++i) {
        shown += std::min<uint64_t>(players[i]->framesShown(), uint64_t(count));
        painted += view.panel(i)->picturesPainted();
    }
    group.stop();
    players.clear();
    int dueAll = 0;
    for (int i = 0; i < channels; ++i)
        if (firstShown[i] >= 0) dueAll += due(endMs - firstShown[i]);
    const double cores = std::thread::hardware_concurrency();
    std::printf("run: %d channels, %.1f s wall, %.1f s CPU = %.1f %% of %g cores\n", channels,
                elapsed, cpu, 100 * cpu / elapsed / cores, cores);
    std::printf("frames due %d, shown by the players %llu (%.2f %%), painted %llu (%.2f %%)\n",
                dueAll, (unsigned long long)shown, 100.0 * double(shown) / dueAll,
                (unsigned long long)painted, 100.0 * double(painted) / dueAll);
    if (sync && shown > 0) {
        const double perShown = cpu * 1000 / double(shown);
        std::printf(
            "in step: %.3f ms CPU per shown frame = %.2fx the plain decode; largest "
            "difference between two panels' frame times %lld ms (%d frames apart), against the "
            "clock %lld ms\n",
            perShown, ffmpegPerFrame > 0 ? perShown / ffmpegPerFrame : 0.0, (long long)spread,
            framesApart, (long long)skew);
    }

    // Where a frame's time goes, one step at a time on this thread: the decode alone (the
    // picture kept by reference), the one conversion into a slot at the panel's size, the old
    // way's 24-bit picture and its conversion at the picture's size, and the paint.
    const int n = std::min(count, 250);
    QElapsedTimer t;
    media::AviReader r2;
    r2.open(file, true);
    r2.setPictureFrames(true);
    t.start();
    for (int i = 0; i < n; ++i) r2.getPicture(i);
    const double decodeMs = t.nsecsElapsed() / 1e6 / n;
    const auto picture = r2.getPicture(n - 1);
    const QSize panelSize = view.panel(0)->size();
    client::FrameSlot slot;
    slot.setViewSize(panelSize.width(), panelSize.height());
    t.restart();
    for (int i = 0; i < n; ++i) slot.put(picture);
    const double convertMs = t.nsecsElapsed() / 1e6 / n;
    client::FrameSlot fullSize;
    const auto bits = picture->bottomUp24();
    t.restart();
    for (int i = 0; i < n; ++i) picture->bottomUp24();
    const double old24Ms = t.nsecsElapsed() / 1e6 / n;
    t.restart();
    for (int i = 0; i < n; ++i) fullSize.putBottomUp24(picture->width(), picture->height(), bits);
    const double old32Ms = t.nsecsElapsed() / 1e6 / n;
    QImage target(panelSize, QImage::Format_RGB32);
    double paintMs = 0;
    slot.takeNewest([&](const client::Picture& p) {
        QPainter painter(&target);
        QElapsedTimer pt;
        pt.start();
        for (int i = 0; i < n; ++i)
            ui::DisplayPanel::render(painter, panelSize, &p, QStringLiteral("1. Local File"),
                                     false);
        paintMs = pt.nsecsElapsed() / 1e6 / n;
    });
    const double perSecond = 25.0 * channels;
    std::printf(
        "per frame: decode (libavcodec, picture by reference) %.3f ms, conversion into the slot "
        "at %dx%d %.3f ms, paint %.3f ms; the old two steps at the picture's size: 24-bit %.3f "
        "ms + BGRX %.3f ms\n",
        decodeMs, panelSize.width(), panelSize.height(), convertMs, paintMs, old24Ms, old32Ms);
    std::printf("at %g frames/s: decode %.1f %%, conversion %.1f %%, paint %.1f %% of one core\n",
                perSecond, decodeMs * perSecond / 10, convertMs * perSecond / 10,
                paintMs * perSecond / 10);
    return 0;
}
