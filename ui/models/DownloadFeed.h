#pragma once
// Feeds the download list and the history from the core's work list. Each work-list row names
// its owner (the session number), its channel and its recording, so the feed opens a
// download-list row when a row first runs and closes it when the row ends. A row keeps its
// download-list row when its file moves to another name (Save As, or a folder with room): the
// download list and the history show where the file really went. A finished download is handed
// to `onFinished` for the history. Safe on any thread.

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "recordings/download/Work.h"
#include "ui/models/DownloadRows.h"

namespace fsv::ui {

struct FinishedDownload {
    std::string serverName, serverAddress, deviceName, eventKey, savePath;
};

class DownloadFeed {
  public:
    explicit DownloadFeed(DownloadRows& rows) : rows_(rows) {}

    // The recorder's name and address of a session number (a row's owner); asked once per row,
    // when it is first seen. Without it rows show no server.
    std::function<void(int session, std::string* name, std::string* address)> serverOf;
    // The work list's listener.
    void onWorkRow(const download::WorkRow& row);
    // Called on the thread that finished the download; must not wait for another thread.
    std::function<void(const FinishedDownload&)> onFinished;

  private:
    struct Entry {
        FinishedDownload who;
        int slot = -1;
        bool done = false;
    };
    std::mutex mutex_;
    DownloadRows& rows_;
    std::map<int, Entry> byRow_;  // work-list row -> what the download list shows of it
};

}  // namespace fsv::ui
