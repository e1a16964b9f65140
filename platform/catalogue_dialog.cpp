#include "platform/catalogue_dialog.h"

#include <QtGui/QPalette>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QFormLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>

#include "platform/dialog.h"

namespace {

CatalogueDialogHook g_catalogueHook = nullptr;
void* g_catalogueHookContext = nullptr;

QString ToQt(const std::u16string& text) { return QString::fromStdU16String(text); }

QLabel* NoteLabel(QWidget* parent) {
  auto* note = new QLabel(parent);
  note->setWordWrap(true);
  QPalette palette = note->palette();
  palette.setColor(QPalette::WindowText, Qt::red);
  note->setPalette(palette);
  note->hide();
  return note;
}

void ShowNote(QLabel* label, const std::u16string& text) {
  label->setText(ToQt(text));
  label->setVisible(!text.empty());
}

// The form of one catalogue: kept through the host when accepted, open
// again with the host's reason when the host does not keep it. The note
// of a kept one is handed back for the list to show.
bool EditCatalogue(QWidget* owner, const CatalogueDialogTexts& texts, ICatalogueDialogHost& host,
                   std::optional<std::size_t> row, std::u16string* keptNote) {
  const CatalogueFields given = row ? host.Fields(*row) : CatalogueFields{};
  QDialog form(owner);
  form.setWindowTitle(ToQt(row ? texts.editTitle : texts.addTitle));
  auto* layout = new QVBoxLayout(&form);
  auto* fields = new QFormLayout;
  auto* name = new QLineEdit(ToQt(given.name), &form);
  auto* url = new QLineEdit(ToQt(given.url), &form);
  url->setPlaceholderText(QStringLiteral("https://"));
  auto* user = new QLineEdit(ToQt(given.user), &form);
  auto* password = new QLineEdit(ToQt(given.password), &form);
  password->setEchoMode(QLineEdit::Password);
  // Not offered to input methods' dictionaries or the desktop's clipboard.
  password->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
  password->setContextMenuPolicy(Qt::NoContextMenu);
  bool passwordEdited = false;
  QObject::connect(password, &QLineEdit::textEdited, &form, [&passwordEdited] { passwordEdited = true; });
  fields->addRow(ToQt(texts.name), name);
  fields->addRow(ToQt(texts.url), url);
  fields->addRow(ToQt(texts.user), user);
  fields->addRow(ToQt(texts.password), password);
  layout->addLayout(fields);
  QLabel* note = NoteLabel(&form);
  ShowNote(note, given.note);
  layout->addWidget(note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &form);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &form, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &form, [&] {
    CatalogueFields entered{name->text().toStdU16String(), url->text().toStdU16String(),
                            user->text().toStdU16String(), password->text().toStdU16String(), passwordEdited, {}};
    const CatalogueKept kept = host.Keep(row, entered);
    if (!kept.kept) return ShowNote(note, kept.note);
    *keptNote = kept.note;
    form.accept();
  });
  form.setMinimumWidth(DialogUnitsToPixelsX(260));
  name->setFocus();
  const bool accepted = form.exec() == QDialog::Accepted;
  password->clear();
  return accepted;
}

}  // namespace

void SetCatalogueDialogHook(CatalogueDialogHook hook, void* context) {
  g_catalogueHook = hook;
  g_catalogueHookContext = context;
}

std::optional<std::size_t> ShowCatalogueDialog(HWND owner, const CatalogueDialogTexts& texts,
                                               ICatalogueDialogHost& host) {
  if (g_catalogueHook != nullptr) return g_catalogueHook(texts, host, g_catalogueHookContext);
  QDialog dialog(dynamic_cast<QWidget*>(owner));
  dialog.setWindowTitle(ToQt(texts.title));
  auto* layout = new QVBoxLayout(&dialog);
  auto* middle = new QHBoxLayout;
  auto* list = new QListWidget(&dialog);
  middle->addWidget(list, 1);
  auto* side = new QVBoxLayout;
  auto* add = new QPushButton(ToQt(texts.add), &dialog);
  auto* edit = new QPushButton(ToQt(texts.edit), &dialog);
  auto* remove = new QPushButton(ToQt(texts.remove), &dialog);
  auto* open = new QPushButton(ToQt(texts.open), &dialog);
  for (QPushButton* button : {add, edit, remove, open}) {
    button->setAutoDefault(false);
    side->addWidget(button);
  }
  open->setDefault(true);  // Enter opens the row picked, never closes the list
  side->addStretch(1);
  middle->addLayout(side);
  layout->addLayout(middle);
  QLabel* note = NoteLabel(&dialog);
  layout->addWidget(note);
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(ToQt(texts.close), QDialogButtonBox::RejectRole)->setAutoDefault(false);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);

  std::optional<std::size_t> picked;
  const auto selected = [list]() -> std::optional<std::size_t> {
    const int row = list->currentRow();
    return row >= 0 && row < list->count() ? std::optional<std::size_t>(static_cast<std::size_t>(row)) : std::nullopt;
  };
  const auto refill = [&](int current) {
    list->clear();
    for (const std::u16string& name : host.Names()) list->addItem(ToQt(name));
    list->setCurrentRow(std::min(current, list->count() - 1));
  };
  const auto enable = [&] {
    const bool any = selected().has_value();
    for (QPushButton* button : {edit, remove, open}) button->setEnabled(any);
  };
  QObject::connect(list, &QListWidget::currentRowChanged, &dialog, enable);
  QObject::connect(add, &QPushButton::clicked, &dialog, [&] {
    std::u16string kept;
    if (!EditCatalogue(&dialog, texts, host, std::nullopt, &kept)) return;
    refill(static_cast<int>(host.Names().size()) - 1);
    ShowNote(note, kept);
  });
  QObject::connect(edit, &QPushButton::clicked, &dialog, [&] {
    const std::optional<std::size_t> row = selected();
    std::u16string kept;
    if (!row || !EditCatalogue(&dialog, texts, host, row, &kept)) return;
    refill(static_cast<int>(*row));
    ShowNote(note, kept);
  });
  QObject::connect(remove, &QPushButton::clicked, &dialog, [&] {
    const std::optional<std::size_t> row = selected();
    if (!row) return;
    const QString question = ToQt(texts.removeQuestion) + QStringLiteral("\n\n") + list->item(static_cast<int>(*row))->text();
    if (QMessageBox::question(&dialog, ToQt(texts.title), question) != QMessageBox::Yes) return;
    host.Remove(*row);
    refill(static_cast<int>(*row));
    ShowNote(note, {});
  });
  const auto pick = [&] {
    if (!(picked = selected())) return;
    dialog.accept();
  };
  QObject::connect(open, &QPushButton::clicked, &dialog, pick);
  QObject::connect(list, &QListWidget::itemActivated, &dialog, pick);
  refill(0);
  enable();
  dialog.setMinimumSize(DialogUnitsToPixelsX(280), DialogUnitsToPixelsY(160));
  list->setFocus();
  dialog.exec();
  return picked;
}
