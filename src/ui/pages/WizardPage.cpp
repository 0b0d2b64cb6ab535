#include "ui/pages/WizardPage.h"

#include "common/Caption.h"
#include "ui/app/Links.h"
#include "ui/app/Prompter.h"
#include "ui/pages/CAboutProductDlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QStyle>

namespace ondrel::ui {

WizardPage::WizardPage(QWidget* parentPage) : QDialog(parentPage, Qt::Window) {
    setWindowTitle(QString::fromUtf8(kProductCaption));
    setAttribute(Qt::WA_DeleteOnClose, false);

    helpButton = new QPushButton(QStringLiteral("Help"), this);
    auto* menu = new QMenu(helpButton);
    menu->addAction(QStringLiteral("Help"), this, [] { prompter().openUrl(QString::fromUtf8(links::kHelpPage)); });
    menu->addAction(QStringLiteral("Software Homepage"), this,
                    [] { prompter().openUrl(QString::fromUtf8(links::kHomePage)); });
    menu->addAction(QStringLiteral("About"), this, [this] {
        CAboutProductDlg about(this);
        about.exec();
    });
    helpButton->setMenu(menu);

    backButton = new QPushButton(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"), this);
    nextButton = new QPushButton(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Next"), this);
    exitButton = new QPushButton(QStringLiteral("EXIT"), this);
    exitButton->hide();
    for (auto* b : {helpButton, backButton, nextButton, exitButton}) b->setAutoDefault(false);
    connect(exitButton, &QPushButton::clicked, this, &WizardPage::exitApplication);
}

QHBoxLayout* WizardPage::buttonRow(bool withBack) {
    auto* row = new QHBoxLayout;
    row->addWidget(helpButton);
    row->addStretch(1);
    if (withBack) row->addWidget(backButton);
    else backButton->hide();
    row->addWidget(nextButton);
    return row;
}

void WizardPage::forwardTo(WizardPage* next) {
    next->show();
    hide();
}

void WizardPage::goBack() {
    stopWorkers();
    if (auto* previous = parentWidget()) previous->show();
    hide();
    deleteLater();
}

void WizardPage::exitApplication() {
    closing_ = true;
    stopWorkers();
    prompter().quit();
}

void WizardPage::reject() {
    if (closing_) return;
    if (!prompter().question(this, QString::fromUtf8(kCloseQuestion), closeQuestionWithInformationIcon)) return;
    prompter().openUrl(QString::fromUtf8(links::kHomePage));
    exitApplication();
}

void WizardPage::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    reject();
}

void WizardPage::keyPressEvent(QKeyEvent* event) {
    // Enter must not end the application or leave the page: a user typing a
    // number would lose the whole session.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace ondrel::ui
