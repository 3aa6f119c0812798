#include "filechooser.h"

#include <QFileDialog>

namespace {

class RealFileChooser : public FileChooserHandler {
public:
    QString openFileName(const FileChooserRequest& r) override
    {
        return QFileDialog::getOpenFileName(r.parent, r.title, r.directory, r.filter, nullptr, QFileDialog::Options());
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

FileChooserHandler* setHandler(FileChooserHandler* handler)
{
    FileChooserHandler* before = g_handler;
    g_handler = handler;
    return before;
}

} // namespace filechooser
