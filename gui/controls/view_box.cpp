#include "gui/controls/view_box.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRawFont>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "gui/controls/frame_style.h"
#include "gui/controls/twips.h"
#include "gui/foundation/file.h"
#include "gui/jobs/output_set.h"
#include "gui/foundation/modal_ui.h"

namespace sorvel {
namespace {

constexpr double kScrollBarWidthTwips = 255;

// Height of one printed line: that of the sample "神" in the font, which may
// come from a taller fallback font than the Latin text.
int LineHeight(const QFont& font, const QWidget* device) {
  QFontMetrics metrics(font, device);
  return std::max(metrics.height(), metrics.boundingRect(QStringLiteral("神")).height());
}

// Draws `line` with its baseline at `baseline`. Qt gives characters shared by
// all scripts (digits, spaces, punctuation) the script of their neighbours and
// draws a Japanese run, digits included, in the fallback font chosen for
// Japanese, whose figures are smaller than the control font's. Runs the
// control font covers are therefore drawn on their own, so only characters it
// lacks come from a fallback font. A line with right-to-left text is drawn
// whole so its runs keep their visual order.
void DrawLine(QPainter& painter, const QFontMetricsF& metrics, const QRawFont& primary, QPointF baseline,
              const QString& line) {
  const bool right_to_left = std::any_of(line.begin(), line.end(), [](QChar c) {
    const QChar::Direction d = c.direction();
    return d == QChar::DirR || d == QChar::DirAL || d == QChar::DirRLE || d == QChar::DirRLO || d == QChar::DirRLI;
  });
  if (!primary.isValid() || right_to_left) {
    painter.drawText(baseline, line);
    return;
  }
  qsizetype start = 0;
  bool start_covered = true;
  auto flush = [&](qsizetype end) {
    if (end <= start) return;
    const QString run = line.mid(start, end - start);
    painter.drawText(baseline, run);
    baseline.rx() += metrics.horizontalAdvance(run);
  };
  for (qsizetype i = 0; i < line.size();) {
    char32_t ucs4 = line[i].unicode();
    qsizetype width = 1;
    if (line[i].isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
      ucs4 = QChar::surrogateToUcs4(line[i], line[i + 1]);
      width = 2;
    }
    // Marks and joiners stay with the character they belong to.
    const QChar::Category category = QChar::category(ucs4);
    const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
                      category == QChar::Mark_Enclosing || category == QChar::Other_Format;
    const bool covered = primary.supportsCharacter(ucs4);
    if (i == 0) {
      start_covered = covered;
    } else if (!mark && covered != start_covered) {
      flush(i);
      start = i;
      start_covered = covered;
    }
    i += width;
  }
  flush(line.size());
}

}  // namespace

ViewBox::ViewBox(QWidget* parent)
    : QFrame(parent),
      clock_([] { return QDateTime::currentDateTime(); }),
      sbLine_(new QScrollBar(Qt::Vertical, this)),
      mnuLog_(new QMenu(QStringLiteral("ログ"), this)),
      mnuLogSave_(mnuLog_->addAction(QStringLiteral("ログの保存(&S)"))),
      mnuLogClear_(mnuLog_->addAction(QStringLiteral("クリア(&C)"))) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  sbLine_->setObjectName(QStringLiteral("sbLine"));
  sbLine_->setRange(1, 1);
  sbLine_->resize(TwipsToPixelsX(this, kScrollBarWidthTwips), sbLine_->height());
  sbLine_->installEventFilter(this);
  mnuLog_->setObjectName(QStringLiteral("mnuLog"));
  mnuLogSave_->setObjectName(QStringLiteral("mnuLogSave"));
  mnuLogClear_->setObjectName(QStringLiteral("mnuLogClear"));
  connect(sbLine_, &QScrollBar::valueChanged, this, &ViewBox::RedrawLines);
  connect(mnuLogSave_, &QAction::triggered, this, &ViewBox::SaveLog);
  connect(mnuLogClear_, &QAction::triggered, this, &ViewBox::ClearLog);
  ApplyFrameStyle(this, border_style_, appearance_);
}

void ViewBox::setMaxLine(qint16 max_line) {
  if (max_line > 0) max_line_ = max_line;
}

void ViewBox::setLocked(bool locked) {
  // The picture keeps what was shown up to the lock.
  if (locked && !locked_) DrawIfStale();
  locked_ = locked;
  if (!locked) {
    RedrawLines();
    UpdateScrollBar();
  }
}

void ViewBox::setBackColor(OleColor color) {
  back_color_ = color;
  RedrawLines();
}

void ViewBox::setForeColor(OleColor color) {
  fore_color_ = color;
  RedrawLines();
}

void ViewBox::setAppearance(qint32 appearance) {
  appearance_ = appearance;
  ApplyFrameStyle(this, border_style_, appearance_);
  Layout();  // a new border changes the inner area as a resize does
}

void ViewBox::setBorderStyle(qint32 border_style) {
  border_style_ = border_style;
  ApplyFrameStyle(this, border_style_, appearance_);
  Layout();
}

int ViewBox::VisibleLineCount() const {
  int line_height = LineHeight(font(), this);
  if (line_height <= 0) return 0;
  return contentsRect().height() / line_height;
}

void ViewBox::RedrawLines() {
  // Drawn when painted or asked for, once for any number of new lines: a
  // job may log thousands of lines between two paints.
  if (locked_) return;
  stale_ = true;
  update();
}

const QImage& ViewBox::picture() const {
  DrawIfStale();
  return buffer_.image();
}

void ViewBox::DrawIfStale() const {
  if (!stale_ || locked_) return;
  stale_ = false;
  buffer_.Resize(contentsRect().size(), devicePixelRatioF(), ResolveColor(back_color_, palette()));
  QImage& image = buffer_.image();
  if (image.isNull()) return;
  image.fill(ResolveColor(back_color_, palette()));
  QPainter painter(&image);
  painter.setFont(font());
  painter.setPen(ResolveColor(fore_color_, palette()));
  const int ascent = QFontMetrics(font(), this).ascent();
  const QFontMetricsF metrics(painter.font(), painter.device());
  const QRawFont primary = QRawFont::fromFont(painter.font());
  int line_height = LineHeight(font(), this);
  int count = VisibleLineCount();
  for (int i = 1; i <= count; ++i) {
    qsizetype k = static_cast<qsizetype>(sbLine_->value()) + i - 1;
    if (k > lines_.size()) continue;
    DrawLine(painter, metrics, primary, QPointF(0, (i - 1) * line_height + ascent), lines_[k - 1]);
  }
  painter.end();
}

void ViewBox::UpdateScrollBar() {
  if (locked_) return;
  int visible = VisibleLineCount();
  sbLine_->setSingleStep(1);
  sbLine_->setPageStep(visible);
  int max = static_cast<int>(lines_.size());
  max = max < visible ? 1 : max - visible + 1;
  sbLine_->setRange(1, max);
}

void ViewBox::LineOut(const QString& line) {
  if (lines_.size() >= max_line_) lines_.removeFirst();
  lines_.append(line);
  UpdateScrollBar();
  RedrawLines();
  sbLine_->setValue(sbLine_->maximum());
}

void ViewBox::Layout() {
  QRect inner = contentsRect();
  int bar_width = TwipsToPixelsX(this, kScrollBarWidthTwips);
  sbLine_->setGeometry(inner.right() + 1 - sbLine_->width(), inner.top(), bar_width, inner.height());
  buffer_.Resize(inner.size(), devicePixelRatioF(), ResolveColor(back_color_, palette()));
  UpdateScrollBar();
  RedrawLines();
}

void ViewBox::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Layout();
}

void ViewBox::paintEvent(QPaintEvent*) {
  DrawIfStale();
  QPainter painter(this);
  buffer_.PaintTo(painter, contentsRect().topLeft());
  drawFrame(&painter);
}

void ViewBox::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    mnuLog_->popup(event->globalPosition().toPoint());
    return;
  }
  QFrame::mousePressEvent(event);
}

void ViewBox::Wheel(int delta) {
  int step = sbLine_->pageStep() / 2 + 1;
  if (delta > 0) {
    sbLine_->setValue(sbLine_->value() > step ? sbLine_->value() - step : 1);
  } else {
    sbLine_->setValue(sbLine_->value() + step < sbLine_->maximum() ? sbLine_->value() + step : sbLine_->maximum());
  }
}

void ViewBox::wheelEvent(QWheelEvent* event) {
  // Only the vertical wheel scrolls the log.
  int delta = event->angleDelta().y();
  if (delta == 0) return event->ignore();
  Wheel(delta);
  event->accept();
}

bool ViewBox::eventFilter(QObject* watched, QEvent* event) {
  // The wheel over the scroll bar scrolls the view as it does over the lines.
  if (watched == sbLine_ && event->type() == QEvent::Wheel) {
    wheelEvent(static_cast<QWheelEvent*>(event));
    return true;
  }
  return QFrame::eventFilter(watched, event);
}

QString ViewBox::ProposedLogFileName(const QDateTime& now) {
  QString minute = now.toString(QStringLiteral("mm"));
  return now.toString(QStringLiteral("yyyyMMddhh")) + minute + minute + QStringLiteral(".log");
}

void ViewBox::SaveLog() {
  QString path = CurrentModalUi().SaveFileName(this, QStringLiteral("ログファイル(*.log)|*.log"),
                                               ProposedLogFileName(clock_()), 0x806);
  if (path.isEmpty()) return;
  // The log replaces the file only when written whole; a FIFO, device or
  // folder at the name, or a write-protected file, is told and left alone.
  OutputSet outputs;
  const QString temporary = outputs.Add(path);
  File file;
  bool saved = !temporary.isEmpty() && file.OpenFile(temporary, File::kOutput);
  for (const QString& line : lines_) saved = saved && file.Puts(line);
  if (file.FileNo() != 0) saved = file.CloseFile() && saved;
  if (saved && outputs.Commit()) return;
  const QString text = outputs.Problem().kind == FileProblem::kNotRegular
                           ? outputs.ProblemText()
                           : QStringLiteral("ファイル ") + path + QStringLiteral(" が開けません。");
  CurrentModalUi().MessageBox(this, text, 16, QString());
}

void ViewBox::ClearLog() {
  if (CurrentModalUi().MessageBox(this, QStringLiteral("表示されているログを全て削除します。宜しいですか。"), 36,
                                  QString()) != kIdYes)
    return;
  lines_.clear();
  RedrawLines();
}

void ViewBox::readProperties(const PropertyBag& bag) {
  if (auto v = bag.readInt16(QStringLiteral("MaxLine"), 1024)) setMaxLine(*v);
  if (auto v = bag.readBool(QStringLiteral("Locked"), false)) setLocked(*v);
  if (auto v = bag.readFont(QStringLiteral("Font"), font())) setFont(*v);
  if (auto v = bag.readInt32(QStringLiteral("Appearance"), appearance_)) setAppearance(*v);
  if (auto v = bag.readInt32(QStringLiteral("BorderStyle"), border_style_)) setBorderStyle(*v);
  if (auto v = bag.readColor(QStringLiteral("BackColor"), back_color_)) setBackColor(*v);
  if (auto v = bag.readColor(QStringLiteral("ForeColor"), fore_color_)) setForeColor(*v);
}

void ViewBox::writeProperties(PropertyBag& bag) const {
  bag.writeProperty(QStringLiteral("MaxLine"), max_line_);
  bag.writeProperty(QStringLiteral("Locked"), locked_);
  bag.writeProperty(QStringLiteral("Font"), font());
  bag.writeProperty(QStringLiteral("BackColor"), static_cast<qint32>(back_color_));
  bag.writeProperty(QStringLiteral("ForeColor"), static_cast<qint32>(fore_color_));
  bag.writeProperty(QStringLiteral("Appearance"), appearance_);
  bag.writeProperty(QStringLiteral("BorderStyle"), border_style_);
}

}  // namespace sorvel
