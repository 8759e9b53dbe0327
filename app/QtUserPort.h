#pragma once
// The UserPort of the desktop program: the queued port of the controller's notification queue,
// which answers a question asked on the UI thread itself there at once, over the window. A
// worker's question is queued and drained onto the UI thread, where answerQueued asks it and
// hands the answer to its worker.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "client/QueuedUserPort.h"
#include "platform/Event.h"

namespace fsv::app {

class QtUserPort : public client::QueuedUserPort {
  public:
    // `context` lives on the UI thread.
    QtUserPort(QObject* context, client::NotificationQueue& queue, platform::Event& exit);

    // The window questions are shown over.
    void setWindow(QWidget* window) { window_ = window; }

    // Asks `q` on the UI thread, over the window (the drained question of a worker).
    client::Answer answerHere(const client::Question& q);
    // A worker's question drained from the queue: asked here and answered to its worker,
    // unless nobody waits for it any more.
    void answerQueued(const client::Question& q);

    // Panel messages stop with the program's exit.
    void post(PanelMessage message, intptr_t wParam, intptr_t lParam) override;

  protected:
    std::optional<client::Answer> answerAtOnce(const client::Question& q) override;

  private:
    QObject* context_;
    QPointer<QWidget> window_;
};

}  // namespace fsv::app
