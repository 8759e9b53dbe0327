#pragma once
// What the windows need from the program underneath: connecting, the open connections, closing
// them and the status of a connect in progress. The windows call it on the UI thread and every
// call returns at once; the work runs on the backend's own threads and comes back as
// ViewerNotice values, delivered on the UI thread through the listener.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Shared.h"

namespace fsv::ui {

struct SessionSummary {
    std::string recorderName;
    std::string address;
    uint16_t port = 0;
    std::time_t connectionTime = 0;
    int cameras = 0;
    int audioChannels = 0;
    int connectionNumber = -1;
};

struct ViewerNotice {
    enum class Kind {
        ShowStatus,       // text: the status window's line ("Connecting...")
        HideStatus,       //
        ConnectFinished,  // ok: logged in; the toolbar's connect button is released
        SessionsChanged,  // the connection list changed (added, removed, information arrived)
        MessageBox,       // text, type: a deferred message box of a worker
        PanelMessage,     // message, wParam, lParam: one of the panel's private messages
    };
    Kind kind = Kind::SessionsChanged;
    std::string text;
    unsigned type = 0;
    bool ok = false;
    unsigned message = 0;
    intptr_t wParam = 0;
    intptr_t lParam = 0;
};

class ViewerBackend {
  public:
    using Listener = std::function<void(const ViewerNotice&)>;
    virtual ~ViewerBackend() = default;

    // Called on the UI thread with every notice, in order.
    virtual void setListener(Listener listener) = 0;

    // The interactive connect: starts a connect thread with the request and returns true when
    // it runs; its end is told by ConnectFinished.
    virtual bool connect(const ConnectRequest& request) = 0;
    // The status window's Cancel: abandons the connect or wait in progress.
    virtual void cancelWait() = 0;
    virtual bool connecting() const = 0;

    virtual std::vector<SessionSummary> sessions() const = 0;
    // What each open connection was opened with, in list order (for a saved set).
    virtual std::vector<ConnectRequest> connections() const = 0;
    // Queues every connection for closing (highest position first).
    virtual void closeAll() = 0;
    // Loads a resume file: connects to its recorder. False (with the reader's message shown
    // through a notice) when the file is not usable.
    virtual bool loadResumeFile(const std::filesystem::path& file) = 0;

    // Ends everything: connect threads, sessions, the transport. Never hangs on a silent
    // recorder. Called once, before the windows go.
    virtual void shutdown() = 0;
};

}  // namespace fsv::ui
