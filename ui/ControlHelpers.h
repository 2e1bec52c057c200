// Private to the control layer's sources: what every control family needs.
#pragma once

#include <QWidget>

#include "ui/Controls.h"

namespace ctl {

inline QWidget* ParentWidget(TWinControl* parent)
{
    return parent ? parent->Widget() : nullptr;
}

// Virtual key of a Qt key; letters and digits coincide, 0 for keys of no
// interest. Plus and minus are told apart by where they lie: the keypad's
// (VK_ADD, VK_SUBTRACT) or the main block's (VK_OEM_PLUS, VK_OEM_MINUS,
// which is also the "=" key that carries "+" on US keyboards).
inline Word VirtualKeyOf(int key, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space)
        return static_cast<Word>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return static_cast<Word>(VK_F1 + (key - Qt::Key_F1));
    const bool keypad = m & Qt::KeypadModifier;
    switch (key) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Plus: return keypad ? VK_ADD : VK_OEM_PLUS;
    case Qt::Key_Equal: return VK_OEM_PLUS;
    case Qt::Key_Minus: return keypad ? VK_SUBTRACT : VK_OEM_MINUS;
    default: return 0;
    }
}

} // namespace ctl
