// Test side of the stand-in engine libraries: chooses the variant folder the
// bindings load from and reaches the recorder inside the loaded library.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QRegularExpression>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/model/engine_library.h"

namespace sorvel::testing {

class FakeEngine {
 public:
  // `variant`: "full", "partial" or "no_init"; `file`: "libtrelin.so" or "libtazol.so".
  FakeEngine(const std::string& variant, const std::string& file)
      : folder_(std::string(SORVEL_FAKE_ENGINE_DIR) + "/" + variant) {
    SetEngineLibraryFolder(QString::fromStdString(folder_));
    path_ = folder_ + "/" + file;
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle_, nullptr) << dlerror();
    Reset();
  }
  ~FakeEngine() {
    SetEngineLibraryFolder(QString());
    if (handle_ != nullptr) dlclose(handle_);
  }
  FakeEngine(const FakeEngine&) = delete;
  FakeEngine& operator=(const FakeEngine&) = delete;

  void Reset() { Fn<void()>("FakeReset")(); }
  // Every recorded call as "Name arg arg ...".
  QStringList Calls() const {
    QStringList calls;
    const int32_t n = Fn<int32_t()>("FakeCallCount")();
    for (int32_t i = 0; i < n; ++i) calls << QString::fromUtf8(Fn<const char*(int32_t)>("FakeCall")(i));
    return calls;
  }
  // Calls whose text starts with `prefix`.
  QStringList Calls(const QString& prefix) const { return Calls().filter(QRegularExpressionOf(prefix)); }
  // The bytes of the index-th call starting with `prefix`.
  QByteArray Bytes(const QString& prefix, int index = 0) const {
    const int32_t n = Fn<int32_t()>("FakeCallCount")();
    for (int32_t i = 0; i < n; ++i) {
      if (!QString::fromUtf8(Fn<const char*(int32_t)>("FakeCall")(i)).startsWith(prefix)) continue;
      if (index-- > 0) continue;
      const uint8_t* data = nullptr;
      const int32_t size = Fn<int32_t(int32_t, const uint8_t**)>("FakeCallBytes")(i, &data);
      return QByteArray(reinterpret_cast<const char*>(data), size);
    }
    return {};
  }
  void SetResult(const char* name, int32_t value) { Fn<void(const char*, int32_t)>("FakeSetResult")(name, value); }
  void SetOutput(const char* name, int32_t key, const QByteArray& data) {
    Fn<void(const char*, int32_t, const void*, int32_t)>("FakeSetOutput")(name, key, data.constData(),
                                                                          static_cast<int32_t>(data.size()));
  }
  const std::string& folder() const { return folder_; }

 private:
  static QRegularExpression QRegularExpressionOf(const QString& prefix) {
    return QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix));
  }
  template <typename F>
  F* Fn(const char* name) const {
    void* address = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
    if (address == nullptr) {
      ADD_FAILURE() << "fake export missing: " << name;
      throw std::runtime_error(name);
    }
    return reinterpret_cast<F*>(address);
  }

  std::string folder_;
  std::string path_;
  void* handle_ = nullptr;
};

}  // namespace sorvel::testing
