// The "Recording" dialog: folder, format, what is recorded, segment length and the free space kept.
#pragma once

#include <QDialog>

#include "gui/recording_settings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace ulmora {

class RecordingDialog : public QDialog {
 public:
  // captureDir: the folder an empty RecWorkDir stands for.
  RecordingDialog(QWidget* owner, const RecordingSettings& settings, const QString& captureDir);

  // What the dialog shows now.
  RecordingSettings Settings() const;
  // Why OK would be refused now; empty when it would not.
  QString Problem() const;

  QLineEdit* FolderEdit() const { return folder_; }
  QComboBox* FormatBox() const { return format_; }
  QComboBox* WhatBox() const { return what_; }
  QSpinBox* SegmentBox() const { return segment_; }
  QSpinBox* KeepFreeBox() const { return keepFree_; }
  QLabel* Note() const { return note_; }

  void accept() override;

 private:
  void OnBrowse();
  void Refresh();

  QString captureDir_;
  QLineEdit* folder_ = nullptr;
  QComboBox* format_ = nullptr;
  QComboBox* what_ = nullptr;
  QSpinBox* segment_ = nullptr;
  QSpinBox* keepFree_ = nullptr;
  QLabel* note_ = nullptr;
};

}  // namespace ulmora
