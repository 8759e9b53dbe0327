// FarsightViewer: the desktop program.
#include <QApplication>
#include <QLockFile>
#include <chrono>
#include <clocale>
#include <cstdio>

#include "app/Viewer.h"
#include "ktcrypto/KtCrypto.h"
#include "platform/System.h"

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    // RSA support, installing the crypto pack when it is missing.
    if (!IsSupportKtCryp(0) && !KtInstallCryptEnpack()) {
        fsv::platform::debugOutput("KtCrypInit & CreateProcess failed\n");
        return 0;
    }
    // One instance at a time: a second start ends at once, without a word.
    QLockFile instance(
        QString::fromStdString((fsv::platform::dataFolder() / "FarsightViewer.lock").string()));
    if (!instance.tryLock(0)) return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Farsight Viewer"));
    std::setlocale(LC_ALL, "");

    fsv::app::Viewer viewer;
    QObject::connect(&viewer, &fsv::app::Viewer::drawn, [started] {
        if (!fsv::platform::debugEnabled()) return;
        const auto now = std::chrono::system_clock::now();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
        const auto epoch =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
        fsv::platform::debugOutput("main window drawn " + std::to_string(ms) + " ms after main, at " +
                              std::to_string(epoch) + "\n");
    });
    viewer.start();
    const int rc = app.exec();
    return rc;
}
