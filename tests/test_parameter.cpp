// The mode parameter dialog on an emulated keyboard of 16 lighting action records: the record shown, Apply
// on the wire and its failures, slots without a record, level and field rules, effect defaults and closing.
#include "keyboardfixture.h"
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "wire.h"

#include "color/parameter.h"
#include "widget/combobox.h"

#include <QSlider>
#include <QtTest>
#include <memory>

namespace {

la_t sample() // effect 2, L2H, colour random, distinct levels and delays, bits 52-63 set
{
    la_t r{};
    r.bytes[7] = 0xA5;
    r.setSlot(5), r.setEffect(2), r.setColorRandom(1), r.setHighestLevel(50), r.setLowestLevel(10);
    r.setLevelStep(6), r.setTotalPeriod(7), r.setStepDelay(300), r.setHighestDelay(1500), r.setPeriodDelay(40);
    return r;
}

QByteArray raw(const void* record)
{
    return QByteArray(static_cast<const char*>(record), 12).toHex(' ');
}

} // namespace

class ParameterDialog : public QObject {
    Q_OBJECT
    ReaderAppDir m_app;
    std::unique_ptr<KeyboardFixture> f;
    Device* d = nullptr;
    std::unique_ptr<Parameter> dlg;

    // The dialog for slot, with r in the device's table there; the wire log starts empty.
    void open(int slot, const la_t& r = sample())
    {
        d->m_pLAs[size_t(slot)] = r;
        f->kb->clearLog();
        dlg = std::make_unique<Parameter>(nullptr, d, slot);
    }
    template <class T> T* c(const char* name) const { return dlg->findChild<T*>(QLatin1String(name)); }
    QString text(const char* name) const { return c<QLineEdit>(name)->text(); }
    QSlider* slider(const char* name) const { return c<CSlider>(name)->slider(); }
    // Effect, flags, total period, levels, direction, delays.
    QString shown() const
    {
        QStringList s{QString::number(c<ComboBox>("effectList")->currentIndex())};
        for (const char* box : {"cycleFlag", "colorRandom", "keypressRandom"})
            s << QString::number(c<QCheckBox>(box)->isChecked());
        s << text("totalPeriod");
        for (const char* name : {"highestLevel", "lowestLevel", "levelStep", "stepDelay"})
            s << QString::number(slider(name)->value());
        s << (c<QRadioButton>("l2h")->isChecked() ? "L2H" : c<QRadioButton>("h2l")->isChecked() ? "H2L" : "-");
        return (s << text("highestDelay") << text("periodDelay")).join(' ');
    }
    QByteArray held(int slot) const { return raw(f->kb->state().lightingActions[size_t(slot)].constData()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.put("config/modeParameter.xml", readFile(QFINDTESTDATA("../appdir/config/modeParameter.xml"))));
        QVERIFY(m_app.copyFiles(QFINDTESTDATA("../appdir/images"), "images"));
    }
    void init()
    {
        sim::KeyboardConfig board;
        board.lightingActions = 16;
        f = std::make_unique<KeyboardFixture>(board);
        d = f->device;
        QVERIFY(f->open() && d->getLAInfo() == DeviceResult::Ok && d->getAllLA() == DeviceResult::Ok);
        Parameter::forgetAcceptedTexts();
    }
    void cleanup() { dlg.reset(), f.reset(), sim::reset(); }

    // Opening shows the record and writes nothing; Apply sends the packed record once, which the keyboard
    // then holds. When the keyboard does not take it, the table keeps what the keyboard holds, the
    // controls keep the user's values and one box says so.
    void applySendsThePackedRecord_data()
    {
        QTest::addColumn<QString>("direction");
        QTest::addColumn<int>("refused"); // 1: status 5, 2: failed write
        QTest::newRow("L2H") << "l2h" << 0;
        QTest::newRow("H2L") << "h2l" << 0;
        QTest::newRow("status 5") << "h2l" << 1;
        QTest::newRow("failed write") << "h2l" << 2;
    }
    void applySendsThePackedRecord()
    {
        QFETCH(QString, direction);
        QFETCH(int, refused);
        la_t stored = sample();
        stored.setSlot(9); // the dialog writes its own slot
        open(5, stored);
        const QByteArray before = held(5);
        QCOMPARE(shown(), QStringLiteral("2 0 1 0 7 50 10 6 300 L2H 1500 40"));
        QCOMPARE(sentCount(f->kb), 0);
        MessageBoxRecorder boxes;
        if (refused)
            refused == 1 ? f->kb->answerStatus(0x60, 0x22, 5, 1) : f->kb->failWrite(1);
        dlg->show();
        c<QRadioButton>(qPrintable(direction))->setChecked(true);
        c<QCheckBox>("keypressRandom")->setChecked(true);
        slider("stepDelay")->setValue(999);
        QTest::mouseClick(c<QPushButton>("apply"), Qt::LeftButton);

        la_t expected = sample();
        expected.setKeypressRandom(1);
        expected.setStepDelay(999);
        expected.setDirection(direction == "h2l");
        const QList<QByteArray> sent = sentReports(f->kb, 0x60, 0x22);
        QCOMPARE(sent.size(), refused == 2 ? 0 : 1);
        if (!refused) {
            QCOMPARE(sent[0].mid(2, 2).toHex(), QByteArray("0c00"));
            QCOMPARE(raw(sent[0].constData() + 8), raw(expected.bytes));
        }
        QCOMPARE(raw(d->m_pLAs[5].bytes), raw(refused ? stored.bytes : expected.bytes));
        QCOMPARE(held(5), refused ? before : raw(expected.bytes));
        QCOMPARE(shown(), "2 0 1 1 7 50 10 6 999 " + direction.toUpper() + " 1500 40");
        QTest::qWait(20);
        QCOMPARE(boxes.boxes().size(), int(refused != 0));
    }

    // Nothing read or sent: the controls show their first values and Apply is disabled.
    void slotWithoutARecordOpensDisabled_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("table"); // -1: no device
        QTest::newRow("slot 20 of 16") << 20 << 16;
        QTest::newRow("no table") << 0 << 0;
        QTest::newRow("no device") << 0 << -1;
    }
    void slotWithoutARecordOpensDisabled()
    {
        QFETCH(int, slot);
        QFETCH(int, table);
        if (table == 0)
            d->m_nLATotalNum = 0, d->m_pLAs.clear();
        f->kb->clearLog();
        dlg = std::make_unique<Parameter>(nullptr, table < 0 ? nullptr : d, slot);
        QCOMPARE(shown(), QStringLiteral("0 0 0 0 1 63 0 1 20 -  "));
        QVERIFY(!c<QPushButton>("apply")->isEnabled());
        dlg->downloadData();
        QCOMPARE(sentCount(f->kb), 0);
    }

    // Picking an effect applies its defaults; the cycle flag disables the total period. The lowest level
    // never exceeds the highest, the step never their difference.
    void controlsFollowEachOther()
    {
        open(5);
        c<ComboBox>("effectList")->setCurrentIndex(1);
        QCOMPARE(shown(), QStringLiteral("1 1 0 0 5 63 0 1 20 H2L 100 200"));
        QVERIFY(!c<QLineEdit>("totalPeriod")->isEnabled());
        c<QCheckBox>("cycleFlag")->setChecked(false);
        QVERIFY(c<QLineEdit>("totalPeriod")->isEnabled());
        const auto ranges = [this](const char* a, const char* b) {
            QStringList s;
            for (const QSlider* x : {slider(a), slider(b)})
                s << QString("%1..%2=%3").arg(x->minimum()).arg(x->maximum()).arg(x->value());
            return s.join(' ');
        };
        slider("levelStep")->setValue(6);
        slider("highestLevel")->setValue(40);
        QCOMPARE(ranges("lowestLevel", "levelStep"), QStringLiteral("0..40=0 0..40=6"));
        slider("lowestLevel")->setValue(20);
        QCOMPARE(ranges("highestLevel", "levelStep"), QStringLiteral("20..63=40 0..20=6"));
        slider("highestLevel")->setValue(22);
        QCOMPARE(ranges("lowestLevel", "levelStep"), QStringLiteral("0..22=20 0..2=2"));
    }

    // A step delay over 1000 opens at 1000. A rejected text returns to the one last accepted in any
    // dialog, at first none.
    void outOfRangeValuesFallBack()
    {
        la_t r = sample();
        r.setTotalPeriod(0);
        r.setStepDelay(1023);
        open(5, r);
        QCOMPARE(text("totalPeriod") + ' ' + QString::number(slider("stepDelay")->value()), QStringLiteral(" 1000"));
        const QList<QStringList> steps{{"totalPeriod", "12", "12"},   {"totalPeriod", "0", "12"},
                                       {"totalPeriod", "1001", "12"}, {"totalPeriod", "1000", "1000"},
                                       {"highestDelay", "65536", ""}, {"highestDelay", "65535", "65535"},
                                       {"periodDelay", "300", "300"}, {"periodDelay", "65536", "300"},
                                       {"periodDelay", "", ""}};
        for (const QStringList& step : steps) {
            c<QLineEdit>(qPrintable(step[0]))->setText(step[1]);
            QCOMPARE(text(qPrintable(step[0])), step[2]);
        }
        open(6, r); // a later dialog shares the texts
        QCOMPARE(text("totalPeriod"), QStringLiteral("1000"));
        c<QLineEdit>("highestDelay")->setText("70000");
        QCOMPARE(text("highestDelay"), QStringLiteral("65535"));
    }

    // Escape and Cancel ask the owner once, and the owner's close asks nothing more; nor does a close from
    // the program.
    void closingAsksTheOwnerOnce()
    {
        for (const QString how : {"escape", "cancel", "close()"}) {
            open(5);
            dlg->show();
            QSignalSpy spy(dlg.get(), &Parameter::emitClose);
            connect(dlg.get(), &Parameter::emitClose, dlg.get(), &QWidget::close); // as the picker does
            if (how == "escape")
                QTest::keyClick(dlg.get(), Qt::Key_Escape);
            else
                how == "cancel" ? QTest::mouseClick(c<QPushButton>("cancel"), Qt::LeftButton) : void(dlg->close());
            QVERIFY2(spy.count() == int(how != "close()") && dlg->isHidden(), qPrintable(how));
        }
    }
};

QTEST_MAIN(ParameterDialog)
#include "test_parameter.moc"
