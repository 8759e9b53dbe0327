#include <QTest>
#include <QTreeWidget>

#include "platform/UserPort.h"
#include "ui/Prompts.h"
#include "ui/lists/DownloadHistoryWindow.h"
#include "ui/lists/DownloadListWindow.h"
#include "ui/models/DownloadRows.h"

using namespace fsv;
using namespace fsv::ui;

class ListWindowsTest : public QObject {
    Q_OBJECT
  private slots:
    // The ratio: done ÷ total of the row's counters (bytes for whole files, type 11; frames for
    // the others), truncated; a running row without a source is 100%, a row not running 0%.
    void ratios() {
        download::WorkList work;
        const int bytes = work.addRow("a", "k", 3);
        work.setReceived(bytes, 1);
        const int frames = work.addRow("b", "k", 0);
        work.setFrames(frames, 2, 3);
        const int empty = work.addRow("c", "k", 0);
        struct Case {
            bool running;
            uint8_t type;
            int source;
            const char* shown;
        } cases[] = {
            {true, 11, bytes, "33%"},  {true, 10, frames, "66%"}, {true, 11, frames, "0%"},
            {true, 10, -1, "100%"},    {false, 11, bytes, "0%"},  {true, 10, empty, "0%"},
            {true, 11, 99, "100%"},  // the source is gone
        };
        for (auto& c : cases) {
            DownloadRow r;
            r.used = true;
            r.running = c.running;
            r.workType = c.type;
            r.source = c.source;
            QCOMPARE(DownloadRows::ratioOf(r, &work), std::string(c.shown));
        }
    }

    // Slots: a removed row frees its slot for the next one; trailing free slots are dropped;
    // nothing changes while the program shuts down.
    void slots_() {
        DownloadRows rows;
        QCOMPARE(rows.addRow("S", "1.2.3.4", "Cam", "20261201080000", "p0", 11), 0);
        QCOMPARE(rows.addRow("S", "1.2.3.4", "Cam", "20261201090000", "p1", 11), 1);
        QCOMPARE(rows.addRow("S", "1.2.3.4", "Cam", "20261201100000", "p2", 11), 2);
        rows.update(1, DownloadRows::kRemove);
        QCOMPARE(rows.rows().size(), size_t{3});
        QCOMPARE(rows.addRow("S", "1.2.3.4", "Cam", "20261201110000", "p3", 11), 1);
        QCOMPARE(rows.row(1)->eventKey, std::string("20261201110000"));
        rows.update(1, DownloadRows::kRemove);
        rows.update(2, DownloadRows::kRemove);
        QCOMPARE(rows.rows().size(), size_t{1});  // 2 and the free 1 are gone
        rows.setShuttingDown(true);
        QCOMPARE(rows.addRow("S", "", "", "", "", 11), -1);
        rows.update(0, DownloadRows::kRemove);
        QVERIFY(rows.row(0).has_value());
    }

    // The window: shown, it fills itself and runs the 2-second ratio timer; a download thread's
    // progress shows at the next tick; hidden, the timer stops. Each row keeps its event key;
    // the work name is the key's date and time in the user's locale.
    void downloadListWindow() {
        download::WorkList work;
        DownloadRows rows(&work);
        DownloadListWindow window(rows, &work);
        const int src = work.addRow("/tmp/x", "k", 1000);
        const int slot = rows.addRow("DVR", "127.0.0.1", "Gate", "20261201230509", "/tmp/x", 11);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.ratioTimerRunning());
        auto& list = window.list();
        QCOMPARE(list.topLevelItemCount(), 1);
        auto* item = list.topLevelItem(0);
        QCOMPARE(item->text(DownloadListWindow::kRatioColumn), QString("0%"));
        QCOMPARE(item->data(0, DownloadListWindow::kKeyRole).toString(),
                 QString("20261201230509"));
        QCOMPARE(item->text(3),
                 QLocale().toString(QDateTime(QDate(2026, 12, 1), QTime(23, 5, 9)),
                                    QLocale::ShortFormat));
        QCOMPARE(list.headerItem()->textAlignment(5) & Qt::AlignLeft, int(Qt::AlignLeft));
        QCOMPARE(list.columnWidth(4), 50);

        std::thread downloader([&] {
            rows.update(slot, DownloadRows::kRunning, src);
            work.setReceived(src, 250);
        });
        downloader.join();
        QTRY_COMPARE_WITH_TIMEOUT(list.topLevelItem(0)->text(DownloadListWindow::kRatioColumn),
                                  QString("25%"), 10000);
        work.setReceived(src, 600);
        QTRY_COMPARE_WITH_TIMEOUT(list.topLevelItem(0)->text(DownloadListWindow::kRatioColumn),
                                  QString("60%"), 10000);
        rows.update(slot, DownloadRows::kRemove);
        QTRY_COMPARE(list.topLevelItemCount(), 0);
        window.hide();
        QVERIFY(!window.ratioTimerRunning());
        // Rows added while hidden show when the window comes back.
        rows.addRow("DVR", "127.0.0.1", "Mic", "2026", "/tmp/y.wav", 11);
        window.show();
        QCOMPARE(list.topLevelItemCount(), 1);
        QCOMPARE(list.topLevelItem(0)->text(3), QString());  // a short key: no work name
    }

    // Double-click: ".avi" in any case opens in local playback, or says the file is playing;
    // ".wav" goes to the sound player; anything else does nothing.
    void historyOpensFiles() {
        PromptScript script;
        Prompts::setScript(&script);
        DownloadHistoryWindow window;
        std::vector<std::string> avi, wav;
        bool playing = false;
        window.openAvi = [&](const std::filesystem::path& p) { avi.push_back(p.string()); };
        window.playWav = [&](const std::filesystem::path& p) { wav.push_back(p.string()); };
        window.isPlaying = [&](const std::filesystem::path&) { return playing; };
        for (const char* p : {"/d/a.AVI", "/d/b.avi", "/d/c.wav", "/d/d.txt"})
            window.appendRow("DVR", "127.0.0.1", "Gate", "20261201080000", p);
        auto& list = window.list();
        QCOMPARE(list.topLevelItemCount(), 4);
        for (int i = 0; i < 4; ++i) window.open(list.topLevelItem(i));
        QCOMPARE(avi, (std::vector<std::string>{"/d/a.AVI", "/d/b.avi"}));
        QCOMPARE(wav, (std::vector<std::string>{"/d/c.wav"}));
        QVERIFY(script.shown.empty());
        playing = true;
        window.open(list.topLevelItem(0));
        QCOMPARE(avi.size(), size_t{2});
        QVERIFY(script.saw(kFilePlayingText));
        QCOMPARE(script.shown.back().type, mb::kOk | mb::kIconInformation);
        Prompts::setScript(nullptr);
    }
};

QTEST_MAIN(ListWindowsTest)
#include "ListWindowsTest.moc"
