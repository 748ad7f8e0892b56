// The restore confirmation: the last run's new names beside their old names,
// "実行" to give the files their old names back, "キャンセル" to leave them.
#pragma once

#include "engine/history.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QListView;
class QPushButton;

namespace tavrin::ui {

class RestoreDialog : public QWidget {
    Q_OBJECT

public:
    // What the dialog does with the main window when it closes.
    struct MainWindowLink {
        std::function<void()> show;            // show the (reloaded, hidden) main window
        std::function<void()> refreshFileList; // File1 re-reads its folder
    };

    // `history`, when given, is the history as just read: it is not read again.
    explicit RestoreDialog(MainWindowLink link, QWidget* parent = nullptr,
                           std::optional<HistoryRead> history = {});

    // Fills both lists from the history.
    void Form_Load();
    void Command1_Click(); // 実行
    void Command2_Click(); // キャンセル

    // Shows the dialog centred on the screen.
    void showCentred();

    QListView* ListNewName;
    QLabel* Image1;
    QListView* ListOldName;
    QPushButton* Command1;
    QPushButton* Command2;

protected:
    // A close request from the window manager (Alt+F4, the task bar) cancels.
    void closeEvent(QCloseEvent* event) override;

private:
    void unload();

    MainWindowLink link_;
    std::optional<HistoryRead> read_; // until Form_Load takes it
    // The pairs both lists show, held once and shared with their models.
    std::shared_ptr<const HistoryPairs> pairs_;
};

} // namespace tavrin::ui
