// The property store in which a form keeps the persisted properties of each
// control instance. Keys compare without regard to case and keep the order
// in which they were first written; fonts are stored as QFont::toString().
#pragma once

#include <QFont>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace sorvel {

class PropertyBag {
 public:
  PropertyBag() = default;
  // A bag from a form's table of instance values.
  PropertyBag(std::initializer_list<std::pair<QString, QVariant>> values);

  // The stored value, or `default_value` when the key is absent.
  QVariant readProperty(const QString& name, const QVariant& default_value = {}) const;
  // Stores `value` (a QFont as its toString() text), replacing a value stored
  // under the same key in any case.
  void writeProperty(const QString& name, const QVariant& value);

  bool contains(const QString& name) const { return Find(name) >= 0; }
  // The keys as first written, in order.
  QStringList keys() const;
  int size() const { return static_cast<int>(entries_.size()); }

  // Typed reads: the stored value (or the default when the key is absent)
  // converted, or nothing when it has no value of that type.
  std::optional<qint32> readInt32(const QString& name, qint32 default_value) const;
  std::optional<qint16> readInt16(const QString& name, qint16 default_value) const;
  std::optional<float> readSingle(const QString& name, float default_value) const;
  std::optional<bool> readBool(const QString& name, bool default_value) const;
  // A colour stored as a signed or an unsigned 32-bit value (&H8000000F
  // either way).
  std::optional<std::uint32_t> readColor(const QString& name, std::uint32_t default_value) const;
  std::optional<QFont> readFont(const QString& name, const QFont& default_value) const;

 private:
  int Find(const QString& name) const;
  std::vector<std::pair<QString, QVariant>> entries_;
};

}  // namespace sorvel
