// Fuzz target: the descriptor readers of the TOC model over arbitrary files.
// The first byte picks the reader; a CUE sheet finds a small image beside it.
// Whatever a reader accepts must be saved and read back to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "gui/model/toc_information.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/toc-descriptor-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    std::ofstream(std::string(made) + "/disc.img", std::ios::binary) << std::string(2352 * 40, '\0');
    return std::string(made);
  }();
  return folder;
}

QString Path(const char* name) { return QString::fromStdString(Folder() + "/" + name); }

void WriteFile(const char* name, const uint8_t* data, size_t size) {
  std::ofstream out(Folder() + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

bool SameEntries(const sorvel::TOCInformation& a, const sorvel::TOCInformation& b) {
  if (a.TOCCount() != b.TOCCount()) return false;
  for (int i = 1; i <= a.TOCCount(); ++i) {
    if (a.TOC(i)->StartLBA != b.TOC(i)->StartLBA || a.TOC(i)->TrackNo != b.TOC(i)->TrackNo) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t kind = data[0] % 3;
  ++data;
  --size;
  sorvel::TOCInformation toc;
  if (kind == 0) {
    WriteFile("disc.cue", data, size);
    QString image;
    int32_t sector_size = 0;
    // Only a sheet of the image beside it reads the same after saving.
    if (toc.LoadCUEFile(Path("disc.cue"), image, sector_size) && image == Path("disc.img") &&
        toc.SaveCUEFile(Path("again.cue"), image, Path("again.cdt"), sector_size)) {
      sorvel::TOCInformation back;
      QString image_back;
      if (!back.LoadCUEFile(Path("again.cue"), image_back, sector_size) || !SameEntries(toc, back)) {
        __builtin_trap();
      }
    }
  } else if (kind == 1) {
    WriteFile("disc.ccd", data, size);
    if (toc.LoadCCDFile(Path("disc.ccd")) && toc.SaveCCDFile(Path("again.ccd"))) {
      sorvel::TOCInformation back;
      back.LoadCCDFile(Path("again.ccd"));
    }
  } else {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    sorvel::model::TOCCDText pack;
    if (pack.ParsePackText(text) && pack.PackText().size() != 47) __builtin_trap();
    sorvel::TOCInformation::MSFToLBA(text);
    sorvel::TOCInformation::HexTextToByte(text);
  }
  return 0;
}
