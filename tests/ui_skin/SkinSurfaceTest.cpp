#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <utility>
#include <vector>

#include "ui/skin/SkinButton.h"
#include "ui/skin/SkinImages.h"
#include "ui/skin/SkinPanel.h"
#include "ui/skin/SkinSlider.h"
#include "ui/skin/SkinSurface.h"

using namespace fsv::ui::skin;

namespace {

// Counts the paints a widget gets.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

struct Clicks {
    std::vector<std::pair<int, int>> got;
    SkinSurface::Dispatcher dispatcher() {
        return [this](int line, int index) { got.emplace_back(line, index); };
    }
};

int highlightedInLine0(const SkinSurface& s) {
    int n = 0;
    for (int i = 0; i < 16; ++i)
        if (SkinButton* b = s.button(0, i); b && b->look() == LookHighlighted) ++n;
    return n;
}

}  // namespace

class SkinSurfaceTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }

    void metalSkinLoadsAtEveryWidth() {
        for (int width : {800, 1024, 1280}) {
            SkinSurface s;
            s.load("Metal_Style", width, {FSV_BINARY_DIR}, nullptr);
            QCOMPARE(s.width(), width);
            // Toolbar (line 6): 8 buttons; playback (line 3): 9; saves (line 4): 2 and 3.
            for (int i = 0; i < 8; ++i) QVERIFY(s.button(6, i));
            for (int i = 0; i < 9; ++i) QVERIFY(s.button(3, i));
            QVERIFY(!s.button(4, 0) && s.button(4, 2) && s.button(4, 3));
            QCOMPARE(s.button(4, 2)->accessibleName(), QString("Save as AVI File"));
            QCOMPARE(s.button(4, 2)->toolTip(), QString("Save as AVI File"));
            QCOMPARE(s.controls().panels.at(0)->textCount(), 4);
            QCOMPARE(s.controls().sliders.at(0).size(), 1u);
            QCOMPARE(s.panelWindowCount(), 2);
            QVERIFY(s.panelWindow(1)->isVisibleTo(&s));
            QVERIFY(!s.panelWindow(0)->isVisibleTo(&s));
            QCOMPARE(s.panelWindow(1)->accessibleName(), QString("Status"));
            // Every button can be seen and pressed: inside the surface, none over another.
            QVERIFY(s.button(4, 4));
            std::vector<std::pair<QString, QRect>> placed;
            for (int line = 0; line < 8; ++line)
                for (int i = 0; i < 16; ++i)
                    if (auto* b = s.button(line, i))
                        placed.emplace_back(b->toolTip(), b->geometry());
            for (size_t a = 0; a < placed.size(); ++a) {
                QVERIFY2(QRect(0, 0, s.width(), s.height()).contains(placed[a].second),
                         qPrintable(placed[a].first));
                for (size_t b = a + 1; b < placed.size(); ++b)
                    QVERIFY2(!placed[a].second.intersects(placed[b].second),
                             qPrintable(QStringLiteral("%1 at %2: \"%3\" over \"%4\"")
                                            .arg(width)
                                            .arg(placed[a].second.x())
                                            .arg(placed[a].first, placed[b].first)));
            }
        }
    }

    // The generated description names only files that are there beside it.
    void metalSkinNamesOnlyFilesItShips() {
        for (const char* folder : {"", "1024", "1280"}) {
            const QString dir =
                QStringLiteral(FSV_BINARY_DIR "/Metal_Style/FarsightViewer_CommRes") + folder;
            QFile ini(dir + "/skin_e.ini");
            QVERIFY2(ini.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(ini.fileName()));
            int named = 0;
            for (const QString& line : QString::fromLatin1(ini.readAll()).split('\n')) {
                if (line.startsWith(';')) continue;
                const QString value = line.section('=', 1).trimmed();
                if (!value.endsWith(".bmp", Qt::CaseInsensitive) &&
                    !value.endsWith(".ini", Qt::CaseInsensitive))
                    continue;
                ++named;
                QVERIFY2(QFile::exists(dir + "/" + value), qPrintable(dir + ": " + line));
            }
            QVERIFY(named > 5);
        }
    }

    void clickReachesTheDispatcherWithLineAndIndex() {
        Clicks clicks;
        SkinSurface s;
        s.load("Metal_Style", 800, {FSV_BINARY_DIR}, clicks.dispatcher());
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        QTest::mouseClick(s.button(6, 7), Qt::LeftButton);
        QTest::mouseClick(s.button(3, 8), Qt::LeftButton);
        QTest::mouseClick(s.button(4, 3), Qt::LeftButton);
        const std::vector<std::pair<int, int>> want{{6, 7}, {3, 8}, {4, 3}};
        QCOMPARE(clicks.got, want);

        // Pressed, then released outside: no click. A disabled look takes clicks away.
        SkinButton* b = s.button(6, 0);
        QTest::mousePress(b, Qt::LeftButton);
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(-20, -20));
        s.setButtonLook(3, 0, LookDisabled);
        QTest::mouseClick(s.button(3, 0), Qt::LeftButton);
        QCOMPARE(clicks.got.size(), 3u);
        s.setButtonLook(3, 0, LookNormal);
        QTest::mouseClick(s.button(3, 0), Qt::LeftButton);
        QCOMPARE(clicks.got.back(), std::make_pair(3, 0));
    }

    void lineZeroKeepsExactlyOneHighlighted() {
        Clicks clicks;
        SkinSurface s;
        s.load("Metal_Style", 1024, {FSV_BINARY_DIR}, clicks.dispatcher());
        s.show();
        QCOMPARE(s.button(0, 0)->look(), int(LookHighlighted));
        QCOMPARE(highlightedInLine0(s), 1);
        for (int i : {2, 2, 3, 0}) {
            QTest::mouseClick(s.button(0, i), Qt::LeftButton);
            QCOMPARE(s.selectedLayout(), i);
            QCOMPARE(s.button(0, i)->look(), int(LookHighlighted));
            QCOMPARE(s.button(0, i)->shownImage(), 1);
            QCOMPARE(highlightedInLine0(s), 1);
            QCOMPARE(clicks.got.back(), std::make_pair(0, i));
        }
    }

    void buttonLookChangesOnlyAButtonWhoseLookDiffers() {
        SkinSurface s;
        s.load("Metal_Style", 800, {FSV_BINARY_DIR}, nullptr);
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        SkinButton* save = s.button(4, 3);
        PaintCounter counter;
        save->installEventFilter(&counter);
        QVERIFY(s.setButtonLook(4, 3, LookDisabled));
        QCOMPARE(save->look(), int(LookDisabled));
        QCOMPARE(save->shownImage(), 2);
        const int paints = counter.paints;
        QVERIFY(paints > 0);
        QVERIFY(!s.setButtonLook(4, 3, LookDisabled));  // same look: left alone
        QCOMPARE(counter.paints, paints);
        QVERIFY(s.setButtonLook(4, 3, LookPlay));
        QCOMPARE(save->shownImage(), 3);
        QVERIFY(!s.setButtonLook(4, 15, LookPlay));  // no such button
        QVERIFY(!s.setButtonLook(99, 3, LookPlay));
    }

    void missingBitmapsLeaveControlsWithoutPictures() {
        // A skin whose bitmaps are all missing, with a two-state button; init() fails the test
        // on any warning, so nothing may be reported.
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString() + "/FarsightViewer_CommRes";
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/skin_e.ini") << "[Main]\nPanel=gone.bmp\n[ButtonLines]\n"
                                                 "Layout=gone.bmp\nA=goneUp.bmp\n[ButtonA]\n"
                                                 "b=t,10,10,0,0,30,20,Toggle,true\n"
                                                 "[SliderLines]\nS=gone.bmp\n[SliderS]\n"
                                                 "s=pos,0,40,0,0,200,20,HORZ,0,0,10,20,,,x\n";
        Clicks clicks;
        SkinSurface s;
        s.load("Any", 900, {dir.path().toStdString()}, clicks.dispatcher());
        s.show();
        SkinButton* b = s.button(1, 0);  // line 1: line 0 is there but empty
        QVERIFY(b);
        QCOMPARE(s.selectedLayout(), -1);
        QCOMPARE(b->geometry(), QRect(10, 10, 30, 20));
        QVERIFY(b->isCheckable());
        QTest::mouseClick(b, Qt::LeftButton);
        QVERIFY(b->isChecked());
        QCOMPARE(b->shownImage(), 3);
        QTest::mouseClick(b, Qt::LeftButton);
        QVERIFY(!b->isChecked());
        QCOMPARE(clicks.got.size(), 2u);
        QVERIFY(!s.grab().isNull());

        // The slider without pictures still moves.
        SkinSlider* slider = s.controls().sliders.at(0).at(0);
        slider->setRange(0, 100);
        QSignalSpy moved(slider, &QAbstractSlider::valueChanged);
        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(195, 10));
        QVERIFY(slider->value() > 90);
        QVERIFY(!moved.isEmpty());
    }

    void bitmapsShareOneBudget() {
        // Forty run-length bitmaps of a few bytes, each claiming 4000 x 4000 pixels, and one
        // small true one.
        QTemporaryDir dir;
        auto le = [](std::string& b, uint32_t v, int n) {
            for (int k = 0; k < n; ++k) b += char((v >> (8 * k)) & 0xff);
        };
        std::string bmp = "BM";
        le(bmp, 14 + 40 + 1024 + 2, 4), le(bmp, 0, 4), le(bmp, 14 + 40 + 1024, 4);
        le(bmp, 40, 4), le(bmp, 4000, 4), le(bmp, 4000, 4), le(bmp, 1, 2), le(bmp, 8, 2);
        le(bmp, 1, 4), le(bmp, 2, 4), bmp += std::string(16, '\0');  // BI_RLE8, 2 bytes of data
        bmp += std::string(1024, '\0') + std::string("\0\1", 2);     // the end of the bitmap
        for (int i = 0; i < 40; ++i)
            std::ofstream(dir.filePath(QString("big%1.bmp").arg(i)).toStdString(), std::ios::binary)
                << bmp;
        QImage(16, 16, QImage::Format_RGB32).save(dir.filePath("small.bmp"));

        SkinImages images(dir.path());
        int decoded = 0;
        for (int i = 0; i < 40; ++i)
            if (!images.bitmap("big" + std::to_string(i) + ".bmp").isNull()) ++decoded;
        QCOMPARE(decoded, 1);  // 16 M pixels fit once
        QVERIFY(images.pixelsUsed() <= kSkinPixelBudget);
        QCOMPARE(images.bitmap("small.bmp").size(), QSize(16, 16));

        // The drawn skin at its largest fits well within the budget.
        SkinImages metal(QString(FSV_BINARY_DIR) + "/Metal_Style/FarsightViewer_CommRes1280");
        const auto spec = ::fsv::skin::loadSkin(metal.folder().toStdString());
        QVERIFY(!metal.bitmap(spec.panel).isNull());
        for (const auto& line : spec.controls.buttonLines) {
            for (const auto& strip : line.strips) metal.bitmap(strip);
            if (!line.buttons.empty())
                QVERIFY2(!metal.bitmap(line.strips[0]).isNull(), line.strips[0].c_str());
        }
        QVERIFY(metal.pixelsUsed() < kSkinPixelBudget / 4);
    }

    void panelTextRedrawsOnlyWhenChanged() {
        SkinSurface s;
        s.load("Metal_Style", 1280, {FSV_BINARY_DIR}, nullptr);
        SkinPanel* info = s.controls().panels.at(0);
        QVERIFY(info->setText(2, "09:05:03.007"));
        QVERIFY(!info->setText(2, "09:05:03.007"));
        QVERIFY(!info->setText(7, "x"));
        QCOMPARE(info->text(2).text, QString("09:05:03.007"));
        QCOMPARE(info->text(3).name, QString("speedTXT"));
    }
};

QTEST_MAIN(SkinSurfaceTest)
#include "SkinSurfaceTest.moc"
