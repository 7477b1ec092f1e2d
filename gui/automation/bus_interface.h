// The description of one D-Bus interface of the automation server: its
// methods (one entry per signature, so a member with defaulted trailing
// arguments appears once per form, the longest first and the shortest with
// arguments last; a form without arguments is never last, it comes just
// before that one: a client that keeps one form per member from the
// introspection, the last, as dbus-python does, then checks the arguments it
// is given against a form that has some, instead of dropping them), signals and
// properties, each with its help string and the enumerations its values take.
// The server dispatches calls through the handlers held here and answers
// Introspect with the XML written from the same description, which is also
// the file installed under share/dbus-1/interfaces/.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <utility>
#include <vector>

namespace sorvel {

class BusObject;
class BusCall;

// One argument or result: its name (empty for a member's result), D-Bus
// type, and the enumeration (by name) its values belong to, if any.
struct BusArg {
  QString name;
  QString type;
  QString enumeration;
};

// An argument, and a member's result (no name).
inline BusArg Arg(QString name, QString type, QString enumeration = QString()) {
  return {std::move(name), std::move(type), std::move(enumeration)};
}
inline BusArg Result(QString type, QString enumeration = QString()) { return {QString(), std::move(type), std::move(enumeration)}; }

struct BusMethod {
  QString name;
  std::vector<BusArg> in;
  std::vector<BusArg> out;
  QString doc;  // empty: no help string
  std::function<void(BusObject&, BusCall&)> handler;
  // Answered on the bus thread at once instead of on the object's worker
  // after its earlier calls: for a member that only reads what the server
  // itself keeps, or that must reach a call still running (StopBurn).
  bool on_bus_thread = false;

  QString InSignature() const;
  QString OutSignature() const;
};

struct BusSignal {
  QString name;
  std::vector<BusArg> args;
  QString doc;
};

struct BusProperty {
  QString name;
  QString type;
  QString enumeration;
  QString doc;
  std::function<QVariant(BusObject&)> get;
  // Empty for a read-only property.
  std::function<void(BusObject&, const QVariant&)> set;
};

struct BusInterface {
  QString name;
  QString doc;
  // Enumerations whose names and values the interface publishes.
  QStringList enumerations;
  // Further annotations of the interface (name, value).
  std::vector<std::pair<QString, QString>> annotations;
  std::vector<BusMethod> methods;
  std::vector<BusSignal> bus_signals;
  std::vector<BusProperty> properties;

  // Adds a method whose handler works on objects of class T.
  template <typename T>
  BusInterface& Method(QString method, std::vector<BusArg> in, std::vector<BusArg> out, QString help,
                       std::function<void(T&, BusCall&)> handler) {
    methods.push_back({std::move(method), std::move(in), std::move(out), std::move(help),
                       [handler = std::move(handler)](BusObject& object, BusCall& call) {
                         handler(static_cast<T&>(object), call);
                       },
                       false});
    return *this;
  }
  // Marks the method added last as one answered on the bus thread.
  BusInterface& OnBusThread() {
    methods.back().on_bus_thread = true;
    return *this;
  }
  template <typename T>
  BusInterface& Property(QString property, QString type, QString enumeration, QString help,
                         std::function<QVariant(T&)> get, std::function<void(T&, const QVariant&)> set = {}) {
    BusProperty p{std::move(property), std::move(type), std::move(enumeration), std::move(help),
                  [get = std::move(get)](BusObject& object) { return get(static_cast<T&>(object)); }, {}};
    if (set) {
      p.set = [set = std::move(set)](BusObject& object, const QVariant& value) { set(static_cast<T&>(object), value); };
    }
    properties.push_back(std::move(p));
    return *this;
  }
  BusInterface& Signal(QString signal, std::vector<BusArg> args, QString help = QString()) {
    bus_signals.push_back({std::move(signal), std::move(args), std::move(help)});
    return *this;
  }

  // The method of this name taking `signature`; null when there is none.
  const BusMethod* FindMethod(const QString& method, const QString& signature) const;
  bool HasMember(const QString& member) const;
  const BusProperty* FindProperty(const QString& property) const;
};

// The <interface> element of `interface`, each line indented by `indent`
// blanks and ended by a line feed. Help strings become
// org.gtk.GDBus.DocString annotations; each published enumeration becomes one
// annotation "SORVEL.Enumeration.<name>.<member>" per member (its value) and,
// when it has one, "SORVEL.Enumeration.<name>.DocString" (its help string);
// a value typed by an enumeration carries "SORVEL.Enumeration" naming it.
QString InterfaceXml(const BusInterface& interface, int indent);

// A whole introspection document: the DOCTYPE line, then a <node> holding
// the given interface elements and child nodes.
QString NodeXml(const QStringList& interface_elements, const QStringList& children = {});

// The D-Bus type of a value as the bus carries it ("y", "n", "i", "b", "s",
// "ay", "o", ...); "?" for a value of no basic D-Bus type.
QString DBusTypeOf(const QVariant& value);
QString DBusSignatureOf(const QVariantList& values);

// Values of the D-Bus types the interfaces use, typed so that Qt marshals
// them as that type.
QVariant ByteValue(uint8_t value);
QVariant Int16Value(int16_t value);

}  // namespace sorvel
