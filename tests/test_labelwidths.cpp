// Every text the forms place in a fixed box fits it, in both languages, with the fonts that lie
// beside the executable: no label or button of a page, the mode parameter dialog or the launcher
// panel shows its text cut (wider than the box, or taller than it).
#include "builtpath.h"
#include "tempappdir.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/parameter.h"
#include "color/pushbutton.h"
#include "main/tessark.h"
#include "setting/Language.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "shortcut/shortcutskb.h"
#include "simcontrol.h"
#include "widget/aboutdialog.h"
#include "widget/helpdialog.h"
#include "timescale.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QStyleOptionComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTextDocument>
#include <QTextLayout>
#include <memory>
#include <vector>

namespace {

QString describe(const QWidget* w, const QString& text, int need, int room, const char* what)
{
    return QStringLiteral("%1 %2 \"%3\": %4 %5 px in %6")
        .arg(QLatin1String(w->metaObject()->className()), w->objectName(), text, QLatin1String(what))
        .arg(need)
        .arg(room);
}

// The widest line of a text, as the widget's own font draws it.
int widest(const QFontMetrics& m, const QString& text)
{
    int most = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        most = std::max(most, m.horizontalAdvance(line));
    return most;
}

// The room a check box or radio button leaves its text beside the indicator.
int indicatorRoom(const QAbstractButton* b)
{
    const bool radio = qobject_cast<const QRadioButton*>(b) != nullptr;
    QStyle* s = b->style();
    const int indicator = s->pixelMetric(radio ? QStyle::PM_ExclusiveIndicatorWidth : QStyle::PM_IndicatorWidth, nullptr, b);
    const int spacing =
        s->pixelMetric(radio ? QStyle::PM_RadioButtonLabelSpacing : QStyle::PM_CheckBoxLabelSpacing, nullptr, b);
    return indicator + spacing;
}

// Every shown label and button under root whose plain text does not fit its box.
QStringList cutTexts(QWidget* root)
{
    QStringList cut;
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    for (QWidget* w : qAsConst(all)) {
        if (!w->isVisibleTo(root) || w->width() <= 0)
            continue;
        QString text;
        const QLabel* label = qobject_cast<QLabel*>(w);
        int room = w->contentsRect().width();
        if (label) {
            // Wrapped and rich texts lay themselves out; pictures have no text.
            if (label->wordWrap() || label->text().isEmpty() || Qt::mightBeRichText(label->text()))
                continue;
            text = label->text();
            room -= 2 * label->margin() + std::max(label->indent(), 0);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            text = button->text().remove(QLatin1Char('&'));
            if (text.isEmpty())
                continue;
            if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w))
                room -= indicatorRoom(button);
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            // Every entry must fit the field the closed box shows it in.
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const int field =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).width();
            const QFontMetrics m(combo->font());
            for (int i = 0; i < combo->count(); ++i) {
                const int need = m.horizontalAdvance(combo->itemText(i));
                if (need > field)
                    cut << describe(w, combo->itemText(i), need, field, "wide");
            }
            continue;
        } else {
            continue;
        }
        const QFontMetrics m(w->font());
        const int need = widest(m, text);
        if (need > room)
            cut << describe(w, text, need, room, "wide");
        // Drawn lines stand where the alignment puts a block of line heights (a line as high as the
        // highest font it draws with); their ink must lie in the box.
        const QStringList lines = text.split(QLatin1Char('\n'));
        const int box = w->contentsRect().height();
        QVector<QTextLine> laid;
        std::vector<std::unique_ptr<QTextLayout>> layouts;
        qreal block = 0;
        for (const QString& line : lines) {
            layouts.push_back(std::make_unique<QTextLayout>(line, w->font()));
            QTextLayout& layout = *layouts.back();
            layout.beginLayout();
            QTextLine l = layout.createLine();
            l.setLineWidth(1e6);
            layout.endLayout();
            laid << l;
            block += l.height();
        }
        const Qt::Alignment align = label ? label->alignment() : Qt::AlignVCenter;
        const qreal top = align & Qt::AlignTop ? 0 : align & Qt::AlignBottom ? box - block : (box - block) / 2;
        const qreal inkTop = top + laid.first().ascent() + m.tightBoundingRect(lines.first()).top();
        const qreal inkBottom = top + block - laid.last().descent() + m.tightBoundingRect(lines.last()).bottom();
        // Half a pixel is the rounding of a line placed between pixels, not a cut.
        if (inkTop < -0.5 || inkBottom > box - 0.5)
            cut << describe(w, text, qRound(inkBottom - inkTop + 1), box, "tall");
    }
    return cut;
}

} // namespace

class LabelWidths : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Tessark> w;
    sim::KeyboardPtr kb;

    // Shows the page in the language and returns what is cut on it (and on its dialog or panel).
    QStringList cutOn(const QString& page, int language)
    {
        g_language->setLanguageType(language);
        if (page == QLatin1String("About") || page == QLatin1String("Help")) {
            std::unique_ptr<QWidget> dialog;
            if (page == QLatin1String("About"))
                dialog = std::make_unique<AboutDialog>();
            else
                dialog = std::make_unique<HelpDialog>();
            dialog->show();
            QCoreApplication::processEvents();
            return cutTexts(dialog.get());
        }
        w->labelPageClickSlot(page);
        QCoreApplication::processEvents();
        if (page == QLatin1String("Shortcuts")) {
            // The rows are made one by one on a timer: every editor the keyboard's functions show.
            int rows = -1;
            while (rows != w->shortcutsPage()->rows().size()) {
                rows = w->shortcutsPage()->rows().size();
                QTest::qWait(300);
            }
        }
        QStringList cut = cutTexts(w.get());
        if (page == QLatin1String("Color")) {
            Mode* mode = w->colorPage()->modeWidget();
            auto* slot = mode->groupBox()->findChild<PushButton*>();
            if (!slot)
                return cut << QStringLiteral("no mode slot button");
            emit slot->doubleClicked(slot);
            Parameter* dialog = mode->parameter();
            if (!dialog)
                return cut << QStringLiteral("no parameter dialog");
            dialog->show();
            QCoreApplication::processEvents();
            cut << cutTexts(dialog);
            dialog->requestClose();
        } else if (page == QLatin1String("Shortcuts")) {
            ShortcutsKB* panel = w->shortcutsPage()->panel();
            if (!panel)
                return cut << QStringLiteral("no launcher panel");
            // The panel gets its buttons when the rows are written; here from the loaded rows.
            QList<ShortcutsItem*> rows = w->shortcutsPage()->rows();
            panel->addButtons(&rows);
            w->shortcutsPage()->togglePanel();
            QCoreApplication::processEvents();
            if (!panel->isVisible())
                return cut << QStringLiteral("launcher panel not shown");
            cut << cutTexts(panel);
            panel->hide();
        }
        return cut;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
        // The fonts the build puts beside the executables, as the tool finds them beside its own.
        QVERIFY(m_app.copyFiles(builtPath(QStringLiteral("font")), QStringLiteral("font")));
        kb = sim::plug(sim::fullSizeDual());
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        w->show();
        QVERIFY(QTest::qWaitFor([this] { return w->deviceLoaded(); }, timescale::ms(20000)));
        w->stopScanning();
        QVERIFY(g_language);
    }

    void cleanupTestCase()
    {
        w.reset();
        kb.reset();
        sim::reset();
    }

    void noTextCut_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("language");
        for (const char* page : {"staticLayout", "Color", "Shortcuts", "Macro", "Setting", "About", "Help"}) {
            QTest::addRow("%s English", page) << QString::fromLatin1(page) << 1;
            QTest::addRow("%s Chinese", page) << QString::fromLatin1(page) << 0;
        }
    }
    void noTextCut()
    {
        QFETCH(QString, page);
        QFETCH(int, language);
        const QStringList cut = cutOn(page, language);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1String("\n"))));
    }
};

QTEST_MAIN(LabelWidths)
#include "test_labelwidths.moc"
