#include "gui/recording_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "recording/record_sink.h"

namespace ulmora {

namespace {

const char* const kFormatNames[3] = {"SER (one file)", "FITS (a file per picture)", "Matroska video (lossless FFV1)"};
const char* const kWhatNames[3] = {"Processed picture (8-bit)", "Raw frames (8-bit)",
                                   "Sum before the tone curve (16-bit)"};
constexpr int kMaxSegmentS = 24 * 3600;
constexpr int kMaxKeepFreeMb = 1024 * 1024;

int IndexOf(const QString& value, const char* const (&names)[3]) {
  for (int i = 0; i < 3; ++i)
    if (value == QLatin1String(names[i])) return i;
  return 0;
}

}  // namespace

RecordingDialog::RecordingDialog(QWidget* owner, const RecordingSettings& settings, const QString& captureDir)
    : QDialog(owner), captureDir_(captureDir) {
  setWindowTitle(QStringLiteral("Recording"));
  setObjectName(QStringLiteral("recordingDialog"));

  folder_ = new QLineEdit(settings.workDir, this);
  folder_->setPlaceholderText(QStringLiteral("the capture folder: %1").arg(captureDir));
  folder_->setMinimumWidth(folder_->fontMetrics().averageCharWidth() * 36);
  auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
  browse->setAutoDefault(false);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(folder_, 1);
  folderRow->addWidget(browse);

  format_ = new QComboBox(this);
  for (const char* n : kFormatNames) format_->addItem(QString::fromLatin1(n));
  format_->setCurrentIndex(IndexOf(settings.format, RecordingSettings::kFormats));
  what_ = new QComboBox(this);
  for (const char* n : kWhatNames) what_->addItem(QString::fromLatin1(n));
  what_->setCurrentIndex(IndexOf(settings.what, RecordingSettings::kWhats));

  segment_ = new QSpinBox(this);
  segment_->setRange(0, kMaxSegmentS);
  segment_->setSuffix(QStringLiteral(" s"));
  segment_->setSpecialValueText(QStringLiteral("one file"));
  segment_->setValue(static_cast<int>(qMin<uint32_t>(settings.segmentS, kMaxSegmentS)));
  keepFree_ = new QSpinBox(this);
  keepFree_->setRange(0, kMaxKeepFreeMb);
  keepFree_->setSuffix(QStringLiteral(" MB"));
  keepFree_->setValue(static_cast<int>(qMin<uint32_t>(settings.keepFreeMb, kMaxKeepFreeMb)));
  keepFree_->setToolTip(
      QStringLiteral("The recording stops before the disk has less free; never less than "
                     "a few seconds of frames"));

  auto* form = new QFormLayout;
  auto* folderLabel = new QLabel(QStringLiteral("&Folder:"), this);
  folderLabel->setBuddy(folder_);  // a row of two widgets gets no buddy of its own
  form->addRow(folderLabel, folderRow);
  form->addRow(QStringLiteral("F&ormat:"), format_);
  form->addRow(QStringLiteral("&Record:"), what_);
  form->addRow(QStringLiteral("&Segments of:"), segment_);
  form->addRow(QStringLiteral("&Keep free:"), keepFree_);

  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("recordingNote"));
  note_->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(browse, &QPushButton::clicked, this, &RecordingDialog::OnBrowse);
  connect(folder_, &QLineEdit::textChanged, this, &RecordingDialog::Refresh);
  connect(format_, &QComboBox::currentIndexChanged, this, &RecordingDialog::Refresh);
  connect(what_, &QComboBox::currentIndexChanged, this, &RecordingDialog::Refresh);
  Refresh();
}

RecordingSettings RecordingDialog::Settings() const {
  RecordingSettings s;
  s.workDir = folder_->text().trimmed();
  s.format = QLatin1String(RecordingSettings::kFormats[qBound(0, format_->currentIndex(), 2)]);
  s.what = QLatin1String(RecordingSettings::kWhats[qBound(0, what_->currentIndex(), 2)]);
  s.segmentS = static_cast<uint32_t>(segment_->value());
  s.keepFreeMb = static_cast<uint32_t>(keepFree_->value());
  return s;
}

QString RecordingDialog::Problem() const {
  const RecordingSettings s = Settings();
  const QString dir = s.workDir.isEmpty() ? captureDir_ : s.workDir;
  const QFileInfo info(dir);
  if (!info.isDir()) return QStringLiteral("The folder %1 does not exist.").arg(dir);
  if (!info.isWritable()) return QStringLiteral("The folder %1 cannot be written.").arg(dir);
  const RecordFormat* format = FindRecordFormat("a." + s.format.toStdString());
  if (!format) return QStringLiteral("This program cannot write %1 files.").arg(s.format.toUpper());
  if (s.what == QLatin1String("sum") && !format->holds16Bits)
    return QStringLiteral("%1 cannot hold the 16-bit sum.").arg(s.format.toUpper());
  return {};
}

void RecordingDialog::accept() {
  const QString problem = Problem();
  if (!problem.isEmpty()) {
    note_->setText(problem);
    note_->setVisible(true);
    return;
  }
  QDialog::accept();
}

void RecordingDialog::OnBrowse() {
  const QString start = folder_->text().trimmed().isEmpty() ? captureDir_ : folder_->text().trimmed();
  const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Recording folder"), start);
  if (!dir.isEmpty()) folder_->setText(dir);
}

void RecordingDialog::Refresh() {
  // Only video is cut into segments.
  segment_->setEnabled(format_->currentIndex() == 2);
  note_->setText(Problem());
  note_->setVisible(!note_->text().isEmpty());
}

}  // namespace ulmora
