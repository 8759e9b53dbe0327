// Saved connection sets and resume files.
#include "platform/System.h"
#include "platform/UserPort.h"
#include "state/ConnectionSet.h"
#include "state/ResumeFile.h"
#include "ui/Prompts.h"
#include "ui/mainwindow/MainWindow.h"

namespace fsv::ui {

void MainWindow::saveConnectiveStatus() {
    const auto file = Prompts::saveFile(this, state::kLinkFilter, state::kLinkExtension);
    if (file.empty()) return;
    std::string message;
    if (state::saveConnectionSet(file, backend_.connections(), &message) == state::SaveSet::Failed)
        Prompts::box(this, message, {BoxButtons::Ok, BoxIcon::Stop});
}

void MainWindow::loadConnectiveStatus() {
    const auto file = Prompts::openFile(this, state::kLinkFilter);
    if (file.empty()) return;
    auto set = state::loadConnectionSet(file);
    if (set.status == state::ReadStatus::WrongFormat || set.status == state::ReadStatus::Empty ||
        set.status == state::ReadStatus::Unreadable || set.status == state::ReadStatus::Missing) {
        Prompts::box(this, set.message.empty() ? std::string(state::kReadFileFail) : set.message,
                     {BoxButtons::Ok, BoxIcon::Stop});
        return;
    }
    // One connect thread after another; each starts once the previous took its request.
    for (const auto& request : set.value) {
        setButtonState(kToolbarLine, kConnectButton, 1);
        if (!backend_.connect(request)) break;
    }
}

void MainWindow::loadResumeFile() {
    // The resume files are kept in the data folder.
    const auto file = Prompts::openFile(this, state::kResumeFilter, platform::dataFolder());
    if (file.empty()) return;
    backend_.loadResumeFile(file);
}

}  // namespace fsv::ui
