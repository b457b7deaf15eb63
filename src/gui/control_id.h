// The numeric id of a control, kept on the widget so code and tests can find controls by id.
#pragma once

#include <QWidget>

namespace ulmora {

inline void SetControlId(QObject* object, int id) { object->setProperty("controlId", id); }
inline int ControlIdOf(const QObject* object) {
  const QVariant v = object ? object->property("controlId") : QVariant();
  return v.isValid() ? v.toInt() : 0;
}
// The first descendant of root (or root itself) that carries id, or null.
inline QWidget* FindControl(QWidget* root, int id) {
  if (!root) return nullptr;
  if (ControlIdOf(root) == id) return root;
  for (QWidget* w : root->findChildren<QWidget*>())
    if (ControlIdOf(w) == id) return w;
  return nullptr;
}

}  // namespace ulmora
