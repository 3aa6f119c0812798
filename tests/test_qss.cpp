// The style helper: image button fallbacks, the menu's check mark, and the shipped monospace font
// standing in for Consolas.
#include "builtpath.h"
#include "shortcut/globulelayout.h"
#include "tempappdir.h"
#include "widget/qss.h"

#include <QFontDatabase>
#include <QMenu>
#include <QPushButton>
#include <QtTest>
#include <cmath>

namespace {

// Contrast ratio of two colours as the accessibility guidelines define it, from 1 to 21.
double contrast(QRgb a, QRgb b)
{
    auto luminance = [](QRgb c) {
        auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A square of one colour, to be found again in what a widget draws.
QByteArray solidSvg(const char* colour)
{
    return QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\">"
                      "<rect width=\"32\" height=\"32\" fill=\"")
        + colour + "\"/></svg>";
}

int pixelsOf(const QImage& image, QRgb colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & 0xffffff) == (colour & 0xffffff);
    return count;
}

// Counts the style sheets Qt refused while it lives.
class RefusedSheets {
public:
    RefusedSheets() { s_count = 0; s_previous = qInstallMessageHandler(&RefusedSheets::handle); }
    ~RefusedSheets() { qInstallMessageHandler(s_previous); }
    int count() const { return s_count; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (text.contains(QLatin1String("Could not parse stylesheet")))
            ++s_count;
        s_previous(type, context, text);
    }
    static inline int s_count = 0;
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace

class StyleHelper : public QObject {
    Q_OBJECT
    const QString m_appDir = QDir::cleanPath(builtPath(QStringLiteral("font")) + QStringLiteral("/..")); // the build puts the fonts beside the executables

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
            auto it = QRegularExpression(QStringLiteral("url\\(\"((?:[^\"\\\\]|\\\\.)*)\"\\)")).globalMatch(button.styleSheet());
            while (it.hasNext())
                found << it.next().captured(1).replace(QRegularExpression(QStringLiteral("\\\\(.)")), QStringLiteral("\\1"))
                             .remove(m_appDir + QStringLiteral("/images/"));
            QCOMPARE(found.join(' '), c[3]);
        }
    }

    // A checked entry's mark stands out (3:1, the least for graphics) from the menu and from the
    // entry's hover highlight, in both menu variants: the mark is where checking the entry changed
    // the picture, its ground what was there before.
    void menuCheckMarkShowsWithAndWithoutHover()
    {
        for (bool framed : {false, true}) {
            QMenu menu;
            Qss().setMenuStyle(&menu, QColor(QStringLiteral("#46e6b7")), framed);
            QAction* entry = menu.addAction(QStringLiteral("Entry"));
            entry->setCheckable(true);
            menu.adjustSize();
            for (bool hovered : {false, true}) {
                menu.setActiveAction(hovered ? entry : nullptr);
                entry->setChecked(false);
                const QImage ground = menu.grab().toImage();
                entry->setChecked(true);
                const QImage marked = menu.grab().toImage();
                QCOMPARE(marked.size(), ground.size());
                double best = 0;
                for (int y = 0; y < marked.height(); ++y)
                    for (int x = 0; x < marked.width(); ++x)
                        best = std::max(best, contrast(marked.pixel(x, y), ground.pixel(x, y)));
                const QString where = QStringLiteral("framed %1, hovered %2: %3").arg(framed).arg(hovered).arg(best);
                QVERIFY2(best >= 3.0, qPrintable(where));
            }
        }
    }

    // Every path by which our style sheets name a picture draws it from an application folder whatever
    // letters its name holds: Qt refuses an unquoted url with é or ß in it, and a quote, a backslash or a
    // parenthesis would end one.
    void picturesDrawFromAnyFolderName_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("folder");
        const QStringList folders{QStringLiteral("caf\u00e9"), QStringLiteral("stra\u00dfe"), QStringLiteral("my work"),
                                  QStringLiteral("(copy)"), QStringLiteral("it's"), QStringLiteral("say \"hi\""),
                                  QStringLiteral("back\\slash"),
                                  QStringLiteral("\u00e9 \u00df ( ) ' \" \\ end\\")};
        for (const char* kind : {"image button", "icon button", "menu", "globules"})
            for (const QString& folder : folders)
                QTest::addRow("%s in %s", kind, qPrintable(folder)) << QString::fromLatin1(kind) << folder;
    }

    void picturesDrawFromAnyFolderName()
    {
        QFETCH(QString, kind);
        QFETCH(QString, folder);
        const TempDir base;
        const QString appDir = base.filePath(folder);
        const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255);
        for (const char* file : {"pics/n.svg", "icon.svg", "indicator-checked.svg", "shortcut/globule-normal.svg",
                                 "shortcut/globule-hover.svg", "shortcut/globule-pressed.svg",
                                 "shortcut/globule-pressed-hover.svg"}) {
            const QString path = appDir + QStringLiteral("/images/") + QLatin1String(file);
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(solidSvg("#ff0000")) > 0);
        }
        QFile layout(appDir + QStringLiteral("/images/shortcut/globule-layout.svg"));
        QVERIFY(layout.open(QIODevice::WriteOnly) && layout.write(solidSvg("#0000ff")) > 0);
        layout.close();
        setAppDirPathForTest(appDir);
        const RefusedSheets refused;
        QImage drawn;
        if (kind == QLatin1String("image button") || kind == QLatin1String("icon button")) {
            QPushButton button;
            button.resize(40, 40);
            if (kind == QLatin1String("image button"))
                Qss().setImageButtonStyle(&button, QStringLiteral("n.svg"), QString(), QStringLiteral("pics"), QString(), false);
            else
                Qss().setIconButtonStyle(&button, appDir + QStringLiteral("/images/icon.svg"));
            drawn = button.grab().toImage();
        } else if (kind == QLatin1String("menu")) {
            QMenu menu;
            Qss().setMenuStyle(&menu, QColor(QStringLiteral("#46e6b7")), false);
            QAction* entry = menu.addAction(QStringLiteral("Entry"));
            entry->setCheckable(true);
            entry->setChecked(true);
            menu.adjustSize();
            drawn = menu.grab().toImage();
        } else {
            GlobuleLayout globules(nullptr, 2);
            globules.initGlobules({true, false}, 120, 40);
            drawn = globules.grab().toImage();
            QVERIFY2(pixelsOf(drawn, blue) > 0, "the row's own picture is not drawn");
        }
        setAppDirPathForTest(m_appDir);
        QCOMPARE(refused.count(), 0);
        QVERIFY2(pixelsOf(drawn, red) > 0, "the picture is not drawn");
    }

    void fontsAreRegisteredOncePerProcess()
    {
        for (int i = 0; i < 1000; ++i)
            Qss();
        QCOMPARE(registerAppFonts().size(), 2);
        // Font ids count up per registration: the next one free shows nothing else was registered.
        const int next = QFontDatabase::addApplicationFont(m_appDir + QStringLiteral("/font/consola.ttf"));
        QCOMPARE(next, 2);
        QFontDatabase::removeApplicationFont(next);
    }

    void consolasResolvesToTheShippedMonospace()
    {
        Qss qss;
        for (const QFont& font : {QFont("Consolas", 10), QFont("consolas", 10, QFont::Bold)}) {
            const QFontInfo info(font);
            QCOMPARE(info.family(), QStringLiteral("Agave"));
            QVERIFY(info.fixedPitch() && info.bold() == font.bold() && info.italic() == font.italic());
        }
    }
};

QTEST_MAIN(StyleHelper)
#include "test_qss.moc"
