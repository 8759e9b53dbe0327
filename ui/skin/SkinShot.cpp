// fsv-skin-shot ROOT OUTDIR: loads the Metal_Style skin at 800, 1024 and 1280 from ROOT into a
// bare surface, shows a playing channel's texts and looks, and saves OUTDIR/skin-WIDTH.png.
// Prints how long reading the skin and building its controls took.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <cstdio>

#include "ui/skin/SkinButton.h"
#include "ui/skin/SkinControls.h"
#include "ui/skin/SkinPanel.h"
#include "ui/skin/SkinSurface.h"

using namespace fsv::ui::skin;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: fsv-skin-shot ROOT OUTDIR\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const QString out = QString::fromLocal8Bit(argv[2]);
    int failed = 0;
    for (int width : {800, 1024, 1280}) {
        QElapsedTimer t;
        t.start();
        SkinSurface s;
        s.load("Metal_Style", width, {root}, [](int, int) {});
        const qint64 ms = t.nsecsElapsed() / 1000;
        std::printf("skin %d: read and built in %.1f ms (%zu buttons)\n", width, ms / 1000.0,
                    s.controls().buttons.size());
        if (auto it = s.controls().panels.find(0); it != s.controls().panels.end()) {
            SkinPanel* info = it->second;
            info->setText(0, "# 1");
            info->setText(1, "12/10/26");
            info->setText(2, "09:05:03.007");
            info->setText(3, "x 1");
        }
        // A playing channel: play shows its play image, step-back and first are off, the
        // saves are off while playing.
        for (int i : {0}) s.setButtonLook(3, i, LookPlay);
        for (int i : {2, 4}) s.setButtonLook(3, i, LookDisabled);
        for (int i : {2, 3}) s.setButtonLook(4, i, LookDisabled);
        s.selectLayout(1);
        if (SkinPanelWindow* w = s.panelWindow(1)) {
            if (!w->controls.statics.empty())
                w->controls.statics[0]->setText("127.0.0.1  4 cameras");
            if (auto p = w->controls.progress.find(0); p != w->controls.progress.end())
                p->second.at(0)->setValue(62);
        }
        s.show();
        const QString file = out + QString("/skin-%1.png").arg(width);
        if (!s.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            ++failed;
        }
    }
    return failed ? 1 : 0;
}
