#pragma once
// The clip dialog: the file's picture at the chosen frame, the first and last frame with their
// time stamps, where the clip goes, and a progress bar. Writing runs on a thread of its own; the
// dialog cannot be closed until it has ended.

#include <QDialog>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QFormLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace fsv::media {
class AviReader;
}

namespace fsv::merge {

class MergeDialog : public QDialog {
    Q_OBJECT
  public:
    using Progress = std::function<void(int value, int state)>;

    MergeDialog(const std::filesystem::path& file, const std::string& credential, Progress progress,
                std::atomic<bool>& busy, QWidget* parent = nullptr);
    ~MergeDialog() override;

    bool opened() const { return frameCount_ > 0; }

  public Q_SLOTS:
    void save();
    void reject() override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Building the window, part by part.
    void makePicture();
    QLabel* buddyLabel(const QString& text, QWidget* buddy);
    QFormLayout* makeFrameFields();
    void addClipField(QFormLayout& form, const std::filesystem::path& file);
    QLayout* makeButtons();
    void followFrames();
    void updateRange();
    void showFrame(int index);
    void finished(bool ok, const QString& error);

    std::filesystem::path file_;
    Progress progress_;
    std::atomic<bool>& busy_;
    std::unique_ptr<media::AviReader> reader_;
    int frameCount_ = 0;
    int shown_ = 0;
    std::thread writer_;

    QLabel* picture_ = nullptr;
    QSpinBox* first_ = nullptr;
    QSpinBox* last_ = nullptr;
    QLabel* firstTime_ = nullptr;
    QLabel* lastTime_ = nullptr;
    QLabel* status_ = nullptr;
    QLineEdit* path_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* save_ = nullptr;
};

}  // namespace fsv::merge
