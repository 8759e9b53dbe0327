#include <QComboBox>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "EventListBridge.h"
#include "recordings/EventList.h"
#include "ui/lists/EventListWindow.h"
#include "ui/models/EventTreeModel.h"

using namespace fsv;
using namespace fsv::ui;
using Level = EventTreeModel::Level;

namespace {

// One recorder "R1" with two cameras; camera 0 has two days, the first with three events; the
// second day is not loaded.
int fill(EventList& list, const char* name = "R1") {
    RecorderInfo info;
    info.name = name;
    info.address = "127.0.0.1";
    const int r = list.rebuildRecorder(-1, info);
    const int c0 = list.addChannel(r, "Cam 1", 0, false);
    list.addChannel(r, "Cam 2", 1, false);
    const int d0 = list.addDay(r, c0, "20261201", 7);
    list.addDay(r, c0, "20261202", 8);
    list.addEvent(r, c0, d0, "080000", 1000);
    list.addEvent(r, c0, d0, "090000", 2000);
    list.addEvent(r, c0, d0, "100000", 3000);
    return r;
}

QModelIndex child(const QAbstractItemModel& m, const QModelIndex& parent, int row) {
    return m.index(row, 0, parent);
}

}  // namespace

class EventTreeTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Nothing is read before it is opened; opening reads exactly that node; the rows show
    // the recorder's order, times as "%s:%s:%s" and the marks as state icons.
    void opensLazily() {
        EventList list;
        const int r = fill(list);
        EventTreeModel model(list);
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(model.canFetchMore({}));
        model.fetchMore({});
        QCOMPARE(model.rowCount(), 1);
        const QModelIndex rec = model.recorderIndex(r);
        QCOMPARE(rec.data().toString(), QString("R1 (127.0.0.1)"));
        QVERIFY(model.hasChildren(rec));
        QCOMPARE(model.rowCount(rec), 0);
        model.fetchMore(rec);
        QCOMPARE(model.rowCount(rec), 2);
        const QModelIndex cam = child(model, rec, 0);
        QCOMPARE(cam.data().toString(), QString("Cam 1"));
        QCOMPARE(cam.parent(), rec);
        model.fetchMore(cam);
        const QModelIndex day = child(model, cam, 0);
        QCOMPARE(model.level(day), Level::Day);
        QSignalSpy wanted(&model, &EventTreeModel::dayWanted);
        model.fetchMore(day);
        QCOMPARE(wanted.count(), 0);  // loaded: nothing is asked
        QCOMPARE(model.rowCount(day), 3);
        const QModelIndex ev = child(model, day, 1);
        QCOMPARE(ev.data().toString(), QString("09:00:00"));
        QCOMPARE(ev.parent(), day);
        QCOMPARE(ev.parent().parent(), cam);
        QCOMPARE(ev.data(EventTreeModel::KeyRole).toString(), QString("0000000000000001"));
        QCOMPARE(ev.data(EventTreeModel::MarkRole).toInt(), 0);
        QVERIFY(!ev.data(Qt::DecorationRole).value<QIcon>().isNull());

        list.setMark(kMarkDownloaded, r, 0, 0, 1);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.markChanged("0000000000000001", kMarkDownloaded);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(ev.data(EventTreeModel::MarkRole).toInt(), kMarkDownloaded);
        model.markChanged("0000000000000001", 5);  // out of range: ignored
        model.markChanged("garbage", 1);
        QCOMPARE(changed.count(), 1);

        // The day not loaded is asked for when opened, and only once.
        const QModelIndex day2 = child(model, cam, 1);
        QVERIFY(model.hasChildren(day2));
        model.fetchMore(day2);
        QCOMPARE(wanted.count(), 1);
        QCOMPARE(wanted.at(0).at(2).toInt(), 1);
        QVERIFY(!model.canFetchMore(day2));
        // The reply arrives: the refresh inserts the rows under the opened day.
        list.addEvent(r, 0, 1, "120000", 10);
        list.addDay(r, 0, "20261203", 9);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        model.refresh();
        QCOMPARE(model.rowCount(day2), 1);
        QCOMPARE(model.rowCount(cam), 3);
        QCOMPARE(inserted.count(), 2);

        // An event the recorder could not open leaves its day.
        QVERIFY(list.reportCannotOpen(r, 0, "20261201", "080000", nullptr));
        model.refresh();
        QCOMPARE(model.rowCount(day), 2);
        QCOMPARE(child(model, day, 0).data().toString(), QString("09:00:00"));
        QCOMPARE(child(model, day, 0).data(EventTreeModel::MarkRole).toInt(), kMarkDownloaded);
        QVERIFY(model.memoryUsed() > 0);
    }

    // The window: the drop-down lists the recorders, the tree shows the chosen one; Space on an
    // event selects it through the event list and the icon follows through the bridge; a day
    // that is not loaded goes to the date query and the window waits for its answer.
    void windowFollowsTheList() {
        EventList list;
        EventListWindow window(list, nullptr);
        EventListBridge bridge(&window);
        list.setListener(&bridge);
        const int r1 = fill(list);
        const int r2 = fill(list, "R2");
        QTRY_COMPARE(window.recorders().count(), 2);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showRecorder(r2);
        QCOMPARE(window.windowTitle(), QString("R2 (127.0.0.1)"));
        auto& tree = window.tree();
        auto& model = window.model();
        QCOMPARE(model.rowCount(tree.rootIndex()), 2);

        struct Days : EventListWindow::DayOpener {
            std::vector<EventRef> asked;
            bool openDay(int r, int c, int d) override {
                asked.push_back({r, c, d, -1});
                return true;
            }
        } days;
        window.setDayOpener(&days);
        auto& asked = days.asked;
        const QModelIndex cam = child(model, tree.rootIndex(), 0);
        tree.expand(cam);  // the view reads the node when it lays it out
        QTRY_COMPARE(model.rowCount(cam), 2);
        const QModelIndex day = child(model, cam, 0);
        tree.expand(day);
        QTRY_COMPARE(model.rowCount(day), 3);
        QVERIFY(asked.empty());
        const QModelIndex ev = child(model, day, 2);
        tree.setCurrentIndex(ev);
        tree.setFocus();
        QTest::keyClick(&tree, Qt::Key_Space);
        QCOMPARE(list.eventMark(r2, 0, 0, 2), kMarkSelected);
        QTRY_COMPARE(ev.data(EventTreeModel::MarkRole).toInt(), kMarkSelected);
        QCOMPARE(list.selection().count, 1u);
        QTest::keyClick(&tree, Qt::Key_Space);
        QCOMPARE(list.eventMark(r2, 0, 0, 2), kMarkNone);

        const QModelIndex day2 = child(model, cam, 1);
        tree.expand(day2);
        QTRY_COMPARE(asked.size(), size_t{1});
        QCOMPARE(asked[0], (EventRef{r2, 0, 1, -1}));
        QVERIFY(window.waiting());
        {
            std::lock_guard lock(list.lock());
            list.addEvent(r2, 0, 1, "101010", 5);
            list.postToWindow(EventListMessage::Waiting, 1, 0);
        }
        QTRY_VERIFY(!window.waiting());
        QTRY_COMPARE(model.rowCount(day2), 1);

        // Normal view hides the sizes, Advanced shows them.
        QVERIFY(tree.isColumnHidden(EventTreeModel::SizeColumn));
        window.setAdvancedView(true);
        QVERIFY(!tree.isColumnHidden(EventTreeModel::SizeColumn));

        // The recorder leaves: the drop-down keeps the other one.
        list.removeRecorder(r2);
        QTRY_COMPARE(window.recorders().count(), 1);
        QCOMPARE(window.shownRecorder(), r1);
        list.removeRecorder(r1);
        QTRY_COMPARE(window.recorders().count(), 0);
        list.setListener(nullptr);
    }
};

QTEST_MAIN(EventTreeTest)
#include "EventTreeTest.moc"
