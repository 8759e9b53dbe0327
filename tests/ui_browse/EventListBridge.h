#pragma once
// The event list's listener for a window of its own, as the browse tests run it without the
// controller: every call (made under the event-list lock, on any thread) is queued to the
// window's thread, and the window's own messages become its typed slots.

#include <QMetaObject>
#include <QString>
#include <string>

#include "recordings/EventList.h"
#include "ui/lists/EventListWindow.h"

namespace fsv::ui {

class EventListBridge : public EventListListener {
  public:
    explicit EventListBridge(EventListWindow* window) : window_(window) {}
    void refresh() override {
        queue([w = window_] { w->onRefresh(); });
    }
    void recordersChanged() override {
        queue([w = window_] { w->onRecordersChanged(); });
    }
    void title(const std::string& text) override {
        queue([w = window_, t = QString::fromStdString(text)] { w->onTitle(t); });
    }
    void rowChanged(const std::string& key, int mark, const std::string&) override {
        queue([w = window_, k = QString::fromStdString(key), mark] { w->onRowChanged(k, mark); });
    }
    void post(EventListMessage message, intptr_t wParam, intptr_t) override {
        if (message == EventListMessage::EventRemoved)
            queue([w = window_] { w->onEventRemoved(); });
        else
            queue([w = window_, on = wParam == 0] { w->onWaiting(on); });
    }
    void controlsEnabled(bool enabled) override {
        queue([w = window_, enabled] { w->onControlsEnabled(enabled); });
    }

  private:
    template <typename F>
    void queue(F f) {
        QMetaObject::invokeMethod(window_, std::move(f), Qt::QueuedConnection);
    }
    EventListWindow* window_;
};

}  // namespace fsv::ui
