// Draws the browsing windows for scripts/screenshots.sh: the event list of a recorder with its
// days and events, the period dialog, the download list with rising ratios and the history.
//   browse-screenshots OUT_DIR

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>

#include "LocalPeriodQueries.h"
#include "platform/Shared.h"
#include "recordings/EventList.h"
#include "ui/dialogs/PeriodDialog.h"
#include "ui/lists/DownloadHistoryWindow.h"
#include "ui/lists/DownloadListWindow.h"
#include "ui/lists/EventListWindow.h"

using namespace fsv;
using namespace fsv::ui;

namespace {

void save(QWidget& w, const QString& dir, const char* name) {
    w.show();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    const QString path = dir + "/" + name;
    if (!w.grab().save(path)) std::fprintf(stderr, "could not write %s\n", qPrintable(path));
}

int fill(EventList& list) {
    RecorderInfo info;
    info.name = "Yard DVR";
    info.address = "127.0.0.1";
    const int r = list.rebuildRecorder(-1, info);
    const char* names[] = {"Gate", "Yard", "Loading bay", "Lobby"};
    for (int c = 0; c < 4; ++c) {
        list.addChannel(r, names[c], c, false);
        for (int d = 0; d < 6; ++d) {
            const int day = list.addDay(r, c, format("202612%.2d", d + 1), 0);
            if (c != 0 || d < 4) continue;
            for (int e = 0; e < 9; ++e)
                list.addEvent(r, c, day, format("%.2d%.2d00", 7 + e, (e * 17) % 60),
                              1'200'000 + 93'000 * static_cast<uint32_t>(e));
        }
    }
    const int mic = list.addChannel(r, "Mic", audioNumber(1), true);
    list.addDay(r, mic, "20261205", 0);
    list.setMark(kMarkDownloaded, r, 0, 4, 0);
    list.setMark(kMarkDownloaded, r, 0, 4, 1);
    list.setMark(kMarkQueued, r, 0, 4, 2);
    list.setMark(kMarkQueued, r, 0, 4, 3);
    list.setMark(kMarkSelected, r, 0, 4, 4);
    list.setMark(kMarkSelected, r, 0, 4, 5);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: browse-screenshots OUT_DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);

    EventList list;
    fill(list);
    EventListWindow events(list, nullptr);
    events.resize(340, 520);
    events.setAdvancedView(true);
    events.show();
    auto& tree = events.tree();
    auto& model = events.model();
    const QModelIndex cam = model.index(0, 0, tree.rootIndex());
    tree.expand(cam);
    QApplication::processEvents();
    const QModelIndex day = model.index(4, 0, cam);
    tree.expand(day);
    QApplication::processEvents();
    tree.setCurrentIndex(model.index(4, 0, day));
    save(events, out, "event-list.png");

    DateQueryWaiter waiter;
    test::LocalPeriodQueries queries(waiter);
    PeriodDialog period(list, queries);
    period.openFor();
    period.setChannelChosen(0, true);
    period.setChannelChosen(1, true);
    period.setChannelChosen(4, true);
    period.setPeriod(QDateTime(QDate(2026, 12, 4), QTime(8, 0, 0)),
                     QDateTime(QDate(2026, 12, 5), QTime(18, 30, 0)));
    save(period, out, "period-query.png");
    period.hide();

    download::WorkList work;
    DownloadRows rows(&work);
    DownloadListWindow downloads(rows, &work);
    const char* times[] = {"080000", "081700", "093400", "105100", "120800"};
    const int done[] = {100, 73, 41, 12, 0};
    for (int i = 0; i < 5; ++i) {
        const std::string key = std::string("20261205") + times[i];
        const std::string path =
            format("/home/user/Videos/Cam01/1205/Event20261205%s001.avi", times[i]);
        const int src = work.addRow(path, key, 1'000'000);
        work.setReceived(src, static_cast<uint64_t>(done[i]) * 10'000);
        const int slot = rows.addRow("Yard DVR", "127.0.0.1", "Gate", key, path, 11);
        if (i < 4) rows.update(slot, DownloadRows::kRunning, src);
    }
    save(downloads, out, "download-list.png");

    DownloadHistoryWindow history;
    for (int i = 0; i < 4; ++i) {
        const std::string key = std::string("20261204") + times[i];
        history.appendRow("Yard DVR", "127.0.0.1", i == 3 ? "Mic" : "Gate",
                          QString::fromStdString(key),
                          QString::fromStdString(format("/home/user/Videos/%s/1204/Event20261204%s001.%s",
                                                        i == 3 ? "Aud01" : "Cam01", times[i],
                                                        i == 3 ? "wav" : "avi")));
    }
    save(history, out, "download-history.png");
    return 0;
}
