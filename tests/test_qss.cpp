// The style helper: image button fallbacks, and the shipped monospace font standing in for Consolas.
#include "widget/qss.h"
#include "tempappdir.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {
const char* const FontFiles[] = {"consola.ttf", "consolab.ttf", "consolai.ttf", "consolaz.ttf"};
}

class StyleHelper : public QObject {
    Q_OBJECT
    TempAppDir m_dir;

private slots:
    void initTestCase()
    {
        // The fonts the build put beside the executables, in a folder of the test's own.
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("font")));
        for (const char* name : FontFiles)
            QVERIFY2(QFile::copy(QStringLiteral(TESSARK_BIN_DIR "/font/") + QLatin1String(name),
                                 m_dir.filePath(QStringLiteral("font/")) + QLatin1String(name)),
                     name);
        setAppDirPathForTest(m_dir.path());
    }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    void imageButtonFallsBackForMissingStates_data()
    {
        QTest::addColumn<QString>("hover");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<bool>("framed");
        QTest::addColumn<QStringList>("urls"); // normal, hover, pressed
        QTest::newRow("all three") << "h.svg" << "macro" << "p.svg" << false
                                   << QStringList{"macro/n.svg", "macro/h.svg", "macro/p.svg"};
        QTest::newRow("no hover, no pressed: normal everywhere")
            << "" << "macro" << "" << false << QStringList{"macro/n.svg", "macro/n.svg", "macro/n.svg"};
        QTest::newRow("no pressed: the hover image") << "h.svg" << "setting" << "" << true
                                                     << QStringList{"setting/n.svg", "setting/h.svg", "setting/h.svg"};
        QTest::newRow("no hover, pressed given") << "" << "x" << "p.svg" << true
                                                 << QStringList{"x/n.svg", "x/n.svg", "x/p.svg"};
        QTest::newRow("no folder: directly under images") << "h.svg" << "" << "" << false
                                                          << QStringList{"n.svg", "h.svg", "h.svg"};
    }
    void imageButtonFallsBackForMissingStates()
    {
        QFETCH(QString, hover);
        QFETCH(QString, folder);
        QFETCH(QString, pressed);
        QFETCH(bool, framed);
        QFETCH(QStringList, urls);
        QPushButton button;
        button.resize(31, 27);
        Qss().setImageButtonStyle(&button, QStringLiteral("n.svg"), hover, folder, pressed, framed);

        QStringList found;
        auto it = QRegularExpression(QStringLiteral("url\\(([^)]*)\\)")).globalMatch(button.styleSheet());
        while (it.hasNext())
            found << it.next().captured(1);
        QStringList expected;
        for (const QString& url : urls)
            expected << m_dir.path() + QStringLiteral("/images/") + url;
        QCOMPARE(found, expected);
        QCOMPARE(button.styleSheet().contains(QLatin1String("rgb(70, 230, 180)")), framed);
        QCOMPARE(button.iconSize(), QSize(31, 27));
    }

    void fontsAreRegisteredOncePerProcess()
    {
        for (int i = 0; i < 1000; ++i)
            Qss();
        const QVector<int> ids = registerAppFonts();
        QCOMPARE(ids.size(), 4);
        for (int id : ids)
            QCOMPARE(QFontDatabase::applicationFontFamilies(id), QStringList(QStringLiteral("DejaVu Sans Mono")));
        // Font ids count up per registration: the next one free shows nothing else was registered.
        const int next = QFontDatabase::addApplicationFont(m_dir.filePath(QStringLiteral("font/consola.ttf")));
        QCOMPARE(next, 4);
        QFontDatabase::removeApplicationFont(next);
    }

    void consolasResolvesToTheShippedMonospace_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("weight");
        QTest::addColumn<bool>("italic");
        QTest::newRow("Consolas") << "Consolas" << 50 << false;
        QTest::newRow("consolas, bold") << "consolas" << 75 << false;
        QTest::newRow("Consolas, bold italic") << "Consolas" << 75 << true;
    }
    void consolasResolvesToTheShippedMonospace()
    {
        QFETCH(QString, family);
        QFETCH(int, weight);
        QFETCH(bool, italic);
        Qss qss;
        const QFontInfo info(QFont(family, 10, weight, italic));
        QCOMPARE(info.family(), QStringLiteral("DejaVu Sans Mono"));
        QVERIFY(info.fixedPitch());
        QCOMPARE(info.bold(), weight > 50);
        QCOMPARE(info.italic(), italic);
    }
};

QTEST_MAIN(StyleHelper)
#include "test_qss.moc"
