#include "gui/controls/property_bag.h"

#include <cmath>
#include <limits>

namespace sorvel {
namespace {

// A whole number from a stored value; doubles round half to even, as the
// forms' integer conversion does. Nothing when the value is not a number.
std::optional<double> AsNumber(const QVariant& value) {
  switch (value.metaType().id()) {
    case QMetaType::Bool:
      return value.toBool() ? -1.0 : 0.0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double: {
      bool ok = false;
      double number = value.toDouble(&ok);
      if (ok && std::isfinite(number)) return number;
      return std::nullopt;
    }
    case QMetaType::QString: {
      bool ok = false;
      double number = value.toString().trimmed().toDouble(&ok);
      if (ok && std::isfinite(number)) return number;
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

template <typename Int>
std::optional<Int> AsInteger(const QVariant& value) {
  std::optional<double> number = AsNumber(value);
  if (!number) return std::nullopt;
  double whole = std::nearbyint(*number);
  if (whole < static_cast<double>(std::numeric_limits<Int>::min()) ||
      whole > static_cast<double>(std::numeric_limits<Int>::max()))
    return std::nullopt;
  return static_cast<Int>(whole);
}

}  // namespace

PropertyBag::PropertyBag(std::initializer_list<std::pair<QString, QVariant>> values) {
  for (const auto& [name, value] : values) writeProperty(name, value);
}

int PropertyBag::Find(const QString& name) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].first.compare(name, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
  return -1;
}

QVariant PropertyBag::readProperty(const QString& name, const QVariant& default_value) const {
  int index = Find(name);
  return index < 0 ? default_value : entries_[static_cast<size_t>(index)].second;
}

void PropertyBag::writeProperty(const QString& name, const QVariant& value) {
  QVariant stored = value.metaType().id() == QMetaType::QFont ? QVariant(value.value<QFont>().toString()) : value;
  int index = Find(name);
  if (index < 0)
    entries_.emplace_back(name, std::move(stored));
  else
    entries_[static_cast<size_t>(index)].second = std::move(stored);
}

QStringList PropertyBag::keys() const {
  QStringList result;
  for (const auto& entry : entries_) result << entry.first;
  return result;
}

std::optional<qint32> PropertyBag::readInt32(const QString& name, qint32 default_value) const {
  return AsInteger<qint32>(readProperty(name, default_value));
}

std::optional<qint16> PropertyBag::readInt16(const QString& name, qint16 default_value) const {
  return AsInteger<qint16>(readProperty(name, QVariant::fromValue<int>(default_value)));
}

std::optional<std::uint32_t> PropertyBag::readColor(const QString& name, std::uint32_t default_value) const {
  std::optional<qint64> value = AsInteger<qint64>(readProperty(name, QVariant::fromValue<qint64>(default_value)));
  if (!value || *value < std::numeric_limits<qint32>::min() || *value > std::numeric_limits<std::uint32_t>::max())
    return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::optional<float> PropertyBag::readSingle(const QString& name, float default_value) const {
  std::optional<double> number = AsNumber(readProperty(name, default_value));
  if (!number || std::fabs(*number) > std::numeric_limits<float>::max()) return std::nullopt;
  return static_cast<float>(*number);
}

std::optional<bool> PropertyBag::readBool(const QString& name, bool default_value) const {
  QVariant value = readProperty(name, default_value);
  if (value.metaType().id() == QMetaType::Bool) return value.toBool();
  if (value.metaType().id() == QMetaType::QString) {
    QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
  }
  std::optional<double> number = AsNumber(value);
  if (!number) return std::nullopt;
  return *number != 0.0;
}

std::optional<QFont> PropertyBag::readFont(const QString& name, const QFont& default_value) const {
  QVariant value = readProperty(name, QVariant());
  if (!value.isValid()) return default_value;
  if (value.metaType().id() == QMetaType::QFont) return value.value<QFont>();
  if (value.metaType().id() != QMetaType::QString) return std::nullopt;
  QFont font;
  if (!font.fromString(value.toString())) return std::nullopt;
  return font;
}

}  // namespace sorvel
