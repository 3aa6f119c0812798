#pragma once
// The About dialog: picture, version headline, version line, web address, e-mail and one more line,
// all taken from config/about.xml.
#include "widget/infodialog.h"

#include <QLabel>
#include <QLineEdit>

class Label;

class AboutDialog : public InfoDialog {
    Q_OBJECT
public:
    AboutDialog();

    // 0 read (also with no child element), -1 not well-formed, -2 cannot be opened.
    int read();
    // Writes back what read() reads; nothing in the tool calls it. 0 written, -2 not writable.
    int save();

public slots:
    void webPressedSlot();

private:
    QString m_filePath;
    QLabel m_firmware;
    QLabel m_version;
    Label* m_web = nullptr; // child of the dialog
    QLabel m_other;
    QLabel m_picture;
    QLineEdit m_email;
};
