#include "platform/gui/lists.h"

#include "platform/codepage.h"
#include "platform/gui/drive_label.h"
#include "platform/gui/gui.h"

#include <QApplication>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStyle>

#include <filesystem>

namespace tavrin::gui {

namespace {

void setUpView(QListView* view, QAbstractItemModel* model) {
    view->setModel(model);
    view->setUniformItemSizes(true); // keeps 100,000 names quick to lay out
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

// The folder above `path`; a drive's root ("/", "C:\\") is its own parent.
std::string parentOf(const std::string& path) {
    const char sep = platform::separator();
    const std::string root = platform::driveOf(path);
    const auto cut = path.find_last_of(sep);
    if (cut == std::string::npos || cut < root.size()) {
        return root.empty() ? std::string(1, sep) : root;
    }
    return path.substr(0, cut);
}

std::string joined(const std::string& folder, const std::string& name) {
    const char sep = platform::separator();
    return (!folder.empty() && folder.back() == sep) ? folder + name : folder + sep + name;
}

std::string normalised(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p = fs::absolute(fs::u8path(path), ec).lexically_normal();
    auto u8 = p.u8string();
    std::string out(u8.begin(), u8.end());
    while (out.size() > 1 && out.back() == platform::separator() && out != platform::driveOf(out)) {
        out.pop_back();
    }
    return out;
}

} // namespace

// --- NameModel -----------------------------------------------------------------

void NameModel::setNames(std::vector<std::string> names, std::vector<QString> shown) {
    beginResetModel();
    names_ = std::move(names);
    shown_ = std::move(shown);
    endResetModel();
}

int NameModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(names_.size());
}

QVariant NameModel::data(const QModelIndex& index, int role) const {
    const auto row = static_cast<std::size_t>(index.row());
    if (!index.isValid() || row >= names_.size()) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return row < shown_.size() ? shown_[row] : qs(names_[row]);
    }
    if (role == Qt::DecorationRole && row < icons_.size()) {
        return icons_[row];
    }
    return {};
}

// --- DriveList -----------------------------------------------------------------

// Each entry shows the drive as the system names it to users and holds its root.
DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    for (const auto& drive : platform::drives()) {
        addItem(driveLabel(drive), qs(drive));
    }
    current_ = str(currentData().toString());
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        const std::string now = str(currentData().toString());
        if (now != current_) {
            current_ = now;
            emit driveChanged();
        }
    });
}

std::string DriveList::drive() const {
    return current_;
}

void DriveList::setDrive(const std::string& drive, bool notify) {
    {
        const QSignalBlocker quiet(this);
        int index = findData(qs(drive));
        if (index < 0) {
            addItem(driveLabel(drive), qs(drive));
            index = count() - 1;
        }
        setCurrentIndex(index);
    }
    if (drive != current_) {
        current_ = drive;
        if (notify) {
            emit driveChanged();
        }
    }
}

void DriveList::focusInEvent(QFocusEvent* event) {
    QComboBox::focusInEvent(event);
    emit gotFocus();
}

// --- FolderList ----------------------------------------------------------------

FolderList::FolderList(QWidget* parent) : QListView(parent), model_(new NameModel(this)) {
    setUpView(this, model_);
    connect(this, &QListView::clicked, this, [this] { emit entryClicked(); });
    connect(this, &QListView::doubleClicked, this, &FolderList::open);
}

platform::Status FolderList::setPath(const std::string& path) {
    const std::string target = normalised(path);
    platform::Status error;
    platform::FolderContents contents = platform::listFolder(target, &error);
    if (!error.ok()) {
        return error;
    }
    const std::vector<std::string>& subfolders = contents.folders;
    // The folders from the root down to the target, then its subfolders.
    std::vector<std::string> chain;
    for (std::string p = target;; p = parentOf(p)) {
        chain.insert(chain.begin(), p);
        if (p == platform::driveOf(p) || p == parentOf(p)) {
            break;
        }
    }
    std::vector<std::string> entries;
    std::vector<QString> shown;
    std::vector<QIcon> icons;
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    for (std::size_t depth = 0; depth < chain.size(); ++depth) {
        const std::string& p = chain[depth];
        const auto cut = p.find_last_of(platform::separator());
        const std::string label = depth == 0 ? p : p.substr(cut + 1);
        entries.push_back(p);
        shown.push_back(QString(static_cast<qsizetype>(depth), QChar(' ')) + qs(label));
        icons.push_back(openIcon);
    }
    const int currentRow = static_cast<int>(entries.size()) - 1;
    const QString indent(static_cast<qsizetype>(chain.size()), QChar(' '));
    for (const auto& name : subfolders) {
        entries.push_back(joined(target, name));
        shown.push_back(indent + qs(name));
        icons.push_back(closedIcon);
    }
    entries_ = entries;
    files_ = std::move(contents.files);
    model_->setIcons(std::move(icons));
    model_->setNames(std::move(entries), std::move(shown));
    setCurrentIndex(model_->index(currentRow));
    if (target != path_) {
        path_ = target;
        emit pathChanged();
    }
    return platform::Status::success();
}

std::optional<std::vector<std::string>> FolderList::takeFiles() {
    std::optional<std::vector<std::string>> files = std::move(files_);
    files_.reset();
    return files;
}

std::string FolderList::entryPath(int row) const {
    return entries_.at(static_cast<std::size_t>(row));
}

void FolderList::open(const QModelIndex& index) {
    if (!index.isValid()) {
        return;
    }
    const std::string target = entryPath(index.row());
    if (const platform::Status s = setPath(target); !s.ok()) {
        emit openFailed(qs(target), qs(s.reason));
    }
}

void FolderList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        open(currentIndex());
        return;
    }
    QListView::keyPressEvent(event);
}

// --- FileList ------------------------------------------------------------------

FileList::FileList(QWidget* parent) : QListView(parent), model_(new NameModel(this)) {
    setUpView(this, model_);
    connect(this, &QListView::clicked, this, [this] { emit fileClicked(); });
}

bool FileList::isRecordable(const std::string& name) {
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            return false;
        }
    }
    std::string encoded;
    return platform::historyCodePage().encode(name, encoded);
}

platform::Status FileList::setPath(const std::string& path) {
    const std::string previous = path_;
    path_ = path;
    const platform::Status s = refresh();
    if (!s.ok()) {
        path_ = previous;
    }
    return s;
}

void FileList::setPath(const std::string& path, std::vector<std::string> files) {
    path_ = path;
    std::erase_if(files, [](const std::string& name) { return !isRecordable(name); });
    all_ = std::move(files);
    showMatching();
}

void FileList::setPattern(const std::string& pattern) {
    if (pattern == pattern_) {
        return;
    }
    pattern_ = pattern;
    showMatching();
    emit patternChanged();
}

platform::Status FileList::refresh() {
    if (path_.empty()) {
        all_.clear();
        showMatching();
        return platform::Status::success();
    }
    platform::Status error;
    std::vector<std::string> names = platform::listFiles(path_, "*.*", &error);
    if (!error.ok()) {
        return error;
    }
    std::erase_if(names, [](const std::string& name) { return !isRecordable(name); });
    all_ = std::move(names);
    showMatching();
    return platform::Status::success();
}

void FileList::showMatching() {
    model_->setNames(platform::namesMatching(all_, pattern_));
}

} // namespace tavrin::gui
