#include "helpdialog.h"

#include "widget/label.h"
#include "widget/qss.h"
#include "widget/safeurl.h"
#include "widget/smallxml.h"

#include <QDebug>
#include <QDomDocument>
#include <QPixmap>

HelpDialog::HelpDialog() : m_filePath(appDirPath() + QStringLiteral("/config/help.xml"))
{
    resize(500, 260);
    createButtons();
    createTitle(QStringLiteral("Help"));

    m_webLink = new Label(this);
    m_webLink->setObjectName(QStringLiteral("web"));
    placeRow(&m_webIcon, QStringLiteral("/images/help/icon.svg"), m_webLink, 70);
    connect(m_webLink, &Label::emitPressed, this, &HelpDialog::openHelpSlot);

    m_discordLink = new Label(this);
    m_discordLink->setObjectName(QStringLiteral("discord"));
    placeRow(&m_discordIcon, QStringLiteral("/images/help/discord.svg"), m_discordLink,
             m_webIcon.y() + m_webIcon.height() + 15);
    connect(m_discordLink, &Label::emitPressed, this, &HelpDialog::openDiscordSlot);

    // Last, so the links are sized, styled and placed before their texts arrive.
    readXML();
}

void HelpDialog::placeRow(QLabel* icon, const QString& picture, Label* link, int y)
{
    icon->setParent(this);
    icon->resize(50, 50);
    icon->move(60, y);
    icon->setPixmap(QPixmap(m_appDir + picture).scaled(icon->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    icon->show();

    link->resize(int(width() * 0.6), 30);
    setLinkStyle(link);
    link->move(icon->x() + icon->width() - 1 + 16, icon->y() + icon->height() / 2 - link->height() / 2);
    link->show();
}

void HelpDialog::setLinkStyle(Label* label)
{
    Qss qss;
    qss.setLinkLabelStyle(label, 11, QColor(70, 70, 70));
}

int HelpDialog::readXML()
{
    QDomDocument doc;
    const int result = readSmallXml(m_filePath, &doc);
    if (result != 0)
        return result;
    for (QDomNode n = doc.documentElement().firstChild(); !n.isNull(); n = n.nextSibling()) {
        const QDomElement e = n.toElement();
        const QString tag = e.tagName();
        if (tag == QLatin1String("web"))
            m_webLink->setText(e.attribute(QStringLiteral("web")));
        else if (tag == QLatin1String("discord"))
            m_discordLink->setText(e.attribute(QStringLiteral("link")));
    }
    return 0;
}

void HelpDialog::openWeb(const QString& url)
{
    if (openSafeUrl(url))
        qInfo() << 277 << "Open:" << url;
}

void HelpDialog::openHelpSlot()
{
    openWeb(m_webLink->text());
}

void HelpDialog::openDiscordSlot()
{
    openWeb(m_discordLink->text());
}
