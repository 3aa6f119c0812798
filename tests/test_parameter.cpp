// The mode parameter dialog on an emulated keyboard of 16 lighting action records: the record shown, Apply
// on the wire and its failures, slots without a record, level and field rules, effect defaults, closing,
// dragging and language.
#include "keyboardfixture.h"
#include "readerharness.h"
#include "wire.h"

#include "color/parameter.h"
#include "setting/Language.h"
#include "widget/combobox.h"

#include <QSlider>
#include <QtTest>
#include <cstring>
#include <memory>

namespace {

la_t sample() // effect 2, L2H, colour random, distinct levels and delays, bits 52-63 set
{
    la_t r{};
    r.bytes[7] = 0xA5;
    const int values[] = {5, 2, 0, 1, 0, 0, 50, 10, 6, 7, 300, 1500, 40};
    void (la_t::*setters[])(int) = {&la_t::setSlot, &la_t::setEffect, &la_t::setCycle, &la_t::setColorRandom,
                                    &la_t::setKeypressRandom, &la_t::setDirection, &la_t::setHighestLevel,
                                    &la_t::setLowestLevel, &la_t::setLevelStep, &la_t::setTotalPeriod,
                                    &la_t::setStepDelay, &la_t::setHighestDelay, &la_t::setPeriodDelay};
    for (int i = 0; i < 13; ++i)
        (r.*setters[i])(values[i]);
    return r;
}

QByteArray raw(const la_t& r)
{
    return QByteArray(reinterpret_cast<const char*>(r.bytes), 12).toHex(' ');
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
    template <class T>
    T* c(const char* name) const
    {
        return dlg->findChild<T*>(QLatin1String(name));
    }
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
    la_t onKeyboard(int slot) const
    {
        la_t r;
        std::memcpy(r.bytes, f->kb->state().lightingActions[size_t(slot)].constData(), 12);
        return r;
    }

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

    void opensShowingTheRecordAndWritingNothing()
    {
        open(5);
        QCOMPARE(c<QLabel>("title")->text(), QStringLiteral("LED Mode 5"));
        QCOMPARE(shown(), QStringLiteral("2 0 1 0 7 50 10 6 300 L2H 1500 40"));
        QCOMPARE(sentCount(f->kb), 0);
        QVERIFY(dlg->isModal() && dlg->testAttribute(Qt::WA_TranslucentBackground) && dlg->size() == dlg->maximumSize());
        QVERIFY(dlg->windowFlags().testFlag(Qt::Tool) && dlg->windowFlags().testFlag(Qt::FramelessWindowHint));
        dlg->show(); // a dark band, a white body and a translucent ring
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        const QImage shot = dlg->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(QList<QColor>({shot.pixelColor(500, 25), shot.pixelColor(500, 466)}),
                 QList<QColor>({QColor("#272939"), QColor("#ffffff")}));
        QVERIFY(qAlpha(shot.pixel(500, 473)) % 255 != 0);
    }

    void applySendsThePackedRecordOnce_data()
    {
        QTest::addColumn<QString>("direction");
        QTest::addColumn<int>("bit");
        QTest::newRow("L2H") << "l2h" << 0;
        QTest::newRow("H2L") << "h2l" << 1;
    }
    void applySendsThePackedRecordOnce()
    {
        QFETCH(QString, direction);
        QFETCH(int, bit);
        la_t stored = sample();
        stored.setSlot(9); // the dialog writes its own slot
        open(5, stored);
        dlg->show();
        c<QRadioButton>(qPrintable(direction))->setChecked(true);
        c<QCheckBox>("keypressRandom")->setChecked(true);
        slider("stepDelay")->setValue(999);
        QTest::mouseClick(c<QPushButton>("apply"), Qt::LeftButton);

        la_t expected = sample();
        expected.setKeypressRandom(1);
        expected.setStepDelay(999);
        expected.setDirection(bit);
        const QList<QByteArray> sent = sentReports(f->kb, 0x60, 0x22);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].mid(2, 2).toHex(), QByteArray("0c00"));
        QCOMPARE(sent[0].mid(8, 12).toHex(' '), raw(expected));
        QCOMPARE(raw(d->m_pLAs[5]), raw(expected));
        QCOMPARE(raw(onKeyboard(5)), raw(expected));
        QVERIFY(dlg->isVisible());
    }

    // The table keeps what the keyboard holds; the controls keep the user's values.
    void failedApplyRestoresTheEntry_data()
    {
        QTest::addColumn<bool>("failWrite"); // otherwise the keyboard answers status 5
        QTest::newRow("status 5") << false;
        QTest::newRow("failed write") << true;
    }
    void failedApplyRestoresTheEntry()
    {
        QFETCH(bool, failWrite);
        open(5);
        const QByteArray before = raw(onKeyboard(5));
        failWrite ? f->kb->failWrite(1) : f->kb->answerStatus(0x60, 0x22, 5, 1);
        slider("highestLevel")->setValue(40);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^mode parameter: slot 5 not applied, error code = "));
        dlg->downloadData();
        QCOMPARE(raw(d->m_pLAs[5]), raw(sample()));
        QCOMPARE(raw(onKeyboard(5)), before);
        QCOMPARE(slider("highestLevel")->value(), 40);
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
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QString("no lighting action record for slot %1 ").arg(slot)));
        f->kb->clearLog();
        dlg = std::make_unique<Parameter>(nullptr, table < 0 ? nullptr : d, slot);
        QCOMPARE(shown(), QStringLiteral("0 0 0 0 1 63 0 1 20 -  "));
        QVERIFY(!c<QPushButton>("apply")->isEnabled());
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("nothing applied"));
        dlg->downloadData();
        QCOMPARE(sentCount(f->kb), 0);
    }

    // The lowest level never exceeds the highest, the step never their difference.
    void levelsLimitEachOther()
    {
        open(5);
        const auto range = [this](const char* name) {
            const QSlider* s = slider(name);
            return QString("%1..%2=%3").arg(s->minimum()).arg(s->maximum()).arg(s->value());
        };
        slider("highestLevel")->setValue(40);
        QCOMPARE(range("lowestLevel") + ' ' + range("levelStep"), QStringLiteral("0..40=10 0..30=6"));
        slider("lowestLevel")->setValue(20);
        QCOMPARE(range("highestLevel") + ' ' + range("levelStep"), QStringLiteral("20..63=40 0..20=6"));
        slider("highestLevel")->setValue(22);
        QCOMPARE(range("lowestLevel") + ' ' + range("levelStep"), QStringLiteral("0..22=20 0..2=2"));
    }

    // With the cycle flag the total period is disabled and grey, without it #5a5a5a in a grey border.
    void pickingAnEffectAppliesItsDefaults()
    {
        open(5);
        c<ComboBox>("effectList")->setCurrentIndex(1);
        QCOMPARE(shown(), QStringLiteral("1 1 0 0 5 63 0 1 20 H2L 100 200"));
        const auto look = [this] {
            const auto colour = [](const QWidget* w, const char* pattern) {
                return QRegularExpression(pattern).match(w->styleSheet()).captured(1);
            };
            const QLineEdit* edit = c<QLineEdit>("totalPeriod");
            const QLabel* label = c<QLabel>("totalPeriodLabel");
            return QStringList{QString::number(edit->isEnabled() && label->isEnabled()),
                               colour(label, " color: (rgb\\(.*\\));"), colour(edit, "^QLineEdit\\{ color: (#\\w+);"),
                               colour(edit, "solid (#\\w+); \\}$")}
                .join(' ');
        };
        QCOMPARE(look(), QStringLiteral("0 rgb(155,155,155) #9b9b9b #9b9b9b"));
        c<QCheckBox>("cycleFlag")->setChecked(false);
        QCOMPARE(look(), QStringLiteral("1 rgb(90,90,90) #5a5a5a #7d7d7d"));
    }

    // A step delay over 1000 opens at 1000. A rejected text returns to the one last accepted in any
    // dialog, at first none; the delays are loaded unchecked.
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
        dlg->downloadData();
        const la_t sent = onKeyboard(5);
        QCOMPARE(QList<int>({sent.totalPeriod(), sent.stepDelay(), sent.highestDelay(), sent.periodDelay()}),
                 QList<int>({1000, 1000, 65535, 0}));

        open(6, r); // a later dialog shares the texts
        QCOMPARE(text("totalPeriod"), QStringLiteral("1000"));
        c<QLineEdit>("highestDelay")->setText("70000");
        QCOMPARE(text("highestDelay"), QStringLiteral("65535"));
    }

    // Escape, Cancel and the close button ask the owner once; its close asks nothing more.
    void closingAsksTheOwnerOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("asked");
        QTest::newRow("escape") << "escape" << 1;
        QTest::newRow("cancel") << "cancel" << 1;
        QTest::newRow("close button") << "close" << 1;
        QTest::newRow("owner's request") << "request" << 1;
        QTest::newRow("programmatic close") << "close()" << 0;
    }
    void closingAsksTheOwnerOnce()
    {
        QFETCH(QString, how);
        QFETCH(int, asked);
        open(5);
        dlg->show();
        QSignalSpy spy(dlg.get(), &Parameter::emitClose);
        connect(dlg.get(), &Parameter::emitClose, dlg.get(), &QWidget::close); // as the picker does
        if (how == "escape")
            QTest::keyClick(dlg.get(), Qt::Key_Escape);
        else if (how == "request")
            dlg->requestClose();
        else if (how == "close()")
            dlg->close();
        else
            QTest::mouseClick(c<QPushButton>(qPrintable(how)), Qt::LeftButton);
        QCOMPARE(spy.count(), asked);
        QVERIFY(dlg->isHidden());
        QCOMPARE(sentCount(f->kb), 0);
    }

    void onlyTheTitleBandDrags()
    {
        open(5);
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        for (const QPoint& grip : {QPoint(500, 200), QPoint(500, 40)}) {
            const QPoint start = dlg->pos();
            QTest::mousePress(dlg.get(), Qt::LeftButton, {}, grip);
            QMouseEvent move(QEvent::MouseMove, grip + QPoint(30, 7), dlg->mapToGlobal(grip) + QPoint(30, 7),
                             Qt::NoButton, Qt::LeftButton, {});
            QApplication::sendEvent(dlg.get(), &move);
            QTest::mouseRelease(dlg.get(), Qt::LeftButton, {}, grip);
            QCOMPARE(dlg->pos() - start, grip.y() == 40 ? QPoint(30, 7) : QPoint());
        }
    }

    void switchesLanguageAtOnce()
    {
        g_language = new Language;
        open(5);
        g_language->setLanguageType(0);
        QCOMPARE(c<QPushButton>("apply")->text() + c<QRadioButton>("h2l")->text() + c<QLabel>("levelTitle")->text()
                     + c<QLabel>("title")->text(),
                 QStringLiteral("应用高到低LED 参数LED Mode 5"));
        QCOMPARE(c<QLabel>("levelTitle")->width(), 80);
        g_language->setLanguageType(1);
        QCOMPARE(c<QCheckBox>("cycleFlag")->text(), QStringLiteral("Cycle Flag"));
        QCOMPARE(c<QLabel>("levelTitle")->width(), 170);
        delete g_language;
        g_language = nullptr;
    }
};

QTEST_MAIN(ParameterDialog)
#include "test_parameter.moc"
