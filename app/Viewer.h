#pragma once
// The running program: the backend over the core and the main window, placed and sized from
// the settings files, and the start-up question about unfinished work. It also hosts the
// browsing windows on the controller: the event list window with its period dialog, the start
// of work (on a controller thread), the download list and history fed by the work list, and
// the connection list with each connection's works.

#include <QObject>
#include <QSize>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "app/CoreBackend.h"
#include "app/ListHosts.h"
#include "ui/mainwindow/MainWindow.h"

class QScreen;

namespace fsv::ui {
class EventListWindow;
class ChannelListWindow;
class ConnectionListWindow;
class DownloadHistoryWindow;
class ArchiveWindow;
class DownloadListWindow;
class DownloadRows;
class DownloadFeed;
class PeriodDialog;
}  // namespace fsv::ui

namespace fsv::app {

class Viewer : public QObject {
    Q_OBJECT
  public:
    explicit Viewer(net::SessionTiming timing = {});
    ~Viewer() override;

    // Sizes, places and shows the main window; the unfinished-work question follows once the
    // window is up.
    void start();

    ui::MainWindow& window() { return *window_; }
    CoreBackend& backend() { return *backend_; }
    ui::EventListWindow& eventList() { return *eventList_; }
    ui::ChannelListWindow& channelList() { return *channelList_; }
    ui::ConnectionListWindow& connectionList() { return *connectionList_; }
    ui::PeriodDialog& periodDialog() { return *period_; }
    ui::DownloadListWindow& downloadList() { return *downloads_; }
    ui::DownloadHistoryWindow& downloadHistory() { return *history_; }
    ui::ArchiveWindow& archiveWindow() { return *archive_; }

    // Starts work on the event list's selection on a controller thread; false while a start
    // is still running. `fromPeriod`: a start that is declined shows the period dialog again.
    bool startWork(bool fromPeriod);
    bool startingWork() const { return starting_; }

  Q_SIGNALS:
    // The main window drew itself for the first time.
    void drawn();
    // A start of work ended (a client::StartResult).
    void workStarted(int result);
    // The user ended the program: every window is closed and the event loop asked to end.
    void ended();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void resumeUnfinishedWork();
    void endProgram();
    void showNewRecorder();
    void makeListWindows();
    void makeEventListWindow();
    void eventListChanged(const client::EventListChanged& e);
    void makeChannelList();
    void makeConnectionList();
    void makeFileLists();
    void makeDownloadList();
    void makeBrowsing();
    void workStartEnded(client::StartResult result);

    std::unique_ptr<CoreBackend> backend_;
    std::unique_ptr<ui::MainWindow> window_;
    // What the list windows read and do; they outlive none of it.
    std::unique_ptr<ChannelListHost> channelHost_;
    std::unique_ptr<ConnectionListHost> connectionHost_;
    std::unique_ptr<LocalFileHost> historyFiles_, archiveFiles_;
    std::unique_ptr<DayHost> days_;
    // The list windows the main window's commands show and hide.
    std::unique_ptr<ui::EventListWindow> eventList_;
    std::unique_ptr<ui::ChannelListWindow> channelList_;
    std::unique_ptr<ui::ConnectionListWindow> connectionList_;
    std::unique_ptr<ui::DownloadHistoryWindow> history_;
    std::unique_ptr<ui::ArchiveWindow> archive_;
    std::unique_ptr<ui::DownloadRows> rows_;
    std::unique_ptr<ui::DownloadListWindow> downloads_;
    std::unique_ptr<ui::DownloadFeed> feed_;
    std::unique_ptr<ui::PeriodDialog> period_;
    // Recorder name and address of every session seen (UI thread only).
    std::map<client::SessionId, std::pair<std::string, std::string>> servers_;
    std::set<int> recorders_;  // the event list's recorders last seen
    bool starting_ = false;
    bool startFromPeriod_ = false;
    bool drawn_ = false;
};

}  // namespace fsv::app
