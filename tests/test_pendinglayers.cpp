// The map and mode switches the keyboard reports, waiting for the window: what one adds, what is
// selected, and in which order.
#include "main/pendinglayers.h"
#include "timescale.h"

#include <QPair>
#include <QTest>

using Selected = QList<QPair<int, int>>; // kind, index

class PendingLayersTest : public QObject {
    Q_OBJECT

private slots:
    // Each kind keeps only the last index named: a switch to the index already waiting adds nothing.
    // All are selected once the event loop runs, each kind once.
    void eachKindSelectsTheLastIndexNamedOnce_data()
    {
        QTest::addColumn<Selected>("named");
        QTest::addColumn<QList<bool>>("added");
        QTest::addColumn<Selected>("selected");
        const int key = PendingLayers::KeyMap, colour = PendingLayers::ColourMap, mode = PendingLayers::Mode;
        QTest::newRow("one key map") << Selected{{key, 1}} << QList<bool>{true} << Selected{{key, 1}};
        QTest::newRow("the same key map twice") << Selected{{key, 1}, {key, 1}} << QList<bool>{true, false}
                                                << Selected{{key, 1}};
        QTest::newRow("key map 1, then 2") << Selected{{key, 1}, {key, 2}} << QList<bool>{true, true}
                                           << Selected{{key, 2}};
        QTest::newRow("key map 1, 2, then 1 again") << Selected{{key, 1}, {key, 2}, {key, 1}}
                                                    << QList<bool>{true, true, true} << Selected{{key, 1}};
        QTest::newRow("a mode and a colour map") << Selected{{mode, 3}, {colour, 0}} << QList<bool>{true, true}
                                                 << Selected{{colour, 0}, {mode, 3}};
        QTest::newRow("a negative index") << Selected{{key, -1}} << QList<bool>{false} << Selected{};
    }
    void eachKindSelectsTheLastIndexNamedOnce()
    {
        QFETCH(Selected, named);
        QFETCH(QList<bool>, added);
        QFETCH(Selected, selected);
        Selected got;
        PendingLayers pending([&got](PendingLayers::Kind kind, int index) { got << qMakePair(int(kind), index); });
        QList<bool> took;
        for (const auto& n : named)
            took << pending.add(PendingLayers::Kind(n.first), n.second);
        QCOMPARE(took, added);
        QVERIFY(got.isEmpty()); // nothing runs inside the code that reported the switch
        QTest::qWait(timescale::ms(50));
        QCOMPARE(got, selected);
        for (int kind = 0; kind < PendingLayers::Kinds; ++kind)
            QVERIFY(!pending.waiting(PendingLayers::Kind(kind)));
    }

    // Key map switches named again while each one is selected do not hold a colour map switch back:
    // the kinds take turns, a pass each.
    void kindsTakeTurnsUnderAStream()
    {
        Selected got;
        PendingLayers* self = nullptr;
        PendingLayers pending([&](PendingLayers::Kind kind, int index) {
            got << qMakePair(int(kind), index);
            if (kind == PendingLayers::KeyMap && got.size() < 100)
                self->add(PendingLayers::KeyMap, index == 1 ? 2 : 1); // the keyboard names another meanwhile
        });
        self = &pending;
        pending.add(PendingLayers::KeyMap, 1);
        pending.add(PendingLayers::ColourMap, 1);
        QTRY_VERIFY_WITH_TIMEOUT(got.size() >= 100, timescale::ms(10000));
        QCOMPARE(got.mid(0, 3), (Selected{{PendingLayers::KeyMap, 1}, {PendingLayers::ColourMap, 1}, {PendingLayers::KeyMap, 2}}));
    }
};

QTEST_GUILESS_MAIN(PendingLayersTest)
#include "test_pendinglayers.moc"
