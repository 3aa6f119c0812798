// The replacement and lock key editors of a key function row: twin lists of nine keys filled from
// the static key picker.
#include "shortcutsitem.h"

#include "shortcut/keyslot.h"
#include "shortcut/shortcuts.h"
#include "widget/data.h"
#include "widget/keybtn.h"
#include "widget/qss.h"
#include "widget/runtime.h"
#include "widget/staticdialog.h"

#include <QDebug>
#include <QFrame>
#include <QPushButton>

#include <algorithm>

namespace {

bool isBlank(const KeyBtn* key) { return key->type == 0 && key->stype == 0 && key->code == 0; }
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

} // namespace

// Replacement and lock keys: twin lists of nine keys, the open ones first.
void ShortcutsItem::createKeyList(QVector<KeyBtn*>& keys, QPushButton*& add, QPushButton*& del, bool repl)
{
    if (!keys.isEmpty() || add || del)
        return;
    const Qss qss;
    for (int i = 0; i < kf_t::ParamKeys; ++i) {
        auto* key = new KeyBtn(m_parameterFrame);
        key->resize(keyslot::Width, keyslot::Height);
        key->move(2 + keyslot::Width * i, 1);
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
        key->move(2 + keyslot::Width * i, 1);
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
            if (keyslot::sameKey(listKey, pickerKey)) {
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
        if (keyslot::sameKey(listKey, key))
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
