// Internal to the control layer: the widget under every control that holds
// others. It re-places its aligned children whenever it is resized.
#pragma once

#include <string>

#include <QString>
#include <QWidget>

#include "ui/Types.h"

class TWinControl;

class HostWidget : public QWidget {
public:
    HostWidget(TWinControl* owner, QWidget* parent) : QWidget(parent), owner_(owner) {}
    // Controls make their widget before they exist themselves; they name the owner afterwards.
    void SetOwner(TWinControl* owner) { owner_ = owner; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    TWinControl* owner_;
};

inline QString ToQString(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string FromQString(const QString& s)
{
    return s.toUtf8().toStdString();
}

// Shift state and button of a Qt input event in the forms' terms.
inline TShiftState ShiftOf(Qt::KeyboardModifiers m, Qt::MouseButtons b = Qt::NoButton)
{
    TShiftState s = 0;
    if (m & Qt::ShiftModifier)
        s |= ssShift;
    if (m & Qt::AltModifier)
        s |= ssAlt;
    if (m & Qt::ControlModifier)
        s |= ssCtrl;
    if (b & Qt::LeftButton)
        s |= ssLeft;
    if (b & Qt::RightButton)
        s |= ssRight;
    if (b & Qt::MiddleButton)
        s |= ssMiddle;
    return s;
}

inline TMouseButton ButtonOf(Qt::MouseButton b)
{
    if (b == Qt::RightButton)
        return TMouseButton::Right;
    if (b == Qt::MiddleButton)
        return TMouseButton::Middle;
    return TMouseButton::Left;
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
