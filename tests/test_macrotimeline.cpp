// The macro timeline and its chips: pairing, edits by the neighbour rules, chips leaving the list, the
// warning outliving its chips, the key picker's limits, the delay edit's bound, dragging and scrolling,
// and what shows of them: a chip button's pictures and the saved mark on the entry that holds the timeline.
#include "macro/datakey.h"
#include "macro/key.h"
#include "macro/keylayout.h"
#include "macro/macroitem.h"
#include "widget/keybtn.h"
#include "widget/staticdialog.h"
#include "timescale.h"

#include <QScrollBar>
#include <QtTest>

namespace {

// Events as "A+" (down) or "A-" (up), letters from A (usage 4) on, "0" for code 0, "/ms" for a shown delay.
void fill(KeyLayout& layout, const QString& events)
{
    for (const QString& t : events.split(' ', Qt::SkipEmptyParts)) {
        const uint16_t code = t[0] == '0' ? 0 : uint16_t(4 + t[0].unicode() - 'A');
        Key* key = layout.createKey(t[1] == '+' ? 1 : 0, 0, code, code ? 1 : 0, 0);
        if (t.contains('/')) {
            key->setDelay(1); // shown, then typed, so "/0" stays shown
            key->delayEdit()->setText(t.section('/', 1));
        }
        layout.keys.append(key);
    }
    layout.updateKeyPoint();
}

QString describe(const KeyLayout& layout)
{
    QStringList out;
    for (const Key* k : layout.keys)
        out << (k->code() ? QString(QChar('A' + k->code() - 4)) : QStringLiteral("0")) + (k->status() ? '+' : '-')
                   + (k->isDelayEditHidden() ? QString() : '/' + QString::number(k->getDelay()));
    return out.join(' ');
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// The top edge of what the widget shows: "red dotted" (red points, white gaps), "white", or "plain".
QString topEdge(QWidget* widget)
{
    const QImage shot = widget->grab().toImage();
    QString edge; // a letter a pixel: r red (anti-aliased points are pink), w white, o other
    for (int x = 0; x < shot.width(); ++x) {
        const QColor c = shot.pixelColor(x, 0);
        edge += c.red() - std::max(c.green(), c.blue()) > 100 ? 'r' : c == Qt::white ? 'w' : 'o';
    }
    if (edge.contains('o'))
        return "plain";
    return !edge.contains('r') ? "white" : edge.count(QRegularExpression("r+")) > shot.width() / 4 ? "red dotted" : "plain";
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

    // "pairs" lists partners; moves and removing a delay follow the neighbour rules (onto the own partner
    // only warns). Chips leaving the list go at once, freed later; records hold what the chips show.
    void editsByNeighbourRules_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("action"); // and the chip it acts on
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("warned");
        QTest::newRow("pairs: crossed, the up finds the nearer down") << "A+ B+ A+ A- B-" << "pairs" << "3 4 3 2 1" << false;
        QTest::newRow("pairs: up before down, orphans") << "A- A+" << "pairs" << "- -" << false;
        QTest::newRow("next onto own up") << "A+ A-" << "next 0" << "A+ A-" << true;
        QTest::newRow("previous onto own down") << "A+ A-" << "perv 1" << "A+ A-" << true;
        QTest::newRow("next of the last") << "A+ A-" << "next 1" << "A+ A-" << false;
        QTest::newRow("next, no delays: swap") << "A+ B+ B- A-" << "next 0" << "B+ A+ B- A-" << false;
        QTest::newRow("next, next delayed: gap in front") << "A+ B+/30 B- A-" << "next 0" << "A+/30 B+ B- A-" << false;
        QTest::newRow("next, k delayed: delay stays") << "A+/30 B+ B- A-" << "next 0" << "B+/30 A+ B- A-" << false;
        QTest::newRow("next, both delayed") << "A+/30 B+/40 B- A-" << "next 0" << "A+/40 B+ B- A-" << false;
        QTest::newRow("previous, delayed: no swap") << "A+ B+/30 B- A-" << "perv 1" << "A+ B+ B-/30 A-" << false;
        QTest::newRow("previous again swaps") << "A+ B+ B-/30 A-" << "perv 1" << "B+ A+ B-/30 A-" << false;
        QTest::newRow("previous takes the delay") << "A+/30 B+ B- A-" << "perv 1" << "B+/30 A+ B- A-" << false;
        QTest::newRow("previous of the first hands on") << "A+/30 A-/50" << "perv 0" << "A+ A-/30" << false;
        QTest::newRow("previous by the same key") << "B+ B- A+ B+ A- B-" << "perv 3" << "B+ B- B+/20 A+ A- B-" << false;
        QTest::newRow("no delay, down after own up") << "A+ A-/30 A+/40 A-" << "nodelay 2" << "A+ A-/30 A+/40 A-" << true;
        QTest::newRow("no delay, first down") << "A+/30 A-" << "nodelay 0" << "A+ A-" << false;
        QTest::newRow("no delay, first up: refused") << "A-/30 A+" << "nodelay 0" << "A-/30 A+" << false;
        QTest::newRow("no delay, up after its key") << "A+ A-/30" << "nodelay 1" << "A+ A-/30" << true;
        QTest::newRow("no delay elsewhere") << "A+ B+/30 B- A-" << "nodelay 1" << "A+ B+ B- A-" << false;
        QTest::newRow("pair inserted after") << "A+ A-" << "addpair 0" << "A+ 0+ 0-/50 A-" << false;
        QTest::newRow("pair deleted, A's 20 ms apart") << "A+ B+ A- B- A+/10 A-/10" << "delpair 3" << "A+ A-/20 A+/10 A-/10" << false;
        QTest::newRow("orphans dropped") << "A- B- C- A+ A- D+" << "orphans" << "A+ A-" << false;
        QTest::newRow("repeats: 20 ms, typed 0 kept") << "A+ A- A+ A-/0" << "repeat" << "A+ A-/20 A+/20 A-/0" << false;
        QTest::newRow("default delay, not on 0") << "A+ B+/30 B-/0 A-/10" << "all100" << "A+ B+/100 B-/0 A-/100" << false;
    }
    void editsByNeighbourRules()
    {
        QFETCH(QString, events);
        QFETCH(QString, action);
        KeyLayout layout;
        fill(layout, events);
        QList<QPointer<Key>> chips;
        QStringList partners;
        for (Key* key : layout.keys) {
            chips << key;
            partners << QString::number(layout.keys.indexOf(layout.findPairKey(key))).replace("-1", "-");
        }
        Key* key = layout.keys.at(action.section(' ', 1).toInt());
        const QMap<QString, std::function<void()>> actions{{"pairs", [] {}},
            {"next", [&] { emit key->nextButton()->emitPressed(); }}, {"perv", [&] { emit key->pervButton()->emitPressed(); }},
            {"nodelay", [&] { emit key->delDelayButton()->emitPressed(); }}, {"repeat", [&] { layout.checkoutKeyDelay(); }},
            {"addpair", [&] { emit key->addKeyButton()->emitPressed(); }}, {"orphans", [&] { layout.checkoutAllKeys(); }},
            {"delpair", [&] { emit key->delKeyButton()->emitPressed(); }}, {"all100", [&] { layout.setAllDelay(100); }}};
        actions[action.section(' ', 0, 0)]();
        QTEST(action == "pairs" ? partners.join(' ') : describe(layout), "expected");
        QTEST(layout.isWarning(), "warned");
        for (const Key* k : layout.keys)
            QCOMPARE(k->record()->delay, uint16_t(k->getDelay()));
        for (const QPointer<Key>& chip : chips)
            QVERIFY(layout.keys.contains(chip) || (chip && chip->isHidden()));
        flushDeletes();
        for (const QPointer<Key>& chip : chips)
            QCOMPARE(chip.isNull(), !layout.keys.contains(chip));
    }

    // The warned pair may be freed or leave the list within the 360 ms: only chips still there are
    // restyled, the warning ends once both are gone, and a new one first gives the running pair back.
    void warningOutlivesItsChips()
    {
        KeyLayout layout;
        fill(layout, "A+ A-/30 A+/40 A-");
        Key* warnedDown = layout.keys[2];
        layout.keyDelayHideLineEdit(warnedDown); // warns A+/40 with the A- before it
        layout.warningTimerAcation();
        QVERIFY(warnedDown->styleSheet().contains("down-warning.svg"));
        layout.deleteDoubleKey(layout.keys[1]); // takes the warned up with its own down
        flushDeletes();
        for (int tick = 0; tick < 11; ++tick)
            layout.warningTimerAcation();
        QVERIFY(!layout.isWarning() && warnedDown->styleSheet().contains("down-select.svg"));
        layout.keyDelayHideLineEdit(layout.keys[1]);
        QVERIFY(layout.isWarning());
        qDeleteAll(layout.keys); // both freed by their owner, as the page clears a timeline
        layout.keys.clear();
        layout.warningTimerAcation();
        QVERIFY(!layout.isWarning());
        fill(layout, "A+ A- B+ B-");
        layout.keyNextPressed(layout.keys[0]);
        layout.warningTimerAcation();
        layout.keyNextPressed(layout.keys[2]);
        QVERIFY(layout.keys[0]->styleSheet().contains("down-select.svg"));
        QVERIFY(!layout.keys[1]->styleSheet().contains("warning"));
    }

    // A selected chip marks its pair and shows the total up to it; an orphan resets the others. The picker
    // refuses keys of pairs enclosing or nested in the edited one; the pick goes to both chips, then it closes.
    void selectionAndPicker()
    {
        KeyLayout layout;
        fill(layout, "A+ B+/30 C+ C- B-/20 A- E-");
        layout.keyPressed(layout.keys[4]);
        QVERIFY(layout.keys[1]->isSelected() && layout.keys[4]->isSelected() && !layout.keys[0]->isSelected());
        QVERIFY(!layout.keys[1]->dot()->isHidden() && !layout.keys[1]->delKeyButton()->isHidden());
        // A shown button has its images; one never shown is not styled (a long macro makes hundreds).
        QVERIFY(layout.keys[1]->delKeyButton()->styleSheet().contains("del-key.svg"));
        QVERIFY(layout.keys[1]->dot()->styleSheet().contains("dot-down.svg"));
        QVERIFY(layout.keys[0]->delKeyButton()->isHidden() && layout.keys[0]->delKeyButton()->styleSheet().isEmpty());
        QCOMPARE(layout.keys[4]->timeText(), QStringLiteral("50"));
        QVERIFY(!layout.keys[4]->isTimeLabelHidden() && layout.keys[1]->isTimeLabelHidden());
        layout.keyDoubleClicked(layout.keys[4]);
        QPointer<StaticDialog> picker = layout.picker();
        QVERIFY(picker);
        QMap<QString, KeyBtn*> byName;
        for (KeyBtn* btn : picker->keyBtns)
            byName[btn->name()] = btn;
        QVERIFY(byName.value("A") && byName.value("B") && byName.value("C") && byName.value("D"));
        QVERIFY(byName["A"]->isDisabled() && byName["B"]->isDisabled() && byName["C"]->isDisabled() && byName["D"]->isEnabled());
        emit picker->emitKeyBtnDoubleClicked(byName["D"]);
        QVERIFY(!layout.picker() && picker);
        flushDeletes();
        QVERIFY(!picker);
        QCOMPARE(describe(layout), QStringLiteral("A+ D+/30 C+ C-/20 D-/20 A- E-")); // repeats checked
        QCOMPARE(layout.keys[1]->name(), QStringLiteral("D"));
        layout.keyPressed(layout.keys[6]);
        QVERIFY(!layout.keys[1]->isSelected() && layout.keys[1]->dot()->isHidden());
        QVERIFY(layout.keys[6]->isTimeLabelHidden() && layout.keys[4]->isTimeLabelHidden());
    }

    // An added delay starts at 10, selected, pushing the chips by the edit's width; the 16-bit bound holds.
    void delayEditAndLayout()
    {
        KeyLayout layout;
        fill(layout, "A+ A-");
        const int x0 = layout.keys[0]->x(), x1 = layout.keys[1]->x();
        emit layout.keys[0]->addDelayButton()->emitPressed();
        LineEdit* edit = layout.keys[0]->delayEdit();
        QVERIFY(!edit->isHidden() && edit->text() == "10" && edit->selectedText() == "10");
        QCOMPARE(QPoint(layout.keys[0]->x() - x0, layout.keys[1]->x() - x1), QPoint(20, 20));
        edit->clear();
        QTest::keyClicks(edit, "65536");
        QCOMPARE(edit->text(), QStringLiteral("6553"));
        QTest::keyClicks(edit, "5");
        QCOMPARE(layout.keys[0]->record()->delay, uint16_t(65535));
        layout.keys[1]->setDelay(70000);
        QCOMPARE(layout.keys[1]->getDelay(), 4464u);
        QCOMPARE(layout.keys[1]->record()->delay, uint16_t(4464));
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

    // The entry's frame shows what the last call said; there is no mark before the first call.
    void savedMarkShowsOnTheEntrysFrame_data()
    {
        QTest::addColumn<QString>("calls"); // setSaved's arguments in turn
        QTest::addColumn<QStringList>("looks"); // before the first call, then after each
        QTest::newRow("unsaved first") << "0 0 1 1 0" << QStringList{"plain", "red dotted", "red dotted", "white", "white", "red dotted"};
        QTest::newRow("saved first") << "1 1 0 0 1" << QStringList{"plain", "white", "white", "red dotted", "red dotted", "white"};
    }
    void savedMarkShowsOnTheEntrysFrame()
    {
        QFETCH(QString, calls);
        MacroItem entry(nullptr, 0, "m", false, 10);
        QStringList looks{topEdge(entry.selectFrame())};
        for (const QString& call : calls.split(' ')) {
            entry.setSaved(call == "1");
            looks << topEdge(entry.selectFrame());
        }
        QTEST(looks, "looks");
    }

    // A shown chip button draws its picture, and its hover picture under the mouse, also when shown again
    // after a reset. The dot has no hover picture.
    void shownChipButtonKeepsItsHoverImage_data()
    {
        QTest::addColumn<int>("button"); // named by its picture; the hover picture adds "-hover"
        int button = 0;
        for (const char* picture : {"del-delay", "add-delay", "add-key", "del-key", "perv", "next", "dot-down"})
            QTest::newRow(picture) << button++;
    }
    void shownChipButtonKeepsItsHoverImage()
    {
        QFETCH(int, button);
        const QString picture = QTest::currentDataTag();
        QWidget content;
        Key key(&content, 1);
        const std::pair<Label*, std::function<void()>> buttons[] = {
            {key.delDelayButton(), [&] { key.showDelDelayButton(); }}, {key.addDelayButton(), [&] { key.showAddDelayButton(); }},
            {key.addKeyButton(), [&] { key.showAddKeyButton(); }}, {key.delKeyButton(), [&] { key.showDelKeyButton(); }},
            {key.pervButton(), [&] { key.showPervButton(); }}, {key.nextButton(), [&] { key.showNextButton(); }},
            {key.dot(), [&] { key.showDot(); }}};
        Label* part = buttons[button].first;
        const bool hasHover = picture != "dot-down";
        QImage pictures[2]; // what a label of its size, on a parent as the button is, shows with only that picture
        for (int hover = 0; hover < 2; ++hover) {
            QWidget parent;
            Label reference(&parent);
            reference.resize(part->size());
            Qss().setImageLabelStyle(&reference, "macro", picture + (hover && hasHover ? "-hover.svg" : ".svg"), QString());
            pictures[hover] = reference.grab().toImage();
        }
        QVERIFY(!hasHover || pictures[0] != pictures[1]); // the two pictures tell apart
        for (int showing = 0; showing < 2; ++showing, key.resetState()) {
            buttons[button].second();
            QVERIFY(!part->isHidden());
            for (int hover : {0, 1}) {
                part->setAttribute(Qt::WA_UnderMouse, hover);
                QVERIFY(part->grab().toImage() == pictures[hover]);
            }
        }
    }

    // 19 px springs back on release; 20 px moves the event one place (next to its own key: 20 ms).
    void draggingOnePlace()
    {
        KeyLayout layout;
        fill(layout, "A+ B+ A- B-");
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
        QVERIFY(!QTest::qWaitFor([&] { return describe(layout) != "A+ B+ A- B-"; }, 100)); // no step taken
        drag(20);
        QTRY_COMPARE_WITH_TIMEOUT(describe(layout), QStringLiteral("A+ A- B+ B-/20"), timescale::ms(10000));
    }

    // One step of 10 px at the press, nothing for nine ticks, then 4 px a tick until the release.
    void heldArrowScrolls()
    {
        KeyLayout layout;
        layout.setContentWidth(2000);
        layout.rightPressed();
        QCOMPARE(layout.scrollBar()->value(), 10);
        for (int tick = 0; tick < 11; ++tick) {
            layout.delayContinuation();
            QCOMPARE(layout.scrollBar()->value(), tick < 9 ? 10 : 10 + 4 * (tick - 8));
        }
        layout.rightRelecased();
        layout.rightRelecased(); // a release without a timer does nothing
        layout.leftPressed();
        QCOMPARE(layout.scrollBar()->value(), 8);
    }
};

QTEST_MAIN(MacroTimeline)
#include "test_macrotimeline.moc"
