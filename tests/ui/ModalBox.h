#pragma once
// Answers the next message box the way a user does: waits for the real modal box to come up,
// notes what it shows, and clicks one of its buttons with the mouse. For tests that must see
// the box itself, not a scripted answer.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <memory>

namespace fsv::test {

struct SeenBox {
    bool shown = false;    // a box came up
    bool clicked = false;  // and the button asked for was there and clicked
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;          // their texts, without the '&' of their mnemonics
    QStringList accessibleNames;  // of the buttons, in the same order
    QString defaultButton;
};

inline QString plainText(const QAbstractButton* b) { return b->text().remove(QLatin1Char('&')); }

// From now on, the first message box that becomes the active modal window is read and its
// button `button` (plain text, "Yes") clicked; a box without that button is rejected, so that no
// test hangs on it. Gives up after `timeoutMs` without a box.
inline std::shared_ptr<SeenBox> answerNextBox(const QString& button, int timeoutMs = 30000) {
    auto seen = std::make_shared<SeenBox>();
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            if (clock->elapsed() > timeoutMs) timer->deleteLater();
            return;
        }
        timer->stop();
        timer->deleteLater();
        seen->shown = true;
        seen->text = box->text();
        seen->title = box->windowTitle();
        seen->icon = box->icon();
        if (box->defaultButton()) seen->defaultButton = plainText(box->defaultButton());
        QAbstractButton* target = nullptr;
        for (QAbstractButton* b : box->buttons()) {
            seen->buttons << plainText(b);
            seen->accessibleNames << b->accessibleName();
            if (plainText(b) == button) target = b;
        }
        if (target && target->isEnabled() && target->isVisible()) {
            seen->clicked = true;
            QTest::mouseClick(target, Qt::LeftButton);
        } else {
            box->reject();
        }
    });
    timer->start(10);
    return seen;
}

}  // namespace fsv::test
