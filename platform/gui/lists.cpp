#include "platform/gui/lists.h"

#include "platform/codepage.h"
#include "platform/gui/drive_label.h"
#include "platform/gui/folder_icons.h"
#include "platform/gui/gui.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

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

void NameModel::setNames(std::vector<std::string> names) {
    beginResetModel();
    names_ = std::move(names);
    endResetModel();
}

int NameModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(names_.size());
}

QVariant NameModel::data(const QModelIndex& index, int role) const {
    const auto row = static_cast<std::size_t>(index.row());
    if (!index.isValid() || row >= names_.size() || role != Qt::DisplayRole) {
        return {};
    }
    return qs(names_[row]);
}

// --- Views ---------------------------------------------------------------------

namespace {

// Asks for no width of its own, so the view gives each item exactly its width.
class ViewWidthDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {1, QStyledItemDelegate::sizeHint(option, index).height()};
    }
};

} // namespace

void fitItemsToWidth(QListView* view, Qt::TextElideMode elide) {
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setItemDelegate(new ViewWidthDelegate(view));
    view->setTextElideMode(elide);
}

// --- DriveList -----------------------------------------------------------------

namespace {

// What a screen reader is told of the drive list: its name, and the entry
// shown as its value. Qt's own combo box hands the entry over as the name on
// Linux, where it expects a label beside the box to name it; the drive list
// has none, so it would be read as "/" there.
class DriveListAccessible final : public QAccessibleWidget {
public:
    explicit DriveListAccessible(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        const QString own = QAccessibleWidget::text(t);
        return t == QAccessible::Value || (t == QAccessible::Name && own.isEmpty())
                   ? box()->currentText()
                   : own;
    }
    // The drop-down list is the one child, as in Qt's own combo box.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == box()->view() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = box()->view()->isVisible();
        return s;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction()) {
            box()->view()->isVisible() ? box()->hidePopup() : box()->showPopup();
        }
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* driveListAccessible(const QString& className, QObject* object) {
    return className == QLatin1String(DriveList::staticMetaObject.className())
               ? new DriveListAccessible(static_cast<QComboBox*>(object))
               : nullptr;
}

} // namespace

// Each entry shows the drive as the system names it to users and holds its root.
DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    static const bool readable = (QAccessible::installFactory(driveListAccessible), true);
    Q_UNUSED(readable);
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

namespace {

constexpr int depthRole = Qt::UserRole;

// Draws each row one icon's width further in per level of depth. Where that
// would leave the deepest rows too little room for their names, the levels
// step in by less, evenly, so the tree keeps its shape and the names stay legible.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented = option;
        indented.rect.setLeft(option.rect.left() +
                              index.data(depthRole).toInt() * step(option, index));
        QStyledItemDelegate::paint(painter, indented, index);
    }

private:
    int step(const QStyleOptionViewItem& option, const QModelIndex& index) const {
        const int icon = option.decorationSize.width();
        const QAbstractItemModel* model = index.model();
        const int deepest = model->index(model->rowCount() - 1, 0).data(depthRole).toInt();
        // The name's room at the top level: the row less its icon, the
        // style's margins around both, and the text's own margins.
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QStyle* style = item.widget != nullptr ? item.widget->style() : QApplication::style();
        const int textMargin =
            style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, item.widget) + 1;
        const int room =
            style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget).width() -
            2 * textMargin;
        const int nameRoom = 4 * option.fontMetrics.horizontalAdvance(QChar(0x540D)); // "名名名名"
        return deepest == 0 ? icon : std::clamp((room - nameRoom) / deepest, 4, icon);
    }
};

} // namespace

// The folders from the root to the current one, then the current one's
// subfolders, held as read: no row is built before it is shown.
class FolderModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setFolders(std::vector<std::string> chain, std::vector<std::string> subfolders) {
        beginResetModel();
        chain_ = std::move(chain);
        subfolders_ = std::move(subfolders);
        endResetModel();
    }
    int currentRow() const { return static_cast<int>(chain_.size()) - 1; }
    std::string path(int row) const {
        const auto r = static_cast<std::size_t>(row);
        if (r < chain_.size()) {
            return chain_[r];
        }
        const std::string& name = subfolders_.at(r - chain_.size()); // none without a chain
        return joined(chain_.back(), name);
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(chain_.size() + subfolders_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const auto row = static_cast<std::size_t>(index.row());
        if (!index.isValid() || row >= chain_.size() + subfolders_.size()) {
            return {};
        }
        const bool onPath = row < chain_.size();
        switch (role) {
        case Qt::DisplayRole:
            return qs(onPath ? lastPart(chain_[row]) : subfolders_[row - chain_.size()]);
        case Qt::DecorationRole:
            return onPath ? openIcon_ : closedIcon_;
        case depthRole:
            return static_cast<int>(std::min(row, chain_.size()));
        default:
            return {};
        }
    }

private:
    // A root shows whole ("/", "C:\"), a folder below it by its own name.
    static std::string lastPart(const std::string& path) {
        const auto cut = path.find_last_of(platform::separator());
        return path == platform::driveOf(path) || cut == std::string::npos ? path
                                                                           : path.substr(cut + 1);
    }

    std::vector<std::string> chain_;
    std::vector<std::string> subfolders_;
    QIcon openIcon_{QPixmap(openFolder16)};
    QIcon closedIcon_{QPixmap(closedFolder16)};
};

FolderList::FolderList(QWidget* parent) : QListView(parent), model_(new FolderModel(this)) {
    setUpView(this, model_);
    setIconSize({16, 16}); // the folder icons' own size, which is also a level's indent
    setItemDelegate(new IndentDelegate(this));
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
    std::vector<std::string> chain;
    for (std::string p = target;; p = parentOf(p)) {
        chain.insert(chain.begin(), p);
        if (p == platform::driveOf(p) || p == parentOf(p)) {
            break;
        }
    }
    files_ = std::move(contents.files);
    model_->setFolders(std::move(chain), std::move(contents.folders));
    setCurrentIndex(model_->index(model_->currentRow()));
    // The parent on the top row, then the current folder and as many of its
    // subfolders as fit.
    scrollTo(model_->index(std::max(model_->currentRow() - 1, 0)), PositionAtTop);
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
    return model_->path(row);
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
    bool ascii = true;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            return false;
        }
        ascii = ascii && b < 0x80;
    }
    if (ascii) {
        return true; // every code page the history may be in holds ASCII as it is
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
