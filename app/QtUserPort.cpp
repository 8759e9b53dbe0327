#include "app/QtUserPort.h"

#include <QPushButton>
#include <QThread>

#include "ui/Prompts.h"
#include "ui/dialogs/StartWorkDialogs.h"

namespace fsv::app {

using client::Answer;
using client::Question;

QtUserPort::QtUserPort(QObject* context, client::NotificationQueue& queue, fsv::platform::Event& exit)
    : QueuedUserPort(queue, exit), context_(context) {}

std::optional<Answer> QtUserPort::answerAtOnce(const Question& q) {
    // The UI thread cannot wait for its own drain: it asks at once.
    if (QThread::currentThread() != context_->thread()) return std::nullopt;
    return answerHere(q);
}

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
    if (!waiting(q.id)) return;
    answer(q.id, answerHere(q));
}

void QtUserPort::post(PanelMessage message, intptr_t wParam, intptr_t lParam) {
    if (exiting()) return;
    QueuedUserPort::post(message, wParam, lParam);
}

}  // namespace fsv::app
