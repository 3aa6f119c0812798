#pragma once
// A file dialog that reads no file name as markup: read-only, asking its questions as plain text.
#include <QFileDialog>

// Qt's own widget dialog (used where no platform dialog is offered) asks its questions in message boxes
// that guess markup from the text, and a file name goes into them. This one changes no file (no Delete,
// Rename or New Folder), asks the overwrite question of a Save itself through the plain message box
// seam, and shows the boxes Qt still raises (a file or folder gone by the time it is chosen) as plain
// text.
class ToolFileDialog : public QFileDialog {
    Q_OBJECT
public:
    ToolFileDialog(QWidget* parent, const QString& caption, const QString& directory, const QString& filter);

    void accept() override;

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
};
