#include "qss.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMutex>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QWidget>

namespace {
QMutex s_overrideMutex;
QString s_appDirOverride; // guarded by s_overrideMutex

QString rgb(const QColor& c)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// A line edit switched off draws its text and border in the grey of the disabled icons: the rule the
// text styles set applies in every state otherwise, and a field without a keyboard would look live.
const QString DisabledLineEdit = QStringLiteral("QLineEdit:disabled{ color: #c5c8ce; border-color: #c5c8ce; }");

// Regular and bold: the style sheets ask for no other face.
const char* const FontFiles[] = {"/font/consola.ttf", "/font/consolab.ttf"};

QVector<int> registerFontsNow()
{
    QVector<int> ids;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return ids;
    const QString dir = appDirPath();
    QString family;
    for (const char* file : FontFiles) {
        const int id = QFontDatabase::addApplicationFont(dir + QLatin1String(file));
        ids.append(id);
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (family.isEmpty() && !families.isEmpty())
            family = families.first();
    }
    // The shipped files are a free monospace font under the names the style sheets expect.
    if (!family.isEmpty())
        QFont::insertSubstitution(QStringLiteral("Consolas"), family);
    return ids;
}
} // namespace

QString appDirPath()
{
    {
        QMutexLocker lock(&s_overrideMutex);
        if (!s_appDirOverride.isEmpty())
            return s_appDirOverride;
    }
    return QCoreApplication::applicationDirPath();
}

void setAppDirPathForTest(const QString& path)
{
    QMutexLocker lock(&s_overrideMutex);
    s_appDirOverride = path;
}

QVector<int> registerAppFonts()
{
    // Every key cap builds a Qss on each state change: registering each time would grow without bound.
    static const QVector<int> ids = registerFontsNow();
    return ids;
}

Qss::Qss()
{
    m_appDir = QDir::fromNativeSeparators(appDirPath());
    while (m_appDir.size() > 1 && m_appDir.endsWith(QLatin1Char('/')))
        m_appDir.chop(1);
    registerAppFonts();
}

QString styleSheetUrl(const QString& path)
{
    QString quoted;
    quoted.reserve(path.size() + 8);
    quoted += QStringLiteral("url(\"");
    for (const QChar c : path) {
        // Qt's style sheet reader takes a backslash as "the next character as it stands", a line break too.
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c == QLatin1Char('\n') || c == QLatin1Char('\r')
            || c == QLatin1Char('\f'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QStringLiteral("\")");
    return quoted;
}

QString Qss::imageUrl(const QString& folder, const QString& file) const
{
    return styleSheetUrl(m_appDir + QStringLiteral("/images/") + folder + file);
}

void Qss::setGlobuleStyle(QPushButton* button, bool checked) const
{
    const QString normal = checked ? QStringLiteral("globule-pressed.svg") : QStringLiteral("globule-normal.svg");
    const QString hover = checked ? QStringLiteral("globule-pressed-hover.svg") : QStringLiteral("globule-hover.svg");
    const QString folder = QStringLiteral("shortcut/");
    button->setFont(QFont(QStringLiteral("Consolas"), 9, 50));
    button->setStyleSheet(QStringLiteral("QPushButton{ image: ") + imageUrl(folder, normal)
                          + QStringLiteral("; border-radius: 0px; }QPushButton::hover{ image: ")
                          + imageUrl(folder, hover)
                          + QStringLiteral("; border-radius: 0px; color: rgb(40, 40, 40); }"));
}

void Qss::setGlobuleShowStyle(QPushButton* button, bool pressed) const
{
    const QString normal = pressed ? QStringLiteral("globule-show-press.svg") : QStringLiteral("globule-show-normal.svg");
    const QString hover = pressed ? QStringLiteral("globule-show-press.svg") : QStringLiteral("globule-show-hover.svg");
    const QString folder = QStringLiteral("shortcut/");
    button->setStyleSheet(QStringLiteral("QPushButton{ image: ") + imageUrl(folder, normal)
                          + QStringLiteral("; border-radius: 0px; }QPushButton::hover{ image: ")
                          + imageUrl(folder, hover) + QStringLiteral("; border-radius: 0px; }"));
}

void Qss::setFlatButtonStyle(QPushButton* button, bool active) const
{
    button->setFont(QFont(QStringLiteral("consolas"), 10));
    button->setStyleSheet(active ? QStringLiteral(
                                       "QPushButton{ border: 0px solid rgb(255, 255, 255); border-radius: 0px; "
                                       "background-color: rgb(255,255,255); color: rgb(55, 55, 55); }"
                                       "QPushButton::hover{ border: 1px solid rgb(255, 255, 255); border-radius: "
                                       "0px; background-color: #46e6b7; color: rgb(55, 55, 55); }")
                                 : frameButtonStyleSheet(false));
}

void Qss::setMenuStyle(QMenu* menu, const QColor& highlight, bool framedIndicator) const
{
    menu->setFont(QFont(QStringLiteral("consolas"), 12, 50));
    menu->setStyleSheet(
        QStringLiteral("QMenu{ background-color: rgb(255, 255, 255); border: 1px solid rgb(125, 125, 125); "
                       "border-radius: 6px; }"
                       "QMenu::item{ text-align: right; padding: 3px 20px; margin: 5px 10px; }"
                       "QMenu::item:selected{ background-color: ")
        + highlight.name() + QStringLiteral("; }QMenu::indicator{ background-color: transparent; width: 18px; height: 18px; ")
        + (framedIndicator ? QStringLiteral("border: 1px solid rgb(125, 125, 125); border-radius: 3px; }")
                           : QStringLiteral("border: 0px; border-radius: none; }"))
        + QStringLiteral("QMenu::indicator:checked{ image: ") + imageUrl(QString(), QStringLiteral("indicator-checked.svg"))
        + QStringLiteral("; }QMenu::indicator:unchecked{ image: none; }"));
}

void Qss::setOutlineButtonStyle(QPushButton* button, int pointSize, const QColor& text) const
{
    button->setFont(QFont(QStringLiteral("consolas"), pointSize, 50));
    button->setStyleSheet(QStringLiteral("QPushButton{ border-radius: 4px; background-color: rgba(0, 0, 0, 0%); "
                                         "border: 1px solid rgb(125, 125, 125); color:")
                          + text.name()
                          + QStringLiteral(" }QPushButton:hover{ border-radius: 4px; border: 1px solid rgb(91, 209, "
                                           "183); color: rgb(91, 209, 183); }"));
}

void Qss::setHoverFillButtonStyle(QPushButton* button, const QColor& fill, bool withFill) const
{
    const QString hover = withFill ? QStringLiteral("rgba(%1,%2,%3, 20%)").arg(fill.red()).arg(fill.green()).arg(fill.blue())
                                   : QStringLiteral("transparent");
    button->setStyleSheet(QStringLiteral("QPushButton:hover{ border-radius: 4px; background-color: ") + hover
                          + QStringLiteral("; }QPushButton{ border-radius: 4px; background-color: rgba(0, 0, 0, 0%); "
                                           "border: 0px; }"));
}

void Qss::setLineEditStyle(QLineEdit* edit, bool framed, int pointSize, bool error, const QColor& text,
                           const QColor& border) const
{
    edit->setFont(QFont(QStringLiteral("Consolas"), pointSize, 50));
    if (!framed) {
        edit->setStyleSheet(QStringLiteral("QLineEdit{ border-radius: 4px; selection-color: rgb(0, 0, 0); "
                                           "selection-background-color: rgb(111, 255, 224); border: 0px; }")
                            + DisabledLineEdit);
        return;
    }
    edit->setStyleSheet(QStringLiteral("QLineEdit{ color: ") + text.name()
                        + QStringLiteral("; border-radius: 4px; selection-color: rgb(50, 50, 50); "
                                         "selection-background-color: rgb(111, 255, 224); border: 1.2px solid ")
                        + (error ? QStringLiteral("rgb(255, 0, 0)") : border.name()) + QStringLiteral("; }")
                        + DisabledLineEdit);
}

void Qss::setCenteredLineEditStyle(QLineEdit* edit) const
{
    edit->setFont(QFont(QStringLiteral("Consolas"), 11, 50));
    edit->setAlignment(Qt::AlignCenter);
    edit->setStyleSheet(QStringLiteral("QLineEdit{border-radius: 5px;selection-color: rgb(0, 0, 0);"
                                       "selection-background-color: rgb(111, 255, 224);border: 1.2px solid "
                                       "rgb(175, 175, 175);color: #FF656D;}")
                       + DisabledLineEdit);
}

void Qss::setGroupBoxStyle(QGroupBox* box, int radius) const
{
    box->setStyleSheet(QStringLiteral("QGroupBox{ border-radius: ") + QString::number(radius)
                       + QStringLiteral("px; border: 1.3px solid rgb(175, 175, 175); }"));
}

void Qss::setLabelStyle(QLabel* label, const QColor& colour, int pointSize, int weight) const
{
    label->setFont(QFont(QStringLiteral("consolas"), pointSize, weight));
    label->setStyleSheet(QStringLiteral("QLabel{ color: ") + rgb(colour) + QStringLiteral("; }"));
}

void Qss::setLinkLabelStyle(QLabel* label, int pointSize, const QColor& colour) const
{
    // The hover font stays at 12pt whatever size the label has.
    label->setStyleSheet(QStringLiteral("QLabel{ font :50 ") + QString::number(pointSize)
                         + QStringLiteral("pt \"Consolas\"; color: ") + colour.name()
                         + QStringLiteral("; text-decoration: underline; }QLabel:hover { font :50 12pt \"Consolas\"; "
                                          "color: rgb(0, 125, 255); text-decoration: underline; }"));
}

void Qss::setListButtonStyle(QPushButton* button) const
{
    button->setFont(QFont(QStringLiteral("consolas"), 10, 50));
    button->setStyleSheet(QStringLiteral("QPushButton { border-radius: 0px; text-align: left; color: rgb(50, 50, 50); "
                                         "background-color: rgb(255, 255, 255); border: 0px solid #00ff00;}"
                                         "QPushButton:hover { background-color: rgb(70, 230, 180); color: rgb(0, 0, "
                                         "0);}"));
}

void Qss::setKeyButtonStyle(QPushButton* keyBtn, bool normal, bool clearBorder) const
{
    if (!normal) {
        keyBtn->setStyleSheet(QStringLiteral("QPushButton { border: 2px solid #ff0000; border-radius: 2px }"));
        return;
    }
    keyBtn->setStyleSheet((clearBorder ? QStringLiteral("QPushButton { border: 1px solid rgba(175, 175, 175, 0%); ")
                                       : QStringLiteral("QPushButton { border: 1px solid rgb(175, 175, 175); "))
                          + QStringLiteral("border-radius: 2px }QPushButton:hover { border: 1px solid rgb(0, 255, 0); "
                                           "border-radius: 2px }"));
}

void Qss::setColorSwatchStyle(QPushButton* button, const QColor& colour, int alpha) const
{
    const QString rgba =
        QStringLiteral("rgba(%1,%2,%3,%4)").arg(colour.red()).arg(colour.green()).arg(colour.blue()).arg(alpha);
    button->setStyleSheet(QStringLiteral("QPushButton{ border: 1px solid rgb(175, 175, 175);background-color:") + rgba
                          + QStringLiteral("; border-radius: 1px; }QPushButton:focus{ border: 1px solid #ff0000; "
                                           "border-radius: 1px; }"));
}

void Qss::setAccentButtonStyle(QPushButton* button, int pointSize, int weight, const QString& text) const
{
    button->setFont(QFont(QStringLiteral("Consolas"), pointSize, weight));
    button->setStyleSheet(QStringLiteral("QPushButton:hover { background-color: rgb(70, 230, 180); height: 15px; "
                                         "color: rgb(255, 255, 255);} QPushButton{ height: 15px;color: rgb(125, 125, "
                                         "125); background-color: rgb(255, 255, 255); border: 1px solid rgb(175, "
                                         "175, 175);}"));
    button->setText(text);
}

void Qss::setIconButtonStyle(QPushButton* button, const QString& imagePath) const
{
    if (imagePath.isEmpty()) {
        button->setStyleSheet(QStringLiteral("QPushButton{ border: 0px; }QPushButton:hover{ border-radius: 4px; "
                                             "background-color: rgba(0, 0, 0, 5%); }"));
        return;
    }
    const QString url = styleSheetUrl(imagePath);
    button->setStyleSheet(QStringLiteral("QPushButton{ border: 0px; image: ") + url
                          + QStringLiteral("; height: 25px; width: 25px;}QPushButton:hover{ border-radius: 4px; "
                                           "background-color: rgba(0, 0, 0, 5%); image: ")
                          + url + QStringLiteral("; }"));
}

void Qss::setHorizontalSliderStyle(QSlider* slider, int variant) const
{
    const QString base = QStringLiteral("QSlider{ border: 0px solid #ffffff; background: transparent; }"
                                        "QSlider::groove:horizontal{ border: 1px solid #afafaf; height: 1px; "
                                        "padding-top: -1px; padding-bottom: -1px; }");
    const QString hover = QStringLiteral("QSlider::groove:horizontal:hover{ border: 2px solid rgba(0, 162, 233, 30%); "
                                         "height: 1px; padding-top: -1px; padding-bottom: -1px; }");
    if (variant == 0) {
        slider->setStyleSheet(base
                              + QStringLiteral("QSlider::handle:horizontal{ background: rgba(128, 128, 128, 85%); "
                                               "border-radius: 3px; width: 40px; margin-top: -3px; margin-bottom: "
                                               "-3px; }")
                              + hover);
    } else if (variant == 1) {
        slider->setStyleSheet(base
                              + QStringLiteral("QSlider::handle:horizontal{ border: 1px solid rgb(70, 70, 70); "
                                               "background: rgb(200, 200, 200); border-radius: 4px; width: 30px; "
                                               "margin-top: -4px; margin-bottom: -4px; }")
                              + hover);
    } else {
        slider->setStyleSheet(QString());
    }
}

void Qss::setVerticalSliderStyle(QSlider* slider, int variant) const
{
    if (variant != 0) {
        slider->setStyleSheet(QString());
        return;
    }
    slider->setStyleSheet(QStringLiteral(
        "QSlider{ border: 0px solid #ffffff; background: transparent; }"
        "QSlider::groove:vertical{ border: 1px solid #afafaf; width: 1px; padding-left: -1px; padding-right: -1px; }"
        "QSlider::handle:vertical{ background: rgba(128, 128, 128, 85%); border-radius: 3px; height: 40px; "
        "margin-left: -3px; margin-right: -3px; }"
        "QSlider::groove:vertical:hover{ border: 2px solid rgba(0, 162, 233, 30%); width: 1px; padding-left: -1px; "
        "padding-right: -1px; }"));
}

void Qss::setComboBoxStyle(QComboBox* box, int pointSize, bool framed) const
{
    const QString border = framed ? QStringLiteral("1.2px") : QStringLiteral("0px");
    const QString hoverBorder = framed ? QStringLiteral("1px") : QStringLiteral("0px");
    const QString arrowBackground = framed ? QStringLiteral("#ffffff") : QStringLiteral("rgba(0,0,0,0%)");
    const QString dropLeft = framed ? QStringLiteral("1px") : QStringLiteral("0px");
    box->setFont(QFont(QStringLiteral("Consolas"), pointSize, 50));
    box->setStyleSheet(
        QStringLiteral("QComboBox{ color: rgb(70, 70, 70); border-radius: 4px; background-color: #ffffff; "
                       "selection-color: rgb(255, 255, 255); border: ")
        + border
        + QStringLiteral(" solid rgb(125, 125, 125); }"
                         "QComboBox QAbstractItemView::item{ border-radius: 0px; height: 25px; color: rgb(50, 50, 50); "
                         "selection-color: rgb(70, 70, 70); }"
                         "QComboBox QAbstractItemView::item:hover{ height: 25px; background-color: rgb(111, 255, 224); }"
                         "QComboBox::hover{ background-color: rgb(70, 230, 180); border: ")
        + hoverBorder + QStringLiteral(" solid rgb(125, 125, 125); }QComboBox::down-arrow{ image: ")
        + imageUrl(QString(), QStringLiteral("combo.svg")) + QStringLiteral("; height: 18; width: 15px; background-color: ")
        + arrowBackground
        + QStringLiteral("; }QComboBox::down-arrow:on{ top: 0px; left: 0px; border: 0px; border-radius: 0px; }"
                         "QComboBox::drop-down{ subcontrol-origin: padding; subcontrol-position: top right; width: 20px; "
                         "background-color: ")
        + arrowBackground + QStringLiteral("; border-left-color: darkgray; border-left-width: ") + dropLeft
        + QStringLiteral("; border-left-style: solid; border-bottom-right-radius: 3px; border-top-right-radius: 3px; }"));
}

void Qss::setImageButtonStyle(QPushButton* button, QString normal, QString hover, QString folder, QString pressed,
                              bool framed) const
{
    button->setIconSize(QSize(button->width(), button->height()));
    if (!folder.isEmpty())
        folder += QLatin1Char('/');
    // An empty hover falls back to the normal image and an empty pressed to the hover one.
    if (hover.isEmpty())
        hover = normal;
    if (pressed.isEmpty())
        pressed = hover;
    const QString n = imageUrl(folder, normal);
    const QString h = imageUrl(folder, hover);
    const QString p = imageUrl(folder, pressed);
    if (framed) {
        button->setStyleSheet(
            QStringLiteral("QPushButton{ image: ") + n
            + QStringLiteral("; border-radius: 3px; border: 1px solid rgb(125, 125, 125); background-color: "
                             "rgb(255,255,255); }QPushButton::hover{ image: ")
            + h
            + QStringLiteral("; border-radius: 3px; border: 1px solid rgb(70, 230, 180); background-color: "
                             "rgb(255,255,255);}QPushButton::pressed{ image: ")
            + p
            + QStringLiteral("; border-radius: 3px; border: 1px solid rgb(125, 125, 125); background-color: rgb(70, "
                             "230, 180); }"));
        return;
    }
    button->setStyleSheet(QStringLiteral("QPushButton{ image: ") + n
                          + QStringLiteral("; border-radius: 0px; }QPushButton::hover{ image: ") + h
                          + QStringLiteral("; border-radius: 0px; }QPushButton::pressed{ image: ") + p
                          + QStringLiteral("; border-radius: 0px; }"));
}

void Qss::setCursorButtonStyle(QPushButton* button, const QString& image) const
{
    setImageButtonStyle(button, image, image, QStringLiteral("Cursor"), image, false);
}

void Qss::setMacroButtonStyle(QPushButton* button, const QString& normal, const QString& hover) const
{
    setImageButtonStyle(button, normal, hover, QStringLiteral("macro"), QString(), false);
}

void Qss::setSettingButtonStyle(QPushButton* button, const QString& normal, const QString& hover) const
{
    setImageButtonStyle(button, normal, hover, QStringLiteral("setting"), QString(), false);
}

void Qss::setShortcutButtonStyle(QPushButton* button, const QString& normal, const QString& hover) const
{
    setImageButtonStyle(button, normal, hover, QStringLiteral("shortcut"), QString(), false);
}

void Qss::setColorLineEditStyle(QLineEdit* edit, const QColor& border) const
{
    edit->setStyleSheet(QStringLiteral("QLineEdit{ border-radius: 5px; selection-color: rgb(0, 0, 0); "
                                       "selection-background-color: rgb(111, 255, 224) ; border: 1.2px solid ")
                        + border.name() + QStringLiteral("; }") + DisabledLineEdit);
}

void Qss::setImageLineEditStyle(QLineEdit* edit, QString folder, const QString& image, int pointSize,
                                const QColor& text) const
{
    if (!folder.isEmpty())
        folder += QLatin1Char('/');
    edit->setFont(QFont(QStringLiteral("Consolas"), pointSize, 75));
    edit->setStyleSheet(QStringLiteral("QLineEdit{ image: ") + imageUrl(folder, image)
                        + QStringLiteral(" 0 0 %1 %2").arg(edit->width()).arg(edit->height())
                        + QStringLiteral("; border-radius: 0px; border: 0px solid rgb(255, 255, 255); color: ")
                        + rgb(text) + QStringLiteral("; }"));
}

void Qss::setBorderLineEditStyle(QLineEdit* edit, const QColor& background, const QColor& border, int width,
                                 const QString& family, int pointSize, const QColor& text) const
{
    // No bottom edge: the line edit sits on a rule of its own.
    const QString side = QString::number(width) + QStringLiteral("px solid ") + border.name() + QLatin1Char(';');
    edit->setFont(QFont(family, pointSize, 75));
    edit->setStyleSheet(QStringLiteral("QLineEdit{ background-color: ") + background.name()
                        + QStringLiteral(" ; border-radius: 0px; color: ") + text.name()
                        + QStringLiteral("; border-top: ") + side + QStringLiteral("border-right: ") + side
                        + QStringLiteral("border-left: ") + side + QStringLiteral(" }"));
}

void Qss::prepareFrameSelectStyle(QFrame* frame, int radius) const
{
    // Both looks live in one sheet, chosen by a property: a frame's sheet that changes re-polishes every
    // widget inside it (a long macro's hundreds of chips, seconds each time), a property only the frame.
    const QString look = QStringLiteral("{ border-radius: ") + QString::number(radius)
                         + QStringLiteral("px; background-color: rgb(255, 255, 255); border: 1px dotted ");
    const QString name = QStringLiteral("QFrame#") + frame->objectName() + QStringLiteral("[selectMark=\"");
    const QString sheet = name + QStringLiteral("false\"]") + look + QStringLiteral("rgb(255, 255, 255); }") + name
                          + QStringLiteral("true\"]") + look + QStringLiteral("rgb(255, 0, 0); }");
    if (frame->styleSheet() != sheet)
        frame->setStyleSheet(sheet);
}

void Qss::setFrameSelectStyle(QFrame* frame, bool selected, int radius) const
{
    prepareFrameSelectStyle(frame, radius);
    const QVariant mark = frame->property("selectMark");
    if (mark.isValid() && mark.toBool() == selected)
        return;
    frame->setProperty("selectMark", selected);
    frame->style()->unpolish(frame);
    frame->style()->polish(frame);
    frame->update();
}

void Qss::setImageLabelStyle(QLabel* label, QString folder, const QString& normal, QString hover) const
{
    if (!folder.isEmpty())
        folder += QLatin1Char('/');
    if (hover.isEmpty())
        hover = normal;
    const QString size = QStringLiteral(" 0 0 %1 %2").arg(label->width()).arg(label->height());
    label->setStyleSheet(QStringLiteral("QLabel{ border-radius: 0px; border: 0px solid rgb(255, 255, 255); image: ")
                         + imageUrl(folder, normal) + size
                         + QStringLiteral(";  }QLabel::hover{ border-radius: 0px; border: 0px solid rgb(255, 255, "
                                          "255); image: ")
                         + imageUrl(folder, hover) + size + QStringLiteral(";  }"));
}

void Qss::setTextLabelStyle(QLabel* label, int pointSize, const QColor& colour, int weight) const
{
    label->setFont(QFont(QStringLiteral("Consolas"), pointSize, weight));
    label->setStyleSheet(QStringLiteral("QLabel{ border-radius: 0px; border: 0px solid rgb(255, 255, 255); color: ")
                         + rgb(colour) + QStringLiteral("; }"));
}

void Qss::setTextLabelStyle2(QLabel* label, int pointSize, int weight, const QColor& colour) const
{
    setTextLabelStyle(label, pointSize, colour, weight);
}

void Qss::setImageTextLabelStyle(QLabel* label, const QString& folder, const QString& image, int pointSize,
                                 const QColor& text) const
{
    label->setFont(QFont(QStringLiteral("Consolas"), pointSize, 75));
    label->setStyleSheet(QStringLiteral("QLabel{ image: ") + imageUrl(folder, image)
                         + QStringLiteral("; border-radius: 0px; border: 0px solid rgb(255, 255, 255); color: ")
                         + rgb(text) + QStringLiteral("; }"));
}

void Qss::setLabelBackground(QLabel* label, const QColor& colour) const
{
    label->clear();
    label->setStyleSheet(QStringLiteral("QLabel{ border-radius: 0px; border: 0px; background-color: ") + rgb(colour)
                         + QStringLiteral("; }"));
}

void Qss::setCheckBoxStyle(QCheckBox* box, QString folder, const QString& image, int pointSize,
                           const QColor& indicatorBorder, const QColor& text) const
{
    if (!folder.isEmpty())
        folder += QLatin1Char('/');
    box->setFont(QFont(QStringLiteral("Consolas"), pointSize, 0));
    box->setStyleSheet(QStringLiteral("QCheckBox{ color: ") + text.name()
                       + QStringLiteral("; background-color: transparent; border: 0px solid rgb(125, 125, 125); "
                                        "border-radius: 0px;}QCheckBox::indicator{ background-color: transparent; "
                                        "width: 18px; height: 18px; border: 1px solid ")
                       + rgb(indicatorBorder)
                       + QStringLiteral("; border-radius: 3px;}QCheckBox::indicator:checked{ image: ")
                       + imageUrl(folder, image) + QStringLiteral("; }QCheckBox::indicator:unchecked{ image: none; }"));
}

void Qss::setWarnButtonStyle(QPushButton* button, bool warn) const
{
    if (warn) {
        button->setStyleSheet(QStringLiteral(
            "QPushButton{ background-color: transparent; color: rgb(230, 42, 87); border: 1px solid rgb(230, 42, 87); "
            "border-radius: 5px; }QPushButton:hover{ background-color: transparent; color: rgb(230, 42, 87); border: "
            "1px solid rgb(230, 42, 87); border-radius: 5px; }QPushButton:pressed{ background-color: transparent; "
            "color: rgb(230, 42, 87); border: 1px solid rgb(230, 42, 87); border-radius: 5px; }"));
        return;
    }
    button->setStyleSheet(QStringLiteral(
        "QPushButton{ background-color: transparent; color: rgb(75, 75, 75); border: 1px solid #afafaf; "
        "border-radius: 5px; }QPushButton:hover{ background-color: transparent; color: rgb(0, 230, 0); border: 1px "
        "solid rgb(0, 230, 0); border-radius: 5px; }QPushButton:pressed{ background-color: transparent; color: "
        "rgb(230, 42, 87); border: 1px solid rgb(230, 42, 87); border-radius: 5px; }"));
}

void Qss::setBorderButtonStyle(QPushButton* button, const QFont& font, const QString& textColour,
                               const QString& borderColour, int radius, int width) const
{
    button->setFont(font);
    button->setStyleSheet(QStringLiteral("QPushButton{ background-color: transparent; color: ") + textColour
                          + QStringLiteral("; border: ") + QString::number(width) + QStringLiteral("px solid ")
                          + borderColour + QStringLiteral("; border-radius: ") + QString::number(radius)
                          + QStringLiteral("px; }"));
}

QString Qss::frameButtonStyleSheet(bool bordered) const
{
    if (bordered)
        return QStringLiteral("QPushButton{ border: 1px solid rgb(150, 150, 150); border-radius: 2px; "
                              "background-color: rgb(255, 255, 255); color: rgb(55, 55, 55); }"
                              "QPushButton::hover{ border: 1px solid rgb(40, 255, 40); border-radius: 2px; }");
    return QStringLiteral("QPushButton{ border: 0px solid rgb(255, 255, 255); border-radius: 0px; background-color: "
                          "rgb(255,255,255); color: rgb(182, 182, 182); }");
}

QString Qss::roundedFrameStyleSheet(const QString& objectName) const
{
    return QStringLiteral("QWidget#") + objectName
           + QStringLiteral("{ border: 1px solid rgb(150, 150, 150); border-radius: 6px; }");
}

QString Qss::widgetBackgroundStyleSheet(const QString& objectName, const QColor& colour) const
{
    return QStringLiteral("QWidget#") + objectName + QStringLiteral("{ background-color: ") + colour.name()
           + QStringLiteral("; }");
}

QString Qss::colorButtonStyleSheet(const QColor& colour) const
{
    return QStringLiteral("QPushButton{ border: 1px solid rgb(150, 150, 150); border-radius: 2px; background-color: ")
           + colour.name() + QStringLiteral("; }");
}

QString Qss::triangleStyleSheet() const
{
    return QStringLiteral(
        "QPushButton{ width:0; height: 0; border-bottom: 50px solid red; border-left:100px solid transparent;}");
}

QCursor Qss::svgCursor(const QString& path, int width, int height, int hotX, int hotY) const
{
    const QPixmap pixmap(path);
    return QCursor(pixmap.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), hotX, hotY);
}

void Qss::setCursorStatus(QWidget* widget, int status, const QString& colour) const
{
    if (!widget)
        return;
    const QString dir = m_appDir + QStringLiteral("/images/Cursor/");
    switch (status) {
    case CursorDown:
        widget->setCursor(svgCursor(dir + QStringLiteral("down.svg"), 26, 33, 13, 16));
        return;
    case CursorUp:
        widget->setCursor(svgCursor(dir + QStringLiteral("up.svg"), 26, 33, 13, 16));
        return;
    case CursorDelete:
        widget->setCursor(svgCursor(dir + QStringLiteral("del.svg"), 26, 33, 13, 16));
        return;
    case CursorKeep:
        return;
    case CursorColor: {
        qDebug() << widget->objectName() << "set Cursor status" << colour;
        QPixmap pixmap(dir + QStringLiteral("color.svg"));
        QColor fill;
        fill.setNamedColor(colour);
        if (!fill.isValid())
            fill = Qt::black;
        // The drawing only gives the size: the cursor is a plain square of the picked colour.
        pixmap.fill(fill);
        widget->setCursor(QCursor(pixmap.scaled(20, 20, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 10, 10));
        return;
    }
    case CursorMode:
        qDebug() << widget->objectName() << "set Cursor mode.svg.";
        widget->setCursor(svgCursor(dir + QStringLiteral("mode.svg"), 26, 26, 13, 13));
        return;
    default:
        widget->unsetCursor();
        return;
    }
}
