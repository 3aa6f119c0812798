#include "toolfiledialog.h"

#include "setting/Language.h"
#include "widget/messagebox.h"

#include <QAction>
#include <QChildEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>

ToolFileDialog::ToolFileDialog(QWidget* parent, const QString& caption, const QString& directory,
                               const QString& filter)
    : QFileDialog(parent, caption, directory, filter)
{
    setOptions(options() | QFileDialog::ReadOnly | QFileDialog::DontConfirmOverwrite);
}

bool ToolFileDialog::event(QEvent* e)
{
    // A box Qt raises itself is polished just before it shows: it takes its text as typed.
    if (e->type() == QEvent::ChildPolished) {
        if (auto* box = qobject_cast<QMessageBox*>(static_cast<QChildEvent*>(e)->child()))
            box->setTextFormat(Qt::PlainText);
    }
    return QFileDialog::event(e);
}

void ToolFileDialog::showEvent(QShowEvent* e)
{
    // Disabled by ReadOnly, they would still stand in the file list's menu: they go from it. Qt makes
    // them with its widgets, when it first shows them.
    for (const char* name : {"qt_rename_action", "qt_delete_action", "qt_new_folder_action"}) {
        if (QAction* action = findChild<QAction*>(QLatin1String(name)))
            action->setVisible(false);
    }
    QFileDialog::showEvent(e);
}

void ToolFileDialog::accept()
{
    const QStringList files = selectedFiles();
    const QFileInfo chosen(files.value(0));
    if (acceptMode() != QFileDialog::AcceptSave || files.isEmpty() || !chosen.exists() || chosen.isDir()) {
        QFileDialog::accept();
        return;
    }
    const QString question = chineseInterface()
                                 ? chosen.fileName() + QStringLiteral(" 已存在。\n要替换它吗？")
                                 : chosen.fileName() + QStringLiteral(" already exists.\nDo you want to replace it?");
    const QPointer<ToolFileDialog> self(this);
    const QMessageBox::StandardButton answer =
        messagebox::warning(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (!self)
        return;
    if (answer == QMessageBox::Yes)
        QFileDialog::accept();
    else if (testAttribute(Qt::WA_DontShowOnScreen))
        reject(); // a platform dialog stood in for the widgets and has closed: nothing is chosen
}
