// Replays the fuzz targets' seed corpus through the readers, so every build runs the fuzzers' inputs and
// checks, for what comes from the network, what the reader answered.
#include "readerharness.h"

#include <QDir>
#include <QtTest>

class FuzzCorpusReplayTest : public QObject {
    Q_OBJECT

    ReaderAppDir m_app;

    static void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

private slots:
    void replayNeverCrashesNorAcceptsWhatItMustRefuse_data()
    {
        QTest::addColumn<int>("reader");
        for (int i = 0; i < fuzzReaderNames().size(); ++i)
            QTest::newRow(qPrintable(fuzzReaderNames()[i])) << i;
    }
    void replayNeverCrashesNorAcceptsWhatItMustRefuse()
    {
        QFETCH(int, reader);
        const QString folder = QFINDTESTDATA("fuzz/corpus/" + fuzzReaderNames()[reader]);
        // Not found, the empty name would list the working folder and replay whatever lies there.
        QVERIFY2(!folder.isEmpty(), qPrintable("no corpus folder " + fuzzReaderNames()[reader]));
        const QDir corpus(folder);
        const QFileInfoList inputs = corpus.entryInfoList(QDir::Files, QDir::Name);
        QVERIFY2(inputs.size() >= 3, qPrintable(corpus.path()));
        QStringList faults; // where a reader returned but its answer is wrong
        const QtMessageHandler previous = qInstallMessageHandler(quiet); // every input is logged about
        for (const QFileInfo& input : inputs) {
            QFile f(input.absoluteFilePath());
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString fault = runFuzzReader(FuzzReader(reader), m_app.path(), f.readAll());
            if (!fault.isEmpty())
                faults << input.fileName() + ": " + fault;
        }
        qInstallMessageHandler(previous);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }
};

QTEST_MAIN(FuzzCorpusReplayTest)
#include "test_fuzzcorpus.moc"
