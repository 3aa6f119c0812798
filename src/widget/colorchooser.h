#pragma once
// The colour dialog behind one seam, so tests can pick or cancel a colour without a user.
#include <QColor>
#include <QColorDialog>
#include <QString>

class QWidget;

// One dialog as the tool asks for it.
struct ColorChooserRequest {
    QColor initial;
    QWidget* parent = nullptr;
    QString title;
    QColorDialog::ColorDialogOptions options;
};

// Shows the dialog and returns the chosen colour, or an invalid colour when it was cancelled.
// The default shows a real QColorDialog; tests install a scripted handler.
class ColorChooserHandler {
public:
    virtual ~ColorChooserHandler() = default;
    virtual QColor choose(const ColorChooserRequest& request) = 0;
};

namespace colorchooser {

// Like QColorDialog::getColor, but parent may be deleted while the dialog runs: the dialog then goes
// with it and the result is an invalid colour. The caller must check its own survival afterwards.
QColor getColor(const QColor& initial, QWidget* parent, const QString& title,
                QColorDialog::ColorDialogOptions options = QColorDialog::ColorDialogOptions());

// Every later dialog goes to handler (not owned; it must outlive its installation). nullptr restores
// the real dialog. Returns the handler installed before. GUI thread only.
ColorChooserHandler* setHandler(ColorChooserHandler* handler);

} // namespace colorchooser
