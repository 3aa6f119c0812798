// The style helper: image button fallbacks, and the shipped monospace font standing in for Consolas.
#include "widget/qss.h"

#include <QFontDatabase>
#include <QPushButton>
#include <QtTest>

class StyleHelper : public QObject {
    Q_OBJECT
    const QString m_appDir = QStringLiteral(TESSARK_BIN_DIR); // the build puts the fonts beside the executables

private slots:
    void initTestCase() { setAppDirPathForTest(m_appDir); }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    // An image button without a hover or pressed picture falls back to the hover, then the normal one.
    void imageButtonFallsBackForMissingStates()
    {
        // Hover, folder, pressed given; the normal, hover and pressed urls (without a folder: under images/).
        const QVector<QStringList> cases{{"", "m", "", "m/n.svg m/n.svg m/n.svg"},
                                         {"h.svg", "s", "", "s/n.svg s/h.svg s/h.svg"},
                                         {"", "x", "p.svg", "x/n.svg x/n.svg x/p.svg"},
                                         {"h.svg", "", "", "n.svg h.svg h.svg"}};
        for (const QStringList& c : cases) {
            QPushButton button;
            Qss().setImageButtonStyle(&button, QStringLiteral("n.svg"), c[0], c[1], c[2], false);
            QStringList found;
            auto it = QRegularExpression(QStringLiteral("url\\(([^)]*)\\)")).globalMatch(button.styleSheet());
            while (it.hasNext())
                found << it.next().captured(1).remove(m_appDir + QStringLiteral("/images/"));
            QCOMPARE(found.join(' '), c[3]);
        }
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
        for (const QFont& font : {QFont("Consolas", 10), QFont("consolas", 10, QFont::Bold, true)}) {
            const QFontInfo info(font);
            QCOMPARE(info.family(), QStringLiteral("DejaVu Sans Mono"));
            QVERIFY(info.fixedPitch() && info.bold() == font.bold() && info.italic() == font.italic());
        }
    }
};

QTEST_MAIN(StyleHelper)
#include "test_qss.moc"
