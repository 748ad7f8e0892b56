// The main window: drive, folder and file lists, the extension list, the base
// name, the option tabs, the help panel and the progress bar.
#pragma once

#include <QMainWindow>

#include <string>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace tavrin::gui {
class DriveList;
class FileList;
class FolderList;
} // namespace tavrin::gui

namespace tavrin::ui {

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Creates the window and its controls with their start values, then runs Form_Load.
    explicit MainWindow(QWidget* parent = nullptr);

    // Shows the window; the first showing after a load centres it on the screen.
    void showCentred();

    // Sets LHlp to help entry n, filling the help table first.
    void showHelp(int n);

    // The selected entry of GetCN, empty when none is selected.
    std::string GetCNText() const;

    bool runInProgress() const { return running_; }

    // Handlers, named after their control and event.
    void Form_Load();
    void Command1_Click();
    void StrB_Click();
    void ReNm_Click();
    void Drive1_Change();
    void Drive1_GotFocus();
    void Dir1_Change();
    void Dir1_Click();
    void File1_Click();
    void File1_PatternChange();
    void CoGet_Click();
    void GetCN_Click();
    void KaC_Click();
    void KacC_Click();
    void RenC_Click();
    void LCk_Click();
    void OpTb_Click();
    void con32_Click();
    void con3_Click();

    gui::DriveList* Drive1;
    gui::FolderList* Dir1;
    gui::FileList* File1;
    QGroupBox* Frame5;
    QListWidget* GetCN;
    QPushButton* CoGet;
    QGroupBox* Frame6;
    QLineEdit* NewNa;
    QPushButton* StrB;
    QPushButton* Command1;
    QTabWidget* OpTb;
    QLabel* Label2;
    QGroupBox* Frame2;
    QCheckBox* KaC;
    QLabel* Label4;
    QCheckBox* KacC;
    QLabel* Label1;
    QLineEdit* NewK;
    QGroupBox* Frame3;
    QCheckBox* RenC;
    QLabel* Label6;
    QCheckBox* LCk;
    QLabel* Label5;
    QGroupBox* Frame4;
    QPushButton* ReNm;
    QGroupBox* FHelp;
    QLabel* LHlp;
    QProgressBar* PB;
    QMenu* con31;
    QAction* con32;
    QAction* con3;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void nameControlsForScreenReaders();
    void setFocusOrder();
    void showPageOf(int tab);
    void setBaseNameEnabled(bool enabled);
    // Moves Dir1 to `path`; on failure says so and keeps the lists where they were.
    bool moveFolderList(const std::string& path);
    void cannotRead(const std::string& path, const std::string& reason);
    void setRunLocks(bool locked);

    bool shownOnce_ = false;
    bool running_ = false;
    bool ending_ = false;
    friend class WindowRun;
};

} // namespace tavrin::ui
