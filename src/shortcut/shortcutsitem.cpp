// One key function row: its trigger keys, function menu, key-map selectors and enable box with
// its undo. The parameter editors are in shortcutseditors.cpp and shortcutskeylists.cpp.
#include "shortcutsitem.h"

#include "device/device.h"
#include "shortcut/globulelayout.h"
#include "shortcut/keyslot.h"
#include "shortcut/kfcatalogue.h"
#include "widget/combobox.h"
#include "widget/data.h"
#include "widget/keybtn.h"
#include "widget/qss.h"
#include "widget/staticdialog.h"

#include <QCheckBox>
#include <QDebug>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace {
const QString Blank = QStringLiteral(" ");
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
        frame->setFixedSize(keyslot::Width, keyslot::Height);
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
        key->resize(keyslot::Width, keyslot::Height);
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
        if (keyslot::sameKey(key, m_pictureKey)) {
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
