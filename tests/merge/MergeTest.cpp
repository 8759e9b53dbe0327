// The clip component: its exports, its dialog driven like a user would, and the clips it writes
// checked with ffprobe.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "ReferenceFrame.h"
#include "media/AviReader.h"
#include "merge/ClipWriter.h"
#include "merge/KtMerge.h"
#include "sim/Generate.h"

using namespace fsv;
namespace fs = std::filesystem;

namespace {

std::mutex callsMutex;
std::vector<std::pair<int, int>> calls;
void onMerge(int32_t value, int32_t state) {
    std::lock_guard lock(callsMutex);
    calls.emplace_back(value, state);
}

std::string run(const std::string& command) {
    std::string out;
    std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

// The video packets' flags as ffprobe reads them ("K__", "___", ...), one per packet; empty
// when ffprobe reports an error.
QStringList probedVideoPackets(const fs::path& file) {
    const auto out = QString::fromStdString(
        run("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" +
            file.string() + "'"));
    QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    for (const auto& l : lines)
        if (!l.contains('_') && !l.startsWith('K')) return {};
    return lines;
}

}  // namespace

class MergeTest : public QObject {
    Q_OBJECT
    fs::path dir_, recording_;

  private Q_SLOTS:
    void initTestCase() {
        dir_ = fs::path(FSV_BINARY_DIR) / "test-merge";
        fs::remove_all(dir_);
        sim::GenerateOptions o;
        o.cameras = 2;
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = 6;
        o.audioChannels = 0;
        std::string error;
        QVERIFY2(sim::generateRecordings(dir_, o, &error), error.c_str());
        recording_ = playback::test::firstAvi(dir_ / "Cam02");  // MPEG-4 with inter frames
        QVERIFY(!recording_.empty());
    }

    // A range that starts between key frames starts at the key frame before it; time stamps
    // and frame data are copied unchanged.
    void clipStartsAtAKeyFrame() {
        media::AviReader source;
        const int count = source.open(recording_);
        QVERIFY(count > 30);
        int first = -1;
        for (int i = 1; i < count - 10 && first < 0; ++i)
            if (!source.isKeyFrame(i)) first = i;
        QVERIFY2(first > 0, "the recording has inter frames");
        const int key = source.keyFrameAtOrBefore(first);
        const auto clip = dir_ / "range.avi";
        std::vector<int> progress;
        const auto r = merge::writeClip(recording_, clip, first, first + 8, [&](int p) {
            progress.push_back(p);
            return true;
        });
        QVERIFY2(r.ok, r.error.c_str());
        QCOMPARE(r.firstFrame, key);
        QCOMPARE(r.frames, first + 8 - key + 1);
        QCOMPARE(progress.back(), 100);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));

        const QStringList packets = probedVideoPackets(clip);
        QCOMPARE(packets.size(), r.frames);
        QVERIFY(packets.first().startsWith('K'));
        media::AviReader copy;
        QCOMPARE(copy.open(clip), r.frames);
        for (int i = 0; i < r.frames; ++i) {
            SystemTime a{}, b{};
            QVERIFY(source.readTimeStamp(key + i, a) && copy.readTimeStamp(i, b));
            QVERIFY(a == b);
            QCOMPARE(copy.videoSample(i), source.videoSample(key + i));
        }

        // Bad ranges and files write nothing.
        QVERIFY(!merge::writeClip(recording_, dir_ / "bad1.avi", 10, 5).ok);
        QVERIFY(!merge::writeClip(dir_ / "missing.avi", dir_ / "bad2.avi", 0, 5).ok);
        QVERIFY(
            !merge::writeClip(recording_, dir_ / "bad3.avi", 0, 5, [](int) { return false; }).ok);
        QVERIFY(!fs::exists(dir_ / "bad1.avi") && !fs::exists(dir_ / "bad3.avi"));
    }

    // The exports as the viewer uses them, with the dialog driven through its controls.
    void dialogWritesTheChosenRange() {
        QCOMPARE(KtMerge_Create(nullptr, onMerge), 1);
        QCOMPARE(KtMerge_IsNotEnd(), 0);
        QCOMPARE(KtMerge_DoModal(0), 0);  // no file yet
        std::ofstream(dir_ / "junk.avi") << "junk";
        QCOMPARE(KtMerge_AddAVideoFile((dir_ / "junk.avi").c_str()), 0);
        {
            // A FIFO is refused at once. Should the open wait for a writer, the helper lets it
            // go after a while, so that the test fails rather than hangs.
            const auto fifo = dir_ / "fifo.avi";
            QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
            std::atomic<bool> done{false};
            std::thread rescue([&] {
                for (int k = 0; k < 100 && !done; ++k)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (!done) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
            });
            QElapsedTimer took;
            took.start();
            const int added = KtMerge_AddAVideoFile(fifo.c_str());
            const qint64 ms = took.elapsed();
            done = true;
            rescue.join();
            QCOMPARE(added, 0);
            QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
        }
        QCOMPARE(KtMerge_Authority("Guest", ""), 1);
        QCOMPARE(KtMerge_AddAVideoFile(recording_.c_str()), 1);

        media::AviReader source;
        source.open(recording_);
        int key = -1;
        for (int i = 5; i < source.frameCount() && key < 0; ++i)
            if (source.isKeyFrame(i)) key = i;
        if (key < 0) key = 0;
        const auto clip = dir_ / "dialog clip.avi";
        const int frames = 12;

        bool driven = false;
        QTimer driver;
        driver.setInterval(20);
        connect(&driver, &QTimer::timeout, this, [&] {
            auto* dialog = QApplication::activeModalWidget();
            if (!dialog || driven) return;
            driven = true;
            dialog->findChild<QSpinBox*>("firstFrame")->setValue(key);
            dialog->findChild<QSpinBox*>("lastFrame")->setValue(key + frames - 1);
            dialog->findChild<QLineEdit*>("clipPath")
                ->setText(QString::fromStdString(clip.string()));
            if (const char* shots = std::getenv("FSV_SCREENSHOTS")) {
                dialog->resize(520, 480);
                QCoreApplication::processEvents();
                dialog->grab().save(QString(shots) + "/clip-dialog.png");
            }
            QTest::mouseClick(dialog->findChild<QPushButton*>("save"), Qt::LeftButton);
        });
        driver.start();
        QCOMPARE(KtMerge_DoModal(0), 1);
        driver.stop();
        QVERIFY(driven);
        QCOMPARE(KtMerge_IsNotEnd(), 0);
        {
            std::lock_guard lock(callsMutex);
            QVERIFY(!calls.empty());
            QCOMPARE(calls.back(), std::make_pair(100, 1));
            for (size_t i = 0; i + 1 < calls.size(); ++i) QCOMPARE(calls[i].second, 0);
        }
        const QStringList packets = probedVideoPackets(clip);
        QCOMPARE(packets.size(), frames);
        QVERIFY(packets.first().startsWith('K'));
        QCOMPARE(KtMerge_DoModal(0), 0);  // the file was used up
        QCOMPARE(KtMerge_Destroy(), 1);
        QCOMPARE(KtMerge_AddAVideoFile(recording_.c_str()), 0);  // no component
    }
};

QTEST_MAIN(MergeTest)
#include "MergeTest.moc"
