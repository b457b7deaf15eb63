// Button boxes the program's dialogs share.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>

namespace ulmora {

// For dialogs whose settings apply as they are made: the one button closes.
inline QDialogButtonBox* CloseOnly(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::accept);
  return buttons;
}

}  // namespace ulmora
