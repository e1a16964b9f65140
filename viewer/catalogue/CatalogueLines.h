// The lines the catalogue browser says on its status line, in the user's
// language: whole sentences, or the words before a reason the HTTP client
// or the feed's reader gives (in their own words), which a full stop ends.
#pragma once

#include <string>

struct CatalogueLines {
  std::u16string nothingHere = u"This catalogue has nothing here.";
  // A feed that did not come.
  std::u16string asksPassword = u"The catalogue asks for a user name and password (401).";
  std::u16string passwordRefused = u"The user name or password was refused (401).";
  std::u16string asksElsewhere =
      u"A server elsewhere asks for a user name and password (401); the catalogue's are not sent there.";
  std::u16string forbidden = u"The server refused access (403).";
  std::u16string notFound = u"There is no catalogue at this address (404).";
  std::u16string serverError = u"The server answered with an error: ";
  std::u16string badUrl = u"Not an http or https address.";
  std::u16string tls = u"The secure connection failed: ";
  std::u16string tooSlow = u"The server took too long: ";
  std::u16string feedTooLarge = u"The feed is too large: ";
  std::u16string redirect = u"The server's redirect was not followed: ";
  std::u16string unreachable = u"The server could not be reached: ";
  std::u16string webPage = u"The address gives a web page, not a catalogue feed.";
  std::u16string notFeed = u"Not a catalogue feed: ";
  // A book that did not come.
  std::u16string serverAsksPassword = u"The server asks for a user name and password (401).";
  std::u16string bookNotWritten = u"The book could not be written to the cache folder.";
  std::u16string bookTooLarge = u"The book is too large: ";
  std::u16string bookFailed = u"The book could not be downloaded: ";
  std::u16string bookWebPage = u"The server gave a web page, not the book.";
  bool operator==(const CatalogueLines&) const = default;
};
