// A pull reader over XML that others wrote (a book's own description, a
// catalogue feed): one event at a time, text as UTF-16, and bounds that
// make a hostile file an error instead of a cost. A document type
// declaration is refused outright, so no entity of any kind is expanded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct XmlLimits {
  std::size_t maxBytes = std::size_t{1} << 20;  // the document as given
  int maxDepth = 16;                            // elements open at once
};

enum class XmlEvent {
  StartElement,  // Name(), Attribute() and Depth() (1 for the root) tell of it
  EndElement,    // Name() and Depth() as at its start
  Text,          // Text(): character data, whitespace too, CDATA as text
  End,           // the document ended well
  Error,         // Error() says why; every later call answers Error again
};

class XmlReader {
 public:
  // Reads a copy of `bytes` (the encoding from its declaration or mark,
  // UTF-8 otherwise).
  explicit XmlReader(std::string_view bytes, const XmlLimits& limits = {});
  ~XmlReader();
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  // The next event; comments and processing instructions are passed over.
  XmlEvent Next();
  // The element's local name (no prefix), at a start or end.
  std::u16string Name() const;
  // The namespace URI of the element at a start or end; empty when it has
  // none. A prefix is the document's choice: the URI says what it means.
  std::u16string NamespaceUri() const;
  // The value of the start element's attribute of that qualified name.
  std::optional<std::u16string> Attribute(std::u16string_view name) const;
  // The value of the start element's attribute of that namespace URI (empty:
  // an attribute with no prefix) and local name.
  std::optional<std::u16string> AttributeNs(std::u16string_view namespaceUri, std::u16string_view name) const;
  std::u16string Text() const;
  int Depth() const { return m_depth; }
  // Why reading stopped, in a short English line; empty while it has not.
  const std::u16string& Error() const { return m_error; }

 private:
  XmlEvent Fail(std::u16string why);

  struct Qt;
  std::unique_ptr<Qt> m_qt;
  XmlLimits m_limits;
  int m_depth = 0;
  bool m_endPending = false;  // the element just ended: the depth drops at the next event
  std::u16string m_error;
};

// A value without the whitespace XML allows around it (space, tab, CR, LF).
std::u16string_view XmlTrimmed(std::u16string_view text);
// A count in decimal digits alone (whitespace around it allowed), up to
// `most`; nothing for anything else.
std::optional<int32_t> XmlCount(std::u16string_view text, int32_t most);
