// The About box: the program's name, version and description, and a button
// that starts the system-information program. Hiding it brings the main window
// back; it stays loaded for the next showing.
#pragma once

#include <QDialog>

#include <functional>

class QFrame;
class QLabel;
class QPushButton;

namespace tavrin::ui {

class AboutBox : public QDialog {
    Q_OBJECT

public:
    // `showMainWindow` is called whenever the box goes away (OK, Enter, Esc, close).
    explicit AboutBox(std::function<void()> showMainWindow, QWidget* parent = nullptr);

    void StartSysInfo();

    // Test-only: receives the message instead of the modal box.
    void setMessageHookForTesting(std::function<void(const QString&)> hook);

    void setVisible(bool visible) override;

    QLabel* picIcon;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QLabel* Label1;
    QFrame* Line1[2];
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;

public slots:
    // Esc and the close box end here too.
    void reject() override;

private:
    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();

    std::function<void()> showMainWindow_;
    std::function<void(const QString&)> messageHook_;
    bool placed_ = false;
};

} // namespace tavrin::ui
