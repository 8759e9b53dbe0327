#include "ui/mainwindow/StatusWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace fsv::ui {

StatusWindow::StatusWindow(QWidget* parent, std::function<void()> onCancel)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      onCancel_(std::move(onCancel)) {
    setObjectName(QStringLiteral("statusWindow"));
    setWindowTitle(QStringLiteral("Farsight Viewer"));
    setAccessibleName(QStringLiteral("Status"));
    setModal(false);
    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("statusText"));
    label_->setMinimumWidth(260);
    label_->setAlignment(Qt::AlignCenter);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("statusCancel"));
    cancel_->setAccessibleName(QStringLiteral("Cancel"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(cancel_, 0, Qt::AlignHCenter);
    connect(cancel_, &QPushButton::clicked, this, &StatusWindow::reject);
}

void StatusWindow::showText(const QString& text) {
    label_->setText(text);
    label_->setAccessibleName(text);
    show();
    raise();
}

QString StatusWindow::text() const { return label_->text(); }

void StatusWindow::reject() {
    hide();
    if (onCancel_) onCancel_();
}

}  // namespace fsv::ui
