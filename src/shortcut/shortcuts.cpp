#include "shortcuts.h"

#include "device/device.h"
#include "device/records.h"
#include "device/resultcodes.h"
#include "main/tessark.h"
#include "platform/globalshortcut.h"
#include "shortcut/kfcatalogue.h"
#include "shortcut/shortcutsinputs.h"
#include "shortcut/shortcutsitem.h"
#include "shortcut/shortcutskb.h"
#include "shortcut/storedentries.h"
#include "widget/data.h"
#include "widget/fileguard.h"
#include "widget/filenotice.h"
#include "widget/inputnotice.h"
#include "widget/keybtn.h"
#include "widget/qss.h"
#include "widget/runtime.h"
#include "widget/slider.h"
#include "widget/unreadablefile.h"
#include "platform/savefile.h"

#include <QDebug>
#include <QDomDocument>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The row area's height beyond its last row, and the slider range below the last row's bottom.
constexpr int RowAreaSpare = 243;
constexpr int SliderRangeOffset = 65;
constexpr int InitialSliderOffset = 283;

const char* const LabelStyleEnglish = "border-color: rgb(255, 255, 255);                    "
                                      "background-color: rgb(255, 255, 255);                    "
                                      "border-radius: 0px;                    color: rgb(80, 80, 80);";
const char* const LabelStyleChinese = "border-color: rgb(0, 0, 0);            background-color: rgb(255, 255, 255);"
                                      "            border-radius: 0px;            color: rgb(0, 0, 0);";

// A write that ends with these would end the same way for every later row: the keyboard no longer
// answers, or the device is going away.
bool endsTheRun(uint32_t code)
{
    return code == DeviceResult::Timeout || code == DeviceResult::Stopped;
}

kc_t keyOf(const KeyBtn* cap)
{
    kc_t k;
    if (cap) {
        k.type = uint8_t(cap->type & 7);
        k.stype = uint8_t(cap->stype & 15);
        k.code = cap->code;
    }
    return k;
}

QLabel* headerLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QLatin1String(LabelStyleEnglish));
    label->setFont(QFont(QStringLiteral("Consolas"), 14));
    return label;
}

QFrame* headerLine(QWidget* parent, const char* name)
{
    auto* line = new QFrame(parent);
    line->setObjectName(QLatin1String(name));
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(2);
    line->setFixedWidth(20);
    return line;
}

QPushButton* squareButton(QWidget* parent, const char* name)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setFixedSize(32, 32);
    return button;
}

} // namespace

struct Shortcuts::Form {
    QFrame* frame = nullptr;
    QLabel* label_ShortcutKey = nullptr;
    QFrame* frame_2 = nullptr;
    QLabel* label_Function = nullptr;
    QFrame* frame_3 = nullptr;
    QLabel* label_ParameterSetting = nullptr;
    QScrollArea* scrollArea = nullptr;
    QWidget* scrollAreaWidgetContents = nullptr;
    QLabel* statusBarlabel = nullptr;
    QPushButton* addItemButton = nullptr;
    QPushButton* downloadItemButton = nullptr;
    QPushButton* deleteItemButton = nullptr;

    void setupUi(QWidget* page)
    {
        page->setObjectName(QStringLiteral("Shortcuts"));
        page->setWindowTitle(QStringLiteral("Form"));
        page->resize(927, 390);
        page->setMinimumSize(910, 390);
        page->setMaximumHeight(390);
        auto* column = new QVBoxLayout(page);

        frame = new QFrame(page);
        frame->setObjectName(QStringLiteral("frame"));
        frame->setFixedHeight(35);
        frame->setFrameShape(QFrame::NoFrame);
        auto* header = new QHBoxLayout(frame);
        header->setSpacing(9);
        // The default top and bottom margins would leave the labels less than a 14-point line high.
        const QMargins margins = header->contentsMargins();
        header->setContentsMargins(margins.left(), 4, margins.right(), 4);
        label_ShortcutKey = headerLabel(frame, "label_ShortcutKey");
        label_ShortcutKey->setMinimumWidth(130);
        frame_2 = headerLine(frame, "frame_2");
        label_Function = headerLabel(frame, "label_Function");
        label_Function->setMinimumWidth(130);
        label_Function->setMaximumWidth(120); // the form's own pair: the maximum wins
        frame_3 = headerLine(frame, "frame_3");
        label_ParameterSetting = headerLabel(frame, "label_ParameterSetting");
        label_ParameterSetting->setFixedWidth(260);
        header->addWidget(label_ShortcutKey);
        header->addWidget(frame_2);
        header->addWidget(label_Function);
        header->addWidget(frame_3);
        header->addWidget(label_ParameterSetting);
        column->addWidget(frame);

        scrollArea = new QScrollArea(page);
        scrollArea->setObjectName(QStringLiteral("scrollArea"));
        scrollArea->setMinimumSize(600, 200);
        scrollArea->setFrameShape(QFrame::NoFrame);
        scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scrollArea->setWidgetResizable(true);
        scrollAreaWidgetContents = new QWidget();
        scrollAreaWidgetContents->setObjectName(QStringLiteral("scrollAreaWidgetContents"));
        scrollAreaWidgetContents->setGeometry(0, 0, 907, 275);
        scrollArea->setWidget(scrollAreaWidgetContents);
        column->addWidget(scrollArea);

        auto* bottom = new QHBoxLayout();
        statusBarlabel = new QLabel(page);
        statusBarlabel->setObjectName(QStringLiteral("statusBarlabel"));
        statusBarlabel->setFixedHeight(25);
        statusBarlabel->setMinimumWidth(550);
        statusBarlabel->setMaximumWidth(350); // the form's own pair: the maximum wins
        statusBarlabel->setFont(QFont(QStringLiteral("Consolas"), 9));
        statusBarlabel->setStyleSheet(QStringLiteral("color: rgb(0, 85, 255);"));
        statusBarlabel->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        bottom->addWidget(statusBarlabel);
        auto* grid = new QGridLayout();
        addItemButton = squareButton(page, "addItemButton");
        downloadItemButton = squareButton(page, "downloadItemButton");
        deleteItemButton = squareButton(page, "deleteItemButton");
        grid->addWidget(addItemButton, 0, 0);
        grid->addWidget(downloadItemButton, 0, 1);
        grid->addWidget(deleteItemButton, 0, 2);
        bottom->addLayout(grid);
        column->addLayout(bottom);
    }
};

Shortcuts::Shortcuts(Tessark* parent, QVector<KeyBtn*>* staticKeys)
    : QWidget(parent)
    , m_staticKeys(staticKeys)
{
    m_openGates.fill(OpenGate(1, NotifyOpenGapMs));
    m_form = new Form;
    m_form->setupUi(this);
    setButtonsEnabled(false);

    m_form->scrollAreaWidgetContents->setFixedWidth(width() - 50);
    m_form->scrollArea->setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 255);"));

    m_panel = new ShortcutsKB(nullptr);
    m_panel->hide();

    m_hotKey = new GlobalShortcut(QKeySequence(QStringLiteral("CTRL+D")), this);

    QScrollBar* bar = m_form->scrollArea->verticalScrollBar();
    m_slider = new Slider(this, 1, 0, true);
    m_slider->move(885, 52);
    m_slider->setFixedHeight(290);
    m_slider->setRange(0, m_form->scrollAreaWidgetContents->height() - InitialSliderOffset);
    m_slider->setPageStep(bar->pageStep());
    connect(m_slider, &QSlider::valueChanged, bar, &QScrollBar::setValue);
    connect(bar, &QScrollBar::valueChanged, m_slider, &QSlider::setValue);

    connect(m_form->addItemButton, &QPushButton::pressed, this, &Shortcuts::itemAddButtonSlot);
    connect(m_form->deleteItemButton, &QPushButton::pressed, this, &Shortcuts::itemDeleteButtonSlot);
    connect(m_form->downloadItemButton, &QPushButton::pressed, this, &Shortcuts::itemDownloadButtonSlot);
    connect(m_hotKey, &GlobalShortcut::activated, this, &Shortcuts::togglePanel);
}

Shortcuts::~Shortcuts()
{
    // The panel is a top-level window; deleting it here (not later) leaves nothing behind when the
    // page goes after the event loop has ended.
    delete m_panel;
    m_panel = nullptr;
    delete m_createTimer;
    m_createTimer = nullptr;
    // Rows read the catalogue: they go before it.
    qDeleteAll(m_rows);
    m_rows.clear();
    kfcatalogue::clear(&m_catalogue);
    qDeleteAll(m_texts);
    m_texts.clear();
    delete m_slider;
    m_slider = nullptr;
    delete m_form;
    m_form = nullptr;
}

QPushButton* Shortcuts::addButton() const { return m_form->addItemButton; }
QPushButton* Shortcuts::deleteButton() const { return m_form->deleteItemButton; }
QPushButton* Shortcuts::downloadButton() const { return m_form->downloadItemButton; }
QWidget* Shortcuts::rowArea() const { return m_form->scrollAreaWidgetContents; }
QScrollArea* Shortcuts::scrollArea() const { return m_form->scrollArea; }

void Shortcuts::setButtonEnabled(ButtonKind kind, bool enabled)
{
    QPushButton* button = nullptr;
    QString image;
    switch (kind) {
    case AddButton:
        button = m_form->addItemButton;
        image = QStringLiteral("item-add");
        break;
    case DeleteButton:
        button = m_form->deleteItemButton;
        image = QStringLiteral("item-del");
        break;
    case DownloadButton:
        button = m_form->downloadItemButton;
        image = QStringLiteral("item-download");
        break;
    }
    button->setEnabled(enabled);
    const Qss qss;
    if (enabled)
        qss.setShortcutButtonStyle(button, image + QStringLiteral(".svg"), image + QStringLiteral("-hover.svg"));
    else
        qss.setShortcutButtonStyle(button, image + QStringLiteral("-ban.svg"), image + QStringLiteral("-ban.svg"));
}

void Shortcuts::setButtonsEnabled(bool enabled)
{
    setButtonEnabled(AddButton, enabled);
    setButtonEnabled(DownloadButton, enabled);
    setButtonEnabled(DeleteButton, enabled);
}

int Shortcuts::parseKFXML(QString path)
{
    return kfcatalogue::parse(path, &m_catalogue);
}

bool Shortcuts::knowsFunction(int hi) const
{
    // A row shows and writes only a function the catalogue gives a type it has an editor for.
    const kffunc_t* f = kfcatalogue::functionOfHi(&m_catalogue, hi);
    return f && f->control_type >= E_SCT_WEB && f->control_type <= E_SCT_VKB;
}

const storedentries::Entry* Shortcuts::keptEntry(const kf_t* slot) const
{
    if (!slot || knowsFunction(slot->hi()))
        return nullptr;
    return storedentries::find(m_storedEntries, slot->id(), slot->hi());
}

bool Shortcuts::keepsStoredEntries() const
{
    for (int i = 0; i < slotCount(); ++i) {
        const kf_t& slot = m_device->m_pKFs[size_t(i)];
        if (slot.used() && keptEntry(&slot))
            return true;
    }
    return false;
}

int Shortcuts::keyMapCount() const
{
    if (!m_device || m_device->m_nkcm == 0xFF) // 255: the keyboard gave no valid count
        return 0;
    return m_device->m_nkcm;
}

bool Shortcuts::idInUse(int id) const
{
    for (int i = 0; i < slotCount(); ++i) {
        const kf_t& slot = m_device->m_pKFs[size_t(i)];
        if (slot.used() && slot.id() == id)
            return true;
    }
    return false;
}

int Shortcuts::slotCount() const
{
    if (!m_device)
        return 0;
    return qMin(int(m_device->m_nKFTotalNum), int(m_device->m_pKFs.size()));
}

void Shortcuts::load(const QString& kfFile, const QString& path, QVector<KeyBtn*>* pictureKeys, Device* device)
{
    RunTime stopwatch;
    m_initFinished = false;

    m_unreadInput.clear();
    m_keepBeforeSave = false;
    m_pictureKeys = pictureKeys;
    m_device = device;
    m_path = path;

    // The board record names a file inside config/, nothing else.
    const QString catalogue = appDirPath() + QStringLiteral("/config/") + kfFile;
    if (!FileGuard::isPlainFileName(kfFile)) {
        qWarning().noquote() << "key function catalogue name refused:" << kfFile;
        m_unreadInput = catalogue;
    } else if (parseKFXML(catalogue) != 0) {
        m_unreadInput = catalogue;
    }
    const bool catalogueRead = m_unreadInput.isEmpty();
    checkInputs();

    if (m_device)
        Data::buildShortcutList(m_device->m_pKFs, m_device->m_nKFTotalNum, &m_texts, &m_catalogue);
    Data::parseShortcutsXML(m_path, &m_texts);
    m_storedEntries = storedentries::read(m_path);
    // A catalogue that did not read has been named already; one that reads but lacks what the
    // keyboard holds is named here, once.
    if (catalogueRead && keepsStoredEntries())
        filenotice::catalogueUnmatched(catalogue);

    if (!m_createTimer) {
        m_createTimer = new QTimer(this);
        m_createTimer->setInterval(CreateIntervalMs);
        connect(m_createTimer, &QTimer::timeout, this, &Shortcuts::createItemSlot);
        m_createCount = 0;
        m_createTimer->start();
    }
    setButtonsEnabled(true);
    stopwatch.stop(QStringLiteral("createSotcutsKF"), 1);
}

void Shortcuts::createItemSlot()
{
    const int k = m_createCount;
    if (k < m_texts.size() && m_device) {
        const STCTS* text = m_texts.at(k);
        for (int i = 0; i < slotCount(); ++i) {
            kf_t& slot = m_device->m_pKFs[size_t(i)];
            if (uint32_t(slot.id()) == text->id && uint32_t(slot.hi()) == text->hi) {
                makeOneRow(&slot);
                break;
            }
        }
    }
    ++m_createCount;
    if (m_createCount < m_texts.size())
        return;

    qDebug() << "Shortcuts Create Item finished.";
    if (m_createTimer) {
        m_createTimer->stop();
        m_createTimer->deleteLater(); // this slot runs inside its timeout
        m_createTimer = nullptr;
    }
    m_createCount = 0;
    setButtonsEnabled(true);
    m_initFinished = true;
    // Rows built from an input that did not read would replace what the file holds for them.
    if (m_unreadInput.isEmpty())
        save(m_rows, m_path); // a failure is logged; nobody asked for this save
    m_panel->addButtons(&m_rows);
}

void Shortcuts::checkInputs()
{
    using shortcutsinputs::State;
    const State own = shortcutsinputs::shortcutsState(m_path);
    QString kept;
    if (own == State::Damaged) {
        // Kept before anything can replace it; later saves may, once the copy is there.
        if (!keepUnreadableFile(m_path, &kept))
            m_keepBeforeSave = true;
    }
    // The window's palette gives the rows their key names; a page without one has none to lose.
    const QString statics = m_staticKeys ? shortcutsinputs::staticKeysPath() : QString();
    const bool staticsDamaged = !statics.isEmpty() && shortcutsinputs::xmlState(statics) != State::Read;

    if (m_unreadInput.isEmpty() && staticsDamaged)
        m_unreadInput = statics;
    if (!m_unreadInput.isEmpty()) {
        // The rows lack what the input gave them: their first save keeps the file as it was.
        m_keepBeforeSave = m_keepBeforeSave || own == State::Read;
        filenotice::unreadable(m_unreadInput);
    }
    if (own == State::Damaged) {
        if (m_unreadInput.isEmpty())
            m_unreadInput = m_path;
        // Once a run, as the other inputs: every load of the keyboard reads the file again.
        inputnotice::unreadable(m_path, kept);
    }
}

ShortcutsItem* Shortcuts::createRow(kf_t* slot)
{
    auto* row = new ShortcutsItem(m_form->scrollAreaWidgetContents, slot, m_staticKeys, &m_catalogue, m_pictureKeys,
                                  m_path, m_device);
    m_rows.append(row);
    return row;
}

void Shortcuts::placeRow(ShortcutsItem* row, kf_t* slot)
{
    row->setShortcutsPage(this);
    row->move(0, (m_rows.size() - 1) * row->height());
    const int maps = keyMapCount();
    QVector<bool> states(maps, false);
    for (int i = 0; i < maps && i < 8; ++i)
        states[i] = (slot->mapMask() >> i) & 1;
    row->createGlobuleLayout(maps, states);
}

void Shortcuts::connectRow(ShortcutsItem* row)
{
    connect(row, &ShortcutsItem::emitRequestSave, this, &Shortcuts::requestSaveSlot);
    connect(row, &ShortcutsItem::emitBtnMouseTimerRelease, this, &Shortcuts::shortcutsItemBtnMouseTimerReleaseSlot);
    connect(row, &ShortcutsItem::emitParameterBtnRelease, this, &Shortcuts::parameterBtnReleaseSlot);
}

void Shortcuts::makeOneRow(kf_t* slot)
{
    STCTS* text = nullptr;
    for (STCTS* t : qAsConst(m_texts)) {
        if (t->id == uint32_t(slot->id()) && t->hi == uint32_t(slot->hi())) {
            text = t;
            break;
        }
    }
    if (!text) {
        qDebug().noquote() << "Create One Item failed, Not found id or hi, reutrn; "
                           << "id=" << slot->id() << "hi=" << slot->hi();
        slot->setUsed(false); // the table only: the keyboard keeps its record
        return;
    }
    qDebug().noquote().nospace() << "vShortcuts[" << m_rows.size() << "]"
                                 << " id=" << text->id << " hi=" << text->hi << " control_type=" << text->type;
    ShortcutsItem* row = createRow(slot);
    placeRow(row, slot);
    row->showFunctionEditor(int(text->type), text);
    layoutRows();
    row->connectSignals();
    row->restoreSelectedKey();
    row->setKeyBorder(true);
    row->show();
    connectRow(row);
    row->setInitialized();
}

void Shortcuts::itemAddButtonSlot()
{
    if (m_rows.size() > MaxRows - 1) {
        qDebug().noquote() << "Shortcuts item is Maxnum = " << m_rows.size() << ", return.";
        return;
    }
    kf_t* slot = nullptr;
    for (int i = 0; i < slotCount(); ++i) {
        // The keyboard keeps one record per id: a free record repeating the id of a used one would
        // replace that one with the next download.
        if (!m_device->m_pKFs[size_t(i)].used() && !idInUse(m_device->m_pKFs[size_t(i)].id())) {
            slot = &m_device->m_pKFs[size_t(i)];
            break;
        }
    }
    if (!slot) {
        qDebug() << "Shortcuts add item failed! get kf_id is -1, return.";
        return;
    }
    // The keyboard learns of the slot with the next download.
    for (int j = 0; j < kf_t::TriggerKeys; ++j)
        slot->setKey(j, kc_t());
    slot->setUsed(true);
    slot->setMapMask(0xFF);

    ShortcutsItem* row = createRow(slot);
    qDebug().noquote() << "add item, list->size() = " << m_rows.size() << "id=" << slot->id() << "hi=" << slot->hi();
    placeRow(row, slot);
    row->setFunctionIndex(0);
    row->showFunctionEditor(m_catalogue.isEmpty() || !m_catalogue.first() ? int(E_SCT_NONE)
                                                                          : m_catalogue.first()->control_type,
                            nullptr);
    row->connectSignals();
    row->restoreSelectedKey();
    row->setKeyBorder(true);
    row->setInitialized();
    row->addBtnSlot();
    connectRow(row);
    row->show();
    layoutRows();

    QScrollBar* bar = m_form->scrollArea->verticalScrollBar();
    const int h = row->height();
    if (bar->value() < bar->maximum() - 5 * h)
        bar->setValue(bar->maximum() - h);

    if (m_rows.size() == MaxRows)
        setButtonEnabled(AddButton, false);
}

void Shortcuts::itemDeleteButtonSlot()
{
    for (int i = 0; i < m_rows.size();) {
        ShortcutsItem* row = m_rows.at(i);
        kf_t* slot = row->record();
        if (!row->isChecked() || !slot || !m_device) {
            ++i;
            continue;
        }
        // The table changes only once the keyboard has taken the change.
        kf_t freed = *slot;
        freed.setUsed(false);
        const quint64 generation = m_generation;
        const uint32_t result = m_device->setKFItem(&freed);
        // Its failure box runs an event loop, in which an unplug deletes the rows and the table.
        if (generation != m_generation) {
            qWarning() << "key function delete ended: the keyboard left while a box was open";
            return;
        }
        if (result != DeviceResult::Ok) {
            qWarning("key function slot %d not deleted, code 0x%08x", slot->id(), result);
            if (endsTheRun(result))
                break;
            ++i;
            continue;
        }
        slot->setUsed(false);
        qDebug().noquote() << "Delete select shortcuts item=" << i << "size=" << m_rows.size() << "id=" << slot->id();
        m_rows.removeAt(i);
        delete row;
    }
    layoutRows();
    if (m_rows.size() < MaxRows)
        setButtonEnabled(AddButton, true);
    saveAndRebuildPanel();
}

void Shortcuts::layoutRows()
{
    int bottom = 0;
    for (int i = 0; i < m_rows.size(); ++i) {
        ShortcutsItem* row = m_rows.at(i);
        row->move(0, i * row->height());
        bottom = row->geometry().bottom() + 1;
    }
    m_form->scrollAreaWidgetContents->setMinimumHeight(bottom + RowAreaSpare);
    m_slider->setRange(0, bottom - SliderRangeOffset);
    m_slider->setPageStep(m_form->scrollArea->verticalScrollBar()->pageStep());
}

void Shortcuts::saveAndRebuildPanel()
{
    // The keyboard may already hold what was not saved: the user must know the file is behind.
    if (save(m_rows, m_path) == -2)
        filenotice::saveFailed(m_path, m_saveError);
    m_panel->addButtons(&m_rows);
}

void Shortcuts::deleteKF()
{
    ++m_generation;
    if (m_createTimer) {
        m_createTimer->stop();
        delete m_createTimer;
        m_createTimer = nullptr;
    }
    setButtonsEnabled(false);
    // A row's record lies in the device's table, which may be gone already: only the row is touched.
    for (int i = 0; i < m_rows.size(); ++i) {
        qDebug("Delete shortcuts item %d", i);
        delete m_rows.at(i);
    }
    m_rows.clear();
    layoutRows();
    // What a burst left unopened is told now; the next keyboard's rows open at their first notification.
    for (int id = 0; id < SlotIds; ++id) {
        logSkippedNotifications(id);
        m_openGates[size_t(id)].clear();
    }
    logSkippedNotifications(AllRows);
    kfcatalogue::clear(&m_catalogue);
    qDeleteAll(m_texts);
    m_texts.clear();
    m_storedEntries.clear();
    m_path.clear();
    // The device and its picture go away with the keyboard.
    m_device = nullptr;
    m_pictureKeys = nullptr;
}

void Shortcuts::clearVirtualKeyboard()
{
    if (!m_panel)
        return;
    m_panel->hide();
    m_panel->clearButtons();
}

void Shortcuts::togglePanel()
{
    if (!m_panel)
        return;
    if (m_panel->isVisible())
        m_panel->hide();
    else if (m_panel->buttonCount() > 0)
        m_panel->showAtDefaultPosition();
}

void Shortcuts::setLanguage(int type)
{
    const bool chinese = type == 0;
    m_form->label_ShortcutKey->setText(chinese ? QStringLiteral("快捷键") : QStringLiteral("Shortcut key"));
    m_form->label_Function->setText(chinese ? QStringLiteral("功能") : QStringLiteral("Function"));
    m_form->label_ParameterSetting->setText(chinese ? QStringLiteral("参数设置")
                                                    : QStringLiteral("Parameter setting"));
    m_form->addItemButton->setToolTip(chinese ? QStringLiteral("添加") : QStringLiteral("Add"));
    m_form->downloadItemButton->setToolTip(chinese ? QStringLiteral("下载") : QStringLiteral("Download"));
    m_form->deleteItemButton->setToolTip(chinese ? QStringLiteral("删除") : QStringLiteral("Delete"));
    const QString style = QLatin1String(chinese ? LabelStyleChinese : LabelStyleEnglish);
    for (QLabel* label : {m_form->label_ShortcutKey, m_form->label_Function, m_form->label_ParameterSetting})
        label->setStyleSheet(style);
}

void Shortcuts::updateMacroCBAddItem(QString name)
{
    for (ShortcutsItem* row : qAsConst(m_rows))
        row->updateMacroCBAddItem(name);
}

void Shortcuts::updateMacroCBRemoveItem(int index)
{
    for (ShortcutsItem* row : qAsConst(m_rows))
        row->updateMacroCBRemoveItem(index);
}

void Shortcuts::updateMacroCBSetItemText(int index, QString name)
{
    for (ShortcutsItem* row : qAsConst(m_rows))
        row->updateMacroCBSetItemText(index, name);
}

void Shortcuts::barValueSlot(int value)
{
    const QScrollBar* bar = m_form->scrollArea->verticalScrollBar();
    qDebug().noquote() << value << (bar->isSliderDown() ? "true" : "false") << bar->value()
                       << m_form->scrollAreaWidgetContents->height();
}

void Shortcuts::requestSaveSlot()
{
    saveAndRebuildPanel();
}

void Shortcuts::shortcutsItemBtnMouseTimerReleaseSlot(bool on)
{
    for (ShortcutsItem* row : qAsConst(m_rows))
        row->setKeyBorder(on);
}

void Shortcuts::shortcutsItemReleaseSelectDynamicLayoutKey()
{
    for (ShortcutsItem* row : qAsConst(m_rows))
        row->clearSelectedKey();
}

void Shortcuts::parameterBtnReleaseSlot(bool on)
{
    for (ShortcutsItem* row : qAsConst(m_rows))
        row->setLockKeyBorder(on);
}

// ---- shortcuts.xml ------------------------------------------------------------------------------

namespace {

void addListKeys(QDomElement* element, const QVector<KeyBtn*>& keys)
{
    for (int j = 0; j < keys.size() && j < kf_t::ParamKeys; ++j) {
        const KeyBtn* key = keys.at(j);
        if (key && key->name() != QLatin1String(" "))
            element->setAttribute(QStringLiteral("b") + QString::number(j), key->name());
    }
}

} // namespace

int Shortcuts::save(const QList<ShortcutsItem*>& rows, const QString& path)
{
    if (!m_initFinished) {
        qInfo() << "INFO: The shortcuts is'nt init finished.";
        return -1;
    }
    // Refused before a copy of what the link names is kept: that is not the user's file here.
    if (SaveFile::isLinkAtName(path)) {
        m_saveError = QStringLiteral("a link stands at the name; it is left alone");
        qWarning().noquote() << QStringLiteral("shortcuts.xml not saved: \"%1\": %2").arg(path, m_saveError);
        return -2;
    }
    if (m_keepBeforeSave && path == m_path) {
        // What the rows could not take from a damaged input is only in the file now.
        const QFileInfo info(path);
        QString kept;
        if (!keepUnreadableFile(path, &kept) && info.isFile() && info.size() > 0) {
            m_saveError = QStringLiteral("no copy of the file as it was could be kept");
            qWarning().noquote() << QStringLiteral("shortcuts.xml not saved: \"%1\": %2").arg(path, m_saveError);
            return -2;
        }
        if (!kept.isEmpty())
            filenotice::keptBeforeSave(path, kept);
        m_keepBeforeSave = false;
    }
    // A failed write keeps the previous file whole.
    SaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_saveError = file.errorString();
        qWarning().noquote() << QStringLiteral("shortcuts.xml not saved: \"%1\": %2").arg(path, m_saveError);
        return -2;
    }

    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"),
                                                    QStringLiteral("version = '1.0' encoding = 'UTF-8'")));
    QDomElement root = doc.createElement(QStringLiteral("shortcuts"));
    doc.appendChild(root);
    const quint64 generation = m_generation;
    // Rows whose function the catalogue does not know: their entries go back as they were read,
    // in place of an empty element of their name.
    QVector<QPair<int, QString>> kept;
    for (int i = 0; i < rows.size(); ++i) {
        ShortcutsItem* row = rows.at(i);
        QDomElement item = doc.createElement(QStringLiteral("item") + QString::number(i));
        if (const storedentries::Entry* entry = keptEntry(row->record())) {
            kept.append({i, storedentries::renamed(*entry, item.tagName())});
            root.appendChild(item);
            continue;
        }
        item.setAttribute(QStringLiteral("id"), row->record() ? row->record()->id() : -1);
        const QVector<KeyBtn*>& caps = row->keyList();
        for (int j = 0; j < kf_t::TriggerKeys; ++j)
            item.setAttribute(QStringLiteral("btn") + QString::number(j),
                              j < caps.size() && caps.at(j) ? caps.at(j)->alias() : QString());
        // Each lookup may show a box, in whose event loop an unplug deletes the rows.
        const int hi = row->getMenuIndex();
        // A failed name lookup has told the user already; the type lookup would only repeat it.
        const int type = hi < 0 || generation != m_generation ? -1 : row->getFunctionType();
        if (generation != m_generation) {
            qWarning().noquote() << "shortcuts.xml not written: the keyboard left while a box was open:" << path;
            return -3;
        }
        item.setAttribute(QStringLiteral("hi"), hi);
        item.setAttribute(QStringLiteral("hitype"), type);

        QDomElement child;
        switch (type) {
        case E_SCT_WEB:
            child = doc.createElement(QStringLiteral("Website"));
            child.setAttribute(QStringLiteral("web"), row->getWebsite());
            break;
        case E_SCT_EDIT:
            child = doc.createElement(QStringLiteral("DocApp"));
            child.setAttribute(QStringLiteral("dir"), row->getDocumentPath());
            break;
        case E_SCT_FOLDER:
            child = doc.createElement(QStringLiteral("FileFolder"));
            child.setAttribute(QStringLiteral("dir"), row->getFolderPath());
            break;
        case E_SCT_LED:
            if (row->getLedBrightness() != -1) {
                child = doc.createElement(QStringLiteral("LEDBrightness"));
                child.setAttribute(QStringLiteral("index"), row->getLedBrightness());
            }
            break;
        case E_SCT_REPKEY:
            if (!row->replKeyList().isEmpty()) {
                child = doc.createElement(QStringLiteral("ReplaceKey"));
                addListKeys(&child, row->replKeyList());
            }
            break;
        case E_SCT_LOCKKEY:
            if (!row->lockKeyList().isEmpty()) {
                child = doc.createElement(QStringLiteral("LockKey"));
                addListKeys(&child, row->lockKeyList());
            }
            break;
        case E_SCT_MACRO:
            child = doc.createElement(QStringLiteral("Macro"));
            child.setAttribute(QStringLiteral("menuid"), row->getMacroName());
            child.setAttribute(QStringLiteral("number"), row->getMacroRepeat());
            break;
        default:
            break;
        }
        if (!child.isNull())
            item.appendChild(child);
        root.appendChild(item);
    }

    QString text;
    QTextStream stream(&text);
    doc.save(stream, 4, QDomNode::EncodingFromDocument);
    stream.flush();
    // Each empty element stands alone on its line, after every row above it: the search goes on from
    // the last entry put back, never into one.
    int from = 0;
    for (const QPair<int, QString>& entry : qAsConst(kept)) {
        const QString empty = QStringLiteral("<item%1/>").arg(entry.first);
        const int at = text.indexOf(empty, from);
        if (at < 0)
            break;
        text.replace(at, empty.size(), entry.second);
        from = at + entry.second.size();
    }
    const QByteArray bytes = text.toUtf8();
    // A full disk can fail the buffered flush and still let commit() replace the file.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        m_saveError = file.errorString();
        file.cancelWriting();
        qWarning().noquote() << QStringLiteral("shortcuts.xml not saved: \"%1\": %2").arg(path, m_saveError);
        return -2;
    }
    return 0;
}

// ---- download and notifications ---------------------------------------------------------------

void Shortcuts::endRow(ShortcutsItem* row, bool untick)
{
    if (untick)
        row->markChanged(false);
    row->restoreSelectedKey();
    row->setKeyBorder(true);
    row->downloading = false;
}

Shortcuts::RowResult Shortcuts::downloadRow(ShortcutsItem* row)
{
    kf_t* slot = row->record();
    if (!slot)
        return RowResult::Kept;
    // The lookups and the write may each show a box, in whose event loop an unplug deletes the row,
    // the slot table and the device.
    const quint64 generation = m_generation;
    const int hi = row->getMenuIndex();
    if (generation != m_generation)
        return RowResult::Abandoned;
    if (hi < 0) {
        // Writing a made-up number would replace the keyboard's function with none.
        qWarning("key function slot %d: no function chosen, not written", slot->id());
        return RowResult::Kept;
    }

    // The new record is built aside: the table takes it only once the keyboard has.
    kf_t record = *slot;
    record.setHi(hi & 0x3F);
    record.setKeyCount(0);
    record.setFlag(true);

    const QByteArray states = row->globuleStates();
    uint8_t mask = 0;
    for (int i = 0; i < states.size() && i < 8; ++i) {
        if (states.at(i) == '1')
            mask = uint8_t(mask | (1u << i));
    }
    record.setMapMask(mask);
    qDebug().noquote() << "num = 0x" + QString::number(mask, 16);

    const QVector<KeyBtn*>& caps = row->keyList();
    int count = 0;
    for (int j = 0; j < caps.size() && j < kf_t::TriggerKeys; ++j) {
        const kc_t key = keyOf(caps.at(j));
        record.setKey(j, key);
        if (key.type != 0)
            count = (count + 1) & 7;
        qDebug().noquote() << "type=" << key.type << "stype=" << key.stype << "code=0x" + QString::number(key.code, 16);
    }
    record.setKeyCount(count);

    const int type = row->getFunctionType();
    if (generation != m_generation)
        return RowResult::Abandoned;
    switch (type) {
    case E_SCT_WEB:
        record.setUsed(true);
        qDebug().noquote() << "       web=" + row->getWebsite();
        break;
    case E_SCT_EDIT:
        record.setUsed(true);
        qDebug().noquote() << "       dir=" + row->getDocumentPath();
        break;
    case E_SCT_FOLDER:
        record.setUsed(true);
        qDebug().noquote() << "       dir=" + row->getFolderPath();
        break;
    case E_SCT_LED: {
        const int option = row->getLedBrightness();
        if (option == -1)
            break;
        record.setUsed(true);
        record.setOption(uint32_t(option));
        qDebug().noquote() << "       Combox current index=" << option;
        break;
    }
    case E_SCT_REPKEY:
    case E_SCT_LOCKKEY: {
        const bool replacement = type == E_SCT_REPKEY;
        const QVector<KeyBtn*>& list = replacement ? row->replKeyList() : row->lockKeyList();
        if (list.isEmpty())
            break;
        record.setUsed(true);
        if (replacement)
            record.setFlag(false);
        for (int j = 0; j < list.size() && j < kf_t::ParamKeys; ++j) {
            const KeyBtn* cap = list.at(j);
            const kc_t key = keyOf(cap);
            record.setParamKey(j, key);
            if (!cap || cap->name() == QLatin1String(" "))
                continue;
            qDebug().noquote() << (replacement ? " btn=" : "       btn=") << j << (replacement ? "stype=" : "   stype=")
                               << key.stype << "type=" << key.type << "code=0x" + QString::number(key.code, 16)
                               << cap->name();
        }
        break;
    }
    case E_SCT_MACRO: {
        const QString name = row->getMacroName();
        const int repeat = row->getMacroRepeat();
        // Only a named macro in use can be bound; a row without a name binds nothing.
        if (name.isEmpty() || !m_device)
            break;
        const int heads = qMin(int(m_device->m_nKMTotalNum), int(m_device->m_pKMs.size()));
        for (int i = 0; i < heads; ++i) {
            const km_t& head = m_device->m_pKMs[size_t(i)];
            if (!head.used() || head.name().isEmpty())
                continue;
            qDebug().noquote() << "i=" << i << "name=" << head.name() << "--" << name << "number=" << repeat;
            if (head.name() == name) {
                record.setUsed(true);
                record.setMacroId(uint32_t(head.bytes[0] & 0x3F));
                record.setRepeat(uint32_t(repeat));
                break;
            }
        }
        break;
    }
    case E_SCT_SWAP: {
        const int one = row->getSwapOne();
        const int two = row->getSwapTwo();
        if (one == two) {
            qDebug() << "Error: swap1 == swap2";
            return RowResult::StopAtOnce;
        }
        qDebug().noquote() << "       swap1 =" << one << " swap2 =" << two;
        record.setUsed(true);
        record.setSwap1(uint32_t(one) & 0xFF);
        record.setSwap2(uint32_t(two) & 0xFF);
        break;
    }
    case E_SCT_VKB:
        record.setHi(7);
        qDebug() << "E_SCT_VKB";
        record.setUsed(true);
        break;
    default:
        break;
    }

    const uint32_t result = m_device ? m_device->setKFItem(&record) : DeviceResult::Stopped;
    if (generation != m_generation)
        return RowResult::Abandoned;
    if (result != DeviceResult::Ok) {
        qWarning("key function slot %d not written, code 0x%08x", slot->id(), result);
        return endsTheRun(result) ? RowResult::StopAndSave : RowResult::Kept;
    }
    *slot = record;
    return RowResult::Written;
}

void Shortcuts::itemDownloadButtonSlot()
{
    qDebug() << "-------------------download data slot-------------------";
    for (ShortcutsItem* row : qAsConst(m_rows)) {
        row->downloading = true;
        if (!row->isChecked()) {
            endRow(row, true);
            continue;
        }
        const RowResult result = downloadRow(row);
        if (result == RowResult::Abandoned) {
            // Rows, table and path are gone: nothing is unticked, saved or marked written.
            qWarning() << "key function download ended: the keyboard left while a box was open";
            return;
        }
        if (result == RowResult::StopAtOnce) {
            // The row stays as the user left it, ticked; nothing below it is touched.
            row->downloading = false;
            return;
        }
        endRow(row, result == RowResult::Written);
        if (result == RowResult::StopAndSave)
            break;
    }
    saveAndRebuildPanel();
    qDebug() << "--------------------------------------------------------";
}

void Shortcuts::onNotify(int id, int hi)
{
    for (ShortcutsItem* row : qAsConst(m_rows)) {
        const kf_t* slot = row->record();
        if (slot && slot->id() == id && slot->hi() == hi) {
            // One row per slot id: its gate is the id's; all rows share the second. Passed before the
            // opening, which may show a box in whose event loop the next notification is handled.
            for (const int g : {int(slot->id()), AllRows}) {
                if (!gate(g).isOpen()) {
                    if (gate(g).held++ == 0)
                        tellSkippedWhenGateOpens(g);
                    return;
                }
            }
            logSkippedNotifications(id);
            logSkippedNotifications(AllRows);
            gate(id).pass();
            gate(AllRows).pass();
            qDebug("id=%d-%d hi=%d-%d", id, id, hi, hi);
            row->executeCommandSlot();
            return;
        }
    }
}

void Shortcuts::tellSkippedWhenGateOpens(int id)
{
    // A coarse timer may fire a little early: a line told while the gate is still shut would be followed
    // by a second one for the same span.
    QTimer::singleShot(int(gate(id).msUntilOpen()), Qt::PreciseTimer, this, [this, id] {
        if (gate(id).held > 0 && !gate(id).isOpen())
            tellSkippedWhenGateOpens(id);
        else
            logSkippedNotifications(id);
    });
}

void Shortcuts::logSkippedNotifications(int id)
{
    if (id < AllRows || id >= SlotIds)
        return;
    OpenGate& g = gate(id);
    // Ordinary lines, not outcomes: a stream of presses must not use up the log's room kept past its bound.
    if (g.held > 0 && id == AllRows)
        qDebug("key functions: %d notifications past %d openings a second of all rows together, not opened",
              g.held, NotifyOpensPerSecond);
    else if (g.held > 0)
        qDebug("key function slot %d: %d notifications within %d ms of its opening, not opened again", id, g.held,
              NotifyOpenGapMs);
    g.held = 0;
}
