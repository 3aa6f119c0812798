// The language setting and its file config/Language.xml: reading what may be there, and saving.
#include "setting/Language.h"
#include "widget/qss.h"
#include "tempappdir.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {
const QString FileName = QStringLiteral("config/Language.xml");

QByteArray read(const TempAppDir& dir)
{
    QFile f(dir.filePath(FileName));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

class LanguageFile : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_dir;

private slots:
    void init()
    {
        m_dir.reset(new TempAppDir);
        QVERIFY(m_dir->isValid());
        setAppDirPathForTest(m_dir->path());
    }
    void cleanup() { setAppDirPathForTest(QString()); }

    void readsWhatTheFileHolds_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<bool>("withFolder");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("type");
        QTest::newRow("missing file") << QByteArray() << true << -1 << 1;
        QTest::newRow("missing folder") << QByteArray() << false << -1 << 1;
        QTest::newRow("empty file") << QByteArray("") << true << -1 << 1;
        QTest::newRow("broken file") << QByteArray("<COMMAND><Language Language=") << true << -1 << 1;
        QTest::newRow("Chinese") << QByteArray("<COMMAND><Language Language=\"0\"/></COMMAND>") << true << 0 << 0;
        QTest::newRow("English") << QByteArray("<COMMAND><Language Language=\"1\"/></COMMAND>") << true << 0 << 1;
        QTest::newRow("any other value kept") << QByteArray("<COMMAND><Language Language=\"7\"/></COMMAND>") << true
                                              << 0 << 7;
        QTest::newRow("non-numeric is Chinese") << QByteArray("<COMMAND><Language Language=\"en\"/></COMMAND>")
                                                << true << 0 << 0;
        QTest::newRow("no attribute is Chinese") << QByteArray("<COMMAND><Language/></COMMAND>") << true << 0 << 0;
        QTest::newRow("any root, last one wins")
            << QByteArray("<X><Language Language=\"0\"/><language Language=\"0\"/><Language Language=\"1\"/></X>")
            << true << 0 << 1;
        QTest::newRow("only other elements") << QByteArray("<COMMAND><Other Language=\"0\"/></COMMAND>") << true << 0
                                             << 1;
    }
    void readsWhatTheFileHolds()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, withFolder);
        QFETCH(int, result);
        QFETCH(int, type);
        if (!withFolder)
            QVERIFY(QDir(m_dir->filePath(QStringLiteral("config"))).removeRecursively());
        if (!content.isNull())
            QVERIFY(m_dir->write(FileName, content));

        Language language;
        QCOMPARE(language.getLanguageType(), type);
        QCOMPARE(language.reload(), result);
        QCOMPARE(language.getLanguageType(), type);
        if (content.isNull()) // created, empty, until the user picks a language
            QCOMPARE(read(*m_dir), QByteArray());
    }

    void choosingRewritesTheFileAndEmitsEvenWhenUnchanged()
    {
        QVERIFY(m_dir->write(FileName, "<COMMAND><Language Language=\"1\"/></COMMAND>"));
        Language language;
        QSignalSpy changes(&language, &Language::LanguageChange);

        language.setLanguageType(1);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.last().at(0).toInt(), 1);
        QCOMPARE(read(*m_dir), QByteArray("<?xml version = \"1.0\" encoding = \"UTF-8\"?>\n"
                                          "<COMMAND>\n"
                                          "    <Language Language=\"1\"/>\n"
                                          "</COMMAND>\n"));

        language.setLanguageType(0);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes.last().at(0).toInt(), 0);
        QCOMPARE(Language().getLanguageType(), 0);

        // Saving alone keeps the value in use.
        QCOMPARE(language.saveLanguageXML(1), 0);
        QCOMPARE(language.getLanguageType(), 0);
        QCOMPARE(changes.count(), 2);
    }
};

QTEST_GUILESS_MAIN(LanguageFile)
#include "test_language.moc"
