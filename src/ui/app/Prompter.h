#pragma once
// Every message box, question, file and folder picker and browser launch of the
// wizard goes through one object, so tests can answer them without a person.
#include <QString>

class QWidget;

namespace ondrel::ui {

class Prompter {
public:
    virtual ~Prompter() = default;

    // A notice with the information icon and the caption "Ondrel v22.0".
    virtual void information(QWidget* parent, const QString& text);
    // Yes/No; true for Yes. informationIcon: the image page's close question.
    virtual bool question(QWidget* parent, const QString& text, bool informationIcon = false);
    // An existing file, or empty when cancelled. filter as the file dialog takes it.
    virtual QString openFile(QWidget* parent, const QString& filter);
    // A file to write (it may not exist yet), or empty when cancelled.
    virtual QString saveFile(QWidget* parent, const QString& filter);
    // A folder, or empty when cancelled ("Please choose a folder.").
    virtual QString chooseFolder(QWidget* parent);
    // Web pages and mail addresses.
    virtual void openUrl(const QString& url);
    // Ends the application (after the page stopped its workers).
    virtual void quit();
};

// The prompter in use; tests replace it.
Prompter& prompter();
void setPrompter(Prompter* replacement);

}  // namespace ondrel::ui
