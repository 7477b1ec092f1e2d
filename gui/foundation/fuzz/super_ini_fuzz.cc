// Fuzz target: an INI document loaded from arbitrary bytes. Saving and loading
// again settles after one round: the second and third saves are identical.
// The same bytes also go through the lenient number reading and a bounded
// tokenizing loop.
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "gui/foundation/file.h"
#include "gui/foundation/string_module.h"
#include "gui/foundation/super_ini.h"

namespace {

QString ScratchFile(const char* name) {
  static const std::string folder = [] {
    // Memory-backed when possible: every save is flushed to disk.
    char pattern[] = "/dev/shm/sorvel-ini-fuzz-XXXXXX";
    if (mkdtemp(pattern) != nullptr) return std::string(pattern);
    std::strcpy(pattern, "/tmp/sorvel-ini-fuzz-XXXXXX");
    return std::string(mkdtemp(pattern));
  }();
  return QString::fromStdString(folder + "/" + name);
}

QByteArray SaveAndReload(sorvel::SuperINI& ini, const QString& path) {
  if (!ini.SaveINI(path)) __builtin_trap();
  const QByteArray saved = sorvel::EncodeTextLines(ini.ToLines());
  if (!ini.LoadINI(path)) __builtin_trap();
  return saved;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString input = ScratchFile("input.ini");
  const QString output = ScratchFile("output.ini");
  if (!sorvel::ReplaceFileContents(input, QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))))
    return 0;
  sorvel::SuperINI ini;
  if (!ini.LoadINI(input)) __builtin_trap();
  SaveAndReload(ini, output);
  const QByteArray second = SaveAndReload(ini, output);
  const QByteArray third = SaveAndReload(ini, output);
  if (second != third) __builtin_trap();

  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  (void)sorvel::ReadInt32(text);
  int pieces = 0;
  for (auto piece = sorvel::StrTok(text, QStringLiteral("\t")); piece; piece = sorvel::StrTok(std::nullopt, "\t")) {
    if (++pieces > static_cast<int>(size) + 1) __builtin_trap();  // one piece per delimiter at most
  }
  return 0;
}
