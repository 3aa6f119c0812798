// The tool's reading of the notice the updater leaves when it gives up: only a regular file of one name
// within the bound is read, an empty one is an older updater's, and the reasons come from the place the
// updater wrote to.
#include "Update/updaternotice.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

const QString Held = QStringLiteral("held the updater's lock");

class UpdaterNotice : public QObject {
    Q_OBJECT

private slots:
    // What stands at the notice's place and what the spare place holds; the paragraph the one box shows
    // (none: no box). Whatever stood at either place is gone, and nothing it pointed at changed.
    void onlyANoticeOfOursIsRead_data()
    {
        QTest::addColumn<QByteArray>("first"); // the text at .upgrade-notice, or a link, hard link or FIFO
        QTest::addColumn<QByteArray>("spare"); // null: nothing at .upgrade-notice-spare
        QTest::addColumn<QString>("told");
        const QByteArray padded = "lock\n" + QByteArray(1019, '\n');
        QTest::newRow("an older updater's empty notice") << QByteArray("") << QByteArray() << "Its record";
        QTest::newRow("a notice of 1,024 bytes") << padded << QByteArray() << "cannot lock";
        QTest::newRow("a notice over 1,024 bytes is not read") << padded + '\n' << QByteArray() << "";
        QTest::newRow("text without a word of ours") << QByteArray("not a notice\n") << QByteArray() << "";
        QTest::newRow("a link to a file naming lock") << QByteArray("link") << QByteArray("lock-held\n") << Held;
        QTest::newRow("a FIFO") << QByteArray("fifo") << QByteArray("lock\n") << "cannot lock";
        QTest::newRow("a file of two names naming lock") << QByteArray("hard link") << QByteArray("lock-held\n") << Held;
        QTest::newRow("a folder moved away while the updater worked") << QByteArray("folder-moved\n") << QByteArray()
                                                                       << "moved to where it is now";
    }
    void onlyANoticeOfOursIsRead()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, spare);
        QFETCH(QString, told);
        TempAppDir app;
        const QString notice = app.filePath(".upgrade-notice"), outside = app.filePath("outside.txt");
        const QByteArray from = QFile::encodeName(outside), at = QFile::encodeName(notice);
        QVERIFY(app.write("outside.txt", "lock\n"));
        if (first == "link" || first == "hard link")
            QVERIFY((first == "link" ? ::symlink : ::link)(from.constData(), at.constData()) == 0);
        else
            QVERIFY(first == "fifo" ? ::mkfifo(at.constData(), 0600) == 0 : app.write(".upgrade-notice", first));
        QVERIFY(spare.isNull() || app.write(".upgrade-notice-spare", spare));

        MessageBoxRecorder boxes;
        updaternotice::tellIfAny(nullptr, app.path());
        QCOMPARE(boxes.boxes().size(), told.isEmpty() ? 0 : 1);
        const QString text = told.isEmpty() ? QString() : boxes.boxes().first().text;
        for (const QString& paragraph : {QString("Its record"), QString("cannot lock"), Held})
            QVERIFY2(text.contains(paragraph) == (paragraph == told), qPrintable(text));
        QVERIFY(!QFileInfo(notice).exists() && !QFileInfo(notice).isSymLink());
        QVERIFY(!QFileInfo::exists(app.filePath(".upgrade-notice-spare")));
        QCOMPARE(readFile(outside), QByteArray("lock\n"));
    }
};

QTEST_MAIN(UpdaterNotice)
#include "test_updaternotice.moc"
