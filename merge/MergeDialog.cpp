#include "merge/MergeDialog.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "media/AviReader.h"
#include "merge/ClipWriter.h"
#include "platform/Shared.h"

namespace fsv::merge {

namespace {

QString timeText(media::AviReader& reader, int index) {
    SystemTime t{};
    if (!reader.readTimeStamp(index, t)) return QStringLiteral("--:--:--.---");
    return QString::fromStdString(
        format("%.2d:%.2d:%.2d.%.3d", t.hour, t.minute, t.second, t.milliseconds));
}

}  // namespace

MergeDialog::MergeDialog(const std::filesystem::path& file, const std::string& credential,
                         Progress progress, std::atomic<bool>& busy, QWidget* parent)
    : QDialog(parent),
      file_(file),
      progress_(std::move(progress)),
      busy_(busy),
      reader_(std::make_unique<media::AviReader>()) {
    setWindowTitle(QStringLiteral("Save as AVI File"));
    setAccessibleName(windowTitle());
    frameCount_ = reader_->open(file, true, credential.c_str());
    makePicture();
    QFormLayout* form = makeFrameFields();
    addClipField(*form, file);
    QLayout* buttons = makeButtons();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture_, 1);
    layout->addLayout(form);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    followFrames();
    if (frameCount_ > 0) {
        showFrame(0);
        updateRange();
    } else {
        status_->setText(QStringLiteral("Failed to open file"));
    }
}

void MergeDialog::makePicture() {
    picture_ = new QLabel(this);
    picture_->setMinimumSize(352, 240);
    // The pixmap follows the label's size, never the other way round.
    picture_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setStyleSheet(QStringLiteral("background: black"));
    picture_->setAccessibleName(QStringLiteral("Picture"));
}

QLabel* MergeDialog::buddyLabel(const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, this);
    l->setBuddy(buddy);
    return l;
}

// The first and last frame, each with its recording time beside it, and the status line.
QFormLayout* MergeDialog::makeFrameFields() {
    const int lastIndex = std::max(frameCount_ - 1, 0);
    first_ = new QSpinBox(this);
    first_->setObjectName(QStringLiteral("firstFrame"));
    first_->setAccessibleName(QStringLiteral("First frame"));
    first_->setRange(0, lastIndex);
    last_ = new QSpinBox(this);
    last_->setObjectName(QStringLiteral("lastFrame"));
    last_->setAccessibleName(QStringLiteral("Last frame"));
    last_->setRange(0, lastIndex);
    last_->setValue(lastIndex);
    firstTime_ = new QLabel(this);
    lastTime_ = new QLabel(this);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));

    auto* form = new QFormLayout;
    auto* firstRow = new QHBoxLayout;
    firstRow->addWidget(first_);
    firstRow->addWidget(firstTime_, 1);
    auto* lastRow = new QHBoxLayout;
    lastRow->addWidget(last_);
    lastRow->addWidget(lastTime_, 1);
    form->addRow(buddyLabel(QStringLiteral("&First frame:"), first_), firstRow);
    form->addRow(buddyLabel(QStringLiteral("&Last frame:"), last_), lastRow);
    return form;
}

// The clip's file, beside the recording unless the user browses elsewhere.
void MergeDialog::addClipField(QFormLayout& form, const std::filesystem::path& file) {
    path_ = new QLineEdit(this);
    path_->setObjectName(QStringLiteral("clipPath"));
    path_->setAccessibleName(QStringLiteral("Clip file"));
    auto clip = file.parent_path() / (file.stem().string() + "_clip.avi");
    path_->setText(QString::fromStdString(clip.string()));
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen =
            QFileDialog::getSaveFileName(this, QStringLiteral("Save as AVI File"), path_->text(),
                                         QStringLiteral("AVI File(*.avi)"));
        if (!chosen.isEmpty()) path_->setText(chosen);
    });
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(browse);
    form.addRow(buddyLabel(QStringLiteral("Clip &file:"), path_), pathRow);
}

// The progress bar, Save and Close.
QLayout* MergeDialog::makeButtons() {
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("progress"));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    save_ = new QPushButton(QStringLiteral("&Save"), this);
    save_->setObjectName(QStringLiteral("save"));
    save_->setEnabled(frameCount_ > 0);
    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    connect(save_, &QPushButton::clicked, this, &MergeDialog::save);
    connect(close, &QPushButton::clicked, this, &MergeDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bar_, 1);
    buttons->addWidget(save_);
    buttons->addWidget(close);
    return buttons;
}

// The two frame fields keep first <= last, and show the frame last changed.
void MergeDialog::followFrames() {
    connect(first_, &QSpinBox::valueChanged, this, [this](int v) {
        if (last_->value() < v) last_->setValue(v);
        showFrame(v);
        updateRange();
    });
    connect(last_, &QSpinBox::valueChanged, this, [this](int v) {
        if (first_->value() > v) first_->setValue(v);
        showFrame(v);
        updateRange();
    });
}

// The frames' times and how many frames the clip takes from the key frame before the first.
void MergeDialog::updateRange() {
    if (frameCount_ <= 0) return;
    const int first = first_->value();
    const int key = std::max(reader_->keyFrameAtOrBefore(first), 0);
    firstTime_->setText(timeText(*reader_, first));
    lastTime_->setText(timeText(*reader_, last_->value()));
    status_->setText(QStringLiteral("%1 frames, starting at key frame %2")
                         .arg(std::max(last_->value() - key + 1, 0))
                         .arg(key));
}

MergeDialog::~MergeDialog() {
    if (writer_.joinable()) writer_.join();
}

void MergeDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (frameCount_ > 0) showFrame(shown_);
}

void MergeDialog::showFrame(int index) {
    shown_ = index;
    const uint8_t* frame = reader_->getFrame(index);
    if (!frame) return;
    auto header = media::BitmapInfoHeader::parse({frame, media::BitmapInfoHeader::kSize});
    if (!header || header->width <= 0 || header->height <= 0) return;
    const QImage image =
        QImage(frame + media::BitmapInfoHeader::kSize, header->width, header->height,
               static_cast<qsizetype>(media::rgb24Stride(header->width)), QImage::Format_BGR888)
            .mirrored(false, true);
    picture_->setPixmap(QPixmap::fromImage(image).scaled(picture_->size(), Qt::KeepAspectRatio,
                                                         Qt::SmoothTransformation));
}

void MergeDialog::save() {
    if (busy_.exchange(true)) return;
    if (writer_.joinable()) writer_.join();
    for (QWidget* w : std::initializer_list<QWidget*>{first_, last_, path_, save_})
        w->setEnabled(false);
    status_->setText(QStringLiteral("Writing..."));
    const std::filesystem::path clip = path_->text().toStdString();
    const int first = first_->value(), last = last_->value();
    writer_ = std::thread([this, clip, first, last] {
        const ClipResult r = writeClip(file_, clip, first, last, [this](int percent) {
            if (percent < 100 && progress_) progress_(percent, 0);
            QMetaObject::invokeMethod(bar_, "setValue", Qt::QueuedConnection, Q_ARG(int, percent));
            return true;
        });
        QMetaObject::invokeMethod(
            this,
            [this, ok = r.ok, error = QString::fromStdString(r.error)] { finished(ok, error); },
            Qt::QueuedConnection);
    });
}

void MergeDialog::finished(bool ok, const QString& error) {
    if (writer_.joinable()) writer_.join();
    busy_ = false;
    if (progress_) progress_(ok ? 100 : -1, 1);
    if (ok) {
        accept();
        return;
    }
    status_->setText(error);
    for (QWidget* w : std::initializer_list<QWidget*>{first_, last_, path_, save_})
        w->setEnabled(true);
}

void MergeDialog::reject() {
    if (busy_) return;  // the clip being written ends first
    QDialog::reject();
}

}  // namespace fsv::merge
