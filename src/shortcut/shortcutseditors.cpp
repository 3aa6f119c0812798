// The parameter editors of a key function row, one kind per function type, and the action a key
// function performs on the computer. The key lists of the replacement and lock editors are beside.
#include "shortcutsitem.h"

#include "device/device.h"
#include "platform/desktopopen.h"
#include "shortcut/shortcuts.h"
#include "widget/combobox.h"
#include "widget/filechooser.h"
#include "widget/keybtn.h"
#include "widget/lineedit.h"
#include "widget/qss.h"
#include "widget/staticdialog.h"

#include <QDebug>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

namespace {
const QColor EditText(QStringLiteral("#282828"));
const QColor EditBorder(125, 125, 125);
// The standard editor box: 70 % of the 385 x 40 parameter frame, centred vertically.
const QRect EditorBox(2, 6, 269, 28);

// A new editor shows its default; a stored text replaces the field's text unless it is empty.
void fillText(QLineEdit* edit, const STCTS* stored, const QString& fallback)
{
    if (!stored)
        edit->setText(fallback);
    else if (!stored->str.isEmpty())
        edit->setText(stored->str);
}
} // namespace

// ---- parameter values ----------------------------------------------------------------------

QString ShortcutsItem::getWebsite() const { return m_websiteEdit ? m_websiteEdit->text() : QString(); }
QString ShortcutsItem::getDocumentPath() const { return m_documentEdit ? m_documentEdit->text() : QString(); }
QString ShortcutsItem::getFolderPath() const { return m_folderEdit ? m_folderEdit->text() : QString(); }
QString ShortcutsItem::getMacroName() const { return m_macroList ? m_macroList->currentText() : QString(); }
int ShortcutsItem::getMacroRepeat() const { return m_macroRepeat ? m_macroRepeat->text().toInt() : -1; }
int ShortcutsItem::getSwapOne() const { return m_swapOne ? m_swapOne->text().toInt() : -1; }
int ShortcutsItem::getSwapTwo() const { return m_swapTwo ? m_swapTwo->text().toInt() : -1; }

// ---- parameter editors ----------------------------------------------------------------------

void ShortcutsItem::showFunctionEditor(int type, STCTS* stored)
{
    if (type > 9)
        return;
    switch (type) {
    case E_SCT_WEB:
        createWebsiteEditor();
        fillText(m_websiteEdit, stored, QStringLiteral("https://www."));
        break;
    case E_SCT_EDIT:
        createPathEditor(true);
        fillText(m_documentEdit, stored, QStringLiteral("C:/Windows/system32/calc.exe"));
        break;
    case E_SCT_FOLDER:
        createPathEditor(false);
        fillText(m_folderEdit, stored, QStringLiteral("C:/Users/"));
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

    using Edited = void (ShortcutsItem::*)(QString);
    using Done = void (ShortcutsItem::*)();
    const auto wire = [this](LineEdit* field, Edited edited, Done finished, Done pressed) {
        connect(field, &QLineEdit::textEdited, this, edited);
        connect(field, &QLineEdit::editingFinished, this, finished);
        connect(field, &LineEdit::emitPressed, this, pressed);
    };
    wire(m_swapOne, &ShortcutsItem::setItemSelectSwapOneSlot, &ShortcutsItem::swapOneFinishedSlot,
         &ShortcutsItem::swapOneSelectEditSlot);
    wire(m_swapTwo, &ShortcutsItem::setItemSelectSwapTwoSlot, &ShortcutsItem::swapTwoFinishedSlot,
         &ShortcutsItem::swapTwoSelectEditSlot);
    for (QWidget* part : {static_cast<QWidget*>(m_swapOne), static_cast<QWidget*>(m_swapTwo),
                          static_cast<QWidget*>(m_swapPicture), static_cast<QWidget*>(m_swapHint)})
        part->show();
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
