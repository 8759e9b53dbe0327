#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "FakeRecorder.h"
#include "LocalPeriodQueries.h"
#include "platform/UserPort.h"
#include "ui/Prompts.h"
#include "ui/dialogs/PeriodDialog.h"

using namespace fsv;
using namespace fsv::ui;
using fsv::test::FakeRecorder;

namespace {

net::ServerInfoChannel channel(uint16_t code, std::string name, std::vector<uint32_t> days) {
    net::ServerInfoChannel c{code, std::move(name), {}};
    for (auto day : days) c.days.push_back({net::dayText(day), 0, 0});
    return c;
}

// A recorder with two cameras and an audio channel, its days in the event list, its answers in
// a table; the dialog over it with scripted answers to every box.
struct Fixture {
    EventList list;
    FakeRecorder recorder;
    DateQueryWaiter waiter;
    std::shared_ptr<RecorderCatalog> catalog =
        std::make_shared<RecorderCatalog>(list, recorder, &waiter);
    PromptScript script;
    test::LocalPeriodQueries queries{waiter};
    PeriodDialog dialog{list, queries};
    int handedOver = 0;

    Fixture() {
        recorder.catalog = catalog.get();
        net::ServerInfo info;
        info.cameras = {channel(1, "Gate", {20261201, 20261202}), channel(2, "Yard", {20261202})};
        info.audio = {channel(1, "Mic", {20261202})};
        catalog->handleServerInfo(info, false);
        auto day = [&](uint8_t kind, uint16_t code, const char* date,
                       std::vector<net::DateItem> items) {
            recorder.recordings[{kind, code, date, 0}] = std::move(items);
        };
        day(net::kCamera, 1, "20261201", {{230000, 10}});
        day(net::kCamera, 1, "20261202", {{80000, 11}, {120000, 12}});
        day(net::kCamera, 2, "20261202", {{90000, 13}});
        day(net::kAudio, 1, "20261202", {{100000, 14}});
        queries.catalogOf = [this](int) { return catalog; };
        dialog.onSelected = [this] {
            ++handedOver;
            return true;
        };
        Prompts::setScript(&script);
    }
    ~Fixture() { Prompts::setScript(nullptr); }

    QPushButton* ok() { return dialog.findChild<QPushButton*>("okButton"); }
    QTreeWidget* cameras() { return dialog.findChild<QTreeWidget*>("cameraList"); }
    int runOk() {
        QSignalSpy done(&dialog, &PeriodDialog::queryFinished);
        QTest::mouseClick(ok(), Qt::LeftButton);
        if (!done.wait(60000)) return -1;
        return done.at(0).at(0).toInt();
    }
};

QDateTime at(int y, int mo, int d, int h, int mi = 0, int s = 0) {
    return {QDate(y, mo, d), QTime(h, mi, s)};
}

}  // namespace

class PeriodDialogTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Two cameras and the audio channel over a period: the days are asked from the latest to
    // the earliest, the events inside the period (both ends included) become selected and are
    // handed over; the same period again is "already selected"; an empty one is "No Match!"
    // and Retry brings the dialog back.
    void selectsThePeriod() {
        Fixture f;
        f.dialog.openFor();
        QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));
        QCOMPARE(f.cameras()->topLevelItemCount(), 3);
        QTest::mouseClick(f.dialog.findChild<QPushButton*>("selectAllButton"), Qt::LeftButton);
        f.dialog.setPeriod(at(2026, 12, 1, 23), at(2026, 12, 2, 9));
        QCOMPARE(f.runOk(), static_cast<int>(PeriodOutcome::Selected));
        QCOMPARE(f.handedOver, 1);
        QVERIFY(!f.dialog.isVisible());
        std::vector<std::string> asked;
        for (auto& q : f.recorder.queries) asked.push_back(std::to_string(q.code) + q.date);
        QCOMPARE(asked,
                 (std::vector<std::string>{"120261202", "120261201", "220261202", "120261202"}));
        // Gate 23:00 on the 1st and 08:00 on the 2nd, Yard 09:00, none of the audio (10:00).
        QCOMPARE(f.dialog.lastSummary().selected, 3);
        QCOMPARE(f.list.selection().count, 3u);

        f.dialog.openFor();
        QCOMPARE(f.runOk(), static_cast<int>(PeriodOutcome::AlreadySelected));
        QVERIFY(f.script.saw(kAlreadySelectedText));
        QCOMPARE(f.recorder.queries.size(), size_t{4});  // loaded days are not asked again

        f.script.answers = {BoxAnswer::Retry};
        f.dialog.openFor();
        f.dialog.setPeriod(at(2026, 12, 2, 13), at(2026, 12, 2, 14));
        QCOMPARE(f.runOk(), static_cast<int>(PeriodOutcome::NoMatch));
        QVERIFY(f.script.saw(kNoMatchText));
        QVERIFY(f.dialog.isVisible());  // Retry
    }

    // The recorder stops answering: the window keeps working while the worker waits, and after
    // the time-out the user is asked; Retry waits again, Cancel ends the query with nothing
    // selected.
    void recorderStopsAnswering() {
        Fixture f;
        f.recorder.answer = false;
        f.dialog.replyTimeout = std::chrono::milliseconds(300);
        f.script.answers = {BoxAnswer::Retry, BoxAnswer::Cancel};
        f.dialog.openFor();
        QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));
        f.dialog.setChannelChosen(0, true);
        f.dialog.setPeriod(at(2026, 12, 1, 0), at(2026, 12, 2, 23));
        QSignalSpy done(&f.dialog, &PeriodDialog::queryFinished);
        QTest::mouseClick(f.ok(), Qt::LeftButton);
        QVERIFY(f.dialog.busy());
        QVERIFY(!f.ok()->isEnabled());
        // The UI thread runs (a timer fires) while the query waits.
        bool ticked = false;
        QTimer::singleShot(10, [&] { ticked = true; });
        QTRY_VERIFY(ticked);
        QVERIFY(f.script.shown.empty());
        QVERIFY(done.wait(60000));
        QCOMPARE(done.at(0).at(0).toInt(), static_cast<int>(PeriodOutcome::Cancelled));
        QCOMPARE(f.script.shown.size(), size_t{2});
        QCOMPARE(f.script.shown[0].text, std::string(kTimeoutQuestion));
        QCOMPARE(f.script.shown[0].style,
                 (BoxStyle{BoxButtons::RetryCancel, BoxIcon::Information}));
        QCOMPARE(f.recorder.queries.size(), size_t{1});
        QCOMPARE(f.list.selection().count, 0u);
        QCOMPARE(f.handedOver, 0);
    }

    // Cancel while the query waits ends it at once, without the question and without handing
    // anything over; the next OK runs a query again.
    void cancelEndsTheQuery() {
        Fixture f;
        f.recorder.answer = false;
        f.dialog.openFor();
        f.dialog.setChannelChosen(0, true);
        f.dialog.setPeriod(at(2026, 12, 1, 0), at(2026, 12, 2, 23));
        QSignalSpy done(&f.dialog, &PeriodDialog::queryFinished);
        QTest::mouseClick(f.ok(), Qt::LeftButton);
        QVERIFY(f.dialog.busy());
        QTest::mouseClick(f.dialog.findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
        QVERIFY(!f.dialog.isVisible());
        QVERIFY(done.wait(5000));
        QCOMPARE(done.at(0).at(0).toInt(), static_cast<int>(PeriodOutcome::Exiting));
        QVERIFY(f.script.shown.empty());
        QCOMPARE(f.handedOver, 0);
        QCOMPARE(f.list.selection().count, 0u);

        f.recorder.answer = true;
        f.dialog.openFor();
        QCOMPARE(f.runOk(), static_cast<int>(PeriodOutcome::Selected));
        QCOMPARE(f.handedOver, 1);
    }

    // Closing the dialog while a query waits ends it without a message.
    void endsWithTheProgram() {
        auto f = std::make_unique<Fixture>();
        f->recorder.answer = false;
        f->dialog.openFor();
        f->dialog.setChannelChosen(0, true);
        QTest::mouseClick(f->ok(), Qt::LeftButton);
        QVERIFY(f->dialog.busy());
        f.reset();  // the dialog ends the query; the runner's thread is joined
    }
};

QTEST_MAIN(PeriodDialogTest)
#include "PeriodDialogTest.moc"
