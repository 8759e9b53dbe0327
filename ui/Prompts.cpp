#include "ui/Prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "platform/UserPort.h"

namespace fsv::ui {
namespace {

PromptScript* gScript = nullptr;

QMessageBox::Icon iconOf(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Stop:
            return QMessageBox::Critical;
        case BoxIcon::Question:
            return QMessageBox::Question;
        case BoxIcon::Warning:
            return QMessageBox::Warning;
        case BoxIcon::Information:
            return QMessageBox::Information;
        case BoxIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

std::filesystem::path toPath(const QString& s) {
    return s.isEmpty() ? std::filesystem::path() : std::filesystem::path(s.toStdString());
}

}  // namespace

void Prompts::setScript(PromptScript* script) { gScript = script; }
PromptScript* Prompts::script() { return gScript; }

namespace {

// The buttons of a box, each with the answer it gives; the first is the default, the last the
// one Escape and the close button give.
std::vector<Prompts::BoxButton> buttonsOf(BoxButtons buttons) {
    switch (buttons) {
        case BoxButtons::OkCancel:
            return {{QMessageBox::Ok, BoxAnswer::Ok}, {QMessageBox::Cancel, BoxAnswer::Cancel}};
        case BoxButtons::YesNoCancel:
            return {{QMessageBox::Yes, BoxAnswer::Yes},
                    {QMessageBox::No, BoxAnswer::No},
                    {QMessageBox::Cancel, BoxAnswer::Cancel}};
        case BoxButtons::YesNo:
            return {{QMessageBox::Yes, BoxAnswer::Yes}, {QMessageBox::No, BoxAnswer::No}};
        case BoxButtons::RetryCancel:
            return {{QMessageBox::Retry, BoxAnswer::Retry},
                    {QMessageBox::Cancel, BoxAnswer::Cancel}};
        case BoxButtons::Ok:
            break;
    }
    return {{QMessageBox::Ok, BoxAnswer::Ok}};
}

}  // namespace

BoxAnswer Prompts::box(QWidget* parent, const std::string& text, BoxStyle style) {
    const auto buttons = buttonsOf(style.buttons);
    if (gScript) {
        PromptScript::Box b{text, style};
        gScript->shown.push_back(b);
        if (gScript->onBox) gScript->onBox(b);
        if (gScript->realBoxes) return showBox(parent, text, style.icon, buttons);
        if (!gScript->answers.empty()) {
            const BoxAnswer a = gScript->answers.front();
            gScript->answers.pop_front();
            return a;
        }
        // Unscripted: the answer that declines (No, Cancel) unless OK is among the buttons.
        if (gScript->defaultAnswer) return *gScript->defaultAnswer;
        for (const auto& b : buttons)
            if (b.answer == BoxAnswer::Ok) return BoxAnswer::Ok;
        return buttons.back().answer;
    }
    return showBox(parent, text, style.icon, buttons);
}

BoxAnswer Prompts::showBox(QWidget* parent, const std::string& text, BoxIcon icon,
                           const std::vector<BoxButton>& buttons) {
    // The system's boxes carry the program's name as their title.
    QMessageBox box(iconOf(icon), QStringLiteral("FarsightViewer"), QString::fromStdString(text),
                    QMessageBox::NoButton, parent);
    box.setAccessibleName(QString::fromStdString(text));
    const auto standard = [](int b) { return static_cast<QMessageBox::StandardButton>(b); };
    for (const auto& b : buttons) {
        QAbstractButton* button = box.addButton(standard(b.button));
        button->setAccessibleName(button->text().remove(QLatin1Char('&')));
        button->setFocusPolicy(Qt::StrongFocus);
    }
    box.setDefaultButton(standard(buttons.front().button));
    box.setEscapeButton(box.button(standard(buttons.back().button)));
    box.exec();
    const int clicked = static_cast<int>(box.standardButton(box.clickedButton()));
    for (const auto& b : buttons)
        if (b.button == clicked) return b.answer;
    return buttons.back().answer;
}

QString Prompts::qtFilter(const std::string& filter) {
    // Pairs of "description|patterns|", ended by an empty pair.
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        const QString patterns = parts[i + 1];
        if (name.isEmpty() || patterns.isEmpty()) break;
        // The description carries its own upper-case pattern in brackets; the file system here
        // tells case apart, so both cases are offered.
        const qsizetype bracket = name.indexOf(QLatin1Char('('));
        if (bracket > 0) name = name.left(bracket).trimmed();
        QStringList globs;
        for (const QString& p : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            globs << p;
            if (p.toUpper() != p) globs << p.toUpper();
        }
        out << QStringLiteral("%1 (%2)").arg(name, globs.join(QLatin1Char(' ')));
    }
    return out.join(QStringLiteral(";;"));
}

std::filesystem::path Prompts::saveFile(QWidget* parent, const std::string& filter,
                                        const std::string& defaultExtension,
                                        const std::filesystem::path& start) {
    if (gScript) {
        gScript->dialogStarts.push_back(start);
        if (gScript->saveFiles.empty()) return {};
        auto p = gScript->saveFiles.front();
        gScript->saveFiles.pop_front();
        return p;
    }
    QFileDialog dialog(parent, QString(), QString::fromStdString(start.string()), qtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromStdString(defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return toPath(dialog.selectedFiles().front());
}

std::filesystem::path Prompts::openFile(QWidget* parent, const std::string& filter,
                                        const std::filesystem::path& start) {
    if (gScript) {
        gScript->dialogStarts.push_back(start);
        if (gScript->openFiles.empty()) return {};
        auto p = gScript->openFiles.front();
        gScript->openFiles.pop_front();
        return p;
    }
    return toPath(QFileDialog::getOpenFileName(
        parent, QString(), QString::fromStdString(start.string()), qtFilter(filter)));
}

std::vector<std::filesystem::path> Prompts::openFiles(QWidget* parent, const std::string& filter,
                                                      const std::filesystem::path& start) {
    std::vector<std::filesystem::path> out;
    if (gScript) {
        gScript->dialogStarts.push_back(start);
        while (!gScript->openFiles.empty()) {
            out.push_back(gScript->openFiles.front());
            gScript->openFiles.pop_front();
        }
        return out;
    }
    for (const QString& f : QFileDialog::getOpenFileNames(
             parent, QString(), QString::fromStdString(start.string()), qtFilter(filter)))
        out.push_back(toPath(f));
    return out;
}

std::filesystem::path Prompts::chooseFolder(QWidget* parent, const std::string& text,
                                            const std::filesystem::path& start) {
    if (gScript) {
        if (gScript->folders.empty()) return {};
        auto p = gScript->folders.front();
        gScript->folders.pop_front();
        return p;
    }
    return toPath(QFileDialog::getExistingDirectory(parent, QString::fromStdString(text),
                                                    QString::fromStdString(start.string())));
}

ExistingFileAnswer Prompts::existingFile(QWidget* parent, const std::filesystem::path& path,
                                         bool offerResume) {
    if (gScript) {
        if (gScript->existingFiles.empty()) return ExistingFileAnswer::Abort;
        const auto a = gScript->existingFiles.front();
        gScript->existingFiles.pop_front();
        return a;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("FarsightViewer"),
                    QStringLiteral("File already exist. Choose to do...\n%1")
                        .arg(QString::fromStdString(path.string())),
                    QMessageBox::NoButton, parent);
    auto* saveAs = box.addButton(QStringLiteral("Save &As"), QMessageBox::ActionRole);
    auto* overwrite = box.addButton(QStringLiteral("&Overwrite"), QMessageBox::ActionRole);
    QAbstractButton* resume =
        offerResume ? box.addButton(QStringLiteral("&Resume"), QMessageBox::ActionRole) : nullptr;
    box.addButton(QStringLiteral("A&bort"), QMessageBox::RejectRole);
    box.exec();
    if (box.clickedButton() == saveAs) return ExistingFileAnswer::SaveAs;
    if (box.clickedButton() == overwrite) return ExistingFileAnswer::Overwrite;
    if (resume && box.clickedButton() == resume) return ExistingFileAnswer::Resume;
    return ExistingFileAnswer::Abort;
}

}  // namespace fsv::ui
