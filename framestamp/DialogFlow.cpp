#include "framestamp/DialogFlow.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <thread>

#include "framestamp/ProgressWindow.h"
#include "framestamp/SaveAviDialog.h"

namespace fsv::framestamp {

QString DialogPrompts::askInput() {
    QFileDialog dialog(nullptr, QString::fromLatin1(kTextSelectInput));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("avi"));
    dialog.setNameFilter(qtFileFilter(QString::fromLatin1(kInputFilter)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

QString DialogPrompts::askOutput(const QString& defaultName, StampOptions& options) {
    CSaveAviDlg dialog(defaultName, options);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    options = dialog.options();
    return dialog.selectedFiles().constFirst();
}

void DialogPrompts::report(bool finished) {
    QMessageBox box(finished ? QMessageBox::Information : QMessageBox::Critical,
                    QString::fromLatin1(kTextCaption),
                    QString::fromLatin1(finished ? kTextFinish : kTextFail), QMessageBox::Ok);
    box.exec();
}

ExportResult exportWithProgress(const QString& input, const QString& output,
                                const StampOptions& options) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ExportProgressWindow window(input, output);
    window.show();

    // The worker only touches these; the window reads them on a timer.
    std::atomic<int> done{0}, total{0};
    std::atomic<bool> over{false};
    ExportResult result = ExportResult::Failed;
    std::thread worker([&] {
        StampExport job;
        result = job.run(
            std::filesystem::path(QFile::encodeName(input).toStdString()),
            std::filesystem::path(QFile::encodeName(output).toStdString()), options,
            [&](int d, int n) {
                total.store(n);
                done.store(d);
            },
            &window.cancelFlag());
        over = true;
    });

    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        window.setRange(total.load());
        window.setValue(done.load());
        if (over.load()) loop.quit();
    });
    poll.start(30);
    loop.exec();
    worker.join();
    window.hide();
    QApplication::restoreOverrideCursor();
    return result;
}

int runDialogs(const QString& given, Prompts& prompts) {
    QString input = given;
    if (input.isEmpty()) input = prompts.askInput();
    if (input.isEmpty()) return 0;

    StampOptions options;
    const qsizetype slash = input.lastIndexOf(u'/');
    const QString defaultName = slash < 0 ? input : input.mid(slash + 1);
    const QString output = prompts.askOutput(defaultName, options);
    if (output.isEmpty()) return 0;

    const ExportResult r = exportWithProgress(input, output, options);
    prompts.report(r == ExportResult::Finished);
    return r == ExportResult::Finished ? 0 : 1;
}

}  // namespace fsv::framestamp
