#include "ui/FormPlacement.h"

// Qt
#include <QByteArray>
#include <QSettings>
#include <QWidget>

// ours
#include "ui/Form.h"

void KeepFormPlacement(TForm& form, const std::string& group)
{
    const QString key = QString::fromStdString(group) + QStringLiteral("/Geometry");
    {
        QSettings settings("Quenbrik", "Web Lumifang");
        const QByteArray geometry = settings.value(key).toByteArray();
        // A stored place from a screen that is gone is moved back onto one by Qt.
        if (!geometry.isEmpty() && form.Widget()->restoreGeometry(geometry))
            form.CenterOnScreen = false;
    }
    auto previous = std::move(form.OnHide);
    form.OnHide = [&form, key, previous] {
        QSettings settings("Quenbrik", "Web Lumifang");
        settings.setValue(key, form.Widget()->saveGeometry());
        if (previous)
            previous();
    };
}
