// The tool's reading of the notice the updater leaves when it gives up: only a regular file of one name
// within the bound is read, an empty one is an older updater's, and the reasons come from the place the
// updater wrote to.
#include "Update/updaternotice.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class UpdaterNotice : public QObject {
    Q_OBJECT

private slots:
    // What stands at the notice's place and what the spare place holds; which paragraphs the one box
    // shows (none: no box). Whatever stood at either place is gone, and nothing it pointed at changed.
    void onlyANoticeOfOursIsRead_data()
    {
        QTest::addColumn<QString>("first"); // what stands at .upgrade-notice
        QTest::addColumn<QByteArray>("spare"); // null: nothing at .upgrade-notice-spare
        QTest::addColumn<QStringList>("told");
        const QString record = "Its record", lock = "cannot lock", held = "held the updater's lock";
        QTest::newRow("an older updater's empty notice") << "empty" << QByteArray() << QStringList{record};
        QTest::newRow("a notice of 1,024 bytes") << "1024" << QByteArray() << QStringList{lock};
        QTest::newRow("a notice over 1,024 bytes is not read") << "1025" << QByteArray() << QStringList{};
        QTest::newRow("text without a word of ours") << "text" << QByteArray() << QStringList{};
        QTest::newRow("a link to a file naming lock") << "link" << QByteArray("lock-held\n") << QStringList{held};
        QTest::newRow("a FIFO") << "fifo" << QByteArray("lock\n") << QStringList{lock};
        QTest::newRow("a file of two names naming lock") << "hard link" << QByteArray("lock-held\n") << QStringList{held};
    }
    void onlyANoticeOfOursIsRead()
    {
        QFETCH(QString, first);
        QFETCH(QByteArray, spare);
        QFETCH(QStringList, told);
        TempAppDir app;
        const QString notice = app.filePath(".upgrade-notice");
        const QString outside = app.filePath("outside.txt");
        QVERIFY(app.write("outside.txt", "lock\n"));
        QByteArray padded("lock\n");
        padded.append(QByteArray(1024 - padded.size(), '\n'));
        if (first == "empty" || first == "text")
            QVERIFY(app.write(".upgrade-notice", first == "text" ? "not a notice\n" : ""));
        else if (first == "1024" || first == "1025")
            QVERIFY(app.write(".upgrade-notice", first == "1024" ? padded : padded + '\n'));
        else if (first == "link")
            QVERIFY(QFile::link(outside, notice));
        else if (first == "hard link")
            QVERIFY(::link(QFile::encodeName(outside).constData(), QFile::encodeName(notice).constData()) == 0);
        else
            QVERIFY(::mkfifo(QFile::encodeName(notice).constData(), 0600) == 0);
        QVERIFY(spare.isNull() || app.write(".upgrade-notice-spare", spare));

        MessageBoxRecorder boxes;
        updaternotice::tellIfAny(nullptr, app.path());
        QCOMPARE(boxes.boxes().size(), told.isEmpty() ? 0 : 1);
        const QString text = told.isEmpty() ? QString() : boxes.boxes().first().text;
        for (const QString& paragraph : {QString("Its record"), QString("cannot lock"), QString("held the updater's lock")})
            QVERIFY2(text.contains(paragraph) == told.contains(paragraph), qPrintable(text));
        QVERIFY(!QFileInfo(notice).exists() && !QFileInfo(notice).isSymLink());
        QVERIFY(!QFileInfo::exists(app.filePath(".upgrade-notice-spare")));
        QCOMPARE(readFile(outside), QByteArray("lock\n"));
    }
};

QTEST_MAIN(UpdaterNotice)
#include "test_updaternotice.moc"
