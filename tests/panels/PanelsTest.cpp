// The display panels on the real widgets, offscreen: local files playing in panels, steps that
// show exactly the decoded frame, and a burst of pictures of which the panel shows the last.

#include <QPainter>
#include <QtTest>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "ReferenceFrame.h"
#include "client/FrameSlot.h"
#include "client/Notifications.h"
#include "recordings/playback/LocalChannel.h"
#include "sim/Generate.h"
#include "ui/panels/ChannelView.h"
#include "ui/panels/Snapshot.h"

using namespace fsv;

namespace {

// What the panel looks like with `picture` on it, drawn the same way off screen.
QImage expectedPanel(const ui::DisplayPanel& panel, const client::Picture& picture) {
    QImage out(panel.size(), QImage::Format_RGB32);
    QPainter painter(&out);
    ui::DisplayPanel::render(painter, panel.size(), &picture, panel.caption(), panel.active());
    return out;
}

QImage grabbed(ui::DisplayPanel& panel) {
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class PanelsTest : public QObject {
    Q_OBJECT

    std::filesystem::path mpeg4_, mjpeg_;

  private Q_SLOTS:
    void initTestCase() {
        const auto dir = std::filesystem::path(FSV_BINARY_DIR) / "test-panels";
        std::filesystem::remove_all(dir);
        sim::GenerateOptions o;
        o.cameras = 2;
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = 3;
        o.audioChannels = 0;
        std::string error;
        QVERIFY2(sim::generateRecordings(dir, o, &error), error.c_str());
        mjpeg_ = playback::test::firstAvi(dir / "Cam01");
        mpeg4_ = playback::test::firstAvi(dir / "Cam02");
        QVERIFY(!mjpeg_.empty() && !mpeg4_.empty());
    }

    void layoutAndCaptions() {
        client::FrameSlots slots(16);
        ui::ChannelView view(slots);
        view.resize(800, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const struct { int perPage, side; } layouts[] = {{1, 1}, {4, 2}, {9, 3}, {16, 4}, {5, 3}};
        for (auto l : layouts) {
            view.setChannelsPerPage(l.perPage);
            QCoreApplication::processEvents();
            QCOMPARE(view.channelsPerPage(), l.side * l.side);
            for (int i = 0; i < 16; ++i) QCOMPARE(view.panel(i)->isVisible(), i < l.side * l.side);
            QVERIFY(std::abs(view.panel(0)->width() - 800 / l.side) < 4);
        }
        // 17 channels on pages of 16: channel 17 (index 16) shows only on the second page.
        view.setChannelsPerPage(16);
        view.setPage(0);
        QCOMPARE(view.pageCount(17), 2);
        QCOMPARE(view.panelOfChannel(16), -1);
        view.setPage(1);
        QCOMPARE(view.panelOfChannel(16), 0);
        view.setChannelsPerPage(4);  // keeps channel 16 on show
        QCOMPARE(view.page(), 4);
        QCOMPARE(view.panelOfChannel(16), 0);

        QSignalSpy active(&view, &ui::ChannelView::activePanelChanged);
        QTest::mouseClick(view.panel(2), Qt::LeftButton);
        QCOMPARE(view.activePanel(), 2);
        QVERIFY(view.panel(2)->active() && !view.panel(0)->active());
        QCOMPARE(active.count(), 1);
        QTest::mouseClick(view.panel(12), Qt::LeftButton);  // hidden on a page of 4
        QCOMPARE(view.activePanel(), 2);

        ui::PanelCaptionParts parts;
        QCOMPARE(ui::streamCaption(parts, 2, "dvr", "cam02"), QString("3. dvr cam02"));
        parts = {true, false, false};
        QCOMPARE(ui::streamCaption(parts, 2, "dvr", "cam02"), QString("3"));
        parts = {false, true, false};
        QCOMPARE(ui::streamCaption(parts, 2, "dvr", "cam02"), QString(" dvr"));
    }

    // Two files play in two panels; paused, a go-to and single steps show exactly the decoded
    // frame; the last frame holds at the end.
    void twoLocalFilesPlayAndStep() {
        client::FrameSlots slots(16);
        ui::ChannelView view(slots);
        client::NotificationQueue queue([&] {
            QMetaObject::invokeMethod(
                &view,
                [&] {
                    queue.drain([&](client::Notification& n) {
                        if (auto* f = std::get_if<client::FrameReady>(&n))
                            view.frameReady(f->panel);
                    });
                },
                Qt::QueuedConnection);
        });
        client::SlotDisplay display(slots, queue);
        view.resize(800, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        auto open = [&](const std::filesystem::path& file, int position) {
            playback::LocalChannel::Options o;
            o.sink = &display;
            o.choosePosition = [position] { return position; };
            auto ch = std::make_unique<playback::LocalChannel>(o);
            ch->attach(position);
            view.panel(position)->setShowing(true);
            ch->start(file, true);
            return ch;
        };
        auto a = open(mpeg4_, 0);
        auto b = open(mjpeg_, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!a->loading() && !b->loading(), 30000);
        for (auto* ch : {a.get(), b.get()})
            view.panel(ch->channelPosition())->setCaption(QString::fromStdString(ch->caption()));
        QCOMPARE(view.panel(0)->caption(), QString("1. Local File"));
        // Both play: their panels keep painting new pictures.
        const uint64_t a0 = view.panel(0)->paintedSerial(), b0 = view.panel(1)->paintedSerial();
        QTRY_VERIFY_WITH_TIMEOUT(
            view.panel(0)->paintedSerial() > a0 + 2 && view.panel(1)->paintedSerial() > b0 + 2,
            30000);

        a->setPaused(true);
        b->setPaused(true);
        auto panelShows = [&](ui::DisplayPanel& panel, const std::filesystem::path& file, int n) {
            const auto reference =
                playback::test::referenceFrame(file, n, panel.width(), panel.height());
            if (reference.width == 0) return false;
            const QImage expected = expectedPanel(panel, reference);
            return grabbed(panel) == expected;
        };
        QVERIFY(a->goTo(9));
        QTRY_VERIFY_WITH_TIMEOUT(a->currentFrame() == 9 && panelShows(*view.panel(0), mpeg4_, 9),
                                 30000);
        a->command(playback::LocalChannel::kStepForward);
        QTRY_VERIFY_WITH_TIMEOUT(a->currentFrame() == 10 && panelShows(*view.panel(0), mpeg4_, 10),
                                 30000);
        a->command(playback::LocalChannel::kStepBack);
        QTRY_VERIFY_WITH_TIMEOUT(a->currentFrame() == 9 && panelShows(*view.panel(0), mpeg4_, 9),
                                 30000);
        QVERIFY(!panelShows(*view.panel(0), mpeg4_, 10));  // the comparison tells frames apart

        b->command(playback::LocalChannel::kToLast);
        const int last = b->frameCount() - 1;
        QTRY_VERIFY_WITH_TIMEOUT(b->atEnd() && panelShows(*view.panel(1), mjpeg_, last), 30000);
        QVERIFY(b->paused());
        a.reset();
        b.reset();
        QCoreApplication::processEvents();
    }

    // A paused channel's picture saved with its caption and time lines: a 24-bit BMP that Qt
    // reads back at the frame's size, changed only where the text is.
    void snapshotOfAPausedChannel() {
        SystemTime t;
        t.hour = 9, t.minute = 5, t.second = 3, t.milliseconds = 7;
        QCOMPARE(ui::frameTimeText(t), QString("09:05:03.007"));
        QCOMPARE(ui::snapshotCaption(false, "dvr", "cam02"), QString("dvr - cam02"));

        playback::LocalChannel ch({});
        QVERIFY(!ch.pausedFrame());
        ch.start(mjpeg_, true);
        QTRY_VERIFY_WITH_TIMEOUT(!ch.loading(), 30000);
        QVERIFY(!ch.pausedFrame());  // only while paused
        ch.setPaused(true);
        QTRY_VERIFY_WITH_TIMEOUT(ch.pausedFrame().has_value(), 30000);
        const auto frame = *ch.pausedFrame();

        const auto file = std::filesystem::path(FSV_BINARY_DIR) / "test-panels" / "snap.bmp";
        const QString caption = ui::snapshotCaption(true);
        const QString time = ui::frameTimeText(ch.currentTime());
        QVERIFY(ui::saveSnapshot(file, frame.header, frame.bits, caption, time));
        QCOMPARE(std::filesystem::file_size(file), uintmax_t{54 + 352 * 240 * 3});
        QImage saved(QString::fromStdString(file.string()), "BMP");
        QVERIFY(!saved.isNull());
        QCOMPARE(saved.size(), QSize(352, 240));
        QCOMPARE(saved.depth(), 32);  // Qt's own format; the file's bits are 24-bit (size above)

        const QImage plain = ui::snapshotImage(frame.header, frame.bits, {}, {});
        const QImage expected = ui::snapshotImage(frame.header, frame.bits, caption, time);
        QCOMPARE(saved.convertToFormat(QImage::Format_RGB32), expected);
        int textPixels = 0, otherChanges = 0;
        const int textTop = 240 - 2 * QFontMetrics(QFont()).height();
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 352; ++x) {
                const bool changed = saved.pixel(x, y) != plain.pixel(x, y);
                if (y >= textTop && x < 200)
                    textPixels += changed;
                else
                    otherChanges += changed;
            }
        QVERIFY2(textPixels > 50, qPrintable(QString::number(textPixels)));
        QCOMPARE(otherChanges, 0);
        // Too few bits for the header: nothing is written.
        QVERIFY(!ui::saveSnapshot(file.parent_path() / "short.bmp", frame.header,
                                  std::span(frame.bits).first(100), caption, time));
        QVERIFY(!std::filesystem::exists(file.parent_path() / "short.bmp"));
    }

    // Pictures published faster than the UI takes them: the panel shows the last one.
    void burstShowsTheLast() {
        client::FrameSlots slots(16);
        ui::ChannelView view(slots);
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* panel = view.panel(0);
        panel->setShowing(true);
        bool allPut = true;
        std::thread producer([&] {
            // Pictures of one colour each, bottom-up 24-bit: picture k is blue k.
            std::vector<uint8_t> bits(320 * 3 * 240);
            for (int k = 1; k <= 200; ++k) {
                for (size_t i = 0; i < bits.size(); i += 3) bits[i] = uint8_t(k);
                allPut = allPut && slots.slot(0)->putBottomUp24(320, 240, bits).has_value();
            }
        });
        producer.join();
        QVERIFY(allPut);
        view.frameReady(0);
        const QImage shown = grabbed(*panel);
        const QRgb centre = shown.pixel(panel->width() / 2, panel->height() / 2);
        QVERIFY2(std::abs(qBlue(centre) - 200) <= 2 && qRed(centre) <= 2,  // the scaler's rounding
                 qPrintable(QString::number(centre, 16)));
        QCOMPARE(panel->paintedSerial(), uint64_t{200});
    }
    // With FSV_SCREENSHOTS set: the view playing generated recordings on pages of 4 and 16.
    void screenshots() {
        const char* shots = std::getenv("FSV_SCREENSHOTS");
        if (!shots) QSKIP("FSV_SCREENSHOTS not set");
        const auto dir = std::filesystem::path(FSV_BINARY_DIR) / "test-panels-shots";
        std::filesystem::remove_all(dir);
        sim::GenerateOptions o;
        o.cameras = 3;
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = 4;
        o.audioChannels = 0;
        std::string error;
        QVERIFY2(sim::generateRecordings(dir, o, &error), error.c_str());
        std::vector<std::filesystem::path> files;
        for (const char* cam : {"Cam01", "Cam02", "Cam03"})
            files.push_back(playback::test::firstAvi(dir / cam));

        for (int perPage : {4, 16}) {
            client::FrameSlots slots(16);
            ui::ChannelView view(slots);
            client::NotificationQueue queue([&] {
                QMetaObject::invokeMethod(
                    &view,
                    [&] {
                        queue.drain([&](client::Notification& n) {
                            if (auto* f = std::get_if<client::FrameReady>(&n))
                                view.frameReady(f->panel);
                        });
                    },
                    Qt::QueuedConnection);
            });
            client::SlotDisplay display(slots, queue);
            view.setChannelsPerPage(perPage);
            view.resize(perPage == 4 ? 800 : 1024, perPage == 4 ? 600 : 720);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            std::vector<std::unique_ptr<playback::LocalChannel>> channels;
            for (int i = 0; i < perPage; ++i) {
                playback::LocalChannel::Options lo;
                lo.sink = &display;
                lo.choosePosition = [i] { return i; };
                auto ch = std::make_unique<playback::LocalChannel>(lo);
                ch->attach(i);
                view.panel(i)->setShowing(true);
                ch->start(files[i % files.size()], true);
                channels.push_back(std::move(ch));
            }
            QTRY_VERIFY_WITH_TIMEOUT(std::all_of(channels.begin(), channels.end(),
                                                 [](auto& c) { return !c->loading(); }),
                                     30000);
            for (int i = 0; i < perPage; ++i) {
                channels[i]->setPaused(true);
                channels[i]->goTo(uint32_t(3 * i % channels[i]->frameCount()));
                view.panel(i)->setCaption(QString::fromStdString(channels[i]->caption()));
            }
            view.setActivePanel(1);
            QTRY_VERIFY_WITH_TIMEOUT(std::all_of(channels.begin(), channels.end(),
                                                 [i = 0](auto& c) mutable {
                                                     const int n = i++;
                                                     return c->currentFrame() ==
                                                            uint32_t(3 * n % c->frameCount());
                                                 }),
                                     30000);
            QTest::qWait(200);
            const QString name = QStringLiteral("%1/panels-%2.png").arg(shots).arg(perPage);
            QVERIFY(view.grab().save(name));
            channels.clear();
        }
    }
};

QTEST_MAIN(PanelsTest)
#include "PanelsTest.moc"
