// The macro timeline and its chips: pairing, moves and delays by the neighbour rules, pair insertion and
// deletion, the orphan check, the warning look outliving its chips, the key picker's limits, the delay
// edit's bound, dragging and scrolling.
#include "macro/datakey.h"
#include "macro/key.h"
#include "macro/keylayout.h"
#include "widget/keybtn.h"
#include "widget/qss.h"
#include "widget/slider.h"
#include "widget/staticdialog.h"

#include <QScrollBar>
#include <QtTest>

namespace {

// Events as "A+" (down) or "A-" (up), letters from A (usage 4) on, "0" for code 0, "/ms" for a shown delay.
void fill(KeyLayout& layout, const QString& events)
{
    for (const QString& token : events.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = token.split('/');
        const QChar name = parts[0][0];
        const uint16_t code = name == '0' ? 0 : uint16_t(4 + name.unicode() - 'A');
        Key* key = layout.createKey(parts[0].endsWith('+') ? 1 : 0, 0, code, code ? 1 : 0, 0);
        if (parts.size() > 1) {
            key->setDelay(1); // shown, then typed, so "/0" stays shown
            key->delayEdit()->setText(parts[1]);
        }
        layout.keys.append(key);
    }
    layout.updateKeyPoint();
}

QString describe(const KeyLayout& layout)
{
    QStringList out;
    for (const Key* key : layout.keys) {
        QString token = key->code() ? QString(QChar('A' + key->code() - 4)) : QStringLiteral("0");
        token += key->status() ? '+' : '-';
        if (!key->isDelayEditHidden())
            token += '/' + QString::number(key->getDelay());
        out << token;
    }
    return out.join(' ');
}

void deleteLaterNow()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class MacroTimeline : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<KeyBtn*>();
        setAppDirPathForTest(QFINDTESTDATA("../appdir")); // only read
    }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    void partnersByNearestMatch_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("partners");
        QTest::newRow("a pair") << "A+ A-" << "1 0";
        QTest::newRow("two downs share one up, the up finds the second") << "A+ A+ A-" << "2 2 1";
        QTest::newRow("up before down: both orphans") << "A- A+" << "- -";
        QTest::newRow("crossed pairs") << "A+ B+ A- B-" << "2 3 0 1";
    }
    void partnersByNearestMatch()
    {
        QFETCH(QString, events);
        KeyLayout layout;
        fill(layout, events);
        QStringList partners;
        for (Key* key : layout.keys) {
            const int at = layout.keys.indexOf(layout.findPairKey(key));
            partners << (at < 0 ? QStringLiteral("-") : QString::number(at));
        }
        QTEST(partners.join(' '), "partners");
    }

    // Moves, and removing a delay, follow the neighbour rules; a move onto the own partner only warns.
    void editsByNeighbourRules_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("warned");
        QTest::newRow("next onto own up") << "A+ A-" << "next" << 0 << "A+ A-" << true;
        QTest::newRow("previous onto own down") << "A+ A-" << "perv" << 1 << "A+ A-" << true;
        QTest::newRow("next of the last") << "A+ A-" << "next" << 1 << "A+ A-" << false;
        QTest::newRow("next, neither delayed: swap") << "A+ B+ B- A-" << "next" << 0 << "B+ A+ B- A-" << false;
        QTest::newRow("next, only the next delayed: the gap moves in front")
            << "A+ B+/30 B- A-" << "next" << 0 << "A+/30 B+ B- A-" << false;
        QTest::newRow("next, only k delayed: the delay stays in place")
            << "A+/30 B+ B- A-" << "next" << 0 << "B+/30 A+ B- A-" << false;
        QTest::newRow("next, both delayed: k takes the next's")
            << "A+/30 B+/40 B- A-" << "next" << 0 << "A+/40 B+ B- A-" << false;
        QTest::newRow("previous with a delay does not swap")
            << "A+ B+/30 B- A-" << "perv" << 1 << "A+ B+ B-/30 A-" << false;
        QTest::newRow("previous again swaps") << "A+ B+ B-/30 A-" << "perv" << 1 << "B+ A+ B-/30 A-" << false;
        QTest::newRow("previous takes the previous chip's delay")
            << "A+/30 B+ B- A-" << "perv" << 1 << "B+/30 A+ B- A-" << false;
        QTest::newRow("previous of the first hands its delay on")
            << "A+/30 A-/50" << "perv" << 0 << "A+ A-/30" << false;
        QTest::newRow("previous next to the same key gets 20 ms")
            << "B+ B- A+ B+ A- B-" << "perv" << 3 << "B+ B- B+/20 A+ A- B-" << false;
        QTest::newRow("no delay for a down after its own up")
            << "A+ A-/30 A+/40 A-" << "nodelay" << 2 << "A+ A-/30 A+/40 A-" << true;
        QTest::newRow("no delay for the first down") << "A+/30 A-" << "nodelay" << 0 << "A+ A-" << false;
        QTest::newRow("no delay for the first up: refused") << "A-/30 A+" << "nodelay" << 0 << "A-/30 A+" << false;
        QTest::newRow("no delay for an up after its key") << "A+ A-/30" << "nodelay" << 1 << "A+ A-/30" << true;
        QTest::newRow("no delay elsewhere") << "A+ B+/30 B- A-" << "nodelay" << 1 << "A+ B+ B- A-" << false;
    }
    void editsByNeighbourRules()
    {
        QFETCH(QString, events);
        QFETCH(QString, action);
        QFETCH(int, index);
        KeyLayout layout;
        fill(layout, events);
        Key* key = layout.keys.at(index);
        if (action == "next")
            layout.keyNextPressed(key);
        else if (action == "perv")
            layout.keyPervPressed(key);
        else
            layout.keyDelayHideLineEdit(key);
        QTEST(describe(layout), "expected");
        QTEST(layout.isWarning(), "warned");
    }

    void repeatedKeysGetTwentyMs()
    {
        KeyLayout layout;
        fill(layout, "A+ A- A+ A-/0");
        layout.checkoutKeyDelay();
        // A delay typed as 0 into a shown edit counts as a delay.
        QCOMPARE(describe(layout), QStringLiteral("A+ A-/20 A+/20 A-/0"));
    }

    // The delete-key button deletes the pair from inside the chip's own signal: both leave the list at
    // once and are freed later; keys made adjacent get 20 ms.
    void pairDeletionFromTheChipsOwnButton()
    {
        KeyLayout layout;
        fill(layout, "A+ B+ A- B- A+/10 A-/10");
        QPointer<Key> down = layout.keys[1], up = layout.keys[3];
        emit up->delKeyButton()->emitPressed();
        QCOMPARE(describe(layout), QStringLiteral("A+ A-/20 A+/10 A-/10"));
        QVERIFY(down && up && up->isHidden());
        deleteLaterNow();
        QVERIFY(!down && !up);
    }

    void pairInsertionAndOrphanCheck()
    {
        KeyLayout layout;
        fill(layout, "A+ A-");
        emit layout.keys[0]->addKeyButton()->emitPressed();
        QCOMPARE(describe(layout), QStringLiteral("A+ 0+ 0-/50 A-"));
        QCOMPARE(layout.keys[1]->type() + layout.keys[1]->stype(), 0);

        KeyLayout orphans;
        fill(orphans, "A- B- C- A+ A- D+");
        orphans.checkoutAllKeys();
        QCOMPARE(describe(orphans), QStringLiteral("A+ A-"));
    }

    // The warned pair may be freed or leave the list within the 360 ms: only chips still there are
    // restyled, and the warning ends once both are gone.
    void warningOutlivesItsChips()
    {
        KeyLayout layout;
        fill(layout, "A+ A-/30 A+/40 A-");
        Key* warnedDown = layout.keys[2];
        layout.keyDelayHideLineEdit(warnedDown); // warns A+/40 with the A- before it
        layout.warningTimerAcation();
        QVERIFY(warnedDown->styleSheet().contains("down-warning.svg"));
        layout.deleteDoubleKey(layout.keys[1]); // takes the warned up with its own down
        deleteLaterNow();
        for (int tick = 0; tick < 11; ++tick)
            layout.warningTimerAcation();
        QVERIFY(!layout.isWarning());
        QVERIFY(warnedDown->styleSheet().contains("down.svg") && warnedDown->styleSheet().contains("down-select.svg"));

        // Both freed by their owner (the page clears a timeline so): the running timer just stops.
        layout.keyDelayHideLineEdit(layout.keys[1]);
        QVERIFY(layout.isWarning());
        qDeleteAll(layout.keys);
        layout.keys.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!layout.isWarning(), 1000);

        // A new warning first gives the running pair its normal look back.
        fill(layout, "A+ A- B+ B-");
        layout.keyNextPressed(layout.keys[0]);
        layout.warningTimerAcation();
        layout.keyNextPressed(layout.keys[2]);
        QVERIFY(layout.keys[0]->styleSheet().contains("down-select.svg"));
        QVERIFY(!layout.keys[1]->styleSheet().contains("warning"));
    }

    void selectionMarksThePairAndItsTotal()
    {
        KeyLayout layout;
        fill(layout, "A+ B+/30 B-/20 A-/10 C-");
        layout.keyPressed(layout.keys[2]);
        QVERIFY(layout.keys[1]->isSelected() && layout.keys[2]->isSelected() && !layout.keys[0]->isSelected());
        QVERIFY(!layout.keys[1]->dot()->isHidden() && !layout.keys[1]->delKeyButton()->isHidden());
        QCOMPARE(layout.keys[2]->timeText(), QStringLiteral("50"));
        QVERIFY(!layout.keys[2]->isTimeLabelHidden() && layout.keys[1]->isTimeLabelHidden());

        layout.keyPressed(layout.keys[4]); // an orphan: the others are reset, no total
        QVERIFY(!layout.keys[1]->isSelected() && layout.keys[1]->dot()->isHidden());
        QVERIFY(layout.keys[4]->isTimeLabelHidden() && layout.keys[2]->isTimeLabelHidden());
    }

    void setAllDelayLeavesChipsWithoutDelay()
    {
        KeyLayout layout;
        fill(layout, "A+ B+/30 B-/0 A-/10");
        layout.setAllDelay(100);
        QCOMPARE(describe(layout), QStringLiteral("A+ B+/100 B-/0 A-/100"));
        QCOMPARE(layout.keys[1]->record()->delay, uint16_t(100));
    }

    // Content 10 + 6 in front of the first chip; an added delay of 10 pushes this and every later chip
    // by the edit's 20 px. The edit refuses more than the record's 16 bits.
    void delayEditAndLayout()
    {
        KeyLayout layout;
        QCOMPARE(layout.contentWidget()->width(), 170);
        fill(layout, "A+ A-");
        QCOMPARE(layout.keys[0]->x(), 16);
        QCOMPARE(layout.keys[1]->x(), 16 + 28);
        emit layout.keys[0]->addDelayButton()->emitPressed();
        LineEdit* edit = layout.keys[0]->delayEdit();
        QVERIFY(!edit->isHidden() && edit->text() == "10" && edit->selectedText() == "10");
        QCOMPARE(layout.keys[0]->x(), 16 + 20);
        QCOMPARE(layout.keys[1]->x(), 16 + 28 + 20);

        edit->clear();
        QTest::keyClicks(edit, "70000");
        QCOMPARE(edit->text(), QStringLiteral("7000"));
        QCOMPARE(layout.keys[0]->record()->delay, uint16_t(7000));
        edit->setText("0");
        QVERIFY(!edit->isHidden());
        QCOMPARE(layout.keys[0]->record()->delay, uint16_t(0));
        layout.keys[1]->setDelay(70000); // wider than the record: text and record agree
        QCOMPARE(layout.keys[1]->getDelay(), 70000u % 65536);
        QCOMPARE(layout.keys[1]->record()->delay, uint16_t(70000 % 65536));
    }

    // The key picture is the file named by the image text up to its first dot; without one, the alias.
    void chipPaintsItsKeyPictureOrAlias()
    {
        QWidget parent;
        const auto shot = [&parent](const QString& image, const QString& alias) {
            Key key(&parent, 1);
            key.setKeyInfo("k", alias, image);
            return key.grab().toImage();
        };
        QCOMPARE(shot("lock.2x.svg", ""), shot("lock.svg", ""));
        QVERIFY(shot("lock.svg", "") != shot("absent.svg", ""));
        QVERIFY(shot("", "A") != shot("", ""));
    }

    // Neither a pair enclosing the edited one nor one nested inside it can give its key; the pick goes
    // to both chips of the selected pair and closes the picker.
    void pickerLimitsAndPick()
    {
        KeyLayout layout;
        fill(layout, "A+ B+ C+ C- B- A-");
        layout.keyPressed(layout.keys[4]);
        layout.keyDoubleClicked(layout.keys[4]);
        StaticDialog* picker = layout.picker();
        QVERIFY(picker);
        QMap<QString, bool> disabled;
        KeyBtn* d = nullptr;
        for (KeyBtn* btn : picker->keyBtns) {
            disabled[btn->name()] = btn->isDisabled();
            if (btn->name() == "D")
                d = btn;
        }
        QVERIFY(disabled["A"] && disabled["B"] && disabled["C"]);
        QVERIFY(d && !d->isDisabled());
        QPointer<StaticDialog> closing = picker;
        emit picker->emitKeyBtnDoubleClicked(d);
        QVERIFY(!layout.picker());
        deleteLaterNow();
        QVERIFY(!closing);
        QCOMPARE(describe(layout), QStringLiteral("A+ D+ C+ C-/20 D- A-")); // the repeated-key check ran
        QCOMPARE(layout.keys[1]->name(), QStringLiteral("D"));
    }

    // 19 px springs back on release; 20 px moves the event one place (here next to its own key, so the
    // repeated-key rule adds 20 ms).
    void draggingOnePlace()
    {
        QWidget window;
        KeyLayout layout(&window);
        fill(layout, "A+ B+ A- B-");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Key* key = layout.keys[1];
        const int home = key->x();
        const auto drag = [key](int dx) {
            const QPoint at(14, 20), global = key->mapToGlobal(at);
            QTest::mousePress(key, Qt::LeftButton, Qt::NoModifier, at);
            QMouseEvent move(QEvent::MouseMove, at + QPoint(dx, 0), global + QPoint(dx, 0), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(key, &move);
        };
        drag(19);
        QCOMPARE(key->x(), home + 19);
        QTest::mouseRelease(key, Qt::LeftButton);
        QCOMPARE(key->x(), home);
        drag(20);
        QTRY_COMPARE(describe(layout), QStringLiteral("A+ A- B+ B-/20"));
        QTest::mouseRelease(key, Qt::LeftButton);
    }

    // One step of 10 px at the press, nothing for nine ticks, then 4 px a tick until the release.
    void heldArrowScrolls()
    {
        KeyLayout layout;
        layout.setContentWidth(2000);
        layout.rightPressed();
        QCOMPARE(layout.scrollBar()->value(), 10);
        for (int tick = 0; tick < 9; ++tick)
            layout.delayContinuation();
        QCOMPARE(layout.scrollBar()->value(), 10);
        layout.delayContinuation();
        layout.delayContinuation();
        QCOMPARE(layout.scrollBar()->value(), 18);
        QCOMPARE(layout.slider()->value(), 18);
        layout.rightRelecased();
        layout.rightRelecased(); // a release without a timer does nothing
        layout.leftPressed();
        QCOMPARE(layout.scrollBar()->value(), 8);
        layout.leftReleased();
    }
};

QTEST_MAIN(MacroTimeline)
#include "test_macrotimeline.moc"
