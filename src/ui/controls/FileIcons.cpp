#include "ui/controls/FileIcons.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QStyle>

namespace ondrel::ui {

QIcon FileIcons::folder() {
    if (folder_.isNull()) {
        folder_ = QFileIconProvider().icon(QAbstractFileIconProvider::Folder);
        if (folder_.isNull()) folder_ = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    }
    return folder_;
}

QIcon FileIcons::file(const QString& name) {
    if (plainFile_.isNull()) {
        plainFile_ = QFileIconProvider().icon(QAbstractFileIconProvider::File);
        if (plainFile_.isNull()) plainFile_ = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    }
    int dot = name.lastIndexOf(QLatin1Char('.'));
    QString suffix = dot > 0 ? name.mid(dot + 1).toLower() : QString();
    if (suffix.isEmpty()) return plainFile_;
    auto it = bySuffix_.find(suffix);
    if (it != bySuffix_.end()) return *it;
    // Only the name is known (the file is inside the image): its type comes
    // from the extension.
    QMimeType type = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + suffix, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    if (icon.isNull()) icon = plainFile_;
    bySuffix_.insert(suffix, icon);
    return icon;
}

}  // namespace ondrel::ui
