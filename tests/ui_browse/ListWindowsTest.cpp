#include <QTest>
#include <QTreeWidget>

#include "platform/UserPort.h"
#include "ui/Prompts.h"
#include <QPushButton>
#include <QLineEdit>

#include "ui/lists/ChannelListWindow.h"
#include "ui/lists/ConnectionListWindow.h"
#include "ui/lists/DownloadHistoryWindow.h"
#include "ui/lists/DownloadListWindow.h"
#include "ui/models/DownloadFeed.h"
#include "ui/models/DownloadRows.h"

using namespace fsv;
using namespace fsv::ui;

class ListWindowsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
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

    // The feed ties a row to its item by the row's id: a file that moves to another name (Save
    // As, another folder) keeps its download-list row, which then shows the new path, and the
    // history gets the path the file really has.
    void feedFollowsAMovedFile() {
        download::WorkList work;
        DownloadRows rows(&work);
        DownloadFeed feed(rows);
        std::vector<FinishedDownload> finished;
        feed.onFinished = [&](const FinishedDownload& f) { finished.push_back(f); };
        download::WorkItem item;
        item.queue = download::QueueKind::File;
        item.action = download::Action::JustDownload;
        item.eventKey = "20261201080000";
        item.channelName = "Gate";
        item.outputPath = "/d/Cam01/1201/Event20261201080000001.avi";
        feed.serverOf = [](int session, std::string* name, std::string* address) {
            if (session != 7) return;
            *name = "S";
            *address = "1.2.3.4";
        };
        download::WorkRow made;
        made.path = item.outputPath;
        made.caption = "20261201080000001";
        made.size = 10;
        made.session = 7;
        made.channelName = item.channelName;
        item.row = work.addRow(made);
        download::WorkRow row;
        QVERIFY(work.row(item.row, &row));
        feed.onWorkRow(row);
        QCOMPARE(rows.row(0)->savePath, item.outputPath);
        QCOMPARE(rows.row(0)->serverName, std::string("S"));
        QCOMPARE(rows.row(0)->eventKey, item.eventKey);
        row.path = "/e/other.avi";
        feed.onWorkRow(row);
        QCOMPARE(rows.row(0)->savePath, row.path);
        row.state = download::RowState::Finished;
        feed.onWorkRow(row);
        QVERIFY(!rows.row(0) || !rows.row(0)->used);
        QCOMPARE(finished.size(), size_t{1});
        QCOMPARE(finished[0].savePath, row.path);
        QCOMPARE(finished[0].deviceName, std::string("Gate"));
        QCOMPARE(finished[0].serverAddress, std::string("1.2.3.4"));
        feed.onWorkRow(row);  // told again: nothing more
        QCOMPARE(finished.size(), size_t{1});
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
        struct Files : LocalFiles {
            std::vector<std::string> avi, wav;
            bool playing = false;
            bool isPlaying(const std::filesystem::path&) const override { return playing; }
            void openAvi(const std::filesystem::path& p) override { avi.push_back(p.string()); }
            void playWav(const std::filesystem::path& p) override { wav.push_back(p.string()); }
        } files;
        window.setFiles(&files);
        auto& avi = files.avi;
        auto& wav = files.wav;
        auto& playing = files.playing;
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
        QCOMPARE(script.shown.back().style, (BoxStyle{BoxButtons::Ok, BoxIcon::Information}));
        Prompts::setScript(nullptr);
    }

    // Connections and their works: "&Work List" needs a selected row; a work is deleted by the
    // 14-digit key kept with its row, whatever the locale shows; "&Disconnect" goes from the
    // last selected to the first, offers to save unfinished work, and hides the emptied window.
    void connectionList() {
        PromptScript script;
        Prompts::setScript(&script);
        ConnectionListWindow window;
        std::vector<ConnectionListWindow::Connection> conns = {
            {7, "A", "1.1.1.1", 0, 0}, {9, "B", "2.2.2.2", 2, 3600}};
        struct Host : ConnectionListWindow::Host {
            std::vector<ConnectionListWindow::Connection>& conns;
            std::vector<std::pair<int, std::string>> closed;
            std::vector<std::string> deleted;
            bool running = false;  // the works are waiting, until the "Gate" one runs below
            explicit Host(std::vector<ConnectionListWindow::Connection>& c) : conns(c) {}
            std::vector<ConnectionListWindow::Connection> connections() const override {
                return conns;
            }
            std::vector<ConnectionListWindow::WorkEntry> worksOf(int id) const override {
                std::vector<ConnectionListWindow::WorkEntry> w;
                if (id == 9) w = {{"Gate", "20261201230509", 1}, {"Yard", "20261202010203", 0}};
                return w;
            }
            bool hasUnfinishedWork(int id) const override { return id == 9; }
            void closeConnection(int id, const std::string& f) override {
                closed.emplace_back(id, f);
            }
            bool deleteWork(int id, const std::string& dev, bool justDownload,
                            const std::string& key) override {
                if (running && dev == "Gate") return false;
                deleted.push_back(std::to_string(id) + dev + (justDownload ? "1" : "0") + key);
                return true;
            }
        } host(conns);
        window.setHost(&host);
        auto& closed = host.closed;
        auto& deleted = host.deleted;
        auto& running = host.running;
        window.show();
        auto& list = window.list();
        QCOMPARE(list.topLevelItemCount(), 2);
        QCOMPARE(window.findChild<QLineEdit*>("totalNumber")->text(), QString("2"));
        auto* first = window.findChild<QPushButton*>("workListButton");
        QVERIFY(!first->isEnabled());
        first->click();  // nothing selected: nothing happens
        QCOMPARE(window.mode(), ConnectionListWindow::Mode::Connections);

        list.topLevelItem(1)->setSelected(true);
        first->click();
        QCOMPARE(window.mode(), ConnectionListWindow::Mode::Works);
        QCOMPARE(window.findChild<QLineEdit*>("connectionText")->text(),
                 QString("B (2.2.2.2)"));
        QCOMPARE(list.topLevelItemCount(), 2);
        QCOMPARE(list.topLevelItem(0)->text(2), QString("Just Download"));
        QCOMPARE(list.topLevelItem(1)->text(2), QString("Download & Play"));
        list.topLevelItem(0)->setSelected(true);
        list.topLevelItem(1)->setSelected(true);
        window.findChild<QPushButton*>("disconnectButton")->click();  // "&Delete" here
        QCOMPARE(deleted, (std::vector<std::string>{"9Yard020261202010203",
                                                    "9Gate120261201230509"}));
        QCOMPARE(list.topLevelItemCount(), 0);
        QVERIFY(!script.saw(kWorkRunningText));

        // A running work is refused with a word, and its row stays.
        running = true;
        deleted.clear();
        window.findChild<QPushButton*>("refreshButton")->click();
        QCOMPARE(list.topLevelItemCount(), 2);
        list.topLevelItem(0)->setSelected(true);
        list.topLevelItem(1)->setSelected(true);
        window.findChild<QPushButton*>("disconnectButton")->click();
        QCOMPARE(deleted, std::vector<std::string>{"9Yard020261202010203"});
        QVERIFY(script.saw(kWorkRunningText));
        QCOMPARE(list.topLevelItemCount(), 1);
        QCOMPARE(list.topLevelItem(0)->text(0), QString("Gate"));
        first->click();  // Back
        QCOMPARE(window.mode(), ConnectionListWindow::Mode::Connections);

        script.shown.clear();
        script.answers = {BoxAnswer::Yes};
        script.saveFiles = {"/tmp/kept.sav"};
        list.topLevelItem(0)->setSelected(true);
        list.topLevelItem(1)->setSelected(true);
        window.findChild<QPushButton*>("disconnectButton")->click();
        QCOMPARE(closed, (std::vector<std::pair<int, std::string>>{{9, "/tmp/kept.sav"},
                                                                   {7, ""}}));
        QCOMPARE(script.shown.size(), size_t{1});
        QCOMPARE(script.shown[0].text, std::string(kSaveUnfinishedQuestion));
        QVERIFY(!window.isVisible());
        Prompts::setScript(nullptr);
    }

    // Channels: the source of each row; Up and Down by the selection's place; a moved row keeps
    // its number, so Disconnect closes the right channel; Exit drops the empty channels.
    void channelList() {
        using C = ChannelListWindow::Channel;
        std::vector<C> chans = {
            {C::Source::Recorder, "DVR", "Gate", "20261201230509", ""},
            {C::Source::Local, "", "", "", "/v/a.avi"},
            {C::Source::None, "", "", "", ""},
        };
        ChannelListWindow window;
        struct Host : ChannelListWindow::Host {
            std::vector<C>& chans;
            std::vector<std::string> acts;
            explicit Host(std::vector<C>& c) : chans(c) {}
            std::vector<C> channels() const override { return chans; }
            void closeChannel(int c) override { acts.push_back("close" + std::to_string(c)); }
            void removeChannel(int c) override {
                acts.push_back("remove" + std::to_string(c));
                chans.erase(chans.begin() + c);
            }
            void showChannel(int) override {}
        } host(chans);
        window.setHost(&host);
        auto& acts = host.acts;
        window.show();
        auto& list = window.list();
        QCOMPARE(list.topLevelItemCount(), 3);
        QCOMPARE(list.topLevelItem(0)->text(1), QString("DVR"));
        QVERIFY(list.topLevelItem(0)->text(2).startsWith("Gate: "));
        QCOMPARE(list.topLevelItem(1)->text(1), QString("Local Host"));
        QCOMPARE(list.topLevelItem(2)->text(1), QString("Empty"));
        QVERIFY(!window.button("upButton")->isEnabled());
        list.topLevelItem(0)->setSelected(true);
        QVERIFY(!window.button("upButton")->isEnabled());
        QVERIFY(window.button("downButton")->isEnabled());
        window.button("downButton")->click();
        QCOMPARE(list.topLevelItem(1)->text(1), QString("DVR"));
        QVERIFY(list.topLevelItem(1)->isSelected());
        QVERIFY(!list.topLevelItem(0)->isSelected());
        window.button("disconnectButton")->click();
        QCOMPARE(acts, std::vector<std::string>{"close0"});
        window.button("exitButton")->click();
        QCOMPARE(acts, (std::vector<std::string>{"close0", "remove2"}));
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(ListWindowsTest)
#include "ListWindowsTest.moc"
