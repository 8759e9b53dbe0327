#include "app/QtUserPort.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QWidget>
#include <memory>
#include <mutex>

#include "ui/Prompts.h"

namespace fsv::app {

QtUserPort::QtUserPort(QObject* context, platform::Event& exit,
                       std::function<void(const ui::ViewerNotice&)> notify)
    : context_(context), exit_(exit), notify_(std::move(notify)) {}

bool QtUserPort::onUiThread() const { return QThread::currentThread() == context_->thread(); }

template <class T>
T QtUserPort::askOnUi(std::function<T()> ask, T onExit) {
    if (exiting_.load()) return onExit;
    if (onUiThread()) return ask();
    struct Slot {
        platform::Event done{platform::Event::Reset::Manual};
        std::mutex lock;
        T answer{};
    };
    auto slot = std::make_shared<Slot>();
    QMetaObject::invokeMethod(
        context_,
        [slot, ask = std::move(ask)] {
            T a = ask();
            {
                std::lock_guard g(slot->lock);
                slot->answer = std::move(a);
            }
            slot->done.set();
        },
        Qt::QueuedConnection);
    if (platform::waitAny({&slot->done, &exit_}) != 0) return onExit;
    std::lock_guard g(slot->lock);
    return slot->answer;
}

int QtUserPort::messageBox(const std::string& text, unsigned type, bool direct) {
    if (exiting_.load()) return mb::kIdNo;
    if (direct)
        return askOnUi<int>([this, text, type] { return ui::Prompts::box(window_, text, type); },
                            mb::kIdNo);
    ui::ViewerNotice n;
    n.kind = ui::ViewerNotice::Kind::MessageBox;
    n.text = text;
    n.type = type;
    notify_(n);
    return 1;
}

void QtUserPort::post(PanelMessage message, intptr_t wParam, intptr_t) {
    if (exiting_.load()) return;
    // The channel and download messages arrive with their windows.
    if (message != PanelMessage::RecorderClosed) return;
    ui::ViewerNotice n;
    n.kind = ui::ViewerNotice::Kind::RecorderClosed;
    n.session = wParam;
    notify_(n);
}

ExistingFileAnswer QtUserPort::askExistingFile(const std::filesystem::path& path,
                                               bool offerResume) {
    return askOnUi<ExistingFileAnswer>(
        [this, path, offerResume] {
            QMessageBox box(QMessageBox::Question, QStringLiteral("FarsightViewer"),
                            QStringLiteral("File already exist. Choose to do...\n%1")
                                .arg(QString::fromStdString(path.string())),
                            QMessageBox::NoButton, window_);
            auto* saveAs = box.addButton(QStringLiteral("Save &As"), QMessageBox::ActionRole);
            auto* overwrite = box.addButton(QStringLiteral("&Overwrite"), QMessageBox::ActionRole);
            QAbstractButton* resume =
                offerResume ? box.addButton(QStringLiteral("&Resume"), QMessageBox::ActionRole)
                            : nullptr;
            box.addButton(QStringLiteral("A&bort"), QMessageBox::RejectRole);
            box.exec();
            if (box.clickedButton() == saveAs) return ExistingFileAnswer::SaveAs;
            if (box.clickedButton() == overwrite) return ExistingFileAnswer::Overwrite;
            if (resume && box.clickedButton() == resume) return ExistingFileAnswer::Resume;
            return ExistingFileAnswer::Abort;
        },
        ExistingFileAnswer::Abort);
}

std::filesystem::path QtUserPort::chooseFolder(const std::filesystem::path& start,
                                               const std::string& text) {
    return askOnUi<std::filesystem::path>(
        [this, start, text] {
            const QString d = QFileDialog::getExistingDirectory(
                window_, QString::fromStdString(text), QString::fromStdString(start.string()));
            return d.isEmpty() ? std::filesystem::path() : std::filesystem::path(d.toStdString());
        },
        {});
}

std::filesystem::path QtUserPort::saveFileDialog(const std::filesystem::path&,
                                                 const std::string& filter,
                                                 const std::string& defaultExtension) {
    return askOnUi<std::filesystem::path>(
        [this, filter, defaultExtension] {
            return ui::Prompts::saveFile(window_, filter, defaultExtension);
        },
        {});
}

std::filesystem::path QtUserPort::openFileDialog(const std::filesystem::path&,
                                                 const std::string& filter) {
    return askOnUi<std::filesystem::path>(
        [this, filter] { return ui::Prompts::openFile(window_, filter); }, {});
}

}  // namespace fsv::app
