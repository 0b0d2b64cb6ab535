#include "ui/app/SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

namespace ondrel::ui {

SingleInstance::SingleInstance(const QString& name) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    lock_ = std::make_unique<QLockFile>(QDir(folder).filePath(name + QStringLiteral(".lock")));
    // A lock left by a crashed process is taken over at once.
    lock_->setStaleLockTime(0);
    acquired_ = lock_->tryLock(0);
}

}  // namespace ondrel::ui
