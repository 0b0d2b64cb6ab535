#pragma once
// What every page of the wizard shares: its own window with the creating page
// as parent, the title, the Help menu, the close question, and the hand-over
// to the next page and back.
#include <QDialog>

class QPushButton;
class QHBoxLayout;

namespace ondrel::ui {

inline constexpr const char* kCloseQuestion = "Do you want to Close Application ?";

class WizardPage : public QDialog {
    Q_OBJECT
public:
    explicit WizardPage(QWidget* parentPage);

    QPushButton* helpButton = nullptr;
    QPushButton* backButton = nullptr;
    QPushButton* nextButton = nullptr;
    QPushButton* exitButton = nullptr;  // hidden; ends the application

    // The nearest page of type T up the chain of creating pages.
    template <class T>
    T* ancestor() const {
        for (QWidget* w = parentWidget(); w; w = w->parentWidget())
            if (auto* t = qobject_cast<T*>(w)) return t;
        return nullptr;
    }

    // Shows next and hides this page.
    void forwardTo(WizardPage* next);
    // Shows the creating page again and destroys this one (its workers first).
    void goBack();
    // Escape and the close box: "Do you want to Close Application ?".
    void reject() override;
    // Stops the page's workers and ends the application.
    void exitApplication();

protected:
    // A row with Help at the left and Back and Next at the right.
    QHBoxLayout* buttonRow(bool withBack);
    // Stops and waits for the page's workers; pages with workers override it.
    virtual void stopWorkers() {}
    // The close question uses the information icon on the first page.
    bool closeQuestionWithInformationIcon = false;

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool closing_ = false;
};

}  // namespace ondrel::ui
