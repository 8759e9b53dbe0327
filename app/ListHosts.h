#pragma once
// What each list window reads and does, over the backend, the controller and the main window:
// the narrow side of the program each window is given (Viewer::makeListWindows).

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/lists/ChannelListWindow.h"
#include "ui/lists/ConnectionListWindow.h"
#include "ui/lists/EventListWindow.h"
#include "ui/lists/LocalFiles.h"

namespace fsv::client {
class Controller;
}
namespace fsv::ui {
class MainWindow;
}

namespace fsv::app {

class CoreBackend;

// The channels: a local file's name, or the recorder, camera and recording a stream shows.
class ChannelListHost : public ui::ChannelListWindow::Host {
  public:
    ChannelListHost(CoreBackend& backend, ui::MainWindow& window)
        : backend_(backend), window_(window) {}
    std::vector<ui::ChannelListWindow::Channel> channels() const override;
    void closeChannel(int channel) override;
    void showChannel(int channel) override;

  private:
    CoreBackend& backend_;
    ui::MainWindow& window_;
};

// The connections (by their position in the session list) and the works of each.
class ConnectionListHost : public ui::ConnectionListWindow::Host {
  public:
    explicit ConnectionListHost(client::Controller& controller) : c_(controller) {}
    std::vector<ui::ConnectionListWindow::Connection> connections() const override;
    std::vector<ui::ConnectionListWindow::WorkEntry> worksOf(int position) const override;
    bool hasUnfinishedWork(int position) const override;
    void closeConnection(int position, const std::string& resumeFile) override;
    // "&Delete" takes a waiting item out of its queue; one that runs already stays (false).
    bool deleteWork(int position, const std::string& device, bool justDownload,
                    const std::string& eventKey) override;

  private:
    client::Controller& c_;
};

// A file a list window chose, opened in a channel; a file that plays already or no free channel
// is told over that window.
class LocalFileHost : public ui::LocalFiles {
  public:
    explicit LocalFileHost(CoreBackend& backend) : backend_(backend) {}
    void tellOver(QWidget* window) { over_ = window; }
    bool isPlaying(const std::filesystem::path& file) const override;
    void openAvi(const std::filesystem::path& file) override;

  private:
    CoreBackend& backend_;
    QPointer<QWidget> over_;
};

// A day opened in the event tree is asked for when its events are not loaded.
class DayHost : public ui::EventListWindow::DayOpener {
  public:
    explicit DayHost(client::Controller& controller) : c_(controller) {}
    bool openDay(int recorder, int channel, int day) override;

  private:
    client::Controller& c_;
};

}  // namespace fsv::app
