#include "platform/xml.h"

#include <QtCore/QByteArray>
#include <QtCore/QXmlStreamReader>

struct XmlReader::Qt {
  QByteArray bytes;
  QXmlStreamReader reader;
};

namespace {

std::u16string Units(QStringView text) { return std::u16string(text.utf16(), static_cast<std::size_t>(text.size())); }

}  // namespace

XmlReader::XmlReader(std::string_view bytes, const XmlLimits& limits) : m_qt(std::make_unique<Qt>()), m_limits(limits) {
  if (bytes.size() > limits.maxBytes) {
    Fail(u"too large");
    return;
  }
  m_qt->bytes = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
  m_qt->reader.addData(m_qt->bytes);
  // Namespaces are read, so that Name() is the local name.
  m_qt->reader.setNamespaceProcessing(true);
}

XmlReader::~XmlReader() = default;

XmlEvent XmlReader::Fail(std::u16string why) {
  m_error = std::move(why);
  return XmlEvent::Error;
}

XmlEvent XmlReader::Next() {
  if (!m_error.empty()) return XmlEvent::Error;
  if (m_endPending) {
    --m_depth;
    m_endPending = false;
  }
  QXmlStreamReader& reader = m_qt->reader;
  for (;;) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement:
        if (++m_depth > m_limits.maxDepth) return Fail(u"too deep");
        return XmlEvent::StartElement;
      case QXmlStreamReader::EndElement:
        m_endPending = true;
        return XmlEvent::EndElement;
      case QXmlStreamReader::Characters:
        return XmlEvent::Text;
      case QXmlStreamReader::EndDocument:
        return XmlEvent::End;
      case QXmlStreamReader::DTD:
        // An internal subset may declare entities that expand to each other
        // a billion times: no declaration at all is read.
        return Fail(u"DOCTYPE refused");
      case QXmlStreamReader::EntityReference:
        return Fail(u"entity refused");
      case QXmlStreamReader::Invalid:
        return Fail(reader.error() == QXmlStreamReader::PrematureEndOfDocumentError ? u"cut short"
                                                                                    : u"not well formed");
      case QXmlStreamReader::NoToken:
      case QXmlStreamReader::StartDocument:
      case QXmlStreamReader::Comment:
      case QXmlStreamReader::ProcessingInstruction:
        continue;
    }
  }
}

std::u16string XmlReader::Name() const { return Units(m_qt->reader.name()); }

std::optional<std::u16string> XmlReader::Attribute(std::u16string_view name) const {
  const QStringView wanted(name.data(), static_cast<qsizetype>(name.size()));
  for (const QXmlStreamAttribute& attribute : m_qt->reader.attributes())
    if (attribute.qualifiedName() == wanted) return Units(attribute.value());
  return std::nullopt;
}

std::u16string XmlReader::NamespaceUri() const { return Units(m_qt->reader.namespaceUri()); }

std::optional<std::u16string> XmlReader::AttributeNs(std::u16string_view namespaceUri,
                                                     std::u16string_view name) const {
  const QStringView uri(namespaceUri.data(), static_cast<qsizetype>(namespaceUri.size()));
  const QStringView local(name.data(), static_cast<qsizetype>(name.size()));
  for (const QXmlStreamAttribute& attribute : m_qt->reader.attributes())
    if (attribute.namespaceUri() == uri && attribute.name() == local) return Units(attribute.value());
  return std::nullopt;
}

std::u16string XmlReader::Text() const { return Units(m_qt->reader.text()); }

std::u16string_view XmlTrimmed(std::u16string_view text) {
  const auto space = [](char16_t unit) { return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<int32_t> XmlCount(std::u16string_view text, int32_t most) {
  text = XmlTrimmed(text);
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char16_t unit : text) {
    if (unit < u'0' || unit > u'9') return std::nullopt;
    value = value * 10 + (unit - u'0');
    if (value > most) return std::nullopt;
  }
  return static_cast<int32_t>(value);
}
