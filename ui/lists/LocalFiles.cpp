#include "ui/lists/LocalFiles.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace fsv::ui {

void LocalFiles::playWav(const std::filesystem::path& file) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string())));
}

}  // namespace fsv::ui
