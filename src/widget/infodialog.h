#pragma once
// The framed dialog with an "OK" button that both information dialogs (About, Help) carry, and their
// closing: however the dialog is closed, it deletes itself.
#include "widget/frameddialog.h"

#include <QPushButton>

class InfoDialog : public FramedDialog {
    Q_OBJECT
public slots:
    // Closes and deletes the dialog; reached from a button's press, so the deletion is deferred.
    void hideWindowsSlot();

protected:
    InfoDialog();

    // The frame's close button and "OK" both close on the press, not on the release.
    void createButtons();
    // Paints images/About/icon-shadow.png at (60, 80), 125 x 200; only valid inside a paint event.
    void drawIcon();
    // Escape and the window system end here too: one owner of the deletion, the dialog itself.
    void done(int result) override;

    QString m_appDir;
    QPushButton okButton;
};
