// Internal to the control layer: the widget under every control that holds
// others. It re-places its aligned children whenever it is resized.
#pragma once

#include <string>

#include <QString>
#include <QWidget>

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
