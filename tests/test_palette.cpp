// The custom colour palette: presses and the colour dialog, the colour file as read and as written,
// and a palette deleted while the real dialog runs.
#include "color/palette.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "widget/colorchooser.h"
#include "widget/qss.h"
#include "timescale.h"

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

QPushButton* button(const Palette& p, int k) { return p.findChild<QPushButton*>(QString("customColor_%1").arg(k)); }
void press(const Palette& p, int k) { emit button(p, k)->pressed(); }

// The colour button k shows.
QString shown(const Palette& p, int k)
{
    const QRegularExpression rgba("rgba\\((\\d+),(\\d+),(\\d+),");
    const QStringList c = rgba.match(button(p, k)->styleSheet()).capturedTexts();
    return QColor(c.value(1).toInt(), c.value(2).toInt(), c.value(3).toInt()).name();
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

// The reader's warning for a missing file, the writer's for a file not replaced: both name the file.
void expectOpenFailure(bool writing)
{
    if (writing)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^File not saved: \".*/config/customcolor/color_btn_32\\.json\": .+$"));
    else
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Couldn't read the colour file \".*/config/customcolor/"
                                                              "color_btn_32\\.json\" - no such file$"));
}

} // namespace

class PaletteTest : public QObject {
    Q_OBJECT
    TempAppDir m_dir;
    QByteArray m_shipped; // the writer's layout
    QByteArray m_start;   // the same colours in another layout
    QStringList m_names;
    QString filePath() const { return m_dir.filePath(FileName); }

private slots:
    void initTestCase()
    {
        m_shipped = readFile(QFINDTESTDATA("../appdir/config/customcolor/color_btn_32.json"));
        const QJsonArray array = QJsonDocument::fromJson(m_shipped).array();
        for (int k = 0; k < array.size(); ++k)
            m_names << array[k].toObject().value(QString("customColor_%1").arg(k)).toString();
        QCOMPARE(m_names.size(), 38);
        m_start = QJsonDocument(array).toJson(QJsonDocument::Indented);
    }
    void init()
    {
        setAppDirPathForTest(m_dir.path());
        // Writable again after a row that made it read-only and failed before it could undo that.
        QFile::setPermissions(m_dir.filePath("config/customcolor"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(m_dir.write(FileName, m_start));
    }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    // A press arms its slot opaque, after the pressed signal. A second press within the 200 ms interval
    // opens the dialog for the second button with its colour: an accepted colour is stored and written
    // opaque in the shipped layout and armed with its alpha, a cancel acts as a single press.
    void pressesArmAndASecondOneOpensTheDialog_data()
    {
        QTest::addColumn<bool>("later"); // the second press after the interval
        QTest::addColumn<QColor>("answer");
        QTest::newRow("second press later") << true << QColor();
        QTest::newRow("accepted with alpha 128") << false << QColor(10, 20, 30, 128);
        QTest::newRow("its own colour: the shipped file") << false << QColor(m_names[9]);
        QTest::newRow("cancelled") << false << QColor();
    }
    void pressesArmAndASecondOneOpensTheDialog()
    {
        QFETCH(bool, later);
        QFETCH(QColor, answer);
        Palette p(nullptr);
        const auto events = recordSignals(p);
        ScriptedChooser chooser;
        chooser.answer = answer;
        press(p, 3);
        QTimer* timer = p.findChild<QTimer*>();
        QVERIFY(timer && timer->isActive() && timer->interval() == 200);
        if (later)
            QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), timescale::ms(10000));
        press(p, 9);
        QCOMPARE(chooser.requests.size(), int(!later));
        for (const ColorChooserRequest& r : chooser.requests)
            QVERIFY(r.initial == QColor(m_names[9]) && r.options == QColorDialog::ShowAlphaChannel && r.parent == &p);
        const QString now = answer.isValid() ? answer.name() : m_names[9];
        const QString armed = now + ' ' + QString::number(answer.isValid() ? answer.alpha() : 255);
        QCOMPARE(*events, QStringList({"pressed", m_names[3] + " 255", "pressed", armed}));
        QCOMPARE(p.getCurrentColor().name() + ' ' + shown(p, 9), now + ' ' + now);
        QCOMPARE(readFile(filePath()),
                 answer.isValid() ? QByteArray(m_shipped).replace(m_names[9].toLatin1(), now.toLatin1()) : m_start);
        press(p, 9); // right after the dialog a first press, else a second one
        QCOMPARE(chooser.requests.size(), 1);
        QCOMPARE(events->last(), now + " 255");
    }

    // Element k fills slot k only; what the file leaves out is white, a missing member black. A file
    // that does not parse gives the colours of its whole pairs.
    void fileVariants_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QStringList>("colours");
        QTest::addColumn<bool>("unparsable");
        QTest::addColumn<QString>("folder"); // of the application, below the test's; empty: the test's
        const QStringList white = QVector<QString>(38, "#ffffff").toList();
        auto file = [this](int count, const QJsonValue& third = QJsonValue()) {
            QJsonArray a;
            for (int k = 0; k < count; ++k)
                a.append(QJsonObject{{QString("customColor_%1").arg(k), m_names.value(k, "#102030")}});
            if (!third.isNull())
                a[3] = third;
            return QJsonDocument(a).toJson(QJsonDocument::Compact);
        };
        auto withThird = [this](const QString& name) { QStringList c = m_names; c[3] = name; return c; };
        QTest::newRow("missing") << QByteArray() << white << true << QString();
        QTest::newRow("not JSON") << QByteArray("[{\"customColor_0\": ") << white << true << QString();
        QTest::newRow("5 elements") << file(5) << QStringList(m_names.mid(0, 5) + white.mid(5)) << false << QString();
        QTest::newRow("element 3 not an object") << file(38, "#123456") << withThird("#ffffff") << false << QString();
        QTest::newRow("element 3 keyed customColor_5")
            << file(38, QJsonObject{{"customColor_5", "#123456"}}) << withThird("#000000") << false << QString();
        QTest::newRow("40 elements") << file(40) << m_names << false << QString();
        // A damaged file still gives every colour it holds whole.
        const QByteArray full = file(38);
        QTest::newRow("cut short in colour 4") << full.left(full.indexOf("customColor_4") + 18)
                                               << QStringList(m_names.mid(0, 4) + white.mid(4)) << true << QString();
        // Its name is logged as it stands, "%1" and all.
        QTest::newRow("not JSON, in a folder named a%1b") << QByteArray("[{") << white << true << "a%1b";
    }
    void fileVariants()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, colours);
        QFETCH(bool, unparsable);
        QFETCH(QString, folder);
        const QString file = folder.isEmpty() ? QString(FileName) : folder + '/' + FileName;
        if (!folder.isEmpty())
            setAppDirPathForTest(m_dir.filePath(folder));
        QVERIFY(content.isNull() ? QFile::remove(filePath()) : m_dir.write(file, content));
        if (content.isNull())
            expectOpenFailure(false);
        else if (unparsable)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Colour file does not parse: \".*/color_btn_32\\.json\": "
                                                                ".+ at offset \\d+$"));
        if (!folder.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, qPrintable("Colour file \"" + m_dir.filePath(file) + "\": 0 of 38 colours read"));
        Palette p(nullptr);
        ScriptedChooser chooser; // second presses are cancelled, so every press arms its own slot
        for (int k = 0; k < 38; ++k) {
            QCOMPARE(shown(p, k), colours[k]);
            press(p, k);
            QCOMPARE(p.getCurrentColor().name(), colours[k]);
        }
    }

    // A file that cannot be replaced keeps its content and the user is told once, naming it; the new
    // colour is still stored and armed. Folder permissions do not bind root: that row runs as another user.
    // A link put at a damaged file's place after its reading is left alone: what it names is neither
    // copied aside as the damaged file nor changed.
    void unwritableFileIsKept_data()
    {
        QTest::addColumn<bool>("readOnlyFolder"); // else the file's name is taken by a folder or a link
        QTest::addColumn<bool>("link");
        QTest::newRow("read-only folder") << true << false;
        QTest::newRow("name taken by a folder") << false << false;
        QTest::newRow("damaged file, read, then a link at its place") << false << true;
    }
    void unwritableFileIsKept()
    {
        QFETCH(bool, readOnlyFolder);
        QFETCH(bool, link);
        if (readOnlyFolder && ::geteuid() == 0)
            QSKIP("root writes into a read-only folder anyway");
        MessageBoxRecorder boxes;
        const QString folder = m_dir.filePath("config/customcolor");
        const QString target = m_dir.filePath("target.json");
        if (readOnlyFolder)
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        else if (link)
            QVERIFY(m_dir.write(FileName, "[{\"customColor_0\": ") && m_dir.write("target.json", m_start));
        else
            QVERIFY(QFile::remove(filePath()) && QDir().mkpath(filePath()));
        const QByteArray before = readFile(link ? target : filePath());
        {
            Palette p(nullptr);
            if (link)
                QVERIFY(QFile::remove(filePath()) && QFile::link(target, filePath()));
            ScriptedChooser chooser;
            chooser.answer = QColor("#abcdef");
            expectOpenFailure(true);
            press(p, 4);
            press(p, 4);
            QTRY_VERIFY_WITH_TIMEOUT(!p.findChild<QTimer*>()->isActive(), timescale::ms(10000));
            press(p, 4);
            QCOMPARE(p.getCurrentColor().name() + ' ' + shown(p, 4), QStringLiteral("#abcdef #abcdef"));
            QCOMPARE(boxes.boxes().size(), 1);
            QVERIFY(boxes.boxes()[0].text.contains("color_btn_32.json"));
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(readFile(filePath()), before);
        QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System),
                 QStringList{"color_btn_32.json"});
        QCOMPARE(QFileInfo(filePath()).isSymLink(), link);
        if (link)
            QVERIFY(QFile::remove(filePath()));
        QDir(filePath()).removeRecursively();
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
        press(*p, 6);
        QPointer<QWidget> dialog;
        QTimer::singleShot(0, this, [&] {
            dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog && dialog->parentWidget() == p.data());
            delete p.data();
        });
        press(*p, 6);
        QVERIFY(closer.isActive() && !p && !dialog);
        QCOMPARE(events->size(), 2);
        QCOMPARE(readFile(filePath()), m_start);
    }
};

QTEST_MAIN(PaletteTest)
#include "test_palette.moc"
