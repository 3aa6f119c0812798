// The bound in all of a firmware upload, on a clock of the rows' own: when an upload too slow is given up,
// and what the log says then.
#include "device/uploadpace.h"

#include <QTest>

namespace {

// What the upload's reader does at `nowMs`: goes on (empty), or gives up and logs this.
QString at(const UploadPace& pace, qint64 nowMs)
{
    if (pace.deadline() == 0 || pace.deadline() > nowMs)
        return QString();
    return QStringLiteral("given up: ") + pace.describe(nowMs);
}

} // namespace

class UploadPaceBound : public QObject {
    Q_OBJECT
private slots:
    // Four acknowledgements in 120 ms: the last ms the upload goes on, and the next, where it is given up.
    void slowUploadIsGivenUpAtTheBound_data()
    {
        QTest::addColumn<QString>("times"); // ms: the first packet's write, then each acknowledgement
        QTest::addColumn<qint64>("within");
        QTest::addColumn<QString>("shown");
        const QString fourIn120 = QStringLiteral("given up: 3 acknowledgement(s) in the last 120 ms, at least 30 ms "
                                                 "each; the bound is 4 in 120 ms (30 ms each)");
        QTest::newRow("the first write counts as the first of the window: due 120 ms after it")
            << "0 10 20 30" << qint64(119) << fourIn120;
        QTest::newRow("after a quick start the window slides: due 120 ms after the oldest of the last four")
            << "0 1 2 3 4 5" << qint64(121) << fourIn120;
    }
    void slowUploadIsGivenUpAtTheBound()
    {
        QFETCH(QString, times);
        QFETCH(qint64, within);
        UploadPace pace;
        pace.setBound(4, 30);
        const QStringList all = times.split(' ');
        pace.start(all.first().toLongLong());
        for (const QString& t : all.mid(1))
            pace.acknowledged(t.toLongLong());
        QCOMPARE(at(pace, within), QString());
        QTEST(at(pace, within + 1), "shown");
    }
};

QTEST_GUILESS_MAIN(UploadPaceBound)
#include "test_uploadpace.moc"
