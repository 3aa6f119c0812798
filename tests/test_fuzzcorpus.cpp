// Replays the fuzz targets' seed corpus through the readers, so every build runs the fuzzers' inputs.
#include "readerharness.h"

#include <QDir>
#include <QtTest>

class FuzzCorpusReplayTest : public QObject {
    Q_OBJECT

    ReaderAppDir m_app;

    static void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

private slots:
    void replayNeverCrashes_data()
    {
        QTest::addColumn<int>("reader");
        for (int i = 0; i < fuzzReaderNames().size(); ++i)
            QTest::newRow(qPrintable(fuzzReaderNames()[i])) << i;
    }
    void replayNeverCrashes()
    {
        QFETCH(int, reader);
        const QString folder = QFINDTESTDATA("fuzz/corpus/" + fuzzReaderNames()[reader]);
        // Not found, the empty name would list the working folder and replay whatever lies there.
        QVERIFY2(!folder.isEmpty(), qPrintable("no corpus folder " + fuzzReaderNames()[reader]));
        const QDir corpus(folder);
        const QFileInfoList inputs = corpus.entryInfoList(QDir::Files, QDir::Name);
        QVERIFY2(inputs.size() >= 3, qPrintable(corpus.path()));
        const QtMessageHandler previous = qInstallMessageHandler(quiet); // every input is logged about
        for (const QFileInfo& input : inputs) {
            QFile f(input.absoluteFilePath());
            QVERIFY(f.open(QIODevice::ReadOnly));
            runFuzzReader(FuzzReader(reader), m_app.path(), f.readAll());
        }
        qInstallMessageHandler(previous);
    }
};

QTEST_MAIN(FuzzCorpusReplayTest)
#include "test_fuzzcorpus.moc"
