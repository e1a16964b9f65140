#include "platform/catalogue/catalogue_browser.h"

#include <QtCore/QAbstractListModel>
#include <QtCore/QBuffer>
#include <QtCore/QEvent>
#include <QtCore/QTimer>
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

#include <algorithm>
#include <initializer_list>
#include <map>
#include <utility>
#include <vector>

#include "platform/catalogue/book_download.h"
#include "platform/catalogue/fetched_feed.h"
#include "platform/http/http_client.h"
#include "viewer/catalogue/CatalogueBrowsing.h"

namespace {

constexpr std::int64_t kMaxCoverBytes = std::int64_t{8} << 20;
constexpr int kMaxCoverSide = 10000;  // pixels, either way, before scaling
constexpr int kCoversAtOnce = 4;
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

enum class CoverState { Unasked, Asked, Shown, Failed };

struct Cell {
  OpdsEntry entry;
  std::optional<OpdsLink> cover;
  CoverState state = CoverState::Unasked;
  QPixmap pixmap;
};

// The feed's entries for the grid: the title under the cover, the title
// alone when there is none.
class EntryModel final : public QAbstractListModel {
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
    if (role == Qt::DisplayRole) return Q(cell.entry.title);
    if (role == Qt::DecorationRole && !cell.pixmap.isNull()) return cell.pixmap;
    // A catalogue further down, with no picture of its own: a folder.
    if (role == Qt::DecorationRole && !cell.cover && cell.entry.navigation && !BookLink(cell.entry))
      return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    if (role == Qt::ToolTipRole) {
      QString tip = Q(cell.entry.title);
      for (const std::u16string& author : cell.entry.authors) tip += u'\n' + Q(author);
      return tip;
    }
    return {};
  }
  void Reset(std::vector<Cell> next) {
    beginResetModel();
    cells = std::move(next);
    endResetModel();
  }
  void Changed(int row) { emit dataChanged(index(row), index(row)); }
};

}  // namespace

struct CatalogueBrowser::Impl {
  OpenBook openBook;
  CatalogueBrowserOptions options;
  HttpClient client;
  std::optional<CatalogueBrowsing> browsing;
  std::optional<HttpCredentials> credentials;
  std::map<std::u16string, std::u16string> searchTemplates;  // by description URL
  std::u16string searchTemplate;  // the feed's, once known

  std::optional<HttpFetchId> feedFetch, searchFetch, download;
  std::map<HttpFetchId, int> coverFetches;  // the row each is for
  std::u16string failure;
  // The entry picked last in each feed left, picked again on coming back.
  std::map<std::u16string, int> picked;
  std::u16string shown;  // the feed whose entries the grid holds

  QWidget window;
  QLabel heading;
  QPushButton back{QStringLiteral("Back")}, up{QStringLiteral("Up")}, start{QStringLiteral("Start")};
  QPushButton previous{QStringLiteral("Previous page")}, next{QStringLiteral("Next page")};
  QLineEdit search;
  QLabel status;
  QPushButton retry{QStringLiteral("Retry")};
  EntryModel model;  // outlives the grid that shows it
  QListView grid;
  QWidget downloadRow;
  QLabel downloadLabel;
  QProgressBar progress;
  QPushButton cancel{QStringLiteral("Cancel")};
  QTimer coverTimer;

  Impl(OpenBook open, const CatalogueBrowserOptions& given)
      : openBook(std::move(open)),
        options(given),
        client(HttpClientOptions{.cacheFolder = given.httpCacheFolder.empty() ? DefaultHttpCacheFolder()
                                                                              : given.httpCacheFolder}) {
    if (options.bookFolder.empty()) options.bookFolder = DefaultBookCacheFolder();
    Lay();
    Connect();
  }

  ~Impl() {
    // The client's fetches end with it, unheard; the widgets go first.
    coverTimer.stop();
  }

  void Lay() {
    window.setWindowTitle(QStringLiteral("Catalogue"));
    window.resize(820, 640);
    QFont bold = heading.font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    heading.setFont(bold);
    heading.setTextInteractionFlags(Qt::TextSelectableByMouse);
    search.setPlaceholderText(QStringLiteral("Search"));
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

  void Connect() {
    QObject::connect(&back, &QPushButton::clicked, &window, [this] { Go(BrowseMove::Back); });
    QObject::connect(&up, &QPushButton::clicked, &window, [this] { Go(BrowseMove::Up); });
    QObject::connect(&start, &QPushButton::clicked, &window, [this] { Go(BrowseMove::Start); });
    QObject::connect(&previous, &QPushButton::clicked, &window, [this] { Go(BrowseMove::Previous); });
    QObject::connect(&next, &QPushButton::clicked, &window, [this] { Go(BrowseMove::Next); });
    QObject::connect(&retry, &QPushButton::clicked, &window, [this] { FetchFeed(); });
    QObject::connect(&cancel, &QPushButton::clicked, &window, [this] {
      if (download) client.Cancel(*download);
    });
    QObject::connect(&search, &QLineEdit::returnPressed, &window, [this] { Search(); });
    QObject::connect(&grid, &QListView::activated, &window, [this](const QModelIndex& index) { Activate(index.row()); });
    // Backspace edits the search field when it has the focus: the field
    // takes the key before any shortcut.
    auto* backKey = new QShortcut(QKeySequence(Qt::Key_Backspace), &window);
    QObject::connect(backKey, &QShortcut::activated, &window, [this] { Go(BrowseMove::Back); });
    auto* altLeft = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Left), &window);
    QObject::connect(altLeft, &QShortcut::activated, &window, [this] { Go(BrowseMove::Back); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    QObject::connect(escape, &QShortcut::activated, &window, [this] { window.close(); });
    // Covers are asked for once the grid has settled where it shows.
    coverTimer.setSingleShot(true);
    coverTimer.setInterval(30);
    QObject::connect(&coverTimer, &QTimer::timeout, &window, [this] { AskCovers(); });
    auto later = [this] { coverTimer.start(); };
    QObject::connect(grid.verticalScrollBar(), &QScrollBar::valueChanged, &window, later);
    QObject::connect(grid.verticalScrollBar(), &QScrollBar::rangeChanged, &window, later);
  }

  // Browsing: every move fetches the feed it leads to.
  void Go(BrowseMove move) {
    if (browsing && browsing->Go(move)) FetchFeed();
  }

  void FetchFeed() {
    if (!shown.empty() && grid.currentIndex().isValid()) {
      if (picked.size() >= 2 * kMaxBrowsingDepth) picked.clear();
      picked[shown] = grid.currentIndex().row();
    }
    shown.clear();
    EndFeedFetches();
    model.Reset({});
    searchTemplate.clear();
    failure.clear();
    heading.setText(Q(browsing->Url()));  // until the feed gives its title
    status.setText(QStringLiteral("Loading…"));
    retry.hide();
    UpdateButtons();
    const bool withCredentials = credentials.has_value();
    const std::u16string url = browsing->Url();
    feedFetch = client.Fetch(FeedRequest(url, credentials), [this, withCredentials](HttpResponse response) {
      feedFetch.reset();
      if (response.error == HttpError::Cancelled) return;
      std::u16string why;
      std::optional<OpdsFeed> feed = ReadFetchedFeed(response, withCredentials, &why);
      if (!feed) return Fail(why);
      Show(std::move(*feed));
    });
  }

  // The feed's fetch, its search description's and its covers' end unheard.
  void EndFeedFetches() {
    for (std::optional<HttpFetchId>* fetch : {&feedFetch, &searchFetch})
      if (const std::optional<HttpFetchId> id = std::exchange(*fetch, std::nullopt)) client.Cancel(*id);
    const std::map<HttpFetchId, int> covers = std::exchange(coverFetches, {});
    for (const auto& [id, row] : covers) client.Cancel(id);
  }

  void Fail(const std::u16string& why) {
    failure = why;
    status.setText(Q(why));
    retry.show();
    UpdateButtons();
  }

  void Show(OpdsFeed feed) {
    const QString title = Q(feed.title.empty() ? browsing->Url() : feed.title);
    heading.setText(title);
    window.setWindowTitle(title);
    status.setText(feed.entries.empty() ? QStringLiteral("This catalogue has nothing here.") : QString());
    std::vector<Cell> cells;
    cells.reserve(feed.entries.size());
    for (OpdsEntry& entry : feed.entries) {
      Cell cell;
      cell.cover = CoverLink(entry);
      cell.entry = std::move(entry);
      cells.push_back(std::move(cell));
    }
    feed.entries.clear();
    const OpdsFeedLinks links = feed.links;
    browsing->Arrived(std::move(feed));
    model.Reset(std::move(cells));
    shown = browsing->Url();
    const auto before = picked.find(shown);
    const int row = before == picked.end() ? 0 : std::min(before->second, model.rowCount({}) - 1);
    if (row >= 0) grid.setCurrentIndex(model.index(row));
    grid.setFocus();
    UpdateButtons();
    FindSearch(links);
    coverTimer.start();
  }

  void UpdateButtons() {
    const std::pair<QPushButton*, BrowseMove> moves[] = {{&back, BrowseMove::Back},
                                                         {&up, BrowseMove::Up},
                                                         {&start, BrowseMove::Start},
                                                         {&previous, BrowseMove::Previous},
                                                         {&next, BrowseMove::Next}};
    for (const auto& [button, move] : moves) button->setEnabled(browsing && !browsing->Target(move).empty());
  }

  // The search field shows once the feed's template is known: given, or
  // read from its description (each fetched once a session).
  void FindSearch(const OpdsFeedLinks& links) {
    search.setVisible(false);
    if (links.search.empty()) return;
    if (links.searchIsTemplate) return UseSearch(links.search);
    if (const auto known = searchTemplates.find(links.search); known != searchTemplates.end())
      return UseSearch(known->second);
    HttpRequest request;
    request.url = links.search;
    request.credentials = credentials;
    request.maxBytes = static_cast<std::int64_t>(kMaxSearchDescriptionBytes);
    request.cache = HttpCacheUse::Revalidate;
    request.totalLimit = std::chrono::seconds(20);
    searchFetch = client.Fetch(std::move(request), [this, description = links.search](HttpResponse response) {
      searchFetch.reset();
      if (response.error != HttpError::None) return;
      const std::u16string found = ParseOpenSearchDescription(response.body, response.finalUrl);
      searchTemplates[description] = found;
      UseSearch(found);
    });
  }

  void UseSearch(const std::u16string& found) {
    searchTemplate = found;
    search.setVisible(!found.empty());
  }

  void Search() {
    const std::u16string url = FillSearchTemplate(searchTemplate, search.text().toStdU16String());
    if (!url.empty() && browsing->Open(url)) FetchFeed();
  }

  // Enter or a double click: a book is opened, a catalogue further down
  // browsed.
  void Activate(int row) {
    if (row < 0 || row >= model.rowCount({})) return;
    const OpdsEntry& entry = model.cells[static_cast<std::size_t>(row)].entry;
    if (const std::optional<OpdsLink> book = BookLink(entry)) return OpenBookOf(entry, *book);
    if (entry.navigation && browsing->Open(entry.navigation->href)) FetchFeed();
  }

  void OpenBookOf(const OpdsEntry& entry, const OpdsLink& link) {
    const std::u16string name = BookFileName(entry, link);
    if (const auto cached = CachedBook(options.bookFolder, name)) return openBook(cached->u16string());
    if (download) client.Cancel(*download);
    downloadLabel.setText(QStringLiteral("Downloading “%1”").arg(Q(entry.title)));
    progress.setRange(0, 0);
    downloadRow.show();
    BookDownloadRequest request{link.href, credentials, options.bookFolder, name, options.maxBookBytes};
    auto shown = [this](std::int64_t received, std::int64_t total) {
      // In kibibytes, so that the bar's int holds a book of 2 GiB.
      if (total > 0) progress.setRange(0, static_cast<int>(total >> 10));
      progress.setValue(static_cast<int>(received >> 10));
    };
    download = DownloadBook(client, request, shown, [this](const std::filesystem::path& book, const std::u16string& why) {
      download.reset();
      downloadRow.hide();
      if (book.empty()) {
        if (why != u"Cancelled.") status.setText(Q(why));
        return;
      }
      // Out of the client's answer: opening may ask for a password in a
      // dialog of its own, and the client's other fetches go on meanwhile.
      QTimer::singleShot(0, &window, [this, path = book.u16string()] { openBook(path); });
    });
  }

  // Covers for the cells in view, a few at a time; a cover that fails
  // leaves its cell to the title.
  void AskCovers() {
    const QRect view = grid.viewport()->rect();
    for (int row = 0; row < model.rowCount({}) && static_cast<int>(coverFetches.size()) < kCoversAtOnce; ++row) {
      Cell& cell = model.cells[static_cast<std::size_t>(row)];
      if (cell.state != CoverState::Unasked || !cell.cover) continue;
      if (!grid.visualRect(model.index(row)).intersects(view)) continue;
      cell.state = CoverState::Asked;
      HttpRequest request;
      request.url = cell.cover->href;
      request.credentials = credentials;
      request.maxBytes = kMaxCoverBytes;
      request.cache = HttpCacheUse::Revalidate;
      request.totalLimit = std::chrono::seconds(30);
      const HttpFetchId id = client.Fetch(std::move(request), [this, row](HttpResponse response) {
        if (response.error == HttpError::Cancelled) return;
        for (auto it = coverFetches.begin(); it != coverFetches.end(); ++it)
          if (it->second == row) {
            coverFetches.erase(it);
            break;
          }
        if (row >= model.rowCount({})) return;
        Cell& cell = model.cells[static_cast<std::size_t>(row)];
        cell.pixmap = response.error == HttpError::None ? CoverPixmap(response.body) : QPixmap();
        cell.state = cell.pixmap.isNull() ? CoverState::Failed : CoverState::Shown;
        model.Changed(row);
        coverTimer.start();
      });
      coverFetches.emplace(id, row);
    }
  }
};

CatalogueBrowser::CatalogueBrowser(OpenBook openBook, const CatalogueBrowserOptions& options)
    : m_impl(std::make_unique<Impl>(std::move(openBook), options)) {}

CatalogueBrowser::~CatalogueBrowser() = default;

void CatalogueBrowser::Open(const std::u16string& url, std::optional<HttpCredentials> credentials) {
  Impl& impl = *m_impl;
  impl.credentials = std::move(credentials);
  impl.browsing.emplace(url);
  impl.searchTemplates.clear();
  impl.picked.clear();
  impl.window.show();
  impl.window.raise();
  impl.window.activateWindow();
  impl.FetchFeed();
}

bool CatalogueBrowser::IsVisible() const { return m_impl->window.isVisible(); }

std::u16string CatalogueBrowser::Title() const { return m_impl->heading.text().toStdU16String(); }

std::u16string CatalogueBrowser::FailureLine() const { return m_impl->failure; }

std::size_t CatalogueBrowser::EntryCount() const { return m_impl->model.cells.size(); }

bool CatalogueBrowser::Loading() const { return m_impl->feedFetch.has_value(); }
