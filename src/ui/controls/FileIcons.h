#pragma once
// Icons for the results: the platform's folder icon and a file icon per
// extension (from the desktop's icon theme by the name's type), cached.
#include <QHash>
#include <QIcon>
#include <QString>

namespace ondrel::ui {

class FileIcons {
public:
    QIcon folder();
    QIcon file(const QString& name);

private:
    QIcon folder_;
    QIcon plainFile_;
    QHash<QString, QIcon> bySuffix_;
};

}  // namespace ondrel::ui
