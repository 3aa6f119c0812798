#include "shortcutsitem.h"

#include "device/device.h"
#include "platform/desktopopen.h"
#include "shortcut/globulelayout.h"
#include "shortcut/kfcatalogue.h"
#include "shortcut/shortcuts.h"
#include "widget/combobox.h"
#include "widget/data.h"
#include "widget/filechooser.h"
#include "widget/keybtn.h"
#include "widget/lineedit.h"
#include "widget/qss.h"
#include "widget/runtime.h"
#include "widget/staticdialog.h"

#include <QCheckBox>
#include <QDebug>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

#include <algorithm>

namespace {
constexpr int KeyWidth = 40;
constexpr int KeyHeight = 38;
const QColor EditText(QStringLiteral("#282828"));
const QColor EditBorder(125, 125, 125);
// The standard editor box: 70 % of the 385 x 40 parameter frame, centred vertically.
const QRect EditorBox(2, 6, 269, 28);

const QString Blank = QStringLiteral(" ");

bool isBlank(const KeyBtn* key) { return key->type == 0 && key->stype == 0 && key->code == 0; }
bool sameKey(const KeyBtn* a, const KeyBtn* b)
{
    return a->code == b->code && a->type == b->type && a->stype == b->stype;
}
// Palette entries that stand for no key at all: the picker refuses them.
bool isUnpickable(const KeyBtn* key)
{
    return (key->code == 0 || key->code == 0xF0) && key->type == 0 && key->stype == 0;
}
int openCount(const QVector<KeyBtn*>& keys)
{
    int n = 0;
    for (const KeyBtn* k : keys)
        n += k->isMarked() ? 1 : 0;
    return n;
}
// Copies what a list key shows and sends from a filled key, and opens it.
void copyListKey(KeyBtn* to, const KeyBtn* from)
{
    to->setImage(from->image());
    to->type = from->type;
    to->stype = from->stype;
    to->code = from->code;
    to->setAlias(from->alias());
    to->setName(from->name());
    to->setMarked(true);
    to->setShowAlias(true);
    to->update();
}
}

ShortcutsItem::ShortcutsItem(QWidget* parent, kf_t* record, QVector<KeyBtn*>* staticKeys,
                             QVector<kffunc_t*>* catalogue, QVector<KeyBtn*>* pictureKeys, QString filePath,
                             Device* device)
    : QWidget(parent),
      m_record(record),
      m_catalogue(catalogue),
      m_pictureKeys(pictureKeys),
      m_staticKeys(staticKeys),
      m_filePath(std::move(filePath)),
      m_device(device)
{
    buildForm();

    if (m_pictureKeys) {
        for (KeyBtn* key : *m_pictureKeys) {
            if (key)
                connect(key, &KeyBtn::emitClickKeyBtnSignal, this, &ShortcutsItem::dynClickKeySlot);
        }
    }

    m_keyPlaceholder = new KeyBtn(this);
    m_keyPlaceholder->hide();
    m_selectedKey = m_keyPlaceholder;
    m_listPlaceholder = new KeyBtn(this);
    m_listPlaceholder->hide();
    m_selectedListKey = m_listPlaceholder;

    createFunctionMenu();

    const Qss qss;
    qss.setAccentButtonStyle(m_btnAdd, 10, 75, QStringLiteral("+"));
    qss.setAccentButtonStyle(m_btnDelete, 10, 75, QStringLiteral("-"));
    setKeyFrameCursor(Qt::ForbiddenCursor);

    createTriggerKeys();
    refreshKeyRow();

    connect(m_checkBox, &QCheckBox::toggled, this, &ShortcutsItem::checkBoxSlot);
    qss.setCheckBoxStyle(m_checkBox, QStringLiteral("color"), QStringLiteral("checked.svg"), 9, QColor(170, 170, 170),
                         QColor(QStringLiteral("#000")));
    qss.setFrameSelectStyle(m_selectFrame, false, 0);
}

ShortcutsItem::~ShortcutsItem()
{
    delete m_globules;
    m_globules = nullptr;
    // The picker has no parent: it would outlive the row.
    delete m_staticDialog;
    m_staticDialog = nullptr;
    deleteEditorsBut(0);
}

void ShortcutsItem::buildForm()
{
    resize(RowWidth, RowHeight);
    setMaximumWidth(1000);

    m_selectFrame = new QFrame(this);
    m_selectFrame->setObjectName(QStringLiteral("selectFrame"));
    m_selectFrame->setFrameShape(QFrame::StyledPanel);
    m_selectFrame->setFrameShadow(QFrame::Raised);
    m_selectFrame->setGeometry(25, 2, 851, 54);

    m_globuleButton = new QPushButton(m_selectFrame);
    m_globuleButton->setObjectName(QStringLiteral("globuleButton"));
    m_globuleButton->setCheckable(true);
    m_globuleButton->setGeometry(5, 18, 17, 17);

    auto* layoutWidget = new QWidget(m_selectFrame);
    layoutWidget->setObjectName(QStringLiteral("layoutWidget"));
    layoutWidget->setGeometry(29, 7, 198, 40);
    auto* keyLayout = new QHBoxLayout(layoutWidget);
    keyLayout->setObjectName(QStringLiteral("horizontalLayout"));
    keyLayout->setSpacing(2);
    keyLayout->setContentsMargins(0, 0, 0, 0);
    QFont separatorFont;
    separatorFont.setPointSize(12);
    for (int j = 0; j < 4; ++j) {
        if (j > 0) {
            auto* label = new QLabel(QStringLiteral("|"), layoutWidget);
            label->setObjectName(QStringLiteral("label_%1").arg(j));
            label->setMinimumWidth(8);
            label->setMaximumWidth(20);
            label->setFont(separatorFont);
            label->setStyleSheet(QStringLiteral("color: rgb(168, 168, 168);"));
            label->setAlignment(Qt::AlignCenter);
            keyLayout->addWidget(label);
            m_separators.append(label);
        }
        auto* frame = new QFrame(layoutWidget);
        frame->setObjectName(QStringLiteral("btn_%1").arg(j));
        frame->setFrameShape(QFrame::NoFrame);
        frame->setFixedSize(KeyWidth, KeyHeight);
        keyLayout->addWidget(frame);
        m_keyFrames[j] = frame;
    }

    m_btnAdd = new QPushButton(QStringLiteral("+"), m_selectFrame);
    m_btnAdd->setObjectName(QStringLiteral("btn_add"));
    m_btnAdd->setGeometry(235, 10, 18, 18);
    m_btnDelete = new QPushButton(QStringLiteral("-"), m_selectFrame);
    m_btnDelete->setObjectName(QStringLiteral("btn_delete"));
    m_btnDelete->setGeometry(235, 27, 18, 17);

    m_functionFrame = new QFrame(m_selectFrame);
    m_functionFrame->setObjectName(QStringLiteral("function"));
    m_functionFrame->setFrameShape(QFrame::StyledPanel);
    m_functionFrame->setFrameShadow(QFrame::Raised);
    m_functionFrame->setGeometry(265, 13, 180, 30);
    m_functionFrame->setFixedSize(180, 30);
    m_functionFrame->setStyleSheet(
        QStringLiteral("QFrame#function{ border-radius: 0; background-color: rgb(255, 255, 255);} "));

    m_parameterFrame = new QFrame(m_selectFrame);
    m_parameterFrame->setObjectName(QStringLiteral("parameter"));
    m_parameterFrame->setFrameShape(QFrame::NoFrame);
    m_parameterFrame->setGeometry(460, 7, 385, 40);
    m_parameterFrame->setFixedSize(385, 40);
    // The editors place themselves; the layout only gives the frame its form.
    auto* parameterLayout = new QHBoxLayout(m_parameterFrame);
    parameterLayout->setObjectName(QStringLiteral("horizontalLayout_3"));
    parameterLayout->setSpacing(2);
    parameterLayout->setContentsMargins(0, 0, 0, 0);

    m_checkBox = new QCheckBox(this);
    m_checkBox->setObjectName(QStringLiteral("checkBox"));
    m_checkBox->setGeometry(3, 16, 25, 25);
    m_checkBox->setFixedSize(25, 25);
    m_checkBox->setChecked(false);
}

void ShortcutsItem::createFunctionMenu()
{
    m_functionMenu = new ComboBox(m_functionFrame, 10, false);
    m_functionMenu->resize(m_functionFrame->size());
    m_functionMenu->show();
    if (m_catalogue) {
        for (const kffunc_t* f : *m_catalogue) {
            if (f && f->enable)
                m_functionMenu->addItem(f->name);
        }
    }
    connect(m_functionMenu, &QComboBox::currentTextChanged, this, &ShortcutsItem::setFunctionTextSlot);
    // A name the menu lacks ("none", or a function it doesn't offer) keeps the first entry.
    if (m_record)
        m_functionMenu->setCurrentText(kfcatalogue::nameOfHi(m_catalogue, m_record->hi()));
}

void ShortcutsItem::createTriggerKeys()
{
    for (int j = 0; j < kf_t::TriggerKeys; ++j) {
        auto* key = new KeyBtn(m_keyFrames[j]);
        if (m_staticKeys && m_record)
            fillKey(key, m_record->key(j));
        else
            clearKeybtn(key);
        key->resize(KeyWidth, KeyHeight);
        key->setShowAlias(true);
        m_keys.append(key);
    }
}

void ShortcutsItem::fillKey(KeyBtn* key, const kc_t& kc)
{
    if (kc.isEmpty())
        clearKeybtn(key);
    else
        Data::selectStaticBtn(key, &kc, m_staticKeys);
}

// ---- page interface ---------------------------------------------------------------------------

void ShortcutsItem::createGlobuleLayout(int count, QVector<bool> states)
{
    Qss().setGlobuleShowStyle(m_globuleButton, false);
    m_globuleButton->setCheckable(true);
    connect(m_globuleButton, &QPushButton::clicked, this, &ShortcutsItem::globuleButtonSlot, Qt::UniqueConnection);
    delete m_globules;
    m_globules = new GlobuleLayout(this, count);
    m_globules->initGlobules(states, 290, height() - 2);
    m_globules->move(52, (height() - m_globules->height()) / 2);
    m_globules->hide();
}

void ShortcutsItem::connectSignals()
{
    connect(&m_cursorTimer, &QTimer::timeout, this, &ShortcutsItem::mouseStatusTimeroutSlot, Qt::UniqueConnection);
    connect(m_btnDelete, &QPushButton::pressed, this, &ShortcutsItem::deleteBtnSlot, Qt::UniqueConnection);
    connect(m_btnAdd, &QPushButton::pressed, this, &ShortcutsItem::addBtnSlot, Qt::UniqueConnection);
    if (m_globules)
        connect(m_globules, &GlobuleLayout::emitGlobuleChange, this, &ShortcutsItem::globuleChangeSlot,
                Qt::UniqueConnection);
    for (KeyBtn* key : m_keys) {
        connect(key, &KeyBtn::emitClickKeyBtnSignal, this, &ShortcutsItem::setBtnSlot, Qt::UniqueConnection);
        connect(key, &KeyBtn::emitSetOtherMouseBoader, this, &ShortcutsItem::setVectorButtonOtherMouseBoader,
                Qt::UniqueConnection);
    }
}

void ShortcutsItem::setFunctionIndex(int index) { m_functionMenu->setCurrentIndex(index); }

void ShortcutsItem::markChanged(bool state)
{
    if (m_initialized)
        m_checkBox->setChecked(state);
}

bool ShortcutsItem::isChecked() const { return m_checkBox->isChecked(); }

void ShortcutsItem::tick()
{
    if (m_initialized)
        m_checkBox->setChecked(true);
}

int ShortcutsItem::getMenuIndex() { return kfcatalogue::hiOfName(m_catalogue, m_functionMenu->currentText(), this); }

int ShortcutsItem::getFunctionType()
{
    return kfcatalogue::typeOfName(m_catalogue, m_functionMenu->currentText(), this);
}

QString ShortcutsItem::menuFunctionName() const { return m_functionMenu->currentText(); }

int ShortcutsItem::menuCataloguePosition() const
{
    if (!m_catalogue)
        return -1;
    const QString name = menuFunctionName();
    int hi = -1;
    for (const kffunc_t* f : *m_catalogue) {
        if (f && f->name == name) {
            hi = f->hi;
            break;
        }
    }
    if (hi < 0)
        return -1;
    for (int i = 0; i < m_catalogue->size(); ++i) {
        if (m_catalogue->at(i) && m_catalogue->at(i)->hi == hi)
            return i;
    }
    return -1;
}

QByteArray ShortcutsItem::globuleStates() const
{
    QByteArray states;
    if (m_globules)
        m_globules->states(states);
    return states;
}

QString ShortcutsItem::getWebsite() const { return m_websiteEdit ? m_websiteEdit->text() : QString(); }
QString ShortcutsItem::getDocumentPath() const { return m_documentEdit ? m_documentEdit->text() : QString(); }
QString ShortcutsItem::getFolderPath() const { return m_folderEdit ? m_folderEdit->text() : QString(); }
QString ShortcutsItem::getMacroName() const { return m_macroList ? m_macroList->currentText() : QString(); }
int ShortcutsItem::getMacroRepeat() const { return m_macroRepeat ? m_macroRepeat->text().toInt() : -1; }
int ShortcutsItem::getSwapOne() const { return m_swapOne ? m_swapOne->text().toInt() : -1; }
int ShortcutsItem::getSwapTwo() const { return m_swapTwo ? m_swapTwo->text().toInt() : -1; }

QCheckBox* ShortcutsItem::checkBox() const { return m_checkBox; }
QPushButton* ShortcutsItem::globuleButton() const { return m_globuleButton; }
QFrame* ShortcutsItem::keyFrame(int j) const { return j >= 0 && j < 4 ? m_keyFrames[j] : nullptr; }
QLabel* ShortcutsItem::separator(int j) const { return m_separators.value(j, nullptr); }
QFrame* ShortcutsItem::parameterFrame() const { return m_parameterFrame; }

void ShortcutsItem::setKeyBorder(bool normal)
{
    for (KeyBtn* key : m_keys)
        key->updateBorderStyle(normal);
}

void ShortcutsItem::setVectorButtonOtherMouseBoader(bool on) { setKeyBorder(on); }

void ShortcutsItem::setLockKeyBorder(bool normal)
{
    for (KeyBtn* key : m_lockKeys)
        key->updateBorderStyle(normal);
    for (KeyBtn* key : m_replKeys)
        key->updateBorderStyle(normal);
}

void ShortcutsItem::restoreSelectedKey()
{
    if (m_pictureKey)
        m_pictureKey->updateBorderStyle(true);
    setKeyFrameCursor(Qt::ForbiddenCursor);
}

void ShortcutsItem::setKeyFrameCursor(Qt::CursorShape shape)
{
    for (QFrame* frame : m_keyFrames)
        frame->setCursor(shape);
}

// ---- function menu --------------------------------------------------------------------------

void ShortcutsItem::setFunctionTextSlot(QString text)
{
    Q_UNUSED(text)
    // A name the catalogue lacks shows a box, in whose event loop an unplug deletes the row.
    const QPointer<ShortcutsItem> self(this);
    const int type = getFunctionType();
    if (!self)
        return;
    showFunctionEditor(type, nullptr);
    tick();
}

// ---- trigger keys ---------------------------------------------------------------------------

void ShortcutsItem::dynClickKeySlot(KeyBtn* key)
{
    if (!key) {
        qDebug() << "dynclick key slot is keybtn NULL, Erorr!";
        return;
    }
    if (!isVisible())
        return;
    setKeyFrameCursor(Qt::ArrowCursor);
    m_pictureKey = key;
}

void ShortcutsItem::setBtnSlot(KeyBtn* slot)
{
    if (!m_keyRowReady) {
        qDebug() << "Interface updating bool is false, return.";
        return;
    }
    if (!slot) {
        qDebug() << "set button slot is NULL, return.";
        return;
    }
    emit emitBtnMouseTimerRelease(true);
    m_selectedKey = slot;
    slot->updateBorderStyle(false);
    if (!m_pictureKey) {
        qDebug() << "No keys selected in the Dynamic layout, p_dynkeybtn is NULL, return."
                 << "Select Key = " << slot->alias();
        return;
    }
    for (const KeyBtn* key : m_keys) {
        if (sameKey(key, m_pictureKey)) {
            qDebug() << "There is the same key in the Dynamic layout, return. set ban cursor." << m_pictureKey->name();
            setKeyFrameCursor(Qt::ForbiddenCursor);
            m_cursorTimer.start(CursorBanMs);
            return;
        }
    }
    slot->setImage(m_pictureKey->image());
    slot->setName(m_pictureKey->name());
    slot->setAlias(m_pictureKey->alias());
    slot->label = m_pictureKey->label;
    slot->type = m_pictureKey->type;
    slot->stype = m_pictureKey->stype;
    slot->code = m_pictureKey->code;
    slot->setKeyIndex(m_pictureKey->keyIndex());
    slot->setShowAlias(true);
    slot->update();
    qDebug() << "VectorID:" << slot->keyIndex() << "\ntext=" << slot->name() << "\nalias=" << slot->alias()
             << "\nunType=" << slot->type << "\nunSType=" << slot->stype
             << "\nunCode=" << QString::number(slot->code, 16) << "\nImage=" << slot->image()
             << "\nuncode=" << slot->code;
    tick();
}

void ShortcutsItem::mouseStatusTimeroutSlot()
{
    m_cursorTimer.stop();
    setKeyFrameCursor(Qt::ArrowCursor);
}

void ShortcutsItem::refreshKeyRow()
{
    m_keyRowReady = false;
    bool allHidden = true;
    for (int j = 0; j < m_keys.size() && j < 4; ++j) {
        KeyBtn* key = m_keys[j];
        if (key->parentWidget() != m_keyFrames[j])
            key->setParent(m_keyFrames[j]);
        const bool used = key->code != 0 && key->name() != Blank;
        key->setVisible(used);
        allHidden = allHidden && !used;
        if (j > 0)
            m_separators[j - 1]->setText(used ? QStringLiteral("|") : Blank);
    }
    if (allHidden)
        showNextKeySlot();
    for (KeyBtn* key : m_keys)
        key->resize(m_keyFrames[0]->size());
    m_keyRowReady = true;
}

void ShortcutsItem::showNextKeySlot()
{
    for (int j = 0; j < m_keys.size(); ++j) {
        KeyBtn* key = m_keys[j];
        if (key->name() != Blank)
            continue;
        if (key->isHidden()) {
            key->show();
            if (j > 0)
                m_separators[j - 1]->setText(QStringLiteral("|"));
        }
        return;
    }
}

void ShortcutsItem::addBtnSlot()
{
    refreshKeyRow();
    showNextKeySlot();
}

void ShortcutsItem::deleteBtnSlot()
{
    // A row keeps at least one key.
    if (!m_selectedKey || m_keys[1]->name() == Blank)
        return;
    qDebug() << "Clear select deleteKey is = " << m_selectedKey->alias();
    const int index = m_keys.indexOf(m_selectedKey);
    if (index < 0) {
        tick();
        return;
    }
    m_keys.removeAt(index);
    m_keys.append(m_selectedKey);
    clearKeybtn(m_selectedKey);
    refreshKeyRow();
    tick();
}

void ShortcutsItem::clearKeybtn(KeyBtn* key)
{
    if (!key)
        return;
    key->setFillBackground(false);
    key->setMarked(false);
    key->label = Blank;
    key->setImage(QString());
    key->type = 0;
    key->stype = 0;
    key->code = 0;
    key->setName(Blank);
    key->setAlias(Blank);
    key->setKeyIndex(-1);
    key->update();
}

// ---- key maps -------------------------------------------------------------------------------

void ShortcutsItem::globuleButtonSlot(bool on)
{
    Qss().setGlobuleShowStyle(m_globuleButton, on);
    if (m_globules)
        m_globules->setVisible(on);
}

void ShortcutsItem::globuleChangeSlot()
{
    qDebug() << "globule change slot.";
    // A key map choice marks the row even while the page still fills it.
    m_checkBox->setChecked(true);
}

// ---- enable box and undo --------------------------------------------------------------------

void ShortcutsItem::checkBoxSlot(bool checked)
{
    Qss().setFrameSelectStyle(m_selectFrame, checked, 0);
    if (downloading) {
        qDebug() << "数据下载中，不恢复数据。";
        return;
    }
    if (!m_record)
        return;
    qDebug() << "checkBox slot ID = " << m_record->id() << "checkBox=" << (checked ? "true" : "false");
    if (checked)
        return;

    qDebug() << "   Data undo.......";
    for (int j = 0; j < m_keys.size() && j < kf_t::TriggerKeys; ++j) {
        if (m_staticKeys)
            fillKey(m_keys[j], m_record->key(j));
        qDebug() << "       btn" << j << "=" << m_keys[j]->alias();
    }
    qDebug() << "   Data undo.......Function Key undo.";

    const kffunc_t* function = kfcatalogue::functionOfHi(m_catalogue, m_record->hi());
    const int type = function ? function->control_type : -1;
    const QString name = function ? function->name : QString();
    refreshKeyRow();
    qDebug() << "       Function hi=" << m_record->hi() << "hiType=" << type << "name=" << name;

    // Only the menu goes back: its editor is refilled from the stored text below.
    disconnect(m_functionMenu, &QComboBox::currentTextChanged, this, &ShortcutsItem::setFunctionTextSlot);
    m_functionMenu->setCurrentText(name);
    connect(m_functionMenu, &QComboBox::currentTextChanged, this, &ShortcutsItem::setFunctionTextSlot);

    qDebug() << "   Data undo.......Parameter setting undo.";
    QVector<STCTS*> texts;
    if (m_device)
        Data::buildShortcutList(m_device->m_pKFs, m_device->m_nKFTotalNum, &texts, m_catalogue);
    else
        Data::buildShortcutList(std::vector<kf_t>{*m_record}, 1, &texts, m_catalogue);
    Data::parseShortcutsXML(m_filePath, &texts);
    for (STCTS* text : texts) {
        if (text->id != uint32_t(m_record->id()) || text->hi != uint32_t(m_record->hi()))
            continue;
        qDebug() << "stcts->str=" << text->str << "hi=" << text->hi << "type=" << text->type
                 << "function type=" << type;
        // Refilling the editor is no edit: it must not tick the box again.
        m_initialized = false;
        showFunctionEditor(type, text);
        m_initialized = true;
        break;
    }
    qDeleteAll(texts);
}

// ---- parameter editors ----------------------------------------------------------------------

void ShortcutsItem::showFunctionEditor(int type, STCTS* stored)
{
    if (type > 9)
        return;
    switch (type) {
    case E_SCT_WEB:
        createWebsiteEditor();
        if (!stored)
            m_websiteEdit->setText(QStringLiteral("https://www."));
        else if (!stored->str.isEmpty())
            m_websiteEdit->setText(stored->str);
        break;
    case E_SCT_EDIT:
        createPathEditor(true);
        if (!stored)
            m_documentEdit->setText(QStringLiteral("C:/Windows/system32/calc.exe"));
        else if (!stored->str.isEmpty())
            m_documentEdit->setText(stored->str);
        break;
    case E_SCT_FOLDER:
        createPathEditor(false);
        if (!stored)
            m_folderEdit->setText(QStringLiteral("C:/Users/"));
        else if (!stored->str.isEmpty())
            m_folderEdit->setText(stored->str);
        break;
    case E_SCT_LED:
        createLedLists();
        showLedListOfMenu();
        setLedBrightness(stored && m_record ? int(m_record->option()) : 0);
        break;
    case E_SCT_REPKEY:
    case E_SCT_LOCKKEY: {
        const bool repl = type == E_SCT_REPKEY;
        QVector<KeyBtn*>& keys = repl ? m_replKeys : m_lockKeys;
        QPushButton*& add = repl ? m_replAdd : m_lockAdd;
        QPushButton*& del = repl ? m_replDel : m_lockDel;
        createKeyList(keys, add, del, repl);
        if (stored) {
            fillKeyList(keys);
        } else {
            for (KeyBtn* key : keys)
                clearKeybtn(key);
            keys.first()->setMarked(true);
            layoutKeyList(keys, add, del);
            add->setEnabled(true);
        }
        break;
    }
    case E_SCT_MACRO:
        createMacroEditor();
        fillMacroEditor(stored != nullptr);
        break;
    case E_SCT_SWAP:
        createSwapEditor();
        m_swapOne->setText(stored && m_record ? QString::number(m_record->swap1()) : QStringLiteral("1"));
        m_swapTwo->setText(stored && m_record ? QString::number(m_record->swap2()) : QStringLiteral("2"));
        break;
    default:
        break;
    }
    deleteEditorsBut(type);
}

void ShortcutsItem::deleteEditorsBut(int type)
{
    if (type != E_SCT_WEB) {
        delete m_websiteEdit;
        m_websiteEdit = nullptr;
    }
    if (type != E_SCT_EDIT) {
        delete m_documentEdit;
        delete m_documentButton;
        m_documentEdit = nullptr;
        m_documentButton = nullptr;
    }
    if (type != E_SCT_FOLDER) {
        delete m_folderEdit;
        delete m_folderButton;
        m_folderEdit = nullptr;
        m_folderButton = nullptr;
    }
    if (type != E_SCT_LED) {
        qDeleteAll(m_ledLists);
        m_ledLists.clear();
    }
    if (type != E_SCT_REPKEY)
        deleteKeyList(m_replKeys, m_replAdd, m_replDel);
    if (type != E_SCT_LOCKKEY)
        deleteKeyList(m_lockKeys, m_lockAdd, m_lockDel);
    if (type != E_SCT_MACRO) {
        delete m_macroList;
        delete m_macroRepeat;
        delete m_macroTimes;
        m_macroList = nullptr;
        m_macroRepeat = nullptr;
        m_macroTimes = nullptr;
    }
    if (type != E_SCT_SWAP) {
        delete m_swapOne;
        delete m_swapTwo;
        delete m_swapPicture;
        delete m_swapHint;
        m_swapOne = nullptr;
        m_swapTwo = nullptr;
        m_swapPicture = nullptr;
        m_swapHint = nullptr;
    }
}

static void styleEdit(QLineEdit* edit)
{
    Qss().setLineEditStyle(edit, true, 10, false, EditText, EditBorder);
}

void ShortcutsItem::createWebsiteEditor()
{
    if (m_websiteEdit)
        return;
    m_websiteEdit = new QLineEdit(m_parameterFrame);
    m_websiteEdit->setGeometry(EditorBox);
    styleEdit(m_websiteEdit);
    connect(m_websiteEdit, &QLineEdit::textChanged, this, &ShortcutsItem::websiteEidtTextChangedSlot);
    m_websiteEdit->show();
}

void ShortcutsItem::createPathEditor(bool document)
{
    QLineEdit*& edit = document ? m_documentEdit : m_folderEdit;
    QPushButton*& button = document ? m_documentButton : m_folderButton;
    if (edit || button)
        return;
    edit = new QLineEdit(m_parameterFrame);
    edit->setGeometry(EditorBox);
    styleEdit(edit);
    button = new QPushButton(m_parameterFrame);
    button->resize(35, 35);
    button->move(edit->x() + edit->width() + 8, edit->y() - 5);
    Qss().setShortcutButtonStyle(button, QStringLiteral("floder.svg"), QStringLiteral("floder-hover.svg"));
    if (document) {
        connect(edit, &QLineEdit::textChanged, this, &ShortcutsItem::proDocEidtTextChangedSlot);
        connect(button, &QPushButton::pressed, this, &ShortcutsItem::proDocOpenFileSlot);
    } else {
        connect(edit, &QLineEdit::textChanged, this, &ShortcutsItem::fileFolderEidtTextChangedSlot);
        connect(button, &QPushButton::pressed, this, &ShortcutsItem::folderEditOpenDirSlot);
    }
    edit->show();
    button->show();
}

void ShortcutsItem::websiteEidtTextChangedSlot(QString text)
{
    Q_UNUSED(text)
    tick();
}

void ShortcutsItem::proDocEidtTextChangedSlot(QString text)
{
    Q_UNUSED(text)
    tick();
}

void ShortcutsItem::fileFolderEidtTextChangedSlot(QString text)
{
    qDebug() << text;
    tick();
}

void ShortcutsItem::proDocOpenFileSlot()
{
    // An unplug inside the dialog's event loop deletes the row.
    const QPointer<ShortcutsItem> self(this);
    const QString path =
        filechooser::getOpenFileName(this, QStringLiteral("Open Folder"), QStringLiteral("."), QString());
    if (!self)
        return;
    if (!path.isEmpty() && m_documentEdit)
        m_documentEdit->setText(path);
}

void ShortcutsItem::folderEditOpenDirSlot()
{
    const QPointer<ShortcutsItem> self(this);
    const QString dir =
        filechooser::getExistingDirectory(this, QStringLiteral("Open Folder existion directory"), QStringLiteral("."));
    if (!self)
        return;
    if (!dir.isEmpty() && m_folderEdit)
        m_folderEdit->setText(dir);
}

void ShortcutsItem::executeCommandSlot()
{
    switch (getFunctionType()) {
    case E_SCT_WEB: {
        const QString text = getWebsite();
        qDebug() << "Open E_SCT_WEB:" << text;
        desktopopen::openWebText(text);
        break;
    }
    case E_SCT_EDIT: {
        const QString text = getDocumentPath();
        qDebug() << "INFO: Open E_SCT_EDIT:" << text;
        desktopopen::openLocalPath(text);
        break;
    }
    case E_SCT_FOLDER: {
        const QString text = getFolderPath();
        qDebug() << "INFO: Open E_SCT_FOLDER:" << text;
        desktopopen::openLocalPath(text);
        break;
    }
    default:
        break;
    }
}

// LED brightness: one option list per LED function of the catalogue, made once.
void ShortcutsItem::createLedLists()
{
    if (!m_ledLists.isEmpty() || !m_catalogue)
        return;
    for (int i = 0; i < m_catalogue->size(); ++i) {
        const kffunc_t* f = m_catalogue->at(i);
        if (!f || f->control_type != E_SCT_LED)
            continue;
        auto* list = new ComboBox(m_parameterFrame, 9, true);
        list->setObjectName(QString::number(i));
        for (const kfoption_t& option : f->options)
            list->addItem(option.name);
        m_ledLists.append(list);
    }
    for (ComboBox* list : m_ledLists) {
        list->setCurrentIndex(0);
        list->setFixedSize(EditorBox.size());
        list->move(EditorBox.topLeft());
        list->setFont(QFont(QStringLiteral("Consolas"), 10, QFont::Normal));
        connect(list, qOverload<int>(&QComboBox::currentIndexChanged), this,
                &ShortcutsItem::ledbriCurrentIndexChangedSlot);
    }
}

void ShortcutsItem::showLedListOfMenu()
{
    const QString position = QString::number(menuCataloguePosition());
    for (ComboBox* list : m_ledLists)
        list->setVisible(list->objectName() == position);
}

void ShortcutsItem::setLedBrightness(int index)
{
    for (ComboBox* list : m_ledLists) {
        if (!list->isHidden())
            list->setCurrentIndex(index);
    }
    m_ledOption = index;
}

void ShortcutsItem::ledbriCurrentIndexChangedSlot(int index)
{
    m_ledOption = index;
    tick();
}

// Replacement and lock keys: twin lists of nine keys, the open ones first.
void ShortcutsItem::createKeyList(QVector<KeyBtn*>& keys, QPushButton*& add, QPushButton*& del, bool repl)
{
    if (!keys.isEmpty() || add || del)
        return;
    const Qss qss;
    for (int i = 0; i < kf_t::ParamKeys; ++i) {
        auto* key = new KeyBtn(m_parameterFrame);
        key->resize(KeyWidth, KeyHeight);
        key->move(2 + KeyWidth * i, 1);
        key->setShowAlias(true);
        keys.append(key);
    }
    add = new QPushButton(m_parameterFrame);
    del = new QPushButton(m_parameterFrame);
    add->resize(18, 18);
    del->resize(18, 18);
    qss.setAccentButtonStyle(add, 10, 75, QStringLiteral("+"));
    qss.setAccentButtonStyle(del, 10, 75, QStringLiteral("-"));
    const int right = keys.last()->pos().x() + 42;
    add->move(right, 2);
    del->move(right, 19);
    for (KeyBtn* key : keys)
        clearKeybtn(key);
    keys.first()->setMarked(true);
    for (KeyBtn* key : keys) {
        connect(key, &KeyBtn::emitClickKeyBtnSignal, this, &ShortcutsItem::saveSelectBtnSlot);
        connect(key, qOverload<KeyBtn*>(&KeyBtn::emitDoubleClick), this, &ShortcutsItem::doubleClickSlot);
        connect(key, &KeyBtn::emitSetOtherMouseBoader, this,
                repl ? &ShortcutsItem::setReplKeyOtherMouseBoaderSlot : &ShortcutsItem::setLockKeyOtherMouseBoaderSlot);
    }
    connect(del, &QPushButton::pressed, this, repl ? &ShortcutsItem::delReplBtnSlot : &ShortcutsItem::delLockBtnSlot);
    connect(add, &QPushButton::pressed, this, repl ? &ShortcutsItem::addReplBtnSlot : &ShortcutsItem::addLockBtnSlot);
    layoutKeyList(keys, add, del);
    add->show();
    del->show();
    add->setEnabled(true);
}

void ShortcutsItem::fillKeyList(QVector<KeyBtn*>& keys)
{
    for (KeyBtn* key : keys)
        clearKeybtn(key);
    for (int i = 0; i < keys.size() && i < kf_t::ParamKeys && m_record; ++i) {
        const kc_t kc = m_record->paramKey(i);
        if (kc.isEmpty() || !m_staticKeys)
            continue; // an empty slot or no palette to name it: the key stays closed
        KeyBtn source;
        Data::selectStaticBtn(&source, &kc, m_staticKeys);
        if (!isBlank(&source))
            copyListKey(keys[i], &source);
    }
    for (KeyBtn* key : keys) {
        if (isBlank(key))
            key->setMarked(false);
    }
    // Open keys first: adding opens the key after the open ones.
    std::stable_partition(keys.begin(), keys.end(), [](const KeyBtn* k) { return k->isMarked(); });
    layoutKeyLists();
}

void ShortcutsItem::layoutKeyLists()
{
    if (!m_replKeys.isEmpty())
        layoutKeyList(m_replKeys, m_replAdd, m_replDel);
    if (!m_lockKeys.isEmpty())
        layoutKeyList(m_lockKeys, m_lockAdd, m_lockDel);
}

void ShortcutsItem::layoutKeyList(QVector<KeyBtn*>& keys, QPushButton* add, QPushButton* del)
{
    int open = 0;
    bool blankOpen = false;
    const KeyBtn* last = nullptr;
    for (int i = 0; i < keys.size(); ++i) {
        KeyBtn* key = keys[i];
        key->move(2 + KeyWidth * i, 1);
        key->setVisible(key->isMarked());
        if (!key->isMarked())
            continue;
        ++open;
        blankOpen = blankOpen || isBlank(key);
        last = key;
    }
    const int x = last ? last->pos().x() + last->width() + 2 : 2;
    if (add) {
        add->move(x, 2);
        add->setEnabled(open < kf_t::ParamKeys && !blankOpen);
    }
    if (del) {
        del->move(x, 19);
        del->setEnabled(open > 1);
    }
    if (!blankOpen)
        tick();
}

void ShortcutsItem::addListKey(QVector<KeyBtn*>& keys, QPushButton* add, QPushButton* del)
{
    const int open = openCount(keys);
    if (open >= keys.size()) {
        if (add)
            add->setEnabled(false);
        return;
    }
    keys[open]->setMarked(true);
    layoutKeyList(keys, add, del);
}

void ShortcutsItem::deleteListKey(QVector<KeyBtn*>& keys, QPushButton* add, QPushButton* del)
{
    if (openCount(keys) < 2) {
        if (del)
            del->setEnabled(false);
        return;
    }
    KeyBtn* target = nullptr;
    for (KeyBtn* key : keys) {
        if (key->isMarked() && !key->isNormalState()) {
            target = key;
            break;
        }
    }
    if (!target)
        target = keys.first();
    clearKeybtn(target);
    target->updateBorderStyle(true);
    if (m_selectedListKey == target)
        m_selectedListKey = m_listPlaceholder;
    keys.removeOne(target);
    keys.append(target);
    layoutKeyList(keys, add, del);
}

void ShortcutsItem::deleteKeyList(QVector<KeyBtn*>& keys, QPushButton*& add, QPushButton*& del)
{
    if (keys.contains(m_selectedListKey))
        m_selectedListKey = m_listPlaceholder;
    qDeleteAll(keys);
    keys.clear();
    delete add;
    delete del;
    add = nullptr;
    del = nullptr;
}

void ShortcutsItem::addReplBtnSlot() { addListKey(m_replKeys, m_replAdd, m_replDel); }
void ShortcutsItem::addLockBtnSlot() { addListKey(m_lockKeys, m_lockAdd, m_lockDel); }
void ShortcutsItem::delReplBtnSlot() { deleteListKey(m_replKeys, m_replAdd, m_replDel); }
void ShortcutsItem::delLockBtnSlot() { deleteListKey(m_lockKeys, m_lockAdd, m_lockDel); }

void ShortcutsItem::setReplKeyOtherMouseBoaderSlot(bool on)
{
    for (KeyBtn* key : m_replKeys)
        key->updateBorderStyle(on);
}

void ShortcutsItem::setLockKeyOtherMouseBoaderSlot(bool on)
{
    for (KeyBtn* key : m_lockKeys)
        key->updateBorderStyle(on);
}

void ShortcutsItem::saveSelectBtnSlot(KeyBtn* key)
{
    if (!key)
        return;
    emit emitParameterBtnRelease(true);
    key->updateBorderStyle(false);
    m_selectedListKey = key;
}

QVector<KeyBtn*>& ShortcutsItem::pickerList()
{
    // Only one key list exists at a time: the one of the row's type.
    return m_replKeys.isEmpty() ? m_lockKeys : m_replKeys;
}

void ShortcutsItem::doubleClickSlot(KeyBtn* key)
{
    Q_UNUSED(key)
    RunTime stopwatch;
    stopwatch.mark(1);
    closeStaticDialog();
    m_staticDialog = new StaticDialog(nullptr);
    connect(m_staticDialog, &StaticDialog::emitHide, this, &ShortcutsItem::staticDialogFinishedSlot);
    for (KeyBtn* pickerKey : m_staticDialog->keyBtns)
        connect(pickerKey, qOverload<KeyBtn*>(&KeyBtn::emitDoubleClick), this, &ShortcutsItem::staticDoubleClickSlot);
    markPickerKeys();
    stopwatch.stop(QStringLiteral("initStaticDlg  "), 1);
}

void ShortcutsItem::markPickerKeys()
{
    if (!m_staticDialog)
        return;
    const QVector<KeyBtn*>& list = pickerList();
    qDebug() << (&list == &m_replKeys ? "E_SCT_REPKEY" : "E_SCT_LOCKKEY");
    for (KeyBtn* pickerKey : m_staticDialog->keyBtns) {
        if (isUnpickable(pickerKey)) {
            pickerKey->updateBorderStyle(false);
            continue;
        }
        for (const KeyBtn* listKey : list) {
            if (sameKey(listKey, pickerKey)) {
                pickerKey->updateBorderStyle(!listKey->isMarked());
                break;
            }
        }
    }
}

void ShortcutsItem::staticDoubleClickSlot(KeyBtn* key)
{
    if (!key || !m_selectedListKey || m_selectedListKey->isNormalState())
        return;
    // A row without its page (never so on the page) answers for itself.
    const bool pageVisible = m_page ? m_page->isVisible() : isVisible();
    if (!pageVisible || isUnpickable(key))
        return;
    for (const KeyBtn* listKey : pickerList()) {
        if (sameKey(listKey, key))
            return;
    }
    qDebug() << "static double clicked key is [ " << key->name() << QString::number(key->code, 16) << key->type
             << key->stype << " ]";
    copyListKey(m_selectedListKey, key);
    closeStaticDialog();
    layoutKeyLists();
}

void ShortcutsItem::staticDialogFinishedSlot() { closeStaticDialog(); }

void ShortcutsItem::closeStaticDialog()
{
    if (!m_staticDialog)
        return;
    // Reached from the picker's own signals: it goes once they have returned.
    StaticDialog* dialog = m_staticDialog;
    m_staticDialog = nullptr;
    dialog->disconnect(this);
    dialog->hide();
    dialog->deleteLater();
}

// Macro: the keyboard's macros by name and a repeat count.
void ShortcutsItem::createMacroEditor()
{
    if (m_macroList || m_macroRepeat || m_macroTimes)
        return;
    m_macroList = new ComboBox(m_parameterFrame, 9, true);
    m_macroList->setGeometry(EditorBox);
    m_macroList->setFont(QFont(QStringLiteral("Consolas"), 10));
    updateMacroCB();
    m_macroList->setCurrentIndex(0);

    m_macroRepeat = new QLineEdit(m_parameterFrame);
    m_macroRepeat->resize(50, 25);
    m_macroRepeat->move(m_macroList->x() + m_macroList->width() + 5, 8);
    m_macroRepeat->setAlignment(Qt::AlignCenter);
    styleEdit(m_macroRepeat);
    m_macroRepeat->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{1,4}")), m_macroRepeat));
    m_macroRepeat->setText(QStringLiteral("0"));

    m_macroTimes = new QLabel(QStringLiteral("Times"), m_parameterFrame);
    m_macroTimes->resize(70, 28);
    m_macroTimes->move(m_macroRepeat->x() + m_macroRepeat->width() + 5, 8);
    m_macroTimes->setStyleSheet(QStringLiteral("text-align: right; color: #39bb95"));
    m_macroTimes->setFont(QFont(QStringLiteral("Consolas"), 10));

    connect(m_macroList, qOverload<int>(&QComboBox::currentIndexChanged), this,
            qOverload<int>(&ShortcutsItem::macroCurrentIndexChangedSlot));
    connect(m_macroRepeat, &QLineEdit::textChanged, this,
            qOverload<QString>(&ShortcutsItem::macroCurrentIndexChangedSlot));
    m_macroList->show();
    m_macroRepeat->show();
    m_macroTimes->show();
}

void ShortcutsItem::fillMacroEditor(bool stored)
{
    if (!stored || !m_record) {
        m_macroList->setCurrentIndex(-1);
        m_macroRepeat->setText(QStringLiteral("1"));
        return;
    }
    if (m_device) {
        const int heads = qMin(int(m_device->m_nKMTotalNum), int(m_device->m_pKMs.size()));
        for (int i = 0; i < heads; ++i) {
            const km_t& head = m_device->m_pKMs[size_t(i)];
            if (uint32_t(head.slotIndex()) == m_record->macroId()) {
                m_macroList->setCurrentText(head.name());
                break;
            }
        }
    }
    m_macroRepeat->setText(QString::number(m_record->repeat()));
}

void ShortcutsItem::updateMacroCB()
{
    if (!m_macroList)
        return;
    qDebug() << "shortcuts update combobox data, item=" << (m_record ? m_record->id() : -1);
    m_macroList->clear();
    if (!m_device)
        return;
    const int heads = qMin(int(m_device->m_nKMTotalNum), int(m_device->m_pKMs.size()));
    for (int i = 0; i < heads; ++i) {
        const km_t& head = m_device->m_pKMs[size_t(i)];
        if (head.used())
            m_macroList->addItem(head.name());
    }
}

void ShortcutsItem::updateMacroCBAddItem(QString name)
{
    if (!m_macroList)
        return;
    qDebug() << "Macro CB -> Shortcuts CB; pKF id= " << (m_record ? m_record->id() : -1)
             << ", add combobox item name =" << name;
    // Into an empty list the name becomes the choice, which marks the row.
    m_macroList->addItem(name);
}

void ShortcutsItem::updateMacroCBRemoveItem(int index)
{
    if (!m_macroList)
        return;
    // The entries after it move up: the row's choice stays the same macro.
    m_macroRelay = true;
    if (index == m_macroList->currentIndex())
        m_macroList->setCurrentIndex(-1);
    m_macroList->removeItem(index);
    m_macroRelay = false;
    qDebug() << "Macro CB -> Shortcuts CB; pKF id= " << (m_record ? m_record->id() : -1)
             << ", remove combobox item index =" << index;
}

void ShortcutsItem::updateMacroCBSetItemText(int index, QString name)
{
    if (!m_macroList)
        return;
    m_macroList->setItemText(index, name);
    qDebug() << "Macro CB -> Shortcuts CB; pKF id= " << (m_record ? m_record->id() : -1)
             << ", set combobox item= " << index << "name=" << name;
}

void ShortcutsItem::macroCurrentIndexChangedSlot(int index)
{
    if (index == -1) {
        qDebug() << "macro current index changed slot index = -1 , not changed return!";
        return;
    }
    qDebug() << "index=" << index << m_macroList->currentText() << "edit=" << getMacroRepeat();
    if (!m_macroRelay)
        tick();
}

void ShortcutsItem::macroCurrentIndexChangedSlot(QString text)
{
    if (text.isEmpty()) {
        qDebug() << "macro current index changed slot text = NULL , not changed return!";
        return;
    }
    qDebug() << "index=" << m_macroList->currentIndex() << m_macroList->currentText() << "edit=" << text.toInt();
    tick();
}

// Key swap: two key numbers 0-7 that must differ.
void ShortcutsItem::createSwapEditor()
{
    if (m_swapOne || m_swapTwo || m_swapPicture || m_swapHint)
        return;
    m_swapOne = new LineEdit(m_parameterFrame);
    m_swapTwo = new LineEdit(m_parameterFrame);
    for (LineEdit* edit : {m_swapOne, m_swapTwo}) {
        edit->resize(30, 30);
        setSwapStyle(edit, false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-7]{1}")), edit));
    }
    m_swapPicture = new QLabel(m_parameterFrame);
    m_swapPicture->resize(30, 30);
    m_swapPicture->setPixmap(QPixmap(appDirPath() + QStringLiteral("/images/swap.svg"))
                                 .scaled(m_swapPicture->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    m_swapHint = new QLabel(QStringLiteral("[0-7]"), m_parameterFrame);
    m_swapHint->resize(60, 30);
    m_swapHint->setAlignment(Qt::AlignCenter);
    Qss().setTextLabelStyle(m_swapHint, 10, QColor(QStringLiteral("#282828")), QFont::Normal);

    m_swapOne->move(2, 5);
    m_swapPicture->move(32, 5);
    m_swapTwo->move(62, 5);
    m_swapHint->move(92, 3);

    connect(m_swapOne, &QLineEdit::textEdited, this, &ShortcutsItem::setItemSelectSwapOneSlot);
    connect(m_swapTwo, &QLineEdit::textEdited, this, &ShortcutsItem::setItemSelectSwapTwoSlot);
    connect(m_swapOne, &QLineEdit::editingFinished, this, &ShortcutsItem::swapOneFinishedSlot);
    connect(m_swapTwo, &QLineEdit::editingFinished, this, &ShortcutsItem::swapTwoFinishedSlot);
    connect(m_swapOne, &LineEdit::emitPressed, this, &ShortcutsItem::swapOneSelectEditSlot);
    connect(m_swapTwo, &LineEdit::emitPressed, this, &ShortcutsItem::swapTwoSelectEditSlot);
    m_swapOne->show();
    m_swapTwo->show();
    m_swapPicture->show();
    m_swapHint->show();
}

void ShortcutsItem::setSwapStyle(QLineEdit* edit, bool error)
{
    Qss().setLineEditStyle(edit, true, 10, error, EditText, EditBorder);
}

void ShortcutsItem::swapEdited(LineEdit* edit, LineEdit* other, const QString& text)
{
    if (!edit || !other)
        return;
    edit->selectAll();
    if (!text.isEmpty() && text != other->text()) {
        tick();
        setSwapStyle(edit, false);
        return;
    }
    // Equal or empty numbers can't be stored: the edit goes back at once. The undo reports itself as
    // an edit again, which must not mark the row.
    const QSignalBlocker quiet(edit);
    edit->undo();
    setSwapStyle(edit, true);
}

void ShortcutsItem::setItemSelectSwapOneSlot(QString text) { swapEdited(m_swapOne, m_swapTwo, text); }
void ShortcutsItem::setItemSelectSwapTwoSlot(QString text) { swapEdited(m_swapTwo, m_swapOne, text); }

void ShortcutsItem::swapOneFinishedSlot()
{
    if (m_swapOne)
        setSwapStyle(m_swapOne, false);
}

void ShortcutsItem::swapTwoFinishedSlot()
{
    if (m_swapTwo)
        setSwapStyle(m_swapTwo, false);
}

void ShortcutsItem::swapOneSelectEditSlot()
{
    if (m_swapOne)
        m_swapOne->selectAll();
}

void ShortcutsItem::swapTwoSelectEditSlot()
{
    if (m_swapTwo)
        m_swapTwo->selectAll();
}
