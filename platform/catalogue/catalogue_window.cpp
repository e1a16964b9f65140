#include "platform/catalogue/catalogue_window.h"

#include <QtCore/QAbstractListModel>
#include <QtCore/QBuffer>
#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QImageReader>
#include <QtGui/QKeySequence>
#include <QtGui/QPixmap>
#include <QtGui/QShortcut>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListView>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStyle>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QWidget>

#include <initializer_list>
#include <utility>

namespace {

constexpr int kMaxCoverSide = 10000;  // pixels, either way, before scaling
const QSize kCoverSize(120, 170);
const QSize kCellSize(150, 220);

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

// A cover's bytes scaled into a cell; null when they are no picture of a
// sane size.
QPixmap CoverPixmap(const std::string& bytes) {
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > kMaxCoverSide || size.height() > kMaxCoverSide) return {};
  reader.setScaledSize(size.scaled(kCoverSize, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
  const QImage image = reader.read();
  return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

struct Cell {
  CatalogueCell shown;
  QPixmap cover;
};

// The cells for the grid: the title under the cover, the title alone when
// there is none.
class CellModel final : public QAbstractListModel {
 public:
  std::vector<Cell> cells;

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(cells.size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount({})) return {};
    const Cell& cell = cells[static_cast<std::size_t>(index.row())];
    // Every cell the grid's size, the cover's room kept whether it came or
    // not: the grid is laid out once, not again as each cover comes.
    if (role == Qt::SizeHintRole) return kCellSize - QSize(8, 8);
    if (role == Qt::DisplayRole) return Q(cell.shown.title);
    if (role == Qt::DecorationRole && !cell.cover.isNull()) return cell.cover;
    if (role == Qt::DecorationRole && cell.shown.folder) return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    if (role == Qt::ToolTipRole) return Q(cell.shown.tooltip);
    return {};
  }
  void Reset(std::vector<Cell> next) {
    beginResetModel();
    cells = std::move(next);
    endResetModel();
  }
  void Changed(int row) { emit dataChanged(index(row), index(row)); }
};

// The top-level widget, telling of its closing.
class Frame final : public QWidget {
 public:
  std::function<void()> closed;

 protected:
  void closeEvent(QCloseEvent* event) override {
    QWidget::closeEvent(event);
    if (closed) closed();
  }
};

}  // namespace

struct CatalogueWindow::Impl {
  CatalogueWindowActions actions;
  CatalogueWindowTexts texts;

  Frame window;
  QLabel heading;
  QPushButton back{Q(texts.back)}, up{Q(texts.up)}, start{Q(texts.start)};
  QPushButton previous{Q(texts.previous)}, next{Q(texts.next)};
  QLineEdit search;
  QLabel status;
  QPushButton retry{Q(texts.retry)};
  CellModel model;  // outlives the grid that shows it
  QListView grid;
  QWidget downloadRow;
  QLabel downloadLabel;
  QProgressBar progress;
  QPushButton cancel{Q(texts.cancel)};
  QTimer settled;  // the grid's rows in view are told once it has settled

  Impl(CatalogueWindowActions given, CatalogueWindowTexts words) : actions(std::move(given)), texts(std::move(words)) {
    Lay();
    Connect();
  }

  ~Impl() {
    // Nothing is told from here on; the widgets go first.
    settled.stop();
    window.closed = nullptr;
  }

  void Lay() {
    window.setWindowTitle(Q(texts.windowTitle));
    window.resize(820, 640);
    QFont bold = heading.font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    heading.setFont(bold);
    heading.setTextInteractionFlags(Qt::TextSelectableByMouse);
    search.setPlaceholderText(Q(texts.search));
    search.setClearButtonEnabled(true);
    for (QPushButton* button : {&back, &up, &start, &previous, &next, &retry, &cancel}) {
      button->setAutoDefault(false);
      button->setFocusPolicy(Qt::TabFocus);
    }
    grid.setViewMode(QListView::IconMode);
    grid.setMovement(QListView::Static);
    grid.setResizeMode(QListView::Adjust);
    grid.setWrapping(true);
    grid.setUniformItemSizes(true);
    grid.setWordWrap(true);
    grid.setIconSize(kCoverSize);
    grid.setGridSize(kCellSize);
    grid.setTextElideMode(Qt::ElideRight);
    grid.setSelectionMode(QAbstractItemView::SingleSelection);
    grid.setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid.setModel(&model);
    status.setWordWrap(false);

    auto* buttons = new QHBoxLayout;
    for (QWidget* widget : std::initializer_list<QWidget*>{&back, &up, &start, &previous, &next})
      buttons->addWidget(widget);
    buttons->addStretch();
    buttons->addWidget(&search);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(&status, 1);
    statusRow->addWidget(&retry);
    auto* downloads = new QHBoxLayout(&downloadRow);
    downloads->setContentsMargins(0, 0, 0, 0);
    downloads->addWidget(&downloadLabel);
    downloads->addWidget(&progress, 1);
    downloads->addWidget(&cancel);
    auto* column = new QVBoxLayout(&window);
    column->addWidget(&heading);
    column->addLayout(buttons);
    column->addLayout(statusRow);
    column->addWidget(&grid, 1);
    column->addWidget(&downloadRow);
    downloadRow.hide();
    retry.hide();
    search.hide();
  }

  // Runs an action the driver may have left unset.
  template <typename Action, typename... Args>
  static void Tell(const Action& action, Args&&... args) {
    if (action) action(std::forward<Args>(args)...);
  }

  void Connect() {
    const std::pair<QPushButton*, std::function<void()>*> clicks[] = {
        {&back, &actions.back},         {&up, &actions.up},       {&start, &actions.start},
        {&previous, &actions.previous}, {&next, &actions.next},   {&retry, &actions.retry},
        {&cancel, &actions.cancelDownload}};
    for (const auto& [button, action] : clicks)
      QObject::connect(button, &QPushButton::clicked, &window, [told = action] { Tell(*told); });
    QObject::connect(&search, &QLineEdit::returnPressed, &window,
                     [this] { Tell(actions.search, search.text().toStdU16String()); });
    QObject::connect(&grid, &QListView::activated, &window,
                     [this](const QModelIndex& index) { Tell(actions.activate, index.row()); });
    window.closed = [this] { Tell(actions.closed); };
    // Backspace edits the search field when it has the focus: the field
    // takes the key before any shortcut.
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Left)}) {
      auto* shortcut = new QShortcut(keys, &window);
      QObject::connect(shortcut, &QShortcut::activated, &window, [this] { Tell(actions.back); });
    }
    // Ctrl+F (the desktop's Find) goes to the search field, when the
    // catalogue has one.
    auto* find = new QShortcut(QKeySequence::Find, &window);
    QObject::connect(find, &QShortcut::activated, &window, [this] {
      if (!search.isVisible()) return;
      search.setFocus(Qt::ShortcutFocusReason);
      search.selectAll();
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    QObject::connect(escape, &QShortcut::activated, &window, [this] { window.close(); });
    settled.setSingleShot(true);
    settled.setInterval(30);
    QObject::connect(&settled, &QTimer::timeout, &window, [this] { Tell(actions.rowsInView, RowsInView()); });
    auto later = [this] { settled.start(); };
    QObject::connect(grid.verticalScrollBar(), &QScrollBar::valueChanged, &window, later);
    QObject::connect(grid.verticalScrollBar(), &QScrollBar::rangeChanged, &window, later);
  }

  std::vector<int> RowsInView() const {
    const QRect view = grid.viewport()->rect();
    std::vector<int> rows;
    for (int row = 0; row < model.rowCount({}); ++row)
      if (grid.visualRect(model.index(row)).intersects(view)) rows.push_back(row);
    return rows;
  }
};

CatalogueWindow::CatalogueWindow(CatalogueWindowActions actions, CatalogueWindowTexts texts)
    : m_impl(std::make_unique<Impl>(std::move(actions), std::move(texts))) {}

CatalogueWindow::~CatalogueWindow() = default;

void CatalogueWindow::Present() {
  m_impl->window.show();
  m_impl->window.raise();
  m_impl->window.activateWindow();
}

bool CatalogueWindow::IsVisible() const { return m_impl->window.isVisible(); }

void CatalogueWindow::Show(const CatalogueScreen& screen) {
  Impl& impl = *m_impl;
  impl.heading.setText(Q(screen.heading));
  impl.window.setWindowTitle(Q(screen.windowTitle.empty() ? impl.texts.windowTitle : screen.windowTitle));
  impl.status.setText(Q(screen.loading ? impl.texts.loading : screen.status));
  impl.retry.setVisible(screen.retry && !screen.loading);
  const std::pair<QPushButton*, bool> buttons[] = {{&impl.back, screen.back},
                                                   {&impl.up, screen.up},
                                                   {&impl.start, screen.start},
                                                   {&impl.previous, screen.previous},
                                                   {&impl.next, screen.next}};
  for (const auto& [button, enabled] : buttons) button->setEnabled(enabled);
  impl.search.setVisible(screen.search);
}

void CatalogueWindow::ClearCells() { m_impl->model.Reset({}); }

void CatalogueWindow::SetCells(const std::vector<CatalogueCell>& cells, int selected) {
  Impl& impl = *m_impl;
  std::vector<Cell> next;
  next.reserve(cells.size());
  for (const CatalogueCell& cell : cells) next.push_back(Cell{cell, {}});
  impl.model.Reset(std::move(next));
  if (selected >= 0 && selected < impl.model.rowCount({})) impl.grid.setCurrentIndex(impl.model.index(selected));
  impl.grid.setFocus();
  impl.settled.start();
}

void CatalogueWindow::SetCover(int row, const std::string& bytes) {
  Impl& impl = *m_impl;
  if (row < 0 || row >= impl.model.rowCount({})) return;
  QPixmap cover = CoverPixmap(bytes);
  if (cover.isNull()) return;
  impl.model.cells[static_cast<std::size_t>(row)].cover = std::move(cover);
  impl.model.Changed(row);
}

int CatalogueWindow::CurrentRow() const {
  const QModelIndex current = m_impl->grid.currentIndex();
  return current.isValid() ? current.row() : -1;
}

void CatalogueWindow::ShowDownload(const std::u16string& title) {
  Impl& impl = *m_impl;
  impl.downloadLabel.setText(Q(impl.texts.downloading).arg(Q(title)));
  impl.progress.setRange(0, 0);
  impl.downloadRow.show();
}

void CatalogueWindow::DownloadProgress(std::int64_t received, std::int64_t total) {
  // In kibibytes, so that the bar's int holds a book of 2 GiB.
  if (total > 0) m_impl->progress.setRange(0, static_cast<int>(total >> 10));
  m_impl->progress.setValue(static_cast<int>(received >> 10));
}

void CatalogueWindow::HideDownload() { m_impl->downloadRow.hide(); }

void CatalogueWindow::Later(std::function<void()> task) {
  QTimer::singleShot(0, &m_impl->window, std::move(task));
}

std::u16string CatalogueWindow::Heading() const { return m_impl->heading.text().toStdU16String(); }

std::size_t CatalogueWindow::CellCount() const { return m_impl->model.cells.size(); }

std::size_t CatalogueWindow::CoverCount() const {
  std::size_t covers = 0;
  for (const Cell& cell : m_impl->model.cells) covers += cell.cover.isNull() ? 0 : 1;
  return covers;
}
