#pragma once
// The running program: the backend over the core and the main window, placed and sized from
// the settings files, and the start-up question about unfinished work.

#include <QObject>
#include <QSize>
#include <memory>

#include "app/CoreBackend.h"
#include "ui/mainwindow/MainWindow.h"

class QScreen;

namespace fsv::ui {
class EventListWindow;
class ChannelListWindow;
class ConnectionListWindow;
class DownloadHistoryWindow;
class DownloadListWindow;
class DownloadRows;
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

  Q_SIGNALS:
    // The main window drew itself for the first time.
    void drawn();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void resumeUnfinishedWork();
    void makeListWindows();

    std::unique_ptr<CoreBackend> backend_;
    std::unique_ptr<ui::MainWindow> window_;
    // The list windows the main window's commands show and hide.
    std::unique_ptr<ui::EventListWindow> eventList_;
    std::unique_ptr<ui::ChannelListWindow> channelList_;
    std::unique_ptr<ui::ConnectionListWindow> connectionList_;
    std::unique_ptr<ui::DownloadHistoryWindow> history_;
    std::unique_ptr<ui::DownloadRows> rows_;
    std::unique_ptr<ui::DownloadListWindow> downloads_;
    bool drawn_ = false;
};

}  // namespace fsv::app
