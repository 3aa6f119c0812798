#include "filechooser.h"

#include "toolfiledialog.h"

#include <QFileDialog>
#include <QPointer>

namespace {

// QFileDialog's static functions keep their dialog on the stack as a child of the parent: a parent
// deleted inside the dialog's event loop would destroy it twice. A heap dialog watched by a QPointer is
// deleted once, by whoever comes first.
class RealFileChooser : public FileChooserHandler {
public:
    QString openFileName(const FileChooserRequest& r) override
    {
        return run(r, QFileDialog::ExistingFile, QFileDialog::Options());
    }
    QString existingDirectory(const FileChooserRequest& r) override
    {
        return run(r, QFileDialog::Directory, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    }

private:
    static QString run(const FileChooserRequest& r, QFileDialog::FileMode mode, QFileDialog::Options options)
    {
        QPointer<QFileDialog> dialog = new ToolFileDialog(r.parent, r.title, r.directory, r.filter);
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(mode);
        dialog->setOptions(dialog->options() | options);
        const int result = dialog->exec();
        if (!dialog)
            return QString();
        const QString chosen = result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
        delete dialog.data();
        return chosen;
    }
};

RealFileChooser g_real;
FileChooserHandler* g_handler = nullptr;

} // namespace

namespace filechooser {

QString getOpenFileName(QWidget* parent, const QString& title, const QString& directory, const QString& filter)
{
    FileChooserRequest request;
    request.parent = parent;
    request.title = title;
    request.directory = directory;
    request.filter = filter;
    return (g_handler ? g_handler : &g_real)->openFileName(request);
}

QString getExistingDirectory(QWidget* parent, const QString& title, const QString& directory)
{
    FileChooserRequest request;
    request.parent = parent;
    request.title = title;
    request.directory = directory;
    return (g_handler ? g_handler : &g_real)->existingDirectory(request);
}

FileChooserHandler* setHandler(FileChooserHandler* handler)
{
    FileChooserHandler* before = g_handler;
    g_handler = handler;
    return before;
}

} // namespace filechooser
