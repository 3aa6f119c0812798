// The key cap: mouse signals, the three geometry variants and their outline, and what it paints.
#include "tempappdir.h"
#include "widget/keybtn.h"
#include "widget/qss.h"

#include <QLabel>
#include <QTest>

class KeyCap : public QObject {
    Q_OBJECT

    TempAppDir dir;

private slots:
    void initTestCase()
    {
        // A red lock mark, and a black disc as an icon.
        QVERIFY(dir.write("images/StaticKeySvg/BlackImage/lock.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" )"
                          R"(width="13" height="15"><rect width="13" height="15" fill="#f00"/></svg>)"));
        QVERIFY(dir.write("images/StaticKeySvg/BlackImage/icon.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" )"
                          R"(width="28" height="28"><circle cx="14" cy="14" r="12"/></svg>)"));
        setAppDirPathForTest(dir.path());
    }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    // A double click (press, release, double click, release): the left button gives the four press
    // signals once, then the double click; the right one releases control; the middle one nothing.
    void mouseButtonsEmitInOrder_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("left") << int(Qt::LeftButton) << QStringList{"click", "keyCode", "color 7", "network 2,3", "double"};
        QTest::newRow("right") << int(Qt::RightButton) << QStringList{"release", "border true"};
        QTest::newRow("middle") << int(Qt::MiddleButton) << QStringList{};
    }
    void mouseButtonsEmitInOrder()
    {
        QFETCH(int, button);
        KeyBtn key;
        key.setKeyIndex(7);
        key.row = 2;
        key.col = 3;
        QStringList got;
        const auto self = [&](KeyBtn* k, const char* name) { got << (k == &key ? name : "?"); };
        connect(&key, &KeyBtn::emitClickKeyBtnSignal, [&](KeyBtn* k) { self(k, "click"); });
        connect(&key, &KeyBtn::emitKeyCodeSignal, [&](KeyBtn* k) { self(k, "keyCode"); });
        connect(&key, &KeyBtn::emitRequestColorSignal, [&](int i) { got << QStringLiteral("color %1").arg(i); });
        connect(&key, &KeyBtn::emitShowNetworkPoint, [&](int r, int c) { got << QStringLiteral("network %1,%2").arg(r).arg(c); });
        connect(&key, qOverload<KeyBtn*>(&KeyBtn::emitDoubleClick), [&](KeyBtn* k) { self(k, "double"); });
        connect(&key, &KeyBtn::emitReleaseControl, [&] { got << "release"; });
        connect(&key, &KeyBtn::emitSetOtherMouseBoader, [&](bool on) { got << (on ? "border true" : "border false"); });
        connect(&key, &QPushButton::clicked, [&] { got << "clicked"; });
        QTest::mousePress(&key, Qt::MouseButton(button));
        QVERIFY(!key.isDown());
        QTest::mouseRelease(&key, Qt::MouseButton(button));
        QTest::mouseDClick(&key, Qt::MouseButton(button));
        QTest::mouseRelease(&key, Qt::MouseButton(button));
        QTEST(got, "expected");
    }

    void geometryChoosesShapeAndLaysOutOutline_data()
    {
        QTest::addColumn<QVector<double>>("g"); // x, y, w, h, x2, y2, w2, h2
        QTest::addColumn<QSize>("box");               // the owner's bounding box at 40 px per unit
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QVector<QRect>>("labels"); // A or B label, then 1, then 2, after layoutShape(40)
        QTest::newRow("plain") << QVector<double>{0, 0, 1, 1, 0, 0, 0, 0} << QSize(39, 39) << "plain" << QVector<QRect>{};
        QTest::newRow("ISO Enter: variant B")
            << QVector<double>{13.75, 1, 1.25, 2, -0.25, 0, 1.5, 1} << QSize(60, 80) << "B"
            << QVector<QRect>{{10, 38, 49, 40}, {0, 0, 11, 38}, {10, 0, 49, 40}};
        QTest::newRow("large Enter: variant A")
            << QVector<double>{13.75, 0, 1.5, 2, -0.75, 1, 2.25, 1} << QSize(90, 80) << "A"
            << QVector<QRect>{{31, 0, 59, 40}, {0, 40, 30, 38}, {30, 40, 60, 38}};
    }
    void geometryChoosesShapeAndLaysOutOutline()
    {
        QFETCH(QVector<double>, g);
        QFETCH(QSize, box);
        QFETCH(QString, variant);
        QFETCH(QVector<QRect>, labels);
        QWidget owner;
        auto* key = new KeyBtn(&owner);
        key->setKeyGeometry(g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]);
        QCOMPARE(QString(key->lShapeA ? "A" : key->lShapeB ? "B" : "plain"), variant);
        key->resize(box);
        // A palette key never runs layoutShape, yet paints from the pixel extents: they start at 0.
        QCOMPARE(QVector<int>({key->shapeH2Px, key->shapeX2Px, key->shapeY2Px, key->shapeStepPx}), QVector<int>(4, 0));
        QVERIFY(!key->grab().isNull());
        key->layoutShape(40);
        QCOMPARE(key->width(), box.width() + (variant == "plain" ? 0 : 1)); // the outline's extra column
        if (variant != "plain") {
            QCOMPARE((variant == "A" ? key->borderLabelA : key->borderLabelB)->geometry(), labels[0]);
            QCOMPARE(key->borderLabel1->geometry(), labels[1]);
            QCOMPARE(key->borderLabel2->geometry(), labels[2]);
        }
    }

    void lockMarkSitsInBottomRightCorner()
    {
        KeyBtn plain, locked;
        plain.resize(60, 50);
        locked.resize(60, 50);
        locked.locked = true;
        const QImage a = plain.grab().toImage(), b = locked.grab().toImage();
        QRect changed;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.pixel(x, y) != b.pixel(x, y))
                    changed |= QRect(x, y, 1, 1);
        const QRect mark(60 - 18, 50 - 19, 13, 15);
        QCOMPARE(mark.united(changed), mark); // nothing changed outside the mark
        QVERIFY(changed.width() * changed.height() > 100);
        QCOMPARE(qRed(b.pixel(mark.center())), 255);
    }

    // Display mode 1 paints only "M" and the macro index (or nothing without one): no icon, no lock.
    void macroDisplayPaintsOnlyTheMacroMark()
    {
        for (const auto& [index, legend] : QVector<QPair<int, QString>>{{3, "M3"}, {-1, ""}}) {
            KeyBtn macro, reference;
            macro.resize(50, 50);
            reference.resize(50, 50);
            macro.setImage("icon.png");
            macro.locked = true;
            macro.setMacroIndex(index);
            const QImage normalMode = macro.grab().toImage();
            macro.setDisplayMode(1);
            reference.setName(legend);
            QCOMPARE(macro.grab().toImage(), reference.grab().toImage());
            QVERIFY(normalMode != reference.grab().toImage()); // the icon and the lock were there in mode 0
        }
    }
};

QTEST_MAIN(KeyCap)
#include "test_keybtn.moc"
