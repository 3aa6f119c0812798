// The style helper: image button fallbacks, and the shipped monospace font standing in for Consolas.
#include "widget/qss.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

class StyleHelper : public QObject {
    Q_OBJECT
    const QString m_appDir = QStringLiteral(TESSARK_BIN_DIR); // the build puts the fonts beside the executables

private slots:
    void initTestCase() { setAppDirPathForTest(m_appDir); }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    void imageButtonFallsBackForMissingStates_data()
    {
        QTest::addColumn<QString>("hover");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<QString>("urls"); // normal, hover, pressed
        QTest::newRow("neither: normal everywhere") << "" << "m" << "" << "m/n.svg m/n.svg m/n.svg";
        QTest::newRow("no pressed: the hover image") << "h.svg" << "s" << "" << "s/n.svg s/h.svg s/h.svg";
        QTest::newRow("no hover, pressed given") << "" << "x" << "p.svg" << "x/n.svg x/n.svg x/p.svg";
        QTest::newRow("no folder: directly under images") << "h.svg" << "" << "" << "n.svg h.svg h.svg";
    }
    void imageButtonFallsBackForMissingStates()
    {
        QFETCH(QString, hover);
        QFETCH(QString, folder);
        QFETCH(QString, pressed);
        QFETCH(QString, urls);
        QPushButton button;
        Qss().setImageButtonStyle(&button, QStringLiteral("n.svg"), hover, folder, pressed, false);
        QStringList found;
        auto it = QRegularExpression(QStringLiteral("url\\(([^)]*)\\)")).globalMatch(button.styleSheet());
        while (it.hasNext())
            found << it.next().captured(1).remove(m_appDir + QStringLiteral("/images/"));
        QCOMPARE(found.join(QLatin1Char(' ')), urls);
    }

    void fontsAreRegisteredOncePerProcess()
    {
        for (int i = 0; i < 1000; ++i)
            Qss();
        QCOMPARE(registerAppFonts().size(), 4);
        // Font ids count up per registration: the next one free shows nothing else was registered.
        const int next = QFontDatabase::addApplicationFont(m_appDir + QStringLiteral("/font/consola.ttf"));
        QCOMPARE(next, 4);
        QFontDatabase::removeApplicationFont(next);
    }

    void consolasResolvesToTheShippedMonospace()
    {
        Qss qss;
        const QString name = QStringLiteral("Consolas");
        for (const QFont& font : {QFont(name, 10), QFont(name.toLower(), 10, QFont::Bold, true)}) {
            const QFontInfo info(font);
            QCOMPARE(info.family(), QStringLiteral("DejaVu Sans Mono"));
            QVERIFY(info.fixedPitch());
            QCOMPARE(info.bold(), font.bold());
            QCOMPARE(info.italic(), font.italic());
        }
    }
};

QTEST_MAIN(StyleHelper)
#include "test_qss.moc"
