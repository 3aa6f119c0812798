// The language setting and its file config/Language.xml: reading what may be there, and saving.
#include "setting/Language.h"
#include "widget/qss.h"
#include "tempappdir.h"
#include "messageboxrecorder.h"

#include <QtTest>
#include <unistd.h>

class LanguageFile : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { setAppDirPathForTest(QString()); }

    // A file that does not read is kept aside as Language.xml.bad and replaced by the language in use, so it
    // is told once. One that cannot be replaced or kept stays as it is and is told at every start. A link
    // to nowhere is left alone, nothing made through it: English, and only a choice that is not saved is told.
    void readsTheFileKeepsAnUnreadableOneAndRewritesIt_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("kept");
        QTest::newRow("missing file: English") << QByteArray() << -1 << 1 << false;
        QTest::newRow("empty file: English") << QByteArray("") << -1 << 1 << false;
        QTest::newRow("broken file: English, kept") << QByteArray("<COMMAND><Language Language=") << 0 << 1 << true;
        QTest::newRow("read-only broken file: told at every start") << QByteArray("<COMMAND><Language Language=") << -1 << 1 << true;
        QTest::newRow("write-only file: left, told at every start")
            << QByteArray("<COMMAND><Language Language=\"0\"/></COMMAND>") << 0 << 1 << false;
        // Refused as a whole before the parser recurses that deep, so its Chinese is not taken.
        QTest::newRow("nested 25000 deep: English, kept")
            << "<COMMAND><Language Language=\"0\"/>" + QByteArray("<a>").repeated(25000)
                   + QByteArray("</a>").repeated(25000) + "</COMMAND>"
            << 0 << 1 << true;
        QTest::newRow("0: Chinese") << QByteArray("<COMMAND><Language Language=\"0\"/></COMMAND>") << 0 << 0 << false;
        QTest::newRow("1: English") << QByteArray("<COMMAND><Language Language=\"1\"/></COMMAND>") << 0 << 1 << false;
        QTest::newRow("link to nowhere: English, left alone") << QByteArray() << -2 << 1 << false;
    }
    void readsTheFileKeepsAnUnreadableOneAndRewritesIt()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, type);
        QFETCH(bool, kept);
        const QByteArray tag = QTest::currentDataTag();
        const bool readOnly = tag.startsWith("read-only"), writeOnly = tag.startsWith("write-only");
        const bool link = tag.startsWith("link");
        if ((readOnly || writeOnly) && ::geteuid() == 0)
            QSKIP("root reads and writes a file whatever its mode");
        TempAppDir dir;
        setAppDirPathForTest(dir.path());
        const QString file = dir.filePath(QStringLiteral("config/Language.xml"));
        QVERIFY(content.isNull() || dir.write(QStringLiteral("config/Language.xml"), content));
        const QString nowhere = dir.filePath(QStringLiteral("elsewhere/Language.xml"));
        QVERIFY(!link || (QDir().mkpath(dir.filePath(QStringLiteral("config"))) && QDir().mkpath(QFileInfo(nowhere).path())
                          && QFile::link(nowhere, file)));
        QVERIFY(!(readOnly || writeOnly) || QFile::setPermissions(file, readOnly ? QFile::ReadOwner : QFile::WriteOwner));
        MessageBoxRecorder boxes;
        Language language;
        QCOMPARE(language.getLanguageType(), type);
        // A damaged file is told once, naming its kept copy; an empty one held nothing.
        QTest::qWait(20);
        QCOMPARE(boxes.boxes().size(), int(kept || writeOnly));
        QVERIFY(!kept || boxes.boxes()[0].text.contains(QStringLiteral("Language.xml.bad")));
        QCOMPARE(boxes.boxes().value(0).text.contains(QStringLiteral("now holds the settings in use")), kept && !readOnly);
        {
            Language again;
            QTest::qWait(20);
            QCOMPARE(boxes.boxes().size(), readOnly || writeOnly ? 2 : int(kept));
        }
        QVERIFY(link || QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
        QTEST(language.reload(), "result");

        // Choosing the language in use still saves and emits.
        QSignalSpy changes(&language, &Language::LanguageChange);
        language.setLanguageType(type);
        QCOMPARE(changes.count(), 1);
        if (link) { // not saved, and told so
            QVERIFY(QFileInfo(file).isSymLink() && !QFileInfo::exists(nowhere));
            QTest::qWait(20);
            QCOMPARE(boxes.boxes().size(), 1);
            QVERIFY(boxes.boxes()[0].text.contains(QStringLiteral("Could not save ") + file));
            return;
        }
        QCOMPARE(QString::fromUtf8(readFile(dir.filePath(QStringLiteral("config/Language.xml")))),
                 QStringLiteral("<?xml version = \"1.0\" encoding = \"UTF-8\"?>\n<COMMAND>\n"
                                "    <Language Language=\"%1\"/>\n</COMMAND>\n").arg(type));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("config/Language.xml.bad"))), kept ? content : QByteArray());
        QCOMPARE(QFile::exists(dir.filePath(QStringLiteral("config/Language.xml.bad"))), kept);
    }
};

QTEST_MAIN(LanguageFile)
#include "test_language.moc"
