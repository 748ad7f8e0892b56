// The drive, folder and file lists of the main window. Each raises its change
// notification only on a real change, synchronously inside the assignment.
#pragma once

#include "platform/fs.h"

#include <QAbstractListModel>
#include <QComboBox>
#include <QListView>

#include <optional>
#include <string>
#include <vector>

namespace tavrin::gui {

// Names shown by a list, held once, with no widget item per name.
class NameModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;
    void setNames(std::vector<std::string> names);
    const std::vector<std::string>& names() const { return names_; }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<std::string> names_;
};

class DriveList : public QComboBox {
    Q_OBJECT

public:
    explicit DriveList(QWidget* parent = nullptr);
    std::string drive() const;
    // Selects `drive` (added when missing); raises driveChanged when it changed,
    // unless `notify` is false (going back after a drive that cannot be read).
    void setDrive(const std::string& drive, bool notify = true);

signals:
    void driveChanged();
    void gotFocus();

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    std::string current_;
};

// Lays a view's items out at its own width, with no horizontal scroll bar: a
// long entry is shortened (where `elide` says) instead of widening the list.
void fitItemsToWidth(QListView* view, Qt::TextElideMode elide = Qt::ElideRight);

class FolderModel;

// A classic folder list: the folders from the root down to the current one with
// open-folder icons, each level one icon further in, then the current folder's
// subfolders one more level in, with closed-folder icons.
class FolderList : public QListView {
    Q_OBJECT

public:
    explicit FolderList(QWidget* parent = nullptr);
    const std::string& path() const { return path_; }
    // Moves to `path` (made absolute, ending in no separator but at a root).
    // A folder that cannot be read leaves the list where it was and says why.
    platform::Status setPath(const std::string& path);
    // The full path of entry `row`.
    std::string entryPath(int row) const;
    // The files of the folder as the last setPath read them, handed over once,
    // so the file list need not read the same folder again.
    std::optional<std::vector<std::string>> takeFiles();

signals:
    void pathChanged();
    void entryClicked();
    // Opening an entry failed: the path and the reason.
    void openFailed(const QString& path, const QString& reason);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void open(const QModelIndex& index);

    std::string path_;
    std::optional<std::vector<std::string>> files_;
    FolderModel* model_;
};

class FileList : public QListView {
    Q_OBJECT

public:
    explicit FileList(QWidget* parent = nullptr);
    const std::string& path() const { return path_; }
    const std::string& pattern() const { return pattern_; }
    // Lists `path` under the current pattern; a folder that cannot be read
    // leaves the list as it was.
    platform::Status setPath(const std::string& path);
    // Lists `path` from `files`, its ordinary files sorted as listFiles sorts
    // them, just read by the caller.
    void setPath(const std::string& path, std::vector<std::string> files);
    // Filters the folder's files, as last read, by `pattern`; raises
    // patternChanged when it changed.
    void setPattern(const std::string& pattern);
    // Reads the folder again.
    platform::Status refresh();
    long listCount() const { return static_cast<long>(model_->names().size()); }
    std::string list(long index) const { return model_->names()[static_cast<size_t>(index)]; }

    // Only names the history can record faithfully are listed.
    static bool isRecordable(const std::string& name);

signals:
    void patternChanged();
    void fileClicked();

private:
    void showMatching();

    std::string path_;
    std::string pattern_ = "*.*";
    std::vector<std::string> all_; // recordable files of path_, any pattern
    NameModel* model_;
};

} // namespace tavrin::gui
