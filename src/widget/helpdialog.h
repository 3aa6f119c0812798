#pragma once
// The Help dialog: a web page and a chat invitation, each a picture beside its address, from config/help.xml.
#include "widget/infodialog.h"

#include <QLabel>

class Label;

class HelpDialog : public InfoDialog {
    Q_OBJECT
public:
    HelpDialog();

    // 0 read (also with no child element), -1 not well-formed, -2 cannot be opened.
    int readXML();
    void openWeb(const QString& url);
    void setLinkStyle(Label* label);

public slots:
    void openHelpSlot();
    void openDiscordSlot();

private:
    // A picture and, beside it and centred on it, its link.
    void placeRow(QLabel* icon, const QString& picture, Label* link, int y);

    QString m_filePath;
    Label* m_discordLink = nullptr; // children of the dialog
    Label* m_webLink = nullptr;
    QLabel m_discordIcon;
    QLabel m_webIcon;
};
