// The catalogues kept, for the "Catalogues" dialog: the list in the
// per-user settings file (never the profile, never a password) and the
// passwords in the secret store, kept in step as the reader adds, edits and
// removes. A password goes when no catalogue uses its key any more.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/catalogue_dialog.h"
#include "platform/secrets/secret_store.h"
#include "viewer/catalogue/Catalogue.h"
#include "viewer/catalogue/CatalogueBrowser.h"

// The list as the settings file keeps it, in the reader's order.
std::vector<Catalogue> LoadCatalogues();
void SaveCatalogues(const std::vector<Catalogue>& catalogues);

// A catalogue picked with Open: what its browser needs to ask the server.
struct OpenedCatalogue {
  Catalogue catalogue;
  std::u16string password;  // empty when none is kept or it could not be read
};

// The password kept for `catalogue`; empty when none is kept or it could
// not be read (which a debug line says).
std::u16string KeptPassword(SecretStore& secrets, const Catalogue& catalogue);

// Why a catalogue cannot be kept, in the user's language.
std::u16string CatalogueProblemText(CatalogueProblem problem);
// The dialog's words, in the user's language.
CatalogueDialogTexts CatalogueTexts();
// The browser's options with its window's words and lines in the user's
// language.
CatalogueBrowserOptions CatalogueBrowserInLanguage();

class CCatalogues final : public ICatalogueDialogHost {
 public:
  // The list as the settings file has it now.
  explicit CCatalogues(SecretStore& secrets);

  std::vector<std::u16string> Names() const override;
  CatalogueFields Fields(std::size_t row) override;
  CatalogueKept Keep(std::optional<std::size_t> row, const CatalogueFields& fields) override;
  void Remove(std::size_t row) override;

  const std::vector<Catalogue>& List() const { return m_list; }
  // The row's catalogue with its password read.
  OpenedCatalogue Opened(std::size_t row);

 private:
  SecretStore& m_secrets;
  std::vector<Catalogue> m_list;
};
