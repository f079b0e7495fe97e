#include "ui/qt/qt_components.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "ui/qt/gbk.h"

namespace kelvarn {

// GB18030, GBK's superset: GBK text reads the same, and phrases of UTF-8
// pages keep the characters GBK has no form for.
QString FromGbk(std::string_view gbk) {
  QStringDecoder decoder("GB18030");
  return decoder(QByteArrayView(gbk.data(), static_cast<qsizetype>(gbk.size())));
}

Text ToGbk(const QString& text) {
  QStringEncoder encoder("GB18030");
  const QByteArray bytes = encoder(text);
  return Text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

int GbkListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : published_; }

QVariant GbkListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= published_) return {};
  return FromGbk(items_.View(index.row()));
}

bool GbkListModel::Append(std::string_view text, std::int32_t itemValue) {
  if (!items_.Append(text, itemValue)) return false;
  SchedulePublish();
  return true;
}

void GbkListModel::SchedulePublish() {
  if (publishPending_) return;
  publishPending_ = true;
  QTimer::singleShot(publishIntervalMs_, this, [this] { Publish(); });
}

void GbkListModel::Publish() {
  publishPending_ = false;
  if (published_ < Count()) {
    // Laid out here and timed: the next batch waits at least three times as
    // long as this one took, so that layout stays under a quarter of the time
    // however long the list grows.
    QElapsedTimer took;
    took.start();
    beginInsertRows({}, published_, Count() - 1);
    published_ = Count();
    endInsertRows();
    if (view_) view_->doItemsLayout();
    publishIntervalMs_ = static_cast<int>(std::min<qint64>(std::max<qint64>(kPublishMs, 3 * took.elapsed()), 2000));
  }
  if (!selectionPending_ || !view_) return;
  selectionPending_ = false;
  if (shownSelection_ < 0 || shownSelection_ >= published_) {
    view_->clearSelection();
    return;
  }
  const QModelIndex at = index(shownSelection_);
  view_->setCurrentIndex(at);
  view_->scrollTo(at);
}

void GbkListModel::Clear() {
  beginResetModel();
  items_.Clear();
  published_ = 0;
  selectionPending_ = false;
  endResetModel();
}

void GbkListModel::ShowSelection(std::int32_t index) {
  if (!view_ || !showsSelection_) return;
  shownSelection_ = index;
  selectionPending_ = true;
  SchedulePublish();
}

void GbkListModel::Reordered() {
  // Every row may hold another item now: the view starts afresh, the rows
  // not yet announced included.
  beginResetModel();
  published_ = Count();
  selectionPending_ = false;
  endResetModel();
}

std::vector<std::int32_t> GbkListModel::Highlighted() const {
  std::vector<std::int32_t> rows;
  if (!view_ || !view_->selectionModel()) return rows;
  // By ranges: a list selected whole is one range, not a million indexes.
  for (const QItemSelectionRange& range : view_->selectionModel()->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::int32_t GbkListModel::FocusRow() const {
  return view_ && view_->currentIndex().isValid() ? view_->currentIndex().row() : -1;
}

void GbkListModel::Reveal(std::int32_t row) {
  if (!view_ || !view_->selectionModel()) return;
  if (row >= published_) Publish();
  const QModelIndex at = index(row);
  view_->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
  view_->scrollTo(at);
}

void GbkListModel::SetClipboard(std::string_view lines) { QGuiApplication::clipboard()->setText(FromGbk(lines)); }

QtListBox::QtListBox(UiThread& ui, QListView* view, bool extendedSelection)
    : model_(std::make_unique<GbkListModel>()), operations_(ui, *model_, extendedSelection) {
  view->setModel(model_.get());
  model_->SetView(view, !extendedSelection);
  view->setUniformItemSizes(true);  // rows are not measured one by one
  view->setSelectionMode(extendedSelection ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

QtEditBox::QtEditBox(UiThread& ui, QLineEdit* edit) : store_(edit), operations_(ui, store_) {
  QObject::connect(edit, &QLineEdit::textEdited, edit, [this] { operations_.UserChanged(); });
}

QtStatusBar::QtStatusBar(UiThread& ui, QStatusBar* bar, std::int32_t panels) : operations_(ui, store_) {
  for (std::int32_t i = 0; i < panels; ++i) {
    auto* label = new QLabel(bar);
    bar->addWidget(label, i + 1 == panels ? 1 : 0);  // the last panel stretches to the right edge
    store_.labels_.push_back(label);
  }
  store_.progress_ = new QLabel(bar);
  bar->addPermanentWidget(store_.progress_);
  store_.progress_->hide();
}

Text QtStatusBar::Store::Get(std::int32_t panel) const {
  return ToGbk(labels_[static_cast<std::size_t>(panel)]->text());
}

void QtStatusBar::Store::Set(std::int32_t panel, std::string_view text) {
  labels_[static_cast<std::size_t>(panel)]->setText(FromGbk(text));
}

Text QtStatusBar::Store::Progress() const { return ToGbk(progress_->text()); }

void QtStatusBar::Store::SetProgress(std::string_view text) {
  progress_->setText(FromGbk(text));
  progress_->setVisible(!text.empty());
}

QStringList QtNameFilters(std::string_view filter) {
  const TextArray parts = TextSplit(filter, "|");
  QStringList filters;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = FromGbk(parts[i + 1]);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << FromGbk(parts[i]) + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return filters;
}

namespace {

// Gives a name typed bare the extension of the type shown, as Windows does,
// however the type was picked: the dialog reads its default suffix when it
// accepts, and says nothing when the user picks a type.
class TypedFileDialog final : public QFileDialog {
 public:
  TypedFileDialog(QWidget* parent, QStringList suffixes) : QFileDialog(parent), suffixes_(std::move(suffixes)) {}
  void accept() override {
    setDefaultSuffix(suffixes_.value(std::max<qsizetype>(0, nameFilters().indexOf(selectedNameFilter()))));
    QFileDialog::accept();
  }

 private:
  const QStringList suffixes_;
};

}  // namespace

FileChooser QtFileChooser(QWidget* parent, std::string defaultSuffix) {
  return [parent, defaultSuffix = std::move(defaultSuffix)](const FileRequest& request) -> std::optional<FileChoice> {
    const QStringList filters = QtNameFilters(request.filter);
    QStringList suffixes;
    for (qsizetype i = 0; i < filters.size(); ++i) {
      suffixes << QString::fromStdString(
          FilterExtension(request.filter, static_cast<std::int32_t>(i + 1), defaultSuffix));
    }
    TypedFileDialog dialog(parent, suffixes);
    dialog.setNameFilters(filters);
    if (request.type == FileDialog::kSave) {
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);  // asks before overwriting
    } else {
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
    }
    for (;;) {
      if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
      const QString chosen = dialog.selectedFiles().constFirst();
      // A folder that is not there is refused in the dialog, as the open
      // dialog refuses a missing file, not left for the write to fail on.
      const QString folder = QFileInfo(chosen).absolutePath();
      if (!QFileInfo(folder).isDir()) {
        QMessageBox::warning(&dialog, dialog.windowTitle(),
                             QFileDialog::tr("%1\nDirectory not found.\nPlease verify the correct directory name was "
                                             "given.")
                                 .arg(folder));
        continue;
      }
      const QByteArray path = QFile::encodeName(chosen);  // the platform's own encoding
      const auto type = std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter()));
      return FileChoice{Text(path.constData(), static_cast<std::size_t>(path.size())),
                        static_cast<std::int32_t>(type + 1)};
    }
  };
}

}  // namespace kelvarn
