// The project file of the main window: the layout (label, file system, album
// texts, data area, audio tracks) written to and read from a ".wpj" text file.
// The lines themselves are read and written by project_file.h.
#include <sys/stat.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

#include "gui/dialogs/hourglass.h"
#include "gui/dialogs/list_status_form.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/file.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/host_path.h"
#include "gui/foundation/host_tree_walk.h"
#include "gui/foundation/string_module.h"
#include "gui/foundation/window_module.h"
#include "gui/model/descriptor_files.h"
#include "gui/model/tazol.h"
#include "gui/workspace/main_form.h"
#include "gui/workspace/project_file.h"

namespace sorvel {

namespace {

const QString kProjectFilter = QStringLiteral("プロジェクトファイル (*wpj)|*.wpj");
constexpr int kMaxTracks = 99;

project::Texts TextsOf(Tazol& image, int32_t track_no) {
  project::Texts texts;
  for (int language = 0; language < 2; ++language) {
    const auto text = image.GetTrackTextEx(track_no, language);
    if (!text) continue;
    for (int item = 0; item < 6; ++item) texts[language * 6 + item] = text->Text(item);
  }
  return texts;
}

void SetTexts(Tazol& image, int32_t track_no, const project::Texts& texts) {
  for (int language = 0; language < 2; ++language)
    for (int item = 0; item < 6; ++item) image.SetTrackText(track_no, language, item, texts[language * 6 + item]);
  image.SetEnabledTrackText(true);
}

// A host file the loader may open: an absolute path of a regular file, as
// the host's bytes; `status` gets the file's status. A Windows path, a
// relative one, a FIFO or a device counts as missing.
bool IsUsableSource(const QByteArray& path, struct stat* status) {
  return path.startsWith('/') && ::stat(path.constData(), status) == 0 && S_ISREG(status->st_mode);
}

// The same for a path held as text (a track's source): found back by its
// bytes where Qt could not decode its name.
bool IsUsableSource(const QString& path) {
  struct stat status {};
  return !path.isEmpty() && IsUsableSource(HostBytesOf(path), &status);
}

}  // namespace

// --- Saving ---

void MainForm::mnuFileProjectSave_Click() {
  QString base = TrimSpaces(txtLabel_->text());
  if (base.isEmpty()) base = QStringLiteral("Image");
  const QString proposed = SanitizeFileName(base + QStringLiteral(".wpj"), QStringLiteral(" "));
  const QString file = ShowSaveFileDialog(this, kProjectFilter, proposed, 2054);
  if (file.isEmpty()) return;
  // A write-protected project, or something else than a file at the name,
  // is refused as the other saves refuse it.
  if (const FileProblem problem = OutputPathProblem(file)) {
    Message(problem.kind == FileProblem::kNotRegular ? FileProblemText(file, problem)
                                                     : QStringLiteral("ファイル %1 が開けません。").arg(file),
            16);
    return;
  }
  bool saved = false;
  {
    HourglassCursor hourglass;
    saved = SaveProject(file);
  }
  if (!saved) Message(QStringLiteral("書き込みに失敗しました。"), 16);
}

bool MainForm::SaveProject(const QString& file_name) {
  if (OutputPathProblem(file_name)) return false;
  QStringList lines;
  lines << QStringLiteral("[Mastering]") << QStringLiteral("Label=") + project::CleanText(txtLabel_->text())
        << QStringLiteral("FileSystem=") + QString::number(image_->FileSystem());
  if (image_->EnabledTrackText()) lines << QStringLiteral("Album=") + project::JoinTexts(TextsOf(*image_, 0));
  lines << QString() << QStringLiteral("[Data]");
  // The walk moves through the data area; the view's directory is put back.
  const QString current = image_->GetISOCurrentDirectory();
  image_->ChangeISODirectory(QStringLiteral("\\"));
  WriteDataSection(lines);
  image_->ChangeISODirectory(current);
  lines << QString() << QStringLiteral("[Audio]");
  const int32_t count = image_->GetTrackCount();
  for (int32_t i = 1; i <= count; ++i) {
    const auto track = image_->GetTrackInformation(i);
    if (!track || track->WaveFileName.isEmpty()) continue;
    project::AudioLine audio;
    audio.pregap = track->PregapLBA;
    audio.postgap = track->PostgapLBA;
    audio.flags = track->TrackControlFlag;
    // A WAV file added twice shares one entry, which goes with the first removal.
    audio.source = source_files_.GetData(track->WaveFileName).value_or(track->WaveFileName);
    if (image_->EnabledTrackText()) audio.texts = TextsOf(*image_, i);
    lines << project::FormatAudioLine(audio);
  }
  return ReplaceFileContents(file_name, EncodeTextLines(lines));
}

void MainForm::WriteDataSection(QStringList& lines) {
  const QString here = image_->GetISOCurrentDirectory();
  QStringList directories;
  for (auto record = image_->FindISOFirstFile(); record; record = image_->FindISONextFile()) {
    if (record->Name == u"." || record->Name == u"..") continue;
    project::DataLine data;
    data.is_directory = record->IsDirectory;
    data.parent = here;
    data.name = record->Name;
    // By its bytes: a name that is not UTF-8 comes back as it was.
    data.source = project::SourceField(record->SourcePath);
    data.time_stamp = record->TimeStamp;
    data.attributes = record->FileAttribute;
    lines << project::FormatDataLine(data);
    if (record->IsDirectory) directories << record->Name;
  }
  for (const QString& name : directories) {
    if (!image_->ChangeISODirectory(name)) continue;
    WriteDataSection(lines);
    image_->ChangeISODirectory(QStringLiteral(".."));
  }
}

// --- Loading ---

void MainForm::mnuFileProjectLoad_Click() {
  const QString file = ShowOpenFileDialog(this, kProjectFilter, QString(), 6144);
  if (!file.isEmpty()) FileProjectLoad(file);
}

bool MainForm::FileProjectLoad(const QString& file_name) {
  trvDirectory_->clear();
  if (!LoadProject(file_name)) {
    // The layout is unchanged: its tree comes back.
    RebuildDirectoryTree();
    Message(QStringLiteral("ファイル ") + file_name + QStringLiteral(" が開けません。"), 16);
    return false;
  }
  HourglassCursor hourglass;
  const int32_t code = image_->FileSystem();
  for (int i = 0; i < cboFileSystem_->count(); ++i) {
    if (cboFileSystem_->itemData(i).toInt() != code) continue;
    // Disabled, the box's handler leaves the loaded layout alone.
    cboFileSystem_->setEnabled(false);
    cboFileSystem_->setCurrentIndex(i);
    cboFileSystem_->setEnabled(true);
    break;
  }
  label_limit_ = (code & 0x10) != 0 ? 16 : 32;
  RebuildDirectoryTree();
  panel_text_->clear();
  return true;
}

bool MainForm::LoadProject(const QString& file_name) {
  QStringList missing;
  // A regular file only: File refuses a FIFO or device at once.
  File file;
  if (!file.OpenFile(file_name, File::kInput)) return false;

  // Decoded tracks about to be discarded leave no temporary WAV behind.
  const int32_t count = image_->GetTrackCount();
  for (int32_t i = 1; i <= count; ++i)
    if (const auto track = image_->GetTrackInformation(i)) ForgetSourceOf(track->WaveFileName);
  image_->ClearISO();
  image_->ClearTrack();

  std::optional<project::Section> section;
  bool limit_told = false;
  bool texts_seen = false;
  while (!file.Eof()) {
    const QString line = TrimSpaces(file.Gets());
    if (const auto header = project::ParseSectionHeader(line)) {
      section = header;
    } else if (!line.isEmpty() && section == project::Section::kMastering) {
      if (const auto entry = project::ParseMasteringLine(line)) {
        if (entry->key == u"LABEL") {
          // As a save writes it and a load reads it back: TABs as blanks, and
          // no blank left at either end, also where the box cut the label.
          txtLabel_->setText(TrimSpaces(project::CleanText(entry->value)));
          txtLabel_->setText(TrimSpaces(txtLabel_->text()));
        } else if (entry->key == u"FILESYSTEM") {
          image_->InitISOFS(project::LeadingNumber(entry->value));
        } else if (entry->key == u"ALBUM") {
          SetTexts(*image_, 0, project::TextsFrom(project::SplitFields(entry->value), 0));
          texts_seen = true;
        }
      }
    } else if (!line.isEmpty() && section == project::Section::kData) {
      LoadDataLine(line, missing);
    } else if (!line.isEmpty() && section == project::Section::kAudio) {
      LoadAudioLine(line, missing, limit_told, texts_seen);
    }
    PacedPeekPendingMessage();
  }
  file.CloseFile();
  // Generation follows the file, not the tags of decoded MP3 files.
  image_->SetEnabledTrackText(texts_seen);
  image_->ChangeISODirectory(QStringLiteral("\\"));
  if (!missing.isEmpty()) {
    ListStatusForm::ShowOpen(QStringLiteral("プロジェクトを読み込みましたが、以下のファイルについては存在が確認できないため、"
                                            "構造領域に配置できませんでした。"),
                             missing, this);
  }
  return true;
}

void MainForm::LoadDataLine(const QString& line, QStringList& missing) {
  const project::DataLine data = project::ParseDataLine(line);
  // A dummy entry has no host file to come back from.
  if (!data.is_directory && data.source.isEmpty()) return;
  // Only an absolute parent is entered: a relative one would land wherever the
  // previous line left the current directory.
  const bool entered = data.parent.startsWith(u'\\') && image_->ChangeISODirectory(data.parent);
  QString name = data.name;
  if (data.is_directory) {
    if (entered)
      image_->MakeISODirectory(name, data.attributes,
                               data.time_stamp ? *data.time_stamp : QDateTime::currentDateTime());
    return;
  }
  const std::optional<QByteArray> source = project::SourcePath(data.source);
  // A field that names no path is listed as the project spells it.
  const QString shown = source ? HostNameText(*source) : data.source;
  panel_text_->setText(shown);
  struct stat status {};
  if (!entered || !source || !IsUsableSource(*source, &status)) {
    missing << shown;
    return;
  }
  if (!image_->AddISOFile(name, *source, &status)) return;
  // The host file's own time only stands in for a stamp the line lacks.
  const QDateTime stamp =
      data.time_stamp ? *data.time_stamp
                      : QDateTime::fromMSecsSinceEpoch(qint64{status.st_mtim.tv_sec} * 1000 +
                                                       status.st_mtim.tv_nsec / 1000000);
  image_->ChangeISOProperties(name, data.attributes, stamp);
}

void MainForm::LoadAudioLine(const QString& line, QStringList& missing, bool& limit_told, bool& texts_seen) {
  const project::AudioLine audio = project::ParseAudioLine(line);
  if (audio.source.isEmpty()) return;
  if (!IsUsableSource(audio.source)) {
    missing << audio.source;
    return;
  }
  if (image_->GetTrackCount() >= kMaxTracks) {
    // The first refused line tells the limit; a box per further line would not end.
    if (!limit_told) AddAudioFile(audio.source);
    limit_told = true;
    return;
  }
  if (!AddAudioFile(audio.source)) return;
  const int32_t track_no = image_->GetTrackCount();
  const auto track = image_->GetTrackInformation(track_no);
  if (!track) return;
  image_->ResetTrack(track_no, track->WaveFileName, audio.pregap, audio.postgap, audio.flags);
  if (audio.texts) {
    SetTexts(*image_, track_no, *audio.texts);
    texts_seen = true;
  }
}

}  // namespace sorvel
