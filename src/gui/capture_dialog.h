// The Capture dialog: template, directory, frame count and interval of the active session's capture,
// every change applied to the session at once.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ulmora {

class CSG;

enum CaptureDialogId : int {
  kIdCapTemplate = 1009,
  kIdCapDirectory = 1005,
  kIdCapBrowse = 1019,
  kIdCapFrames = 1103,
  kIdCapDelay = 1104,
  kIdCapInterval = 1105,
  kIdCapLastPath = 1016,
  kIdCapOk = 1,
};

class CaptureDialog : public QDialog {
 public:
  // session: the active graph object's session, or null (the dialog then changes nothing).
  CaptureDialog(QWidget* owner, CSG* session);
  // Runs the dialog modally over owner.
  static void Open(QWidget* owner, CSG* session);

  QWidget* Control(int id) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 public:
  void done(int result) override;

 private:
  void Build();
  void Fill();
  void OnTemplateLeft();
  void OnBrowse();
  void OnFramesEdited(const QString& text);
  void OnDelayEdited(const QString& text);
  void OnNumberLeft(QLineEdit* edit);
  void ShowInterval();
  void ShowLastPath(const QString& path);

  CSG* session_;
  QLineEdit* template_ = nullptr;
  QLineEdit* directory_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* browse_ = nullptr;
  QLineEdit* frames_ = nullptr;
  QLineEdit* delay_ = nullptr;
  QLineEdit* interval_ = nullptr;
  QLabel* lastPath_ = nullptr;
};

}  // namespace ulmora
