#include "ui/pages/CAboutProductDlg.h"

#include "common/Caption.h"
#include "common/Version.h"
#include "ui/app/Links.h"
#include "ui/app/Prompter.h"
#include "ui/app/Screenshots.h"

#include <QCommandLinkButton>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace ondrel::ui {

CAboutProductDlg::CAboutProductDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Pellimor"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QString::fromUtf8(kProductCaption), this);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(15);
    font.setBold(true);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    auto* version = new QLabel(QStringLiteral("Version " ONDREL_VERSION), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    version->setAlignment(Qt::AlignCenter);
    layout->addWidget(version);
    const std::pair<const char*, const char*> links[] = {{"Company website", links::kCompanySite},
                                                         {"Support email address", links::kSupportMail},
                                                         {"Sales email address", links::kSalesMail}};
    for (const auto& [caption, address] : links) {
        auto* button = new QCommandLinkButton(QString::fromUtf8(caption), this);
        button->setAutoDefault(false);
        QString url = QString::fromUtf8(address);
        connect(button, &QPushButton::clicked, this, [url] { prompter().openUrl(url); });
        layout->addWidget(button);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    QTimer::singleShot(0, this, [this] { screenshot(this, QStringLiteral("about")); });
}

void CAboutProductDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    QDialog::mousePressEvent(event);
}

void CAboutProductDlg::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragOffset_);
    QDialog::mouseMoveEvent(event);
}

}  // namespace ondrel::ui
