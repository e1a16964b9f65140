// The book servers the reader keeps: each by a name of its own, the URL of
// its root feed and the user name it knows the reader by. The password is
// no part of it: it lives in a secret store, under the key SecretKeyOf
// gives. What is checked here needs no network and no display.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct Catalogue {
  std::u16string name;
  std::u16string url;   // http or https, with no credentials in it
  std::u16string user;  // empty: the server is asked nothing of who reads
  bool operator==(const Catalogue&) const = default;
};

// Names past this are a paste gone wrong, not a name.
inline constexpr std::size_t kMaxCatalogueName = 200;
inline constexpr std::size_t kMaxCatalogueUser = 200;

// Why a catalogue cannot be kept as entered; None when it can.
enum class CatalogueProblem {
  None,
  NoName,
  NameTooLong,
  NameTaken,       // another catalogue has it (letters' case aside)
  NoUrl,
  NotWebUrl,       // not an absolute http or https URL with a host
  UrlCredentials,  // "user:password@" in the URL, which would keep the password in the settings
  UserTooLong,
  ControlCharacters,  // tabs, line breaks and the like in any field
};

// The fields without the spaces around them, as they are kept.
Catalogue Tidied(Catalogue catalogue);

// Whether `candidate` (tidied) may join `kept` in place of the one at
// `replacing` (none: as a new one).
CatalogueProblem CheckCatalogue(const Catalogue& candidate, const std::vector<Catalogue>& kept,
                                std::optional<std::size_t> replacing = std::nullopt);

// The key its password is kept under: the URL and the user name, so that
// two catalogues of one account on one server share it, and a catalogue
// whose URL or user changes no longer finds the old account's.
std::u16string SecretKeyOf(const Catalogue& catalogue);

// Whether any catalogue of `kept` but the one at `except` uses `key`: a
// password is let go only when none does.
bool SecretKeyInUse(const std::vector<Catalogue>& kept, const std::u16string& key,
                    std::optional<std::size_t> except = std::nullopt);

// A catalogue as one text of the settings file's list: its name, URL and
// user name between tabs, which none of them may hold; one text a
// catalogue, so that no write can pair a name with another's URL.
std::u16string CatalogueRecord(const Catalogue& catalogue);
// The catalogues of the settings file's list: texts that are no record, or
// whose catalogue does not pass CheckCatalogue against the ones before
// (a damaged or hand-edited file), are left out.
std::vector<Catalogue> CataloguesFromRecords(const std::vector<std::u16string>& records);
