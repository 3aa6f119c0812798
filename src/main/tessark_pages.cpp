// The pages the window hosts under its header, and the relays between them.
#include "tessark.h"

#include "shortcut/shortcuts.h"

#include <QDebug>
#include <QFrame>

void Tessark::initShortcutsPage()
{
    m_ptrShortcuts = new Shortcuts(this, &m_vStaticKeyBtn);
    m_ptrShortcuts->hide();
    // The form's minimum width wins over the requested 85 %, so the page is centred on what it got.
    m_ptrShortcuts->resize(int(width() * 0.85), m_ptrShortcuts->height());
    const QFrame* picture = m_ui->dynamicLayout;
    m_ptrShortcuts->move(width() / 2 - m_ptrShortcuts->width() / 2, picture->y() + picture->height() + 6);
    m_pageList.append(m_ptrShortcuts);
    m_ptrShortcuts->raise();
}

void Tessark::deleteShortcut()
{
    removePage(m_ptrShortcuts);
    delete m_ptrShortcuts;
    m_ptrShortcuts = nullptr;
    qDebug() << "delete shortcuts finished.";
}

void Tessark::removePage(QWidget* page)
{
    const int i = m_pageList.indexOf(page);
    if (i >= 0)
        m_pageList.removeAt(i);
}

void Tessark::updateShortcutsComboboxAddItemSlot(QString name)
{
    if (m_ptrShortcuts)
        m_ptrShortcuts->updateMacroCBAddItem(name);
}

void Tessark::updateShortcutsComboboxRemoveItemSlot(int index)
{
    if (m_ptrShortcuts)
        m_ptrShortcuts->updateMacroCBRemoveItem(index);
}

void Tessark::updateShortcutsComboboxSetItemText(int index, QString name)
{
    if (m_ptrShortcuts)
        m_ptrShortcuts->updateMacroCBSetItemText(index, name);
}
