#include "gui/video_source_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSize>
#include <QVBoxLayout>

#include "devices/controls_dialogs.h"

namespace ulmora {

namespace {
// The size an entry of the size list stands for (a range offers several per description).
constexpr int kSizeRole = Qt::UserRole + 1;
}  // namespace

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

VideoSourceDialog::VideoSourceDialog(CDeviceDialogs& device, QWidget* parent) : QDialog(parent), device_(device) {
  setWindowTitle(QStringLiteral("Video Source"));
}

bool VideoSourceDialog::Load(std::string* why) {
  if (!device_.DescribeSource(&src_, why)) return false;
  Build();
  return true;
}

void VideoSourceDialog::Build() {
  auto* top = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  standard_ = new QComboBox;
  standard_->setObjectName(QStringLiteral("standard"));
  for (const VideoStandardDescription& s : src_.standards)
    standard_->addItem(QString::fromStdString(s.name), QVariant::fromValue<qulonglong>(s.nId));
  standard_->setCurrentIndex(standard_->findData(QVariant::fromValue<qulonglong>(src_.nCurrentStandard)));
  if (!src_.standards.empty()) form->addRow(QStringLiteral("Video standard:"), standard_);

  format_ = new QComboBox;
  format_->setObjectName(QStringLiteral("format"));
  size_ = new QComboBox;
  size_->setObjectName(QStringLiteral("size"));
  rate_ = new QComboBox;
  rate_->setObjectName(QStringLiteral("rate"));
  for (size_t i = 0; i < src_.formats.size(); ++i) {
    const FrameFormatDescription& f = src_.formats[i];
    const std::string text = f.fourcc + (f.description.empty() ? "" : " - " + f.description);
    format_->addItem(QString::fromStdString(text), static_cast<int>(i));
    if (f.nFourcc == src_.nCurrentFourcc) format_->setCurrentIndex(static_cast<int>(i));
  }
  FillSizes();
  connect(format_, &QComboBox::currentIndexChanged, this, &VideoSourceDialog::FillSizes);
  connect(size_, &QComboBox::currentIndexChanged, this, &VideoSourceDialog::FillRates);
  form->addRow(QStringLiteral("Pixel format:"), format_);
  form->addRow(QStringLiteral("Frame size:"), size_);
  form->addRow(QStringLiteral("Frame rate:"), rate_);
  top->addLayout(form);
  top->addWidget(OkCancel(this));
  nInitialFormat_ = format_->currentIndex();
  nInitialSize_ = size_->currentIndex();
  nInitialRate_ = rate_->currentIndex();
}

void VideoSourceDialog::FillSizes() {
  size_->clear();
  const int fi = format_->currentData().toInt();
  if (fi < 0 || fi >= static_cast<int>(src_.formats.size())) return;
  const auto& sizes = src_.formats[static_cast<size_t>(fi)].sizes;
  const auto add = [this](size_t i, uint32_t w, uint32_t h) {
    size_->addItem(QStringLiteral("%1 x %2").arg(w).arg(h), static_cast<int>(i));
    size_->setItemData(size_->count() - 1, QSize(static_cast<int>(w), static_cast<int>(h)), kSizeRole);
    if (w == src_.nCurrentWidth && h == src_.nCurrentHeight) size_->setCurrentIndex(size_->count() - 1);
  };
  for (size_t i = 0; i < sizes.size(); ++i) {
    const FrameSizeDescription& s = sizes[i];
    add(i, s.nWidth, s.nHeight);
    // A scaling card takes any size of its range: the largest, its half and its quarter.
    for (uint32_t div : {2u, 4u})
      if (s.bRange && s.nWidth / div >= s.nMinWidth && s.nHeight / div >= s.nMinHeight)
        add(i, s.nWidth / div & ~1u, s.nHeight / div & ~1u);
  }
  FillRates();
}

void VideoSourceDialog::FillRates() {
  rate_->clear();
  const int fi = format_->currentData().toInt(), si = size_->currentData().toInt();
  if (fi < 0 || fi >= static_cast<int>(src_.formats.size())) return;
  const auto& sizes = src_.formats[static_cast<size_t>(fi)].sizes;
  if (si < 0 || si >= static_cast<int>(sizes.size())) return;
  for (double r : sizes[static_cast<size_t>(si)].frameRates) rate_->addItem(QString::number(r, 'g', 5), r);
  if (rate_->count() == 0) rate_->addItem(QStringLiteral("any"), 0.0);
}

bool VideoSourceDialog::ChosenFormat(FrameFormatChoice* choice) const {
  const int fi = format_->currentData().toInt(), si = size_->currentData().toInt();
  if (fi < 0 || fi >= static_cast<int>(src_.formats.size())) return false;
  const FrameFormatDescription& f = src_.formats[static_cast<size_t>(fi)];
  if (si < 0 || si >= static_cast<int>(f.sizes.size())) return false;
  choice->nFourcc = f.nFourcc;
  const QSize size = size_->currentData(kSizeRole).toSize();
  choice->nWidth = static_cast<uint32_t>(size.width());
  choice->nHeight = static_cast<uint32_t>(size.height());
  choice->dFrameRate = rate_->currentData().toDouble();
  return true;
}

bool VideoSourceDialog::Apply(const std::function<void(const char*)>& warn) {
  std::string why;
  bool newStandard = false;
  if (!src_.standards.empty() && standard_->currentIndex() >= 0) {
    const uint64_t id = standard_->currentData().toULongLong();
    if (id != src_.nCurrentStandard) {
      newStandard = device_.SetStandard(id, &why);
      if (!newStandard) warn(why.c_str());
    }
  }
  const bool changed = format_->currentIndex() != nInitialFormat_ || size_->currentIndex() != nInitialSize_ ||
                       rate_->currentIndex() != nInitialRate_;
  FrameFormatChoice choice;
  if (!changed || !ChosenFormat(&choice)) return newStandard;
  if (device_.ChooseFrameFormat(choice, &why)) return true;
  warn(why.c_str());
  return newStandard;
}

}  // namespace ulmora
