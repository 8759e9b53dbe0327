#pragma once
// What the program underneath tells the windows, one signal per kind of event, always emitted
// on the UI thread (the backend drains its workers' notifications there). A window connects to
// the signals it needs, with itself as the context, so that nothing reaches a window that is
// gone.

#include <QObject>
#include <string>

#include "client/BoxStyle.h"
#include "client/Notifications.h"
#include "recordings/download/Work.h"

namespace fsv::ui {

class BackendSignals : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

  Q_SIGNALS:
    // The status window's line ("Connecting..."), and its end.
    void statusShown(const std::string& text);
    void statusHidden();
    // An interactive connect ended; the toolbar's connect button is released.
    void connectFinished();
    // A connection came or went.
    void sessionAdded(const fsv::client::SessionAdded& session);
    void sessionRemoved(const fsv::client::SessionRemoved& session);
    // A deferred message box of a worker.
    void messageBox(const std::string& text, fsv::client::BoxStyle style);
    // A channel came, went or moved: the panels show the channel table again.
    void panelsChanged(int panel);
    // The panel's frame slot holds a new picture.
    void frameReady(int panel);
    // The channel of a panel moved, paused, reached its end or changed speed.
    void playbackPosition(const fsv::client::PlaybackPosition& position);
    // The event list changed, or speaks to its window.
    void eventListChanged(const fsv::client::EventListChanged& change);
    // A row of the work list changed (only its latest state is told).
    void workRowChanged(const fsv::download::WorkRow& row);
    // A start of work handed to the controller has ended.
    void workStarted(fsv::client::StartResult result);
};

}  // namespace fsv::ui
