#pragma once
// Answers the wizard's message boxes, questions and pickers in tests, and
// records what the user would have seen.
#include "ui/app/Prompter.h"

#include <QList>
#include <QStringList>

namespace ondrel::ui::test {

class ScriptedPrompter : public Prompter {
public:
    QStringList messages;
    QStringList questions;
    QList<bool> answers;  // taken in order; Yes when none is left
    QString file;
    QString folder;
    QStringList urls;
    int quits = 0;

    void information(QWidget*, const QString& text) override { messages << text; }
    bool question(QWidget*, const QString& text, bool) override {
        questions << text;
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    QString openFile(QWidget*, const QString&) override { return file; }
    QString saveFile(QWidget*, const QString&) override { return file; }
    QString chooseFolder(QWidget*) override { return folder; }
    void openUrl(const QString& url) override { urls << url; }
    void quit() override { ++quits; }

    void reset() { *this = ScriptedPrompter{}; }
};

}  // namespace ondrel::ui::test
