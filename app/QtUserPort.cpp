#include "app/QtUserPort.h"

#include <QPushButton>
#include <QThread>

#include "ui/Prompts.h"
#include "ui/dialogs/StartWorkDialogs.h"

namespace fsv::app {

using client::Answer;
using client::Question;

QtUserPort::QtUserPort(QObject* context, client::NotificationQueue& queue, platform::Event& exit)
    : context_(context), queued_(queue, exit) {}

bool QtUserPort::onUiThread() const { return QThread::currentThread() == context_->thread(); }

Answer QtUserPort::answerHere(const Question& q) {
    Answer a;
    switch (q.kind) {
        case Question::Kind::Box:
            a.box = ui::Prompts::box(window_, q.text, q.style);
            break;
        case Question::Kind::ExistingFile:
            a.existingFile = ui::Prompts::existingFile(window_, q.path, q.offerResume);
            break;
        case Question::Kind::Folder: {
            auto d = ui::Prompts::chooseFolder(window_, q.text, q.path);
            if (!d.empty()) a.paths.push_back(std::move(d));
            break;
        }
        case Question::Kind::SaveFile: {
            auto p = ui::Prompts::saveFile(window_, q.filter, q.defaultExtension, q.path);
            if (!p.empty()) a.paths.push_back(std::move(p));
            break;
        }
        case Question::Kind::OpenFile: {
            auto p = ui::Prompts::openFile(window_, q.filter, q.path);
            if (!p.empty()) a.paths.push_back(std::move(p));
            break;
        }
        case Question::Kind::OpenFiles:
            a.paths = ui::Prompts::openFiles(window_, q.filter, q.path);
            break;
        case Question::Kind::Action: {
            // The period choice is offered for exactly one selected event.
            ui::ActionDialog d(q.offerResume ? 1 : 2, window_);
            if (d.exec() == QDialog::Accepted) a.choice = static_cast<int>(d.action());
            break;
        }
        case Question::Kind::FrameRange: {
            ui::FrameRangeDialog d(q.frameCount, window_);
            if (d.exec() == QDialog::Accepted) {
                a.first = d.range().first + 1;
                a.last = d.range().last + 1;
            }
            break;
        }
    }
    return a;
}

void QtUserPort::answerQueued(const Question& q) {
    // A question whose worker gave up (the program is ending) is not shown any more.
    if (!queued_.waiting(q.id)) return;
    queued_.answer(q.id, answerHere(q));
}

std::filesystem::path QtUserPort::onePath(const Question& q) {
    if (exiting()) return {};
    auto a = answerHere(q);
    return a.paths.empty() ? std::filesystem::path{} : a.paths.front();
}

int QtUserPort::messageBox(const std::string& text, unsigned type, bool direct) {
    if (!direct || !onUiThread()) return queued_.messageBox(text, type, direct);
    Question q;
    q.text = text;
    q.style = client::boxStyle(type);
    // Once exiting, the box is not shown: the default answer declines.
    return client::answerId(exiting() ? Answer{}.box : answerHere(q).box);
}

void QtUserPort::post(PanelMessage message, intptr_t first, intptr_t second) {
    queued_.post(message, first, second);
}

ExistingFileAnswer QtUserPort::askExistingFile(const std::filesystem::path& path,
                                               bool offerResume) {
    if (!onUiThread()) return queued_.askExistingFile(path, offerResume);
    if (exiting()) return ExistingFileAnswer::Abort;
    Question q;
    q.kind = Question::Kind::ExistingFile;
    q.path = path;
    q.offerResume = offerResume;
    return answerHere(q).existingFile;
}

std::filesystem::path QtUserPort::chooseFolder(const std::filesystem::path& start,
                                               const std::string& text) {
    if (!onUiThread()) return queued_.chooseFolder(start, text);
    Question q;
    q.kind = Question::Kind::Folder;
    q.path = start;
    q.text = text;
    return onePath(q);
}

std::filesystem::path QtUserPort::saveFileDialog(const std::filesystem::path& start,
                                                 const std::string& filter,
                                                 const std::string& defaultExtension) {
    if (!onUiThread()) return queued_.saveFileDialog(start, filter, defaultExtension);
    Question q;
    q.kind = Question::Kind::SaveFile;
    q.path = start;
    q.filter = filter;
    q.defaultExtension = defaultExtension;
    return onePath(q);
}

std::filesystem::path QtUserPort::openFileDialog(const std::filesystem::path& start,
                                                 const std::string& filter) {
    if (!onUiThread()) return queued_.openFileDialog(start, filter);
    Question q;
    q.kind = Question::Kind::OpenFile;
    q.path = start;
    q.filter = filter;
    return onePath(q);
}

std::vector<std::filesystem::path> QtUserPort::openFilesDialog(const std::filesystem::path& start,
                                                               const std::string& filter) {
    if (!onUiThread()) return queued_.openFilesDialog(start, filter);
    if (exiting()) return {};
    Question q;
    q.kind = Question::Kind::OpenFiles;
    q.path = start;
    q.filter = filter;
    return answerHere(q).paths;
}

int QtUserPort::askAction(bool periodAllowed) {
    if (!onUiThread()) return queued_.askAction(periodAllowed);
    if (exiting()) return -1;
    Question q;
    q.kind = Question::Kind::Action;
    q.offerResume = periodAllowed;
    return answerHere(q).choice;
}

bool QtUserPort::askFrameRange(uint32_t frameCount, uint32_t& start, uint32_t& end) {
    if (!onUiThread()) return queued_.askFrameRange(frameCount, start, end);
    if (exiting()) return false;
    Question q;
    q.kind = Question::Kind::FrameRange;
    q.frameCount = frameCount;
    const auto a = answerHere(q);
    if (a.first < 1 || a.last < a.first) return false;
    start = a.first;
    end = a.last;
    return true;
}

}  // namespace fsv::app
