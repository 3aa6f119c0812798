#include "macroitem.h"

#include "macro/keylayout.h"

#include <QDebug>
#include <QFrame>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>

namespace {
const QString Folder = QStringLiteral("macro");
constexpr int SelectFrameHeight = 146;
constexpr int SelectRadius = 6; // the select frame's corners
constexpr int TimelineGap = 5; // between the timeline and each arrow
constexpr int LoadButtonSize = 30;
constexpr int LoadButtonLift = 10; // above the entry's centre
}

MacroItem::MacroItem(QWidget* parent, int index, QString name, bool modifyAllDefaultDelays, int defaultDelay)
    : QWidget(parent)
    , m_qss(new Qss)
    , m_index(index)
    , m_modifyAllDefaultDelays(modifyAllDefaultDelays)
    , m_defaultDelay(uint(qMax(defaultDelay, 0)))
{
    setupUi();
    resize(parent ? parent->width() : width(), ItemHeight);
    m_name = name.isEmpty() ? QStringLiteral("Macro") + QString::number(index) : name;

    const int arrowY = m_selectFrame->height() / 2 - m_leftButton->height() / 2;
    m_leftButton->move(m_leftButton->x(), arrowY);
    m_rightButton->move(m_rightButton->x(), arrowY);
    m_leftButton->hide();
    m_rightButton->hide();

    m_pKeyLayout = new KeyLayout(m_selectFrame);
    const int x = m_leftButton->x() + m_leftButton->width() + TimelineGap;
    const int width = m_rightButton->x() - x - TimelineGap;
    const int height = m_selectFrame->height() - 2;
    m_pKeyLayout->setGeometry(x, m_selectFrame->height() / 2 - height / 2, width, height);
    m_pKeyLayout->bindScrollButtons(m_leftButton, m_rightButton);
    m_pKeyLayout->setContentWidth(m_pKeyLayout->width());
    connect(m_pKeyLayout, &KeyLayout::keyLayoutPressed, this, &MacroItem::keyLayoutPressed);

    m_loadDataButton = new QPushButton(this);
    m_loadDataButton->setObjectName(QStringLiteral("loadDataButton"));
    m_loadDataButton->resize(LoadButtonSize, LoadButtonSize);
    m_loadDataButton->move(this->width() / 2 - LoadButtonSize / 2,
                           this->height() / 2 - LoadButtonSize / 2 - LoadButtonLift);
    m_loadDataButton->raise();
    m_loadDataButton->hide();
    setLoadDataEnabled(true);
    connect(m_loadDataButton, &QPushButton::pressed, this, &MacroItem::loadDataPressed);

    setLeftEnabled(true);
    setRightEnabled(true);
    connect(m_leftButton, &QPushButton::pressed, this, &MacroItem::leftButtonSlot);
    connect(m_rightButton, &QPushButton::pressed, this, &MacroItem::rightButtonSlot);
}

MacroItem::~MacroItem()
{
    qDebug() << "DEBUG: ~MacroItem();" << m_name;
    delete m_pKeyLayout;
    delete m_qss;
    delete m_loadDataButton;
}

void MacroItem::setupUi()
{
    setObjectName(QStringLiteral("MacroItem"));
    resize(960, ItemHeight);
    m_horizontalLayout = new QHBoxLayout(this);
    m_horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    m_horizontalLayout->setContentsMargins(10, 5, 10, 5);
    m_areaFrame = new QFrame(this);
    m_areaFrame->setObjectName(QStringLiteral("areaFrame"));
    m_areaFrame->setFrameShape(QFrame::StyledPanel);
    m_areaFrame->setFrameShadow(QFrame::Raised);
    m_horizontalLayout2 = new QHBoxLayout(m_areaFrame);
    m_horizontalLayout2->setObjectName(QStringLiteral("horizontalLayout_2"));
    m_horizontalLayout2->setSpacing(9);
    m_horizontalLayout2->setContentsMargins(0, 0, 0, 0);

    m_leftFrame = new QFrame(m_areaFrame);
    m_leftFrame->setObjectName(QStringLiteral("leftFrame"));
    m_leftFrame->setMinimumWidth(35);
    m_leftFrame->setMaximumWidth(40);
    m_selectFrame = new QFrame(m_areaFrame);
    m_selectFrame->setObjectName(QStringLiteral("selectFrame"));
    m_selectFrame->setMinimumSize(845, SelectFrameHeight);
    m_selectFrame->setMaximumSize(850, SelectFrameHeight);
    // The layout sizes it later; the arrows and the timeline are placed from this size now.
    m_selectFrame->resize(845, SelectFrameHeight);
    m_selectFrame->setFrameShape(QFrame::StyledPanel);
    m_selectFrame->setFrameShadow(QFrame::Raised);
    m_qss->prepareFrameSelectStyle(m_selectFrame, SelectRadius);
    m_rightFrame = new QFrame(m_areaFrame);
    m_rightFrame->setObjectName(QStringLiteral("rightFrame"));
    m_rightFrame->setFrameShape(QFrame::StyledPanel);
    m_horizontalLayout2->addWidget(m_leftFrame);
    m_horizontalLayout2->addWidget(m_selectFrame);
    m_horizontalLayout2->addWidget(m_rightFrame);
    m_horizontalLayout->addWidget(m_areaFrame);

    m_leftButton = new QPushButton(m_selectFrame);
    m_leftButton->setObjectName(QStringLiteral("leftButton"));
    m_leftButton->setGeometry(10, 0, 25, 70);
    m_rightButton = new QPushButton(m_selectFrame);
    m_rightButton->setObjectName(QStringLiteral("rightButton"));
    m_rightButton->setGeometry(810, 0, 25, 70);
}

void MacroItem::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    m_pKeyLayout->setSliderVisible(selected);
    setArrowsVisible(selected);
}

void MacroItem::setArrowsVisible(bool visible)
{
    if (visible && m_leftButton->isHidden()) {
        m_leftButton->show();
        m_rightButton->show();
    } else if (!visible && !m_leftButton->isHidden()) {
        m_leftButton->hide();
        m_rightButton->hide();
    }
}

void MacroItem::setSaved(bool saved)
{
    m_marked = true;
    m_saved = saved;
    m_qss->setFrameSelectStyle(m_selectFrame, !saved, SelectRadius);
}

void MacroItem::setLeftEnabled(bool enabled)
{
    m_leftButton->setEnabled(enabled);
    if (enabled)
        m_qss->setImageButtonStyle(m_leftButton, QStringLiteral("left.svg"), QStringLiteral("left-hover.svg"), Folder,
                                   QStringLiteral("left-press.svg"), false);
    else
        m_qss->setImageButtonStyle(m_leftButton, QStringLiteral("left.svg"), QStringLiteral("left.svg"), Folder,
                                   QStringLiteral("left-press.svg"), false);
}

void MacroItem::setRightEnabled(bool enabled)
{
    m_rightButton->setEnabled(enabled);
    if (enabled)
        m_qss->setImageButtonStyle(m_rightButton, QStringLiteral("right.svg"), QStringLiteral("right-hover.svg"),
                                   Folder, QStringLiteral("right-press.svg"), false);
    else
        m_qss->setImageButtonStyle(m_rightButton, QStringLiteral("right.svg"), QStringLiteral("right.svg"), Folder,
                                   QStringLiteral("right-press.svg"), false);
}

void MacroItem::setLoadDataEnabled(bool enabled)
{
    m_loadDataButton->setEnabled(enabled);
    if (enabled)
        m_qss->setImageButtonStyle(m_loadDataButton, QStringLiteral("loaddata.svg"),
                                   QStringLiteral("loaddata-hover.svg"), Folder, QStringLiteral("loaddata-hover.svg"),
                                   false);
    else
        m_qss->setImageButtonStyle(m_loadDataButton, QStringLiteral("loaddata-ban.svg"),
                                   QStringLiteral("loaddata-ban.svg"), Folder, QStringLiteral("loaddata-ban.svg"),
                                   false);
}

void MacroItem::setVisibleItem(bool visible)
{
    m_loadDataButton->setVisible(visible);
}

bool MacroItem::isLoadDataHidden() const
{
    return m_loadDataButton->isHidden();
}

void MacroItem::setModifyAllDefaultDelayCheckBox(bool on)
{
    m_modifyAllDefaultDelays = on;
    qDebug() << "set item= " << m_name << ", modify all default delay check box BOOL = "
             << (on ? "true" : "false");
}

void MacroItem::setDefaultDelay(uint ms)
{
    m_pKeyLayout->setAllDelay(ms);
    m_defaultDelay = ms;
}

void MacroItem::setSliderVisible(bool visible)
{
    m_pKeyLayout->setSliderVisible(visible);
}

void MacroItem::leftButtonSlot()
{
    emit emitSetSelect(this);
}

void MacroItem::rightButtonSlot()
{
    emit emitSetSelect(this);
}

void MacroItem::keyLayoutPressed()
{
    emit emitSetSelect(this);
}

void MacroItem::loadDataPressed()
{
    emit emitLoadData(this);
}

void MacroItem::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit emitSetSelect(this);
}
