#pragma once
// The modeless progress window of an export, "Export New AVI File...": both paths, a progress
// bar and "&Cancel". Cancel raises the cancel flag the export looks at after every frame and
// closes the window.

#include <QDialog>
#include <atomic>

class QLabel;
class QProgressBar;
class QPushButton;

namespace fsv::framestamp {

class ExportProgressWindow : public QDialog {
    Q_OBJECT
  public:
    ExportProgressWindow(const QString& input, const QString& output, QWidget* parent = nullptr);

    void setRange(int total);
    void setValue(int done);
    const std::atomic<bool>& cancelFlag() const { return cancel_; }
    QProgressBar* bar() const { return bar_; }
    QPushButton* cancelButton() const { return cancelButton_; }

  protected:
    void reject() override;

  private:
    std::atomic<bool> cancel_{false};
    QLabel* input_;
    QLabel* output_;
    QProgressBar* bar_;
    QPushButton* cancelButton_;
};

}  // namespace fsv::framestamp
