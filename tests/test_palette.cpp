// The custom colour palette: presses and the colour dialog, the colour file as read and as written,
// and a palette deleted while the real dialog runs.
#include "color/palette.h"
#include "tempappdir.h"
#include "widget/colorchooser.h"
#include "widget/qss.h"

#include <QApplication>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {

const char* const FileName = "config/customcolor/color_btn_32.json";

// Answers every dialog with `answer` (invalid: cancelled) and keeps the requests.
struct ScriptedChooser : ColorChooserHandler {
    ScriptedChooser() : before(colorchooser::setHandler(this)) {}
    ~ScriptedChooser() override { colorchooser::setHandler(before); }
    QColor choose(const ColorChooserRequest& request) override { requests.append(request); return answer; }
    ColorChooserHandler* before;
    QColor answer;
    QList<ColorChooserRequest> requests;
};

// 38 distinct colours, neither white nor black.
QStringList testColours()
{
    QStringList names;
    for (int k = 0; k < 38; ++k)
        names << QColor::fromHsv(k * 9, 200, 220).name();
    return names;
}

// The file as the palette writes it, built line by line.
QByteArray layout(const QStringList& names)
{
    QStringList items;
    for (int k = 0; k < names.size(); ++k)
        items << QString("  {\n    \"customColor_%1\": \"%2\"\n  }").arg(k).arg(names[k]);
    return ("[\n" + items.join(",\n") + "\n]").toLatin1();
}

QPushButton* button(const Palette& p, int k) { return p.findChild<QPushButton*>(QString("customColor_%1").arg(k)); }
void press(const Palette& p, int k) { emit button(p, k)->pressed(); }

// Button k's armed colour and swatch background, "#rrggbb rgba(r,g,b,200)".
QString armedAndSwatch(const Palette& p, int k)
{
    const QRegularExpression rgba("rgba\\(\\d+,\\d+,\\d+,\\d+\\)");
    return p.getCurrentColor().name() + " " + rgba.match(button(p, k)->styleSheet()).captured(0);
}
QString expected(const QString& name)
{
    const QColor c(name);
    return QString("%1 rgba(%2,%3,%4,200)").arg(name).arg(c.red()).arg(c.green()).arg(c.blue());
}

// Both signals in the order they came, the armed colour with its alpha.
std::shared_ptr<QStringList> recordSignals(Palette& p)
{
    auto events = std::make_shared<QStringList>();
    QObject::connect(&p, &Palette::emitButtonPressed, [events] { events->append("pressed"); });
    QObject::connect(&p, &Palette::emitCursorColor,
                     [events](QColor* c) { events->append(QString("%1 %2").arg(c->name()).arg(c->alpha())); });
    return events;
}

void expectLog(QtMsgType type, const QString& text)
{
    QTest::ignoreMessage(type, QRegularExpression("^\\d+ " + QRegularExpression::escape(text) + "$"));
}
// The warning (the writer's ends in a full-width "！") and the line with the path.
void expectOpenFailure(const QString& mark)
{
    expectLog(QtWarningMsg, "Couldn't open colorbtn32.json file" + mark);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^\\d+ \".*/config/customcolor/color_btn_32.json\"$"));
}

} // namespace

class PaletteTest : public QObject {
    Q_OBJECT
    TempAppDir m_dir;
    QString filePath() const { return m_dir.filePath(FileName); }

private slots:
    void init()
    {
        setAppDirPathForTest(m_dir.path());
        QVERIFY(m_dir.write(FileName, layout(testColours())));
    }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    // A press arms its slot opaque and signals, the file untouched; once the press timer has fired the
    // next press is a first press again; unsetColorCursor disarms.
    void singlePressArmsItsSlot()
    {
        const QStringList names = testColours();
        QWidget page;
        Palette& p = *new Palette(&page);
        ScriptedChooser chooser;
        const auto events = recordSignals(p);
        QVERIFY(!p.getCurrentColor().isValid() && m_dir.write(FileName, "untouched"));
        press(p, 7);
        QCOMPARE(*events, QStringList({"pressed", names[7] + " 255"}));
        QCOMPARE(armedAndSwatch(p, 7), expected(names[7]));
        QCOMPARE(readFile(filePath()), QByteArray("untouched"));
        QTimer* timer = p.findChild<QTimer*>();
        QVERIFY(timer && timer->isActive() && timer->interval() == 200);
        QTRY_VERIFY(!timer->isActive());
        press(p, 9);
        QVERIFY(chooser.requests.isEmpty() && p.getCurrentColor() == QColor(names[9]));
        p.setCursor(Qt::CrossCursor);
        p.unsetColorCursor();
        QVERIFY(!p.getCurrentColor().isValid() && !p.testAttribute(Qt::WA_SetCursor));
    }

    // A second press while the timer runs opens the dialog for the second button with its colour; an
    // accepted colour is stored and written opaque and armed with its alpha, a cancel acts as a single press.
    void secondPressOpensTheDialog_data()
    {
        QTest::addColumn<QColor>("answer");
        QTest::newRow("accepted with alpha 128") << QColor(10, 20, 30, 128);
        QTest::newRow("cancelled") << QColor();
    }
    void secondPressOpensTheDialog()
    {
        QFETCH(QColor, answer);
        QStringList names = testColours();
        Palette p(nullptr);
        p.setLanguage(0);
        const auto events = recordSignals(p);
        ScriptedChooser chooser;
        chooser.answer = answer;
        press(p, 3);
        press(p, 9);
        QCOMPARE(chooser.requests.size(), 1);
        const ColorChooserRequest& r = chooser.requests[0];
        QVERIFY(r.initial == QColor(names[9]) && r.parent == &p && r.title == "Select Color");
        QCOMPARE(int(r.options), int(QColorDialog::ShowAlphaChannel));
        const QString armed = answer.isValid() ? "#0a141e 128" : names[9] + " 255";
        names[9] = answer.isValid() ? "#0a141e" : names[9];
        QCOMPARE(*events, QStringList({"pressed", names[3] + " 255", "pressed", armed}));
        QCOMPARE(armedAndSwatch(p, 9), expected(names[9]));
        QCOMPARE(readFile(filePath()), layout(names));
        press(p, 9); // right after the dialog: a first press
        QCOMPARE(chooser.requests.size(), 1);
        QCOMPARE(events->last(), names[9] + " 255");
    }

    // Any JSON of the right structure is read; what is written is the shipped file's layout.
    void shippedFileIsTheWritersLayout()
    {
        const QByteArray shipped = readFile(QFINDTESTDATA("../appdir/config/customcolor/color_btn_32.json"));
        const QJsonArray array = QJsonDocument::fromJson(shipped).array();
        QCOMPARE(array.size(), 38);
        QVERIFY(m_dir.write(FileName, QJsonDocument(array).toJson(QJsonDocument::Indented)));
        Palette p(nullptr);
        ScriptedChooser chooser;
        chooser.answer = QColor(array[0].toObject().value("customColor_0").toString());
        press(p, 0);
        press(p, 0);
        QCOMPARE(readFile(filePath()), shipped);
    }

    // Element k fills slot k only; what the file leaves out is white, a missing member black.
    void fileVariants_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QStringList>("colours");
        QTest::addColumn<QString>("log");
        const QStringList names = testColours(), white = QVector<QString>(38, "#ffffff").toList();
        // The first `count` test colours (past the 38th "#102030"), element 3 replaced by `third` unless null.
        auto file = [&](int count, const QJsonValue& third = QJsonValue()) {
            QJsonArray a;
            for (int k = 0; k < count; ++k)
                a.append(QJsonObject{{QString("customColor_%1").arg(k), k < 38 ? names[k] : "#102030"}});
            if (!third.isNull())
                a[3] = third;
            return QJsonDocument(a).toJson(QJsonDocument::Compact);
        };
        auto withThird = [&](const QString& name) { return QStringList(names.mid(0, 3) << name) + names.mid(4); };
        const QString analy = "analy \"byteArray\" error.";
        QTest::newRow("missing") << QByteArray() << white << analy;
        QTest::newRow("not JSON") << QByteArray("[{\"customColor_0\": ") << white << analy;
        QTest::newRow("not an array") << QByteArray("{\"customColor_0\": \"#102030\"}") << white << "";
        QTest::newRow("5 elements") << file(5) << QStringList(names.mid(0, 5) + white.mid(5)) << "";
        QTest::newRow("element 3 not an object") << file(38, "#123456") << withThird("#ffffff") << "";
        QTest::newRow("element 3 keyed customColor_5")
            << file(38, QJsonObject{{"customColor_5", "#123456"}}) << withThird("#000000") << "";
        QTest::newRow("40 elements") << file(40) << names << "color file has 40 colors, only the first 38 are used.";
    }
    void fileVariants()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, colours);
        QFETCH(QString, log);
        QVERIFY(content.isNull() ? QFile::remove(filePath()) : m_dir.write(FileName, content));
        if (content.isNull())
            expectOpenFailure("!");
        if (!log.isEmpty())
            expectLog(QtDebugMsg, log);
        Palette p(nullptr);
        ScriptedChooser chooser; // second presses are cancelled, so every press arms its own slot
        for (int k = 0; k < 38; ++k) {
            press(p, k);
            QCOMPARE(armedAndSwatch(p, k), expected(colours[k]));
        }
    }

    // A file that cannot be replaced keeps its content; the new colour is still stored and armed. Folder
    // permissions do not bind root: there the file's path is made a folder instead.
    void unwritableFileIsKept()
    {
        const bool readOnlyFolder = ::geteuid() != 0;
        const QString folder = m_dir.filePath("config/customcolor");
        if (readOnlyFolder) {
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        } else {
            QVERIFY(QFile::remove(filePath()) && QDir().mkpath(filePath()));
            expectOpenFailure("!");
            expectLog(QtDebugMsg, "analy \"byteArray\" error.");
        }
        const QByteArray before = readFile(filePath());
        {
            Palette p(nullptr);
            ScriptedChooser chooser;
            chooser.answer = QColor("#abcdef");
            expectOpenFailure("！");
            press(p, 4);
            press(p, 4);
            QTRY_VERIFY(!p.findChild<QTimer*>()->isActive());
            press(p, 4);
            QCOMPARE(armedAndSwatch(p, 4), expected("#abcdef"));
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(readFile(filePath()), before);
        QCOMPARE(QFileInfo(filePath()).isDir(), !readOnlyFolder);
        QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"color_btn_32.json"});
        QDir(filePath()).removeRecursively();
    }

    void languageTitles()
    {
        Palette p(nullptr);
        const QList<QPair<int, QString>> titles{{0, QStringLiteral("LED 颜色")}, {1, "LED COLOR"}, {7, "LED COLOR"}};
        for (const auto& t : titles) {
            p.setLanguage(t.first);
            QCOMPARE(p.findChild<QGroupBox*>("groupBoxCustom")->title(), t.second);
        }
    }

    // An unplug inside the real dialog's event loop deletes the palette: the dialog goes with it, and the
    // palette neither writes nor signals afterwards.
    void deletedWhileTheRealDialogRuns()
    {
        QPointer<Palette> p = new Palette(nullptr);
        const auto events = recordSignals(*p);
        QTimer closer; // only if the deletion failed to end the dialog
        closer.setSingleShot(true);
        connect(&closer, &QTimer::timeout, [] {
            if (QWidget* w = QApplication::activeModalWidget())
                w->close();
        });
        closer.start(5000);
        QTest::mousePress(button(*p, 6), Qt::LeftButton);
        QPointer<QWidget> dialog;
        QTimer::singleShot(0, this, [&] {
            dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog && dialog->parentWidget() == p.data());
            delete p.data();
        });
        QTest::mousePress(button(*p, 6), Qt::LeftButton);
        QVERIFY(closer.isActive() && !p && !dialog);
        QCOMPARE(events->size(), 2);
        QCOMPARE(readFile(filePath()), layout(testColours()));
    }
};

QTEST_MAIN(PaletteTest)
#include "test_palette.moc"
