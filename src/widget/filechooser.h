#pragma once
// The tool's open-file dialog behind one seam, so tests can pick a file (or cancel) without a user.
#include <QString>
#include <QtGlobal>

class QWidget;

// One dialog as the tool asks for it.
struct FileChooserRequest {
    QWidget* parent = nullptr;
    QString title;
    QString directory; // where the dialog starts
    QString filter;
};

// Asks for one existing file and returns its path; empty when the user cancels. The default shows
// QFileDialog::getOpenFileName; tests install a handler that scripts the answer.
class FileChooserHandler {
public:
    virtual ~FileChooserHandler() = default;
    virtual QString openFileName(const FileChooserRequest& request) = 0;
    // One existing folder (request.filter unused); empty when cancelled. A handler that scripts only
    // files answers every folder dialog as cancelled.
    virtual QString existingDirectory(const FileChooserRequest& request)
    {
        Q_UNUSED(request)
        return QString();
    }
};

namespace filechooser {

// Same arguments as QFileDialog::getOpenFileName without options. The dialog runs an event loop of
// its own: the caller may be deleted before this returns (the dialog then goes with its parent and the
// answer is empty), so it checks its own survival afterwards.
QString getOpenFileName(QWidget* parent, const QString& title, const QString& directory, const QString& filter);
// As QFileDialog::getExistingDirectory with ShowDirsOnly and DontResolveSymlinks; the same holds.
QString getExistingDirectory(QWidget* parent, const QString& title, const QString& directory);

// Every later dialog goes to handler (not owned; it must outlive its installation). nullptr restores
// the real dialog. Returns the handler installed before. GUI thread only.
FileChooserHandler* setHandler(FileChooserHandler* handler);

} // namespace filechooser
