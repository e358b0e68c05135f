#pragma once
// An audit message as a repository receives it, taken apart: the RFC 5424
// header up to the byte-order mark, then the XML, its elements and texts.

#include <QXmlStreamReader>

#include <algorithm>
#include <map>
#include <string>

namespace morvanta::test {

struct AuditRecord {
  std::string header;
  QByteArray xml;
  bool wellFormed = false;
  std::multimap<QString, std::map<QString, QString>> elements;  // attributes, in document order
  std::map<QString, QString> texts;

  explicit AuditRecord(const std::string& raw) {
    const auto bom = raw.find("\xEF\xBB\xBF");
    header = raw.substr(0, bom);
    xml = QByteArray::fromStdString(bom == std::string::npos ? raw : raw.substr(bom + 3));
    QXmlStreamReader reader(xml);
    QString current;
    while (!reader.atEnd()) {
      reader.readNext();
      if (reader.isStartElement()) {
        current = reader.name().toString();
        auto& attributes = elements.emplace(current, std::map<QString, QString>{})->second;
        for (const auto& a : reader.attributes()) attributes[a.name().toString()] = a.value().toString();
      } else if (reader.isCharacters() && !reader.isWhitespace()) {
        texts[current] += reader.text().toString();
      }
    }
    wellFormed = !reader.hasError();
  }
  // Some element of that name has every attribute given.
  bool Has(const QString& element, const std::map<QString, QString>& attributes) const {
    const auto [first, last] = elements.equal_range(element);
    return std::any_of(first, last, [&](const auto& e) {
      return std::all_of(attributes.begin(), attributes.end(), [&](const auto& a) {
        const auto found = e.second.find(a.first);
        return found != e.second.end() && found->second == a.second;
      });
    });
  }
  int Count(const QString& element) const { return static_cast<int>(elements.count(element)); }
};

}  // namespace morvanta::test
