// The "Catalogues" dialog driven as a reader would, offscreen: a form the
// host refuses stays open with its reason, one it keeps joins the list, and
// Open (or Enter) hands back the row picked.
#include <gtest/gtest.h>

#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPushButton>

#include <functional>

#include "platform/catalogue_dialog.h"

namespace {

class Host final : public ICatalogueDialogHost {
 public:
  std::vector<std::u16string> Names() const override { return names; }
  CatalogueFields Fields(std::size_t) override { return {}; }
  CatalogueKept Keep(std::optional<std::size_t> row, const CatalogueFields& fields) override {
    given.push_back(fields);
    if (fields.url.empty()) return {false, u"Enter the URL."};
    if (!row) names.push_back(fields.name);
    return {true, {}};
  }
  void Remove(std::size_t) override {}

  std::vector<std::u16string> names{u"First"};
  std::vector<CatalogueFields> given;
};

// Runs `step` on the modal window titled `title` once it is the one on top.
void When(const QString& title, std::function<void(QWidget*)> step) {
  QTimer::singleShot(5, [title, step] {
    QWidget* top = QApplication::activeModalWidget();
    if (top == nullptr || top->windowTitle() != title) return When(title, step);
    step(top);
  });
}

QPushButton* Button(QWidget* window, const QString& text) {
  for (QPushButton* button : window->findChildren<QPushButton*>())
    if (button->text() == text) return button;
  return nullptr;
}

TEST(CatalogueDialog, FormsKeptThroughTheHostAndARowOpened) {
  const CatalogueDialogTexts texts{u"Catalogues", u"Add", u"Edit", u"Remove", u"Open", u"Close", u"New", u"Change",
                                   u"Name", u"URL", u"User", u"Password", u"Remove it?"};
  Host host;
  bool refusedShown = false;
  When(QStringLiteral("Catalogues"), [&](QWidget* list) {
    When(QStringLiteral("New"), [&](QWidget* form) {
      const QList<QLineEdit*> fields = form->findChildren<QLineEdit*>();
      ASSERT_EQ(fields.size(), 4);
      EXPECT_EQ(fields[3]->echoMode(), QLineEdit::Password);
      QTest::keyClicks(fields[0], QStringLiteral("Second"));
      QPushButton* ok = form->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
      ok->click();
      for (QLabel* label : form->findChildren<QLabel*>())
        refusedShown |= label->text() == QStringLiteral("Enter the URL.") && !label->isHidden();
      QTest::keyClicks(fields[1], QStringLiteral("https://b.example/"));
      QTest::keyClicks(fields[3], QStringLiteral("pw"));
      When(QStringLiteral("Catalogues"), [](QWidget* again) {
        auto* rows = again->findChild<QListWidget*>();
        ASSERT_EQ(rows->count(), 2);
        rows->setCurrentRow(1);
        QTest::keyClick(rows, Qt::Key_Return);  // opens, never closes the list
      });
      ok->click();
    });
    Button(list, QStringLiteral("Add"))->click();
  });
  EXPECT_EQ(ShowCatalogueDialog(nullptr, texts, host), std::optional<std::size_t>(1));
  EXPECT_TRUE(refusedShown);
  ASSERT_EQ(host.given.size(), 2u);
  EXPECT_EQ(host.given[1].name, u"Second");
  EXPECT_EQ(host.given[1].password, u"pw");
  EXPECT_TRUE(host.given[1].passwordEdited);
  EXPECT_FALSE(host.given[0].passwordEdited) << "nothing typed there yet";
}

}  // namespace
