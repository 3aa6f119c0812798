// The macro page as a whole: its form, construction, taking and releasing the keyboard, and the list
// of entries built from the keyboard's macro heads.
#include "macro.h"

#include "device/device.h"
#include "macro/keylayout.h"
#include "macro/macroitem.h"
#include "macro/popup.h"
#include "setting/Language.h"
#include "widget/combobox.h"
#include "widget/qss.h"
#include "widget/slider.h"
#include "widget/widgetsetup.h"

#include <QCheckBox>
#include <QDebug>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {

// The page's layout: the list sits below the top band, the slider on the page's right edge.
constexpr int PageWidth = 986;
constexpr int PageHeight = 681;
constexpr int MarginLeft = 4;
constexpr int MarginTop = 6;
constexpr int MarginRight = 20;
constexpr int TopBandHeight = 65;
constexpr int BottomBandHeight = 64;
constexpr int ListWidth = 962;
constexpr int ListHeight = 496;

QPushButton* makeButton(QWidget* parent, const char* name, int x, int y, int size, int iconSize)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(x, y, size, size);
    button->setIconSize(QSize(iconSize, iconSize));
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QString& style)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setStyleSheet(style);
    return label;
}

// A colour swatch of the chip legend with its caption.
QWidget* legend(QWidget* parent, const char* name, int x, QLabel** swatch, const char* swatchName,
                const QString& colour, QLabel** caption, const char* captionName, const QString& text)
{
    auto* box = new QWidget(parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(x, 20, 120, 24);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    *swatch = makeLabel(box, swatchName, QString(),
                        QStringLiteral("background-color: ") + colour
                            + QStringLiteral(";\nborder-radius: 5px;\nborder: 1px solid rgb(175, 175, 175);"));
    (*swatch)->setFixedSize(40, 20);
    *caption = makeLabel(box, captionName, text, QStringLiteral("color: rgb(40, 40, 40);"));
    row->addWidget(*swatch);
    row->addWidget(*caption);
    return box;
}

} // namespace

QString Macro::s_lastDelayText;

void Macro::Form::setupUi(QWidget* page)
{
    page->setObjectName(QStringLiteral("Macro"));
    page->setWindowTitle(QStringLiteral("Form"));
    page->resize(PageWidth, PageHeight);
    page->setFont(QFont(QStringLiteral("Consolas")));
    verticalLayout = new QVBoxLayout(page);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setContentsMargins(MarginLeft, MarginTop, MarginRight, MarginTop);
    verticalLayout->setSpacing(0);

    frameTop = new QFrame(page);
    frameTop->setObjectName(QStringLiteral("frameTop"));
    frameTop->setFixedHeight(TopBandHeight);
    frameTop->setFrameShape(QFrame::NoFrame);
    const QString captionStyle = QStringLiteral("color: rgb(70, 70, 70);");
    recorderButton = makeButton(frameTop, "recorderButton", 20, 15, 35, 30);
    recorderButton->setCheckable(true);
    recorderButton->setChecked(false);
    recorderButton->setFocusPolicy(Qt::NoFocus);
    recLabel = makeLabel(frameTop, "recLabel", QStringLiteral("REC"), captionStyle);
    recLabel->setGeometry(62, 22, 60, 21);
    downloadButton = makeButton(frameTop, "downloadButton", 135, 15, 35, 30);
    downloadButton->setFocusPolicy(Qt::NoFocus);
    downloadLabel = makeLabel(frameTop, "downloadLabel", QStringLiteral("DOWNLOAD"), captionStyle);
    downloadLabel->setGeometry(177, 22, 110, 21);
    frameMacroComboBox = new QFrame(frameTop);
    frameMacroComboBox->setObjectName(QStringLiteral("frameMacroComboBox"));
    frameMacroComboBox->setGeometry(330, 21, 137, 24);
    frameMacroComboBox->setFrameShape(QFrame::StyledPanel);
    itemAddButton = makeButton(frameTop, "itemAddButton", 490, 17, 32, 27);
    itemAddButton->setFocusPolicy(Qt::StrongFocus);
    itemPenButton = makeButton(frameTop, "itemPenButton", 530, 17, 32, 27);
    itemPenButton->setFocusPolicy(Qt::StrongFocus);
    itemDelButton = makeButton(frameTop, "itemDelButton", 570, 17, 32, 27);
    itemOtherButton = makeButton(frameTop, "itemOtherButton", 610, 17, 32, 27);
    itemImportButton = makeButton(frameTop, "itemImportButton", 700, 20, 80, 27);
    itemImportButton->resize(80, 25);
    itemImportButton->setText(QStringLiteral("Import"));
    itemExportButton = makeButton(frameTop, "itemExportButton", 790, 20, 80, 27);
    itemExportButton->resize(80, 25);
    itemExportButton->setText(QStringLiteral("Export"));
    verticalLayout->addWidget(frameTop);

    scrollArea = new QScrollArea(page);
    scrollArea->setObjectName(QStringLiteral("scrollArea"));
    scrollArea->setFixedSize(ListWidth, ListHeight);
    scrollArea->setFrameShape(QFrame::Box);
    scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setWidgetResizable(true);
    scrollArea->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scrollArea->setStyleSheet(QStringLiteral("background-color: rgba(0, 0, 0, 0%);"));
    scrollAreaWidgetContents = new QWidget();
    scrollAreaWidgetContents->setObjectName(QStringLiteral("scrollAreaWidgetContents"));
    scrollAreaWidgetContents->setGeometry(0, 0, 1000, 1000);
    scrollArea->setWidget(scrollAreaWidgetContents);
    verticalLayout->addWidget(scrollArea);

    frameBottom = new QFrame(page);
    frameBottom->setObjectName(QStringLiteral("frameBottom"));
    frameBottom->setFixedHeight(BottomBandHeight);
    frameBottom->setFrameShape(QFrame::NoFrame);
    layoutWidget = legend(frameBottom, "layoutWidget", 20, &label, "label", QStringLiteral("rgb(90, 210, 183)"),
                          &downLabel, "downLabel", QStringLiteral("down"));
    layoutWidget1 = legend(frameBottom, "layoutWidget1", 150, &label_3, "label_3", QStringLiteral("rgb(254, 84, 102)"),
                           &upLabel, "upLabel", QStringLiteral("up"));
    layoutWidget_2 = legend(frameBottom, "layoutWidget_2", 280, &label_9, "label_9",
                            QStringLiteral("rgb(241, 159, 21)"), &delayLabel, "delayLabel", QStringLiteral("delay"));
    frame_3 = new QFrame(frameBottom);
    frame_3->setObjectName(QStringLiteral("frame_3"));
    frame_3->setGeometry(560, 10, 400, 44);
    frame_3->setFrameShape(QFrame::NoFrame);
    msecDelaysCheckBox = new QCheckBox(frame_3);
    msecDelaysCheckBox->setObjectName(QStringLiteral("msecDelaysCheckBox"));
    msecDelaysCheckBox->setGeometry(54, 12, 220, 20);
    msecDelaysCheckBox->setFont(QFont(QStringLiteral("Consolas"), 9));
    msecDelaysCheckBox->setText(QStringLiteral("Modify all default delays"));
    msecLineEdit = new QLineEdit(frame_3);
    msecLineEdit->setObjectName(QStringLiteral("msecLineEdit"));
    msecLineEdit->setGeometry(280, 12, 50, 20);
    msecLineEdit->setText(QStringLiteral("1"));
    msecLineEdit->setAlignment(Qt::AlignCenter);
    msecLabel = makeLabel(frame_3, "msecLabel", QStringLiteral("msec"), QString());
    msecLabel->setGeometry(336, 12, 50, 20);
    verticalLayout->addWidget(frameBottom);
    verticalLayout->addStretch();
}

Macro::Macro(QWidget* parent, int value)
    : QWidget(parent)
    , m_form(new Form)
    , m_value(value)
    , m_appDir(appDirPath())
    , m_alterEdit(new QLineEdit)
    , m_data(new Data)
{
    m_form->setupUi(this);
    m_form->scrollAreaWidgetContents->lower();
    std::fill(std::begin(m_prevReport), std::end(m_prevReport), uint8_t(0));

    setLineEditDigits(m_form->msecLineEdit, 5, true);
    createPopup();
    initFonts();
    createComboBox();
    initNameValidator();
    initScrollBar();
    initDrawXMLKeyTimer();
    initDrawDeviceKeyTimer();
    initExportDialog();
    initImportDialog();
    initDelayCheckBox();
    connectButtons();
    connectAlterSignals();

    // Every control starts disabled; the page waits for a keyboard.
    m_listReady = true;
    setAllButtonsEnabled(false);
    m_listReady = false;

    if (g_language) {
        connect(g_language, &Language::LanguageChange, this, &Macro::setLanguage);
        setLanguage(g_language->getLanguageType());
    } else {
        setLanguage(1);
    }
}

Macro::~Macro()
{
    m_drawXMLKeyTimer.stop();
    m_drawDeviceKeyTimer.stop();
    deleteMacroItemAll();
    dropPendingEvents();
    delete m_exportDialog;
    delete m_importDialog;
    delete m_popup; // with the import and export buttons it holds
    delete m_form;
    delete m_data;
}

// ---- taking and releasing the keyboard ---------------------------------------------------------

void Macro::setDevice(QString folder, Device* device)
{
    m_itemFolder = folder + QStringLiteral("item/");
    if (m_ptrDevice || !device)
        return;
    m_ptrDevice = device;
    readKeyboradData(device);
}

void Macro::releaseDevice()
{
    // A recording ends on the keyboard as Exit ends it, while the client is still held.
    if (isRecording())
        setRecording(false);
    // The entry being drawn holds part of the keyboard's macro or of an import file: not the user's work.
    const MacroItem* drawing = nullptr;
    if (m_drawDeviceKeyTimer.isActive())
        drawing = m_drawTarget;
    else if (m_drawXMLKeyTimer.isActive() && !m_items.isEmpty())
        drawing = m_items.last();
    m_drawXMLKeyTimer.stop();
    m_drawDeviceKeyTimer.stop();
    dropPendingEvents();
    m_drawTarget = nullptr;
    disconnect(m_importDrawn);
    setAsideUndelivered(drawing);
    deleteMacroItemAll();
    m_alterEdit->hide();
    m_comboBox->show();
    m_listReady = true;
    setAllButtonsEnabled(false);
    m_listReady = false;
    m_fileInfoList.reset();
    m_ptrDevice = nullptr;
}

void Macro::dropPendingEvents()
{
    qDeleteAll(m_vDataKey);
    m_vDataKey.clear();
    m_drawIndex = 0;
}

// ---- the list -----------------------------------------------------------------------------------

void Macro::readKeyboradData(Device* device)
{
    if (!device)
        return;
    m_readList.clear();
    const int heads = qMin(int(device->m_nKMTotalNum), int(device->m_pKMs.size()));
    for (int i = 0; i < heads; ++i) {
        const km_t& head = device->m_pKMs[size_t(i)];
        if (!head.used())
            continue;
        const QString name = uniqueHeadName(i, head.name(), m_readList);
        m_readList.append(qMakePair(name, head.slotIndex()));
        m_selectorGuard = true;
        m_comboBox->addItem(name);
        m_selectorGuard = false;
    }
    if (!m_readList.isEmpty()) {
        m_listReady = false;
        m_selectorGuard = true;
        m_comboBox->setCurrentIndex(0);
        m_selectorGuard = false;
        m_readIndex = 0;
        emit startReadItemKBDevice();
        return;
    }
    qDebug() << "Macro Keyborad item data = NULL";
    finishListing();
}

QString Macro::uniqueHeadName(int position, const QString& name, const QList<QPair<QString, int>>& listed)
{
    auto isListed = [&listed](const QString& n) {
        return std::any_of(listed.begin(), listed.end(), [&n](const QPair<QString, int>& r) { return r.first == n; });
    };
    if (!name.isEmpty() && !isListed(name))
        return name;
    // An empty or repeated name would make two entries (and their files) one, and a delete by name
    // would clear another slot: the entry gets a name as an added macro does. Listing only reads the
    // keyboard, so the name stays on this side until the user renames or downloads the macro.
    const int slot = m_ptrDevice->m_pKMs[size_t(position)].slotIndex();
    QString fresh = generatedName(slot);
    for (int counter = 0; isDeviceNameUsed(position, fresh) || isListed(fresh); ++counter)
        fresh = QStringLiteral("Macro") + QString::number(counter);
    qDebug() << "macro head" << position << "named" << name << "listed as" << fresh;
    emit updateShortcutsComboboxSetItemText(listed.size(), fresh);
    return fresh;
}

QString Macro::generatedName(int slot) const
{
    return QStringLiteral("Macro") + QString::number(slot);
}

void Macro::writeHeadName(int slot, const QString& name)
{
    if (!m_ptrDevice)
        return;
    uint8_t bytes[16] = {};
    const QByteArray local = name.toLocal8Bit();
    std::memcpy(bytes, local.constData(), size_t(qMin(local.size(), 16)));
    m_ptrDevice->setMacroHeadData(slot, bytes);
}

void Macro::startReadItemKBDeviceSlot()
{
    if (m_readIndex < m_readList.size()) {
        const QPair<QString, int> record = m_readList[m_readIndex];
        qDebug() << "Reading Keyboard Device name is " << record.first;
        readItemKBDevice(record);
        ++m_readIndex;
        emit startReadItemKBDevice();
        return;
    }
    qDebug() << "read macro item KBDevice finished.";
    finishListing();
}

void Macro::finishListing()
{
    restoreUndelivered();
    if (m_items.isEmpty()) {
        showEmptyList();
        return;
    }
    m_items.first()->setSelected(true);
    m_listReady = true;
    m_comboBox->setEnabled(true);
    updateItemButtons();
}

void Macro::readItemKBDevice(const QPair<QString, int>& record)
{
    MacroItem* item = createMacroItem(record.second, record.first);
    item->setEnabled(true);
    int frames = 0;
    if (m_ptrDevice && record.second < int(m_ptrDevice->m_pKMs.size()))
        frames = m_ptrDevice->m_pKMs[size_t(record.second)].frameCount();
    item->setVisibleItem(frames != 0);
}

MacroItem* Macro::createMacroItem(int slot, QString name)
{
    auto* item = new MacroItem(m_form->scrollAreaWidgetContents, slot, name, false, 0);
    item->show();
    m_items.append(item);
    updateItemLayout();
    connect(item, &MacroItem::emitSetSelect, this, &Macro::setItemSelect);
    connect(item, &MacroItem::emitLoadData, this, &Macro::loadDataSlot);
    connect(item->keyLayout(), &KeyLayout::eventsChanged, this, [this, item] { eventsChanged(item); });
    return item;
}

void Macro::deleteMacroItemAt(QString name)
{
    qDebug() << "Delete macro item = " << name;
    const auto it = std::find_if(m_items.begin(), m_items.end(), [&name](MacroItem* i) { return i->name() == name; });
    if (it == m_items.end() || (*it)->index() < 0)
        return;
    MacroItem* item = *it;
    if (m_ptrDevice)
        m_ptrDevice->deleteMacro(item->index());
    if (m_drawTarget == item)
        m_drawTarget = nullptr;
    // Deleted, it stays deleted: the list that remembered it back on the page lets it go.
    forgetBack(item);
    m_items.erase(it);
    delete item;
    updateItemLayout();
}

void Macro::deleteMacroItemAll()
{
    for (MacroItem* item : qAsConst(m_items)) {
        qDebug() << "release id =" << item->index() << "name =" << item->name();
        m_selectorGuard = true;
        const int at = m_comboBox->findText(item->name());
        if (at >= 0)
            m_comboBox->removeItem(at);
        m_selectorGuard = false;
        delete item;
    }
    m_items.clear();
    m_readList.clear();
    m_drawTarget = nullptr;
    qDebug() << "delete macro item all finished.";
}

bool Macro::isItemNameUsed(const QString& name) const
{
    return std::any_of(m_items.begin(), m_items.end(), [&name](const MacroItem* i) { return i->name() == name; });
}

bool Macro::isDeviceNameUsed(int skipSlot, const QString& name) const
{
    if (!m_ptrDevice)
        return false;
    const int heads = qMin(int(m_ptrDevice->m_nKMTotalNum), int(m_ptrDevice->m_pKMs.size()));
    for (int i = 0; i < heads; ++i) {
        if (i != skipSlot && m_ptrDevice->m_pKMs[size_t(i)].name() == name)
            return true;
    }
    return false;
}

void Macro::updateItemLayout()
{
    if (m_items.isEmpty() || !m_scrollBar || !m_slider)
        return;
    const int h = MacroItem::ItemHeight;
    for (int i = 0; i < m_items.size(); ++i)
        m_items[i]->move(0, i * h);
    const int n = m_items.size();
    const int visible = m_form->scrollArea->height();
    int height = n * h + 2 * h + 20;
    if (n * h < visible) {
        height = visible;
        m_slider->setRange(0, 0);
    }
    QWidget* contents = m_form->scrollAreaWidgetContents;
    contents->setMinimumHeight(height);
    contents->setMaximumHeight(height);
    contents->resize(contents->width(), height);
    m_slider->setRange(0, m_scrollBar->maximum());
}

void Macro::scrollToSelectItem(int mode)
{
    if (m_items.isEmpty())
        return;
    int bottom = 0;
    for (const MacroItem* item : qAsConst(m_items)) {
        if (item->isSelected())
            bottom = item->y() + item->height();
    }
    const int visible = m_form->scrollArea->height();
    const int h = MacroItem::ItemHeight;
    int value = 0;
    switch (mode) {
    case 1: value = bottom - visible + 2 * (h - 1) + 22; break;
    case 2: value = bottom - visible + (h - 1) + 11; break;
    case 3: value = bottom - visible; break;
    default: break;
    }
    m_scrollBar->setValue(value);
}

void Macro::addItemSlot()
{
    if (!m_ptrDevice)
        return;
    qDebug() << "m_ptrDevice->m_nKMTotalNum =" << m_ptrDevice->m_nKMTotalNum;
    const int heads = qMin(int(m_ptrDevice->m_nKMTotalNum), int(m_ptrDevice->m_pKMs.size()));
    int position = -1;
    for (int i = 0; i < heads && position < 0; ++i) {
        if (!m_ptrDevice->m_pKMs[size_t(i)].used())
            position = i;
    }
    if (position < 0) {
        qInfo() << "INFO: macro item size is Max.";
        setAddButtonState(false);
        setImportButtonState(false);
        return;
    }
    const int slot = m_ptrDevice->m_pKMs[size_t(position)].slotIndex();
    QString name = generatedName(slot);
    for (int counter = 0; !isNewNameFree(position, name); ++counter)
        name = QStringLiteral("Macro") + QString::number(counter);
    claimHead(position, name);
    qDebug() << "Add Item id=" << slot << "name=" << name;

    MacroItem* item = createMacroItem(slot, name);
    m_comboBox->addItem(name);
    emit item->emitSetSelect(item);
    emit updateShortcutsComboboxAddItem(name);
    item->setSaved(false);
    scrollToSelectItem(2);
    if (m_items.size() == MaxItems) {
        setAddButtonState(false);
        setImportButtonState(false);
    } else {
        setAddButtonState(true);
        setRecordButtonState(true);
        setDownloadButtonState(true);
        setExportButtonState(true);
        setImportButtonState(true);
        setDeleteButtonState(true);
    }
}

void Macro::claimHead(int position, const QString& name)
{
    km_t& head = m_ptrDevice->m_pKMs[size_t(position)];
    head.setUsed(true);
    head.setFrameCount(0);
    m_ptrDevice->setMacroHead(&head);
    m_ptrDevice->selectMacro(uint8_t(position));
    writeHeadName(head.slotIndex(), name);
}

void Macro::deleteItemSlot()
{
    const int index = m_comboBox->currentIndex();
    if (index == -1)
        return;
    const QString name = m_comboBox->currentText();
    m_comboBox->removeItem(index);
    emit updateShortcutsComboboxRemoveItem(index);
    qDebug() << "DEBUG: remove item index the comboBox Item. is " << index;
    deleteMacroItemAt(name);
    qDebug() << "DEBUG: delete directory file name " << name + QStringLiteral(".xml");
    if (isFileName(name) && !m_itemFolder.isEmpty())
        Data::removeFileInDir(m_itemFolder, name + QStringLiteral(".xml"), QStringLiteral("*.xml"));
    if (m_items.isEmpty()) {
        setDownloadButtonState(false);
        setRecordButtonState(false);
        setExportButtonState(false);
        setDeleteButtonState(false);
        setEditButtonState(false);
    } else if (m_items.size() == MaxItems - 1) {
        setAddButtonState(true);
        setImportButtonState(true);
    }
}

void Macro::comboboxCurentTextChangedSlot(QString text)
{
    if (m_selectorGuard)
        return;
    qDebug() << "change comboBox name = " << text;
    for (MacroItem* item : qAsConst(m_items))
        item->setSelected(item->name() == text);
    scrollToSelectItem(2);
    updateItemButtons();
}

void Macro::drawXMLKeySlot()
{
    MacroItem* target = nullptr;
    if (!m_listReady && m_fileIndex >= 0 && m_fileIndex < m_items.size()) {
        target = m_items[m_fileIndex];
    } else if (!m_items.isEmpty()) {
        target = m_items.last();
        qDebug() << "Get macro item last.";
    }
    if (!target)
        return;
    if (m_drawIndex >= m_vDataKey.size()) {
        m_drawXMLKeyTimer.stop();
        emit stopDrawKey();
        setItemEditEnabled(target, true);
        target->keyLayout()->scrollToStart();
        dropPendingEvents();
        // The folder load goes on with the next file once this one is drawn.
        if (m_fileInfoList && !m_listReady) {
            ++m_fileIndex;
            emit startReadItemXml();
        }
        return;
    }
    drawPendingEvent(target);
}

void Macro::drawPendingEvent(MacroItem* target)
{
    if (target->isEnabled())
        target->setEnabled(false);
    const DataKey* event = m_vDataKey[m_drawIndex];
    if (!event) {
        qDebug() << "DEBUG: datakey is NULL, return.";
        return;
    }
    KeyLayout* timeline = target->keyLayout();
    m_quietEdits = true;
    // Placed alone: the 500th chip costs what the first did.
    timeline->appendKey(timeline->createKey(event->status, event->delay, event->code, event->type, event->stype));
    m_quietEdits = false;
    ++m_drawIndex;
    timeline->scrollToEnd();
}
