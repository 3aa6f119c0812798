#pragma once
// The interface language (0 Chinese, any other value English), kept in config/Language.xml.
#include "widget/qss.h"

#include <QObject>
#include <QString>

class Language : public QObject {
    Q_OBJECT
public:
    Language();

    int getLanguageType() const { return m_type; }
    // Saves, stores and emits, even when the value does not change.
    void setLanguageType(int type);
    void emitLanguageChange();

    // 0 read, -1 the content does not parse, -2 the file cannot be opened.
    int parseLanguageXML();
    // 0 written, -2 the file cannot be written; the stored value stays.
    int saveLanguageXML(int type);
    int reload();

signals:
    void LanguageChange(int type);

private:
    int ensureFile();

    Qss m_qss;
    QString m_filePath;
    int m_type = 1;
};

// The one Language object, created by the main window; every page reads it.
extern Language* g_language;

// The current language value; English (1) while no Language object exists.
int currentLanguageType();
// Whether texts are shown in Chinese (language 0).
inline bool chineseInterface()
{
    return currentLanguageType() == 0;
}
