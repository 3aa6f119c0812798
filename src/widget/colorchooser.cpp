#include "colorchooser.h"

#include <QPointer>

namespace {

// QColorDialog::getColor keeps its dialog on the stack as a child of the parent: should the parent be
// deleted inside the dialog's event loop, the dialog would be destroyed twice. A heap dialog watched
// by a QPointer is deleted once, by whoever comes first.
class RealColorChooser : public ColorChooserHandler {
public:
    QColor choose(const ColorChooserRequest& r) override
    {
        QPointer<QColorDialog> dialog = new QColorDialog(r.parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        if (!r.title.isEmpty())
            dialog->setWindowTitle(r.title);
        dialog->setOptions(r.options);
        dialog->setCurrentColor(r.initial);
        const int result = dialog->exec();
        if (!dialog)
            return QColor();
        const QColor chosen = result == QDialog::Accepted ? dialog->selectedColor() : QColor();
        delete dialog.data();
        return chosen;
    }
};

RealColorChooser g_real;
ColorChooserHandler* g_handler = nullptr;

} // namespace

namespace colorchooser {

QColor getColor(const QColor& initial, QWidget* parent, const QString& title,
                QColorDialog::ColorDialogOptions options)
{
    ColorChooserRequest request;
    request.initial = initial;
    request.parent = parent;
    request.title = title;
    request.options = options;
    return (g_handler ? g_handler : &g_real)->choose(request);
}

ColorChooserHandler* setHandler(ColorChooserHandler* handler)
{
    ColorChooserHandler* before = g_handler;
    g_handler = handler;
    return before;
}

} // namespace colorchooser
