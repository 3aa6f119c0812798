#include "Language.h"

#include "widget/data.h"
#include "widget/filenotice.h"
#include "widget/smallxml.h"
#include "widget/unreadablefile.h"
#include "platform/savefile.h"

#include <QDebug>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>

Language* g_language = nullptr;

int currentLanguageType()
{
    return g_language ? g_language->getLanguageType() : 1;
}

Language::Language()
    : m_filePath(m_qss.appDir() + QStringLiteral("/config/") + QStringLiteral("Language.xml"))
{
    // Kept aside, then replaced by the language in use so that the next start does not tell it again;
    // told from the event loop once the window is up. The empty file left by ensureFile has nothing to keep.
    if (parseLanguageXML() != 0)
        keepAndTellUnreadable(m_filePath, [this] { return saveLanguageXML(m_type) == 0; });
}

void Language::setLanguageType(int type)
{
    // The language still changes for this session; the user learns it will not last.
    if (saveLanguageXML(type) != 0)
        filenotice::saveFailed(m_filePath, QStringLiteral("the language could not be written"));
    m_type = type;
    emit LanguageChange(type);
}

void Language::emitLanguageChange()
{
    emit LanguageChange(m_type);
}

int Language::ensureFile()
{
    const QFileInfo info(m_filePath);
    if (info.isFile())
        return 0;
    Data::makeDir(info.absolutePath());
    if (!info.exists()) {
        SaveFile empty(m_filePath);
        if (empty.open(QIODevice::WriteOnly))
            empty.commit();
    }
    return 0;
}

int Language::parseLanguageXML()
{
    ensureFile();
    QDomDocument doc;
    const int read = readSmallXml(m_filePath, &doc, "Language: parse file failed:");
    if (read != 0)
        return read;

    const QDomElement root = doc.documentElement();
    if (root.firstChildElement().isNull())
        return 0;
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement element = node.toElement();
        if (element.isNull() || element.tagName() != QLatin1String("Language"))
            continue;
        // A missing or non-numeric value reads as 0, Chinese.
        m_type = element.attribute(QStringLiteral("Language")).toInt(nullptr, 10);
        qDebug() << "CurrentLangType=" << m_type;
    }
    return 0;
}

int Language::saveLanguageXML(int type)
{
    ensureFile();
    QDomElement root;
    QDomDocument doc = newCommandDocument(QStringLiteral("version = \"1.0\" encoding = \"UTF-8\""), &root);
    QDomElement language = doc.createElement(QStringLiteral("Language"));
    language.setAttribute(QStringLiteral("Language"), QString::number(type));
    root.appendChild(language);
    return saveSmallXml(m_filePath, doc) ? 0 : -2;
}

int Language::reload()
{
    return parseLanguageXML();
}
