#pragma once
// The status window: one line ("Connecting...") and a Cancel button. Modeless: the main window
// and its timers keep running while it shows.

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;

namespace fsv::ui {

class StatusWindow : public QDialog {
    Q_OBJECT
  public:
    explicit StatusWindow(QWidget* parent, std::function<void()> onCancel);
    void showText(const QString& text);
    QString text() const;

  protected:
    void reject() override;  // Escape and the window's close button cancel too

  private:
    QLabel* label_;
    QPushButton* cancel_;
    std::function<void()> onCancel_;
};

}  // namespace fsv::ui
