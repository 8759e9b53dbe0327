#include "ui/lists/AccessibleWindows.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace fsv::ui {

namespace {

constexpr char kNameProperty[] = "fsvListWindowName";

class ListWindowAccessible : public QAccessibleWidget {
  public:
    explicit ListWindowAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Window) {}
    QString text(QAccessible::Text t) const override {
        QString s = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && s.trimmed().isEmpty())
            s = widget()->property(kNameProperty).toString();
        return s;
    }
};

QAccessibleInterface* listWindowFactory(const QString&, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w || !w->isWindow() || !w->property(kNameProperty).isValid()) return nullptr;
    return new ListWindowAccessible(w);
}

}  // namespace

void markListWindow(QWidget* window, const char* name) {
    static const bool installed = [] {
        QAccessible::installFactory(listWindowFactory);
        return true;
    }();
    (void)installed;
    window->setWindowFlag(Qt::Window);
    window->setProperty(kNameProperty, QString::fromLatin1(name));
}

}  // namespace fsv::ui
