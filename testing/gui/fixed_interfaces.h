// Replaces the machine's interface list for one test, so that discovery never
// reaches a real network.
#pragma once

#include <QList>

#include "gui/foundation/network_module.h"

namespace sorvel::testing {

class FixedInterfaces final : public LocalInterfaceSource {
 public:
  explicit FixedInterfaces(QList<LocalInterface> list = {})
      : list_(std::move(list)), previous_(InstallLocalInterfaceSource(this)) {}
  ~FixedInterfaces() override { InstallLocalInterfaceSource(previous_); }
  FixedInterfaces(const FixedInterfaces&) = delete;
  FixedInterfaces& operator=(const FixedInterfaces&) = delete;
  QList<LocalInterface> Interfaces() override { return list_; }

 private:
  QList<LocalInterface> list_;
  LocalInterfaceSource* previous_;
};

}  // namespace sorvel::testing
