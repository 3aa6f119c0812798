// The language setting and its file config/Language.xml: reading what may be there, and saving.
#include "setting/Language.h"
#include "widget/qss.h"
#include "tempappdir.h"

#include <QtTest>

class LanguageFile : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { setAppDirPathForTest(QString()); }

    void readsTheFileAndRewritesItWhenChosenAgain_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("type");
        QTest::newRow("missing file: English") << QByteArray() << -1 << 1;
        QTest::newRow("empty file: English") << QByteArray("") << -1 << 1;
        QTest::newRow("broken file: English") << QByteArray("<COMMAND><Language Language=") << -1 << 1;
        QTest::newRow("0: Chinese") << QByteArray("<COMMAND><Language Language=\"0\"/></COMMAND>") << 0 << 0;
        QTest::newRow("1: English") << QByteArray("<COMMAND><Language Language=\"1\"/></COMMAND>") << 0 << 1;
    }
    void readsTheFileAndRewritesItWhenChosenAgain()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, type);
        TempAppDir dir;
        setAppDirPathForTest(dir.path());
        QVERIFY(content.isNull() || dir.write(QStringLiteral("config/Language.xml"), content));
        Language language;
        QCOMPARE(language.getLanguageType(), type);
        QTEST(language.reload(), "result");

        // Choosing the language in use still saves and emits.
        QSignalSpy changes(&language, &Language::LanguageChange);
        language.setLanguageType(type);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(QString::fromUtf8(readFile(dir.filePath(QStringLiteral("config/Language.xml")))),
                 QStringLiteral("<?xml version = \"1.0\" encoding = \"UTF-8\"?>\n<COMMAND>\n"
                                "    <Language Language=\"%1\"/>\n</COMMAND>\n").arg(type));
    }
};

QTEST_GUILESS_MAIN(LanguageFile)
#include "test_language.moc"
