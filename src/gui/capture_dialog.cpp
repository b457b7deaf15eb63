#include "gui/capture_dialog.h"

#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "gui/control_id.h"
#include "gui/panel_rows.h"
#include "gui/screen_fit.h"
#include "pipeline/sg.h"

namespace ulmora {

namespace {

constexpr int kTemplateMaxChars = 99;
constexpr int kNumberMaxChars = 8;

// Dialog units: a quarter of the font's average character width across, an eighth of its height down,
// so the dialog grows with the font it is shown in.
struct DialogUnits {
  explicit DialogUnits(const QFont& font) {
    QFontMetrics fm(font);
    const int alphabet = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX = (alphabet / 26 + 1) / 2;
    baseY = fm.height();
  }
  int X(int dlu) const { return (dlu * baseX + 2) / 4; }
  int Y(int dlu) const { return (dlu * baseY + 4) / 8; }
  QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
  int baseX = 6;
  int baseY = 13;
};

QString FromLocal(const char* text) { return QString::fromLocal8Bit(text ? text : ""); }

bool ReadUnsigned(const QString& text, uint32_t& value) {
  bool ok = false;
  const uint v = text.trimmed().toUInt(&ok, 10);
  if (ok) value = v;
  return ok;
}

}  // namespace

CaptureDialog::CaptureDialog(QWidget* owner, CSG* session) : QDialog(owner), session_(session) {
  setWindowTitle(QStringLiteral("Capture"));
  setObjectName(QStringLiteral("captureDialog"));
  setModal(true);
  Build();
  Fill();
}

void CaptureDialog::Open(QWidget* owner, CSG* session) {
  CaptureDialog dialog(owner, session);
  CentreDialog(&dialog, owner);
  dialog.exec();
}

void CaptureDialog::Build() {
  const DialogUnits du(font());
  setFixedSize(du.X(286), du.Y(92));

  auto label = [&](const QString& text, int x, int y, int w, int h) {
    auto* l = new QLabel(text, this);
    l->setTextFormat(Qt::PlainText);
    l->setGeometry(du.Rect(x, y, w, h));
    return l;
  };
  auto edit = [&](int id, int x, int y, int w, int h) {
    auto* e = new QLineEdit(this);
    SetControlId(e, id);
    e->setGeometry(du.Rect(x, y, w, h));
    e->installEventFilter(this);
    return e;
  };
  auto digitsOnly = [](QLineEdit* e) {
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
    e->setMaxLength(kNumberMaxChars);
  };

  template_ = edit(kIdCapTemplate, 7, 7, 219, 13);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  SetControlId(ok_, kIdCapOk);
  ok_->setGeometry(du.Rect(229, 7, 50, 14));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, [this] { done(1); });

  directory_ = edit(kIdCapDirectory, 7, 26, 218, 13);
  directory_->setReadOnly(true);
  browse_ = new QPushButton(QStringLiteral("Di&rectory:"), this);
  SetControlId(browse_, kIdCapBrowse);
  browse_->setGeometry(du.Rect(229, 25, 50, 14));
  browse_->setAutoDefault(false);
  connect(browse_, &QPushButton::clicked, this, &CaptureDialog::OnBrowse);

  label(QStringLiteral("Frames:"), 7, 52, 32, 8);
  frames_ = edit(kIdCapFrames, 40, 50, 37, 12);
  digitsOnly(frames_);
  connect(frames_, &QLineEdit::textEdited, this, &CaptureDialog::OnFramesEdited);

  label(QStringLiteral("Delay:"), 96, 52, 28, 8);
  delay_ = edit(kIdCapDelay, 125, 50, 37, 12);
  digitsOnly(delay_);
  connect(delay_, &QLineEdit::textEdited, this, &CaptureDialog::OnDelayEdited);

  interval_ = edit(kIdCapInterval, 166, 50, 59, 12);
  interval_->setReadOnly(true);
  interval_->setAlignment(Qt::AlignCenter);
  interval_->setFocusPolicy(Qt::ClickFocus);

  label(QStringLiteral("Last Cap:"), 7, 73, 34, 8);
  lastPath_ = label(QStringLiteral("<None>"), 42, 73, 231, 8);
  SetControlId(lastPath_, kIdCapLastPath);
  lastPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  template_->setFocus();
}

void CaptureDialog::Fill() {
  if (!session_) return;
  // The frame path writes the name while a run goes on: read it only when no run is going. Before the
  // first capture it holds only the directory: no file has been named yet.
  if (session_->Capture().bCapture.load() != 0) {
    ShowLastPath(QStringLiteral("(capture in progress)"));
  } else {
    const bool named = session_->Stream().pName && session_->Stream().pName[0] != '\0';
    ShowLastPath(named ? FromLocal(session_->Path()) : QString());
  }
  directory_->setText(FromLocal(session_->WorkDir()));
  template_->setMaxLength(kTemplateMaxChars);
  template_->setText(FromLocal(session_->CapFormat()));
  frames_->setText(QString::number(session_->Capture().nCapCount.load()));
  delay_->setText(QString::number(session_->Capture().nFramesDelay.load()));
  ShowInterval();
}

QWidget* CaptureDialog::Control(int id) const {
  return FindControl(const_cast<CaptureDialog*>(this), id);
}

bool CaptureDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    if (watched == template_) OnTemplateLeft();
    else if (watched == frames_ || watched == delay_) OnNumberLeft(static_cast<QLineEdit*>(watched));
  }
  return QDialog::eventFilter(watched, event);
}

// Enter or Esc close the dialog without the focus leaving the field: what was typed still counts.
void CaptureDialog::done(int) {
  if (template_->hasFocus()) OnTemplateLeft();
  if (frames_->hasFocus()) OnNumberLeft(frames_);
  if (delay_->hasFocus()) OnNumberLeft(delay_);
  QDialog::done(1);
}

void CaptureDialog::OnTemplateLeft() {
  if (!session_) return;
  const QString text = template_->text().left(100);
  if (!text.isEmpty()) session_->SetCapFormat(text.toLocal8Bit().constData());
  template_->setText(FromLocal(session_->CapFormat()));
}

void CaptureDialog::OnBrowse() {
  if (!session_) return;
  const QString chosen = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Select directory for capturing"), FromLocal(session_->WorkDir()),
      QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (!chosen.isEmpty() && !session_->SetWorkDir(QFile::encodeName(chosen).constData()))
    QMessageBox::warning(this, QStringLiteral("Warning"), QStringLiteral("Can`t set folder [long name!]..."));
  directory_->setText(FromLocal(session_->WorkDir()));
}

void CaptureDialog::OnFramesEdited(const QString& text) {
  uint32_t n = 0;
  if (session_ && ReadUnsigned(text, n) && n != session_->Capture().nCapCount.load()) session_->SetCapCount(n);
}

void CaptureDialog::OnDelayEdited(const QString& text) {
  uint32_t n = 0;
  if (!session_ || !ReadUnsigned(text, n) || n == session_->Capture().nFramesDelay.load()) return;
  session_->SetFramesDelay(n);
  ShowInterval();
}

void CaptureDialog::OnNumberLeft(QLineEdit* edit) {
  uint32_t n = 0;
  if (ReadUnsigned(edit->text(), n)) return;
  uint32_t current = 0;
  if (session_)
    current = edit == frames_ ? session_->Capture().nCapCount.load() : session_->Capture().nFramesDelay.load();
  edit->setText(QString::number(current));
}

void CaptureDialog::ShowInterval() {
  if (session_) {
    const int32_t ms = session_->Capture().nDelayMs.load();
    interval_->setText(QString::fromStdString(DelayTimeText(ms < 0 ? 0u : static_cast<unsigned>(ms))));
  }
}

void CaptureDialog::ShowLastPath(const QString& path) {
  if (path.isEmpty()) {
    lastPath_->setText(QStringLiteral("<none>"));
    lastPath_->setToolTip(QString());
    return;
  }
  // A long path keeps its beginning and its file name; the whole of it is in the tooltip.
  lastPath_->setText(QFontMetrics(lastPath_->font()).elidedText(path, Qt::ElideMiddle, lastPath_->width()));
  lastPath_->setToolTip(path);
}

}  // namespace ulmora
