#include "ui/Responder.h"

// Qt
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

// ours
#include "ui/Form.h"
#include "ui/HostWidget.h"

namespace {

TResponder* g_installed = nullptr;

TQtResponder& RealDialogs()
{
    static TQtResponder real;
    return real;
}

QWidget* DialogParent()
{
    QWidget* w = QApplication::activeModalWidget();
    return w ? w : QApplication::activeWindow();
}

} // namespace

std::string QtFilterText(const std::string& filter)
{
    QStringList parts = ToQString(filter).split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString named = QStringLiteral("(") + patterns + QLatin1Char(')');
        // Qt takes the patterns from the last parentheses of a description;
        // one that shows them already must not show them twice.
        if (parts[i].trimmed().endsWith(named))
            out << parts[i];
        else
            out << parts[i] + QLatin1Char(' ') + named;
    }
    if (out.isEmpty() && !filter.empty())
        out << ToQString(filter);
    return FromQString(out.join(QStringLiteral(";;")));
}

TResponder& Responder()
{
    return g_installed ? *g_installed : RealDialogs();
}

void SetResponder(TResponder* r)
{
    g_installed = r;
}

TResponderScope::TResponderScope(TResponder& r) : previous_(g_installed)
{
    g_installed = &r;
}

TResponderScope::~TResponderScope()
{
    g_installed = previous_;
}

TModalResult MessageDlg(const std::string& text, const std::string& caption, TMsgIcon icon, TMsgButtons buttons)
{
    return Responder().MessageBox(TMessageRequest{text, caption, icon, buttons});
}

TModalResult TQtResponder::MessageBox(const TMessageRequest& request)
{
    QMessageBox box(DialogParent());
    box.setWindowTitle(ToQString(request.Caption));
    box.setText(ToQString(request.Text));
    switch (request.Icon) {
    case TMsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case TMsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case TMsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case TMsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case TMsgIcon::None: break;
    }
    struct Choice {
        TMsgButton flag;
        QString text;
        QMessageBox::ButtonRole role;
        TModalResult result;
    };
    const Choice choices[] = {
        {mbYes, QStringLiteral("&Ja"), QMessageBox::YesRole, mrYes},
        {mbYesToAll, QStringLiteral("Ja, &alle"), QMessageBox::YesRole, mrYesToAll},
        {mbNo, QStringLiteral("&Nein"), QMessageBox::NoRole, mrNo},
        {mbNoToAll, QStringLiteral("Nein, &keine"), QMessageBox::NoRole, mrNoToAll},
        {mbOK, QStringLiteral("OK"), QMessageBox::AcceptRole, mrOk},
        {mbCancel, QStringLiteral("Abbrechen"), QMessageBox::RejectRole, mrCancel},
        {mbAbort, QStringLiteral("&Abbrechen"), QMessageBox::RejectRole, mrAbort},
        {mbRetry, QStringLiteral("&Wiederholen"), QMessageBox::AcceptRole, mrRetry},
        {mbIgnore, QStringLiteral("&Ignorieren"), QMessageBox::AcceptRole, mrIgnore},
    };
    std::vector<std::pair<QAbstractButton*, TModalResult>> made;
    const TMsgButtons wanted = request.Buttons ? request.Buttons : mbOK;
    for (const Choice& c : choices) {
        if (wanted & c.flag)
            made.emplace_back(box.addButton(c.text, c.role), c.result);
    }
    box.setDefaultButton(static_cast<QPushButton*>(made.front().first));
    box.exec();
    for (const auto& [button, result] : made) {
        if (box.clickedButton() == button)
            return result;
    }
    // Closed with Esc or the title bar: that is Cancel, or No where there is no Cancel.
    return (wanted & mbCancel) ? mrCancel : (wanted & mbNo) ? mrNo : mrCancel;
}

std::optional<std::string> TQtResponder::FileDialog(const TFileDialogRequest& request)
{
    QFileDialog dialog(DialogParent(), ToQString(request.Title), ToQString(request.InitialDir),
                       ToQString(QtFilterText(request.Filter)));
    dialog.setAcceptMode(request.Kind == TFileDialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.Kind == TFileDialogKind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The default extension and the overwrite question are asked by TSaveDialog
    // itself, so that every program path (and every test) sees the same rules.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.FileName.empty())
        dialog.selectFile(ToQString(request.FileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return FromQString(dialog.selectedFiles().front());
}

std::optional<std::string> TQtResponder::SelectFolder(const TFolderRequest& request)
{
    const QString dir =
        QFileDialog::getExistingDirectory(DialogParent(), ToQString(request.Title), ToQString(request.InitialDir));
    if (dir.isEmpty())
        return std::nullopt;
    return FromQString(dir);
}

TModalResult TQtResponder::ShowModal(TForm& form)
{
    return form.ExecModal();
}

std::unique_ptr<QDialog> TQtResponder::MakePrinterSetupDialog(QPrinter& printer, QWidget* parent)
{
    auto dialog = std::make_unique<QPrintDialog>(&printer, parent);
    dialog->setWindowTitle(QStringLiteral("Drucker einrichten"));
    dialog->setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    // Qt's print dialog names its button after printing ("Drucken").
    for (QDialogButtonBox* box : dialog->findChildren<QDialogButtonBox*>())
        if (QPushButton* ok = box->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("&Übernehmen"));
    return dialog;
}

bool TQtResponder::PrinterSetup(QPrinter& printer)
{
    // The dialog works on a copy of the settings, so a cancel leaves the
    // printer exactly as it was.
    const std::unique_ptr<QDialog> dialog = MakePrinterSetupDialog(printer, DialogParent());
    return dialog->exec() == QDialog::Accepted;
}
