// Where a suite finds what the build laid out beside it: only what tests/beside.txt lists, below the
// folder above the suite's own, never a place outside it.
#include "builtpath.h"

#include <QCoreApplication>
#include <QDir>
#include <QtTest>

class BuiltPath : public QObject
{
    Q_OBJECT

private slots:
    void onlyListedPlacesBesideTheSuite_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("found"); // below the folder above the suite's; empty: refused
        QTest::newRow("a listed file") << "tessark-sim" << "tessark-sim";
        QTest::newRow("a file in a listed folder") << "Upgrade/Upgrade" << "Upgrade/Upgrade";
        QTest::newRow("a listed folder, spelled loosely") << "font/./" << "font";
        QTest::newRow("not listed") << "CMakeCache.txt" << "";
        QTest::newRow("a listed name's prefix") << "tessark" << "";
        QTest::newRow("out of a listed folder") << "font/../../secret" << "";
        QTest::newRow("above the build") << "../tessark-sim" << "";
        QTest::newRow("empty") << "" << "";
    }
    void onlyListedPlacesBesideTheSuite()
    {
        QFETCH(QString, place);
        QFETCH(QString, found);
        const QString build = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
        QCOMPARE(builtPath(place), found.isEmpty() ? QString() : build + QLatin1Char('/') + found);
    }
};

QTEST_GUILESS_MAIN(BuiltPath)
#include "test_builtpath.moc"
