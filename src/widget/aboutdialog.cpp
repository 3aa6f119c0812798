#include "aboutdialog.h"

#include "widget/label.h"
#include "widget/qss.h"
#include "widget/safeurl.h"
#include "widget/smallxml.h"

#include <QDebug>
#include <QDomDocument>
#include <QPixmap>

AboutDialog::AboutDialog() : m_filePath(appDirPath() + QStringLiteral("/config/about.xml"))
{
    resize(700, 320);
    createButtons();
    createTitle(QStringLiteral("About Tessark"));

    m_picture.setParent(this);
    m_picture.setGeometry(60, 70, 105, 210);
    m_picture.setPixmap(QPixmap(m_appDir + QStringLiteral("/images/About/icon-shadow.png"))
                            .scaled(105, 210, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    m_picture.show();

    m_firmware.setParent(this);
    m_version.setParent(this);
    m_web = new Label(this);
    m_other.setParent(this);
    m_email.setParent(this);
    // The about file's texts, shown as typed.
    for (QLabel* label : {&m_firmware, &m_version, &m_other})
        label->setTextFormat(Qt::PlainText);
    m_firmware.setObjectName(QStringLiteral("firmware"));
    m_version.setObjectName(QStringLiteral("software"));
    m_web->setObjectName(QStringLiteral("web"));
    m_other.setObjectName(QStringLiteral("other"));
    m_email.setObjectName(QStringLiteral("email"));
    read();

    // The labels take the size of their text when shown, so texts and fonts come first.
    Qss qss;
    const QColor black(0, 0, 0);
    const QColor grey(QStringLiteral("#282828"));
    qss.setLabelStyle(&m_firmware, black, 22, 50);
    m_firmware.move(235, 70);
    m_firmware.show();
    qss.setLabelStyle(&m_version, black, 12, 50);
    m_version.move(220, m_firmware.y() + 60);
    m_version.show();
    qss.setLinkLabelStyle(m_web, 12, grey);
    m_web->move(220, m_version.y() + 32);
    m_web->show();
    qss.setLineEditStyle(&m_email, false, 12, false, black, black);
    m_email.setFocusPolicy(Qt::NoFocus);
    m_email.setGeometry(220, m_web->y() + 29, 200, 30);
    m_email.show();
    qss.setLabelStyle(&m_other, grey, 9, 50);
    m_other.move(220, m_email.y() + 40);
    m_other.show();

    connect(m_web, &Label::emitPressed, this, &AboutDialog::webPressedSlot);
}

int AboutDialog::read()
{
    QDomDocument doc;
    const int result = readSmallXml(m_filePath, &doc);
    if (result != 0)
        return result;
    const QDomElement root = doc.documentElement();
    // Direct children only, case-sensitive tags; a later element of the same tag wins.
    for (QDomNode n = root.firstChild(); !n.isNull(); n = n.nextSibling()) {
        const QDomElement e = n.toElement();
        const QString tag = e.tagName();
        if (tag == QLatin1String("firmware"))
            m_firmware.setText(e.attribute(QStringLiteral("firmware")));
        else if (tag == QLatin1String("software"))
            m_version.setText(e.attribute(QStringLiteral("version")));
        else if (tag == QLatin1String("web"))
            m_web->setText(e.attribute(QStringLiteral("web")));
        else if (tag == QLatin1String("other"))
            m_other.setText(e.attribute(QStringLiteral("other")));
        else if (tag == QLatin1String("email"))
            m_email.setText(e.attribute(QStringLiteral("email")));
    }
    return 0;
}

int AboutDialog::save()
{
    QDomElement root;
    QDomDocument doc = newCommandDocument(QStringLiteral("version = '1.0' encoding = 'UTF-8'"), &root);
    // The same tags and attributes read() takes, so that what is written reads back.
    auto add = [&](const QString& tag, const QString& attribute, const QString& value) {
        QDomElement e = doc.createElement(tag);
        e.setAttribute(attribute, value);
        root.appendChild(e);
    };
    add(QStringLiteral("firmware"), QStringLiteral("firmware"), m_firmware.text());
    add(QStringLiteral("software"), QStringLiteral("version"), m_version.text());
    add(QStringLiteral("web"), QStringLiteral("web"), m_web->text());
    add(QStringLiteral("other"), QStringLiteral("other"), m_other.text());
    add(QStringLiteral("email"), QStringLiteral("email"), m_email.text());

    return saveSmallXml(m_filePath, doc) ? 0 : -2;
}

void AboutDialog::webPressedSlot()
{
    const QString text = m_web->text();
    if (openSafeUrl(text))
        qDebug() << "Open:" << text;
}
