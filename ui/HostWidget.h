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
