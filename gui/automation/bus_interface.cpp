#include "gui/automation/bus_interface.h"

#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariantMap>
#include <QMetaType>

#include "gui/automation/bus_enumerations.h"

namespace sorvel {
namespace {

constexpr QLatin1StringView kDocString("org.gtk.GDBus.DocString");
constexpr QLatin1StringView kEnumeration("SORVEL.Enumeration");

// An attribute value: the XML specials as entities, a line feed as a
// character reference (a literal one would be read back as a blank).
QString Attribute(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (QChar c : text) {
    switch (c.unicode()) {
      case u'&': out += QStringLiteral("&amp;"); break;
      case u'<': out += QStringLiteral("&lt;"); break;
      case u'>': out += QStringLiteral("&gt;"); break;
      case u'"': out += QStringLiteral("&quot;"); break;
      case u'\n': out += QStringLiteral("&#10;"); break;
      case u'\r': out += QStringLiteral("&#13;"); break;
      case u'\t': out += QStringLiteral("&#9;"); break;
      default: out += c;
    }
  }
  return out;
}

class XmlLines {
 public:
  explicit XmlLines(int indent) : indent_(indent) {}
  void Open(const QString& tag) { Line(tag); indent_ += 2; }
  void Close(const QString& tag) { indent_ -= 2; Line(tag); }
  void Line(const QString& text) { text_ += QString(indent_, u' ') + text + u'\n'; }
  void Annotation(const QString& name, const QString& value) {
    Line(QStringLiteral("<annotation name=\"%1\" value=\"%2\"/>").arg(Attribute(name), Attribute(value)));
  }
  void Doc(const QString& doc) {
    if (!doc.isEmpty()) Annotation(kDocString, doc);
  }
  // One argument: a single line unless it names an enumeration.
  void Arg(const BusArg& arg, const QString& direction) {
    QString tag = QStringLiteral("<arg");
    if (!arg.name.isEmpty()) tag += QStringLiteral(" name=\"%1\"").arg(Attribute(arg.name));
    tag += QStringLiteral(" type=\"%1\"").arg(Attribute(arg.type));
    if (!direction.isEmpty()) tag += QStringLiteral(" direction=\"%1\"").arg(direction);
    if (arg.enumeration.isEmpty()) {
      Line(tag + QStringLiteral("/>"));
      return;
    }
    Open(tag + u'>');
    Annotation(kEnumeration, arg.enumeration);
    Close(QStringLiteral("</arg>"));
  }
  const QString& text() const { return text_; }

 private:
  int indent_;
  QString text_;
};

}  // namespace

QString BusMethod::InSignature() const {
  QString signature;
  for (const BusArg& arg : in) signature += arg.type;
  return signature;
}

QString BusMethod::OutSignature() const {
  QString signature;
  for (const BusArg& arg : out) signature += arg.type;
  return signature;
}

const BusMethod* BusInterface::FindMethod(const QString& method, const QString& signature) const {
  for (const BusMethod& m : methods) {
    if (m.name == method && m.InSignature() == signature) return &m;
  }
  return nullptr;
}

bool BusInterface::HasMember(const QString& member) const {
  for (const BusMethod& m : methods) {
    if (m.name == member) return true;
  }
  return false;
}

const BusProperty* BusInterface::FindProperty(const QString& property) const {
  for (const BusProperty& p : properties) {
    if (p.name == property) return &p;
  }
  return nullptr;
}

QString InterfaceXml(const BusInterface& interface, int indent) {
  XmlLines xml(indent);
  xml.Open(QStringLiteral("<interface name=\"%1\">").arg(Attribute(interface.name)));
  xml.Doc(interface.doc);
  for (const auto& [name, value] : interface.annotations) xml.Annotation(name, value);
  for (const QString& name : interface.enumerations) {
    const BusEnumeration* enumeration = FindBusEnumeration(name);
    if (enumeration == nullptr) continue;
    const QString prefix = QString(kEnumeration) + u'.' + name + u'.';
    if (!enumeration->doc.isEmpty()) xml.Annotation(prefix + QStringLiteral("DocString"), enumeration->doc);
    for (const BusEnumerationMember& member : enumeration->members) {
      xml.Annotation(prefix + QLatin1String(member.name), QString::number(member.value));
    }
  }
  for (const BusMethod& method : interface.methods) {
    xml.Open(QStringLiteral("<method name=\"%1\">").arg(Attribute(method.name)));
    xml.Doc(method.doc);
    for (const BusArg& arg : method.in) xml.Arg(arg, QStringLiteral("in"));
    for (const BusArg& arg : method.out) xml.Arg(arg, QStringLiteral("out"));
    xml.Close(QStringLiteral("</method>"));
  }
  for (const BusSignal& signal : interface.bus_signals) {
    xml.Open(QStringLiteral("<signal name=\"%1\">").arg(Attribute(signal.name)));
    xml.Doc(signal.doc);
    for (const BusArg& arg : signal.args) xml.Arg(arg, QString());
    xml.Close(QStringLiteral("</signal>"));
  }
  for (const BusProperty& property : interface.properties) {
    const QString tag = QStringLiteral("<property name=\"%1\" type=\"%2\" access=\"%3\"")
                            .arg(Attribute(property.name), Attribute(property.type),
                                 property.set ? QStringLiteral("readwrite") : QStringLiteral("read"));
    if (property.doc.isEmpty() && property.enumeration.isEmpty()) {
      xml.Line(tag + QStringLiteral("/>"));
      continue;
    }
    xml.Open(tag + u'>');
    xml.Doc(property.doc);
    if (!property.enumeration.isEmpty()) xml.Annotation(kEnumeration, property.enumeration);
    xml.Close(QStringLiteral("</property>"));
  }
  xml.Close(QStringLiteral("</interface>"));
  return xml.text();
}

QString NodeXml(const QStringList& interface_elements, const QStringList& children) {
  QString xml = QStringLiteral(
      "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
      "<node>\n");
  for (const QString& element : interface_elements) xml += element;
  for (const QString& child : children) xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(Attribute(child));
  xml += QStringLiteral("</node>\n");
  return xml;
}

QString DBusTypeOf(const QVariant& value) {
  switch (value.metaType().id()) {
    case QMetaType::UChar: return QStringLiteral("y");
    case QMetaType::Short: return QStringLiteral("n");
    case QMetaType::UShort: return QStringLiteral("q");
    case QMetaType::Int: return QStringLiteral("i");
    case QMetaType::UInt: return QStringLiteral("u");
    case QMetaType::LongLong: return QStringLiteral("x");
    case QMetaType::ULongLong: return QStringLiteral("t");
    case QMetaType::Bool: return QStringLiteral("b");
    case QMetaType::Double: return QStringLiteral("d");
    case QMetaType::QString: return QStringLiteral("s");
    case QMetaType::QByteArray: return QStringLiteral("ay");
    default: break;
  }
  if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) return QStringLiteral("o");
  if (value.metaType() == QMetaType::fromType<QDBusVariant>()) return QStringLiteral("v");
  if (value.metaType() == QMetaType::fromType<QVariantMap>()) return QStringLiteral("a{sv}");
  return QStringLiteral("?");
}

QString DBusSignatureOf(const QVariantList& values) {
  QString signature;
  for (const QVariant& value : values) signature += DBusTypeOf(value);
  return signature;
}

QVariant ByteValue(uint8_t value) { return QVariant::fromValue<uchar>(value); }
QVariant Int16Value(int16_t value) { return QVariant::fromValue<short>(value); }

}  // namespace sorvel
