#include "buildingblock.h"

#include "device/device.h"
#include "setting/block.h"
#include "setting/network.h"
#include "widget/framepainter.h"
#include "widget/keybtn.h"
#include "widget/slider.h"
#include "widget/toolfiledialog.h"

#include <QCloseEvent>
#include <QDebug>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

namespace {

const int DialogWidth = 750;
const int DialogHeight = 575;
const int ContentWidth = 671;
const int ContentHeight = 251;
const int TitleBandHeight = 35; // a press within it starts a drag

// Key units times pixels per unit; the layout reader keeps units within 64, records within 200 px.
int pixels(double v)
{
    return int(v);
}

} // namespace

BuildingBlock::BuildingBlock(QWidget* parent, Device* device) : QDialog(parent), m_ptrDevice(device)
{
    // First of the dialog's own connections, so the flag is set before the page hears the signal.
    connect(this, &BuildingBlock::emitClose, this, [this] { m_closeEmitted = true; });

    setupForm();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect r = screen->geometry();
        move(r.width() / 2 - width() / 2, r.height() / 2 - height() / 2 + 13);
    }
    createControls();
    m_form->keyboardLayout->hide();
    m_importButton->show();

    QWidget* contents = m_form->scrollAreaWidgetContents;
    contents->setMinimumSize(m_form->scrollArea->size());
    contents->setMaximumSize(m_form->scrollArea->size());
    contents->resize(m_form->scrollArea->size());
    createSliders();
    createNetwork();
}

BuildingBlock::~BuildingBlock()
{
    for (KeyBtn* key : {m_previousKey, m_selectedKey})
        if (key)
            key->updateBorderStyle(true);
    m_previousKey = nullptr;
    m_selectedKey = nullptr;
    qDeleteAll(m_keyBtns);
    m_keyBtns.clear();
    delete m_applyButton;
    delete m_closeButton;
    delete m_cancelButton;
    delete m_importButton;
    delete m_titleLabel;
    m_fileDialog->close();
    delete m_fileDialog;
    // The grid goes with the scroll area's content, the sliders with the dialog.
    m_network = nullptr;
    delete m_form->keyboardLayout;
    delete m_form->scrollArea;
    delete m_form;
}

void BuildingBlock::setupForm()
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("BuildingBlock"));
    resize(DialogWidth, DialogHeight);
    m_form = new Form;

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("keyboardLayout"));
    frame->setGeometry(30, 50, 691, 171);
    frame->setFrameShape(QFrame::NoFrame);
    frame->setFrameShadow(QFrame::Raised);
    frame->setStyleSheet(QStringLiteral("/*QFrame#keyboardLayout{border: 1px dotted rgb(22, 22, 200);}*/"));
    m_form->keyboardLayout = frame;

    auto* area = new QScrollArea(this);
    area->setObjectName(QStringLiteral("scrollArea"));
    area->setGeometry(30, 230, ContentWidth, ContentHeight);
    area->setStyleSheet(QStringLiteral("QScrollArea{background-color: rgba(0, 0, 0, 0%); border-radius:0px; "
                                       "/*border: 0px dotted rgb(22, 22, 200);*/}"));
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidgetResizable(true);
    m_form->scrollArea = area;

    auto* contents = new QWidget();
    contents->setObjectName(QStringLiteral("scrollAreaWidgetContents"));
    contents->setGeometry(0, 0, ContentWidth, ContentHeight);
    contents->setStyleSheet(QStringLiteral("QWidget#scrollAreaWidgetContents{background-color: rgba(0, 0, 0, 0%); "
                                           "border-radius:0px; /*border: 1px dotted rgb(22, 22, 200);*/}"));
    area->setWidget(contents);
    m_form->scrollAreaWidgetContents = contents;

    setWindowTitle(QStringLiteral("Dialog"));
    setModal(true);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
}

void BuildingBlock::createControls()
{
    m_titleLabel = new QLabel(this);
    m_titleLabel->setText(QStringLiteral("Keyboard layout editor"));
    m_qss.setLabelStyle(m_titleLabel, QColor(QStringLiteral("#fff")), 11, 50);
    m_titleLabel->move(20, 14);

    m_closeButton = new QPushButton(this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_closeButton->resize(25, 25);
    m_closeButton->move(width() - 36, 10);
    m_qss.setImageButtonStyle(m_closeButton, QStringLiteral("close.svg"), QStringLiteral("close-hover.svg"), QString(),
                              QString(), false);
    connect(m_closeButton, &QPushButton::pressed, this, &BuildingBlock::emitClose);

    m_applyButton = new QPushButton(QStringLiteral("Apply"), this);
    m_applyButton->setObjectName(QStringLiteral("applyButton"));
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton* b : {m_applyButton, m_cancelButton}) {
        b->resize(60, 24);
        m_qss.setOutlineButtonStyle(b, 10, m_buttonTextColor);
        b->raise();
    }
    connect(m_applyButton, &QPushButton::pressed, this, &BuildingBlock::applyButtonPressed);
    connect(m_cancelButton, &QPushButton::pressed, m_closeButton, &QPushButton::pressed);

    m_importButton = new QPushButton(QStringLiteral("Import json file"), this);
    m_importButton->setObjectName(QStringLiteral("importButton"));
    m_importButton->resize(150, 27);
    m_importButton->move(width() / 2 - 75, 115);
    m_qss.setOutlineButtonStyle(m_importButton, 10, m_buttonTextColor);
    connect(m_importButton, &QPushButton::pressed, this, &BuildingBlock::openJsonFileSlot);

    m_fileDialog = new ToolFileDialog(this, QStringLiteral("Open File"), QString(),
                                      QStringLiteral("Binary System File(*.json)"));
    m_fileDialog->hide();
    connect(m_fileDialog, &QFileDialog::fileSelected, this, &BuildingBlock::fileSelectedSlot);
}

void BuildingBlock::createSliders()
{
    m_vScrollBar = m_form->scrollArea->verticalScrollBar();
    m_hScrollBar = m_form->scrollArea->horizontalScrollBar();
    m_vSlider = new Slider(this, 1, 0, true);
    m_vSlider->setObjectName(QStringLiteral("verticalSlider"));
    m_vSlider->setFixedSize(m_vSlider->width() + 5, m_form->scrollArea->height() + 13);
    m_vSlider->lower();
    m_hSlider = new Slider(this, 0, 0, true);
    m_hSlider->setObjectName(QStringLiteral("horizontalSlider"));
    m_hSlider->setFixedSize(m_form->scrollArea->width() + 13, m_hSlider->height() + 5);
    m_hSlider->lower();
    placeControls();
    connect(m_vSlider, &QSlider::valueChanged, m_vScrollBar, &QScrollBar::setValue);
    connect(m_hSlider, &QSlider::valueChanged, m_hScrollBar, &QScrollBar::setValue);
    connect(m_vScrollBar, &QScrollBar::valueChanged, m_vSlider, &QSlider::setValue);
    connect(m_hScrollBar, &QScrollBar::valueChanged, m_hSlider, &QSlider::setValue);
}

void BuildingBlock::placeControls()
{
    const QRect area = m_form->scrollArea->geometry();
    m_applyButton->move(width() - 190, height() - 49);
    m_cancelButton->move(m_applyButton->x() + m_applyButton->width() + 20, m_applyButton->y());
    if (m_vSlider)
        m_vSlider->move(area.x() + area.width(), area.y());
    if (m_hSlider)
        m_hSlider->move(area.x(), area.y() + area.height());
}

int BuildingBlock::usableRecord(const QVector<BoardInfo*>& records) const
{
    if (!m_ptrDevice) {
        qDebug() << __LINE__ << "Layout editor: no keyboard, no board record.";
        return -1;
    }
    const QString name = m_ptrDevice->boardName();
    for (int i = 0; i < records.size(); ++i) {
        const BoardInfo* b = records[i];
        if (!b || b->name != name)
            continue;
        if (b->KLER < 1 || b->KLER > MaxMatrixLines || b->KLEC < 1 || b->KLEC > MaxMatrixLines || b->KLEW < 1
            || b->KLEW > Data::MaxUnitPixels || b->KLEH < 1 || b->KLEH > Data::MaxUnitPixels) {
            qDebug() << __LINE__ << "Layout editor: board record" << name << "has no usable matrix: KLER=" << b->KLER
                     << "KLEC=" << b->KLEC << "KLEW=" << b->KLEW << "KLEH=" << b->KLEH;
            return -1;
        }
        return i;
    }
    qDebug() << __LINE__ << "Layout editor: no board record named" << name;
    return -1;
}

void BuildingBlock::createNetwork()
{
    Data data;
    data.parseConfigXML(&data.boards, QStringLiteral("config.xml"));
    const int index = usableRecord(data.boards);
    if (index < 0)
        return;
    const BoardInfo* record = data.boards[index];
    m_network = new Network(m_form->scrollAreaWidgetContents, record->KLER, record->KLEC);
    placeNetwork();
    connect(m_network, &Network::emitLeftButtonPressed, this, &BuildingBlock::networkBlockLeftPressed);
    connect(m_network, &Network::emitRightButtonPressed, this, &BuildingBlock::networkBlockRightPressed);
}

void BuildingBlock::placeNetwork()
{
    const int gw = m_network->width();
    const int gh = m_network->height();
    if (m_form->scrollAreaWidgetContents->width() > gw) {
        setContentWidth(670);
        m_network->move(335 - gw / 2, 0);
    } else {
        setContentWidth(gw);
        m_network->move(0, 0);
    }
    setContentHeight(gh);
}

void BuildingBlock::setContentWidth(int width)
{
    QWidget* contents = m_form->scrollAreaWidgetContents;
    const int previous = contents->width();
    const int barMaximum = m_hScrollBar->maximum();
    contents->setMinimumWidth(width);
    contents->setMaximumWidth(width);
    contents->resize(width, contents->height());
    m_hSlider->setRange(0, width - previous - barMaximum);
}

void BuildingBlock::setContentHeight(int height)
{
    QWidget* contents = m_form->scrollAreaWidgetContents;
    const int previous = contents->height();
    const int barMaximum = m_vScrollBar->maximum();
    contents->setMinimumHeight(height);
    contents->setMaximumHeight(height);
    contents->resize(contents->width(), height);
    m_vSlider->setRange(0, height - previous - barMaximum);
}

void BuildingBlock::applyButtonPressed()
{
    downloadData();
    qDebug() << __LINE__ << "download data finished.";
}

bool BuildingBlock::downloadData()
{
    qDebug() << __LINE__ << "------------------DOWNLOAD DATA-------------------.";
    for (const KeyBtn* key : qAsConst(m_keyBtns))
        qDebug() << __LINE__ << "keybtn ID = " << key->keyIndex() << "network: row=" << key->networkRow()
                 << "col=" << key->networkColumn();
    return true;
}

void BuildingBlock::openJsonFileSlot()
{
    qDebug() << __LINE__ << "Choose a layout saved as JSON by the keyboard layout editor"
             << "http://www.keyboard-layout-editor.com";
    m_fileDialog->show();
}

void BuildingBlock::fileSelectedSlot(const QString& path)
{
    qDebug() << __LINE__ << "select file path=" << path;
    qDebug() << __LINE__ << "select dir  path=" << m_fileDialog->directory().path();
    if (m_imported) {
        qDebug() << __LINE__ << "Layout already imported, return.";
        return;
    }
    m_data.parseConfigXML(&m_data.boards, QStringLiteral("config.xml"));
    const int index = usableRecord(m_data.boards);
    if (index < 0)
        return;
    if (!m_network) {
        // Keys without cells to bind them to would be of no use.
        qDebug() << __LINE__ << "Layout editor: no grid, import skipped.";
        return;
    }
    if (!Data::parseJsonFileForFix(&m_keyBtns, QString(), path)) {
        qDebug() << __LINE__ << "Parse JSON file error, return.";
        return;
    }
    m_imported = true;
    createKeyboard(index);
    m_form->keyboardLayout->show();
    m_importButton->hide();
}

void BuildingBlock::createKeyboard(int index)
{
    qDebug() << __LINE__ << "create keyboard .........";
    if (m_keyBtns.isEmpty()) {
        qDebug() << __LINE__ << "create keyboard error, keybtn size is zero.";
        return;
    }
    if (index < 0 || index >= m_data.boards.size() || !m_data.boards[index]) {
        qDebug() << __LINE__ << "create keyboard error, no board record" << index;
        return;
    }
    double right = 0, bottom = 0;
    for (const KeyBtn* key : qAsConst(m_keyBtns)) {
        right = qMax(right, key->x + key->w);
        bottom = qMax(bottom, key->y + key->h);
    }
    const double unitW = m_data.boards[index]->KLEW;
    const double unitH = m_data.boards[index]->KLEH;

    QFrame* frame = m_form->keyboardLayout;
    frame->resize(pixels(unitW * right), pixels(unitH * bottom));
    frame->move(pixels(width() / 2 - 0.5 * unitW * right + 2.0), frame->y());

    QScrollArea* area = m_form->scrollArea;
    const int delta = area->y() - (frame->y() + frame->height()) - 8;
    area->move(area->x(), area->y() - delta);
    resize(width(), height() - delta);
    placeControls();

    const int gap = m_data.gap;
    for (int i = 0; i < m_keyBtns.size(); ++i) {
        KeyBtn* key = m_keyBtns[i];
        key->setParent(frame);
        key->resize(pixels(unitW * key->w - gap - unitW * key->x2), pixels(unitH * key->h - gap));
        key->move(pixels(unitW * key->x + unitW * key->x2), pixels(unitH * key->y));
        key->layoutShape(int(unitW));
        key->setKeyIndex(i);
        key->show();
        connect(key, &KeyBtn::emitClickKeyBtnSignal, this, &BuildingBlock::clickKeyBtnSlot);
        connect(key, &KeyBtn::emitReleaseControl, this, &BuildingBlock::unsetCursorKeySlot);
        connect(key, &KeyBtn::emitShowNetworkPoint, this, &BuildingBlock::showNetwordPointSlot);
    }
}

void BuildingBlock::clickKeyBtnSlot(KeyBtn* key)
{
    if (!key)
        return;
    m_selectedKey = key;
    if (m_previousKey && m_previousKey->keyIndex() != key->keyIndex())
        m_previousKey->updateBorderStyle(true);
    m_previousKey = key;
    key->updateBorderStyle(false);
    qDebug() << __LINE__ << "Click KeyBtn ID is " << key->keyIndex();
}

void BuildingBlock::showNetwordPointSlot(int row, int col)
{
    qDebug() << __LINE__ << "网表格设置颜色" << row << col;
    if (!m_network)
        return;
    if (row == -1 && col == -1)
        m_network->clearHighlight();
    else
        m_network->highlightPoint(row, col);
}

void BuildingBlock::unsetCursorKeySlot()
{
    if (m_selectedKey) {
        m_selectedKey->updateBorderStyle(true);
        m_selectedKey = nullptr;
    }
    m_form->keyboardLayout->unsetCursor();
    if (m_network)
        m_network->clearHighlight();
}

void BuildingBlock::networkBlockRightPressed()
{
    unsetCursorKeySlot();
    if (m_network)
        m_network->clearHighlight();
}

void BuildingBlock::networkBlockLeftPressed(Block* block)
{
    if (!block || !m_network)
        return;
    KeyBtn* key = m_selectedKey;
    if (!key) {
        qDebug() << __LINE__ << "Buildng block unchecked key , return.";
        return;
    }
    const bool same = block->row() == key->networkRow() && block->column() == key->networkColumn();
    if (!same && block->isInUse()) {
        qDebug() << __LINE__ << "Point in other uses.";
        return;
    }
    block->setInUse(!block->isInUse());
    m_network->highlightBlock(block);
    if (key->networkColumn() != -1)
        m_network->releasePoint(key->networkRow(), key->networkColumn());
    if (!block->isInUse()) {
        qDebug() << __LINE__ << "相等处理 " << key->name();
        key->setNetworkPoint(-1, -1);
        return;
    }
    key->setNetworkPoint(block->row(), block->column());
    qDebug() << __LINE__ << "Building block: keybtn=" << key->keyIndex() << "Network: row=" << block->row()
             << "col=" << block->column() << "checked=" << block->isInUse();
}

void BuildingBlock::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::RightButton) {
        unsetCursorKeySlot();
        if (m_network)
            m_network->clearHighlight();
    }
    if (qRound(e->localPos().y()) > m_titleRect.height())
        return;
    m_dragWindowPos = pos();
    m_dragOffset = e->globalPos() - pos();
    m_dragging = true;
}

void BuildingBlock::mouseReleaseEvent(QMouseEvent*)
{
    m_dragging = false;
}

void BuildingBlock::mouseMoveEvent(QMouseEvent* e)
{
    if (m_dragging)
        move(e->globalPos() - m_dragOffset);
}

void BuildingBlock::keyPressEvent(QKeyEvent* e)
{
    // Not the dialog's own handling: Esc only deselects here, it never closes the editor.
    if (e->key() != Qt::Key_Escape) {
        e->ignore();
        return;
    }
    unsetCursorKeySlot();
    if (m_network)
        m_network->clearHighlight();
}

void BuildingBlock::closeEvent(QCloseEvent* e)
{
    // A close from the window system asks the page to close the editor, as Cancel does; the page's
    // own close afterwards just hides.
    if (m_closeEmitted) {
        QDialog::closeEvent(e);
        return;
    }
    e->ignore();
    emit emitClose();
}

void BuildingBlock::paintEvent(QPaintEvent*)
{
    FrameStyle style;
    style.bandHeight = TitleBandHeight;
    QPainter painter(this);
    m_titleRect = paintFrame(painter, size(), style);
}
