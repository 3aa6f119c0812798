// The pages the window hosts under its header, and the relays between them.
#include "tessark.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "shortcut/shortcuts.h"
#include "widget/keybtn.h"

#include <QDebug>
#include <QFrame>

#include <algorithm>

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

void Tessark::createColor()
{
    if (m_ptrColor)
        return;
    m_ptrColor = new Color(this, loadedDevice());
    const QFrame* picture = m_ui->dynamicLayout;
    const int bottom = picture->y() + picture->height() + 8;
    m_ptrColor->move(width() / 2 - m_ptrColor->width() / 2,
                     bottom + (height() - bottom) / 2 - 15 - m_ptrColor->height() / 2);
    m_pageList.append(m_ptrColor);
    Palette* palette = m_ptrColor->paletteWidget();
    Mode* mode = m_ptrColor->modeWidget();
    palette->setEnabled(true);
    connect(palette, &Palette::emitCursorColor, this, &Tessark::setCursorColorSlot);
    connect(mode, &Mode::emitCursorMode, this, &Tessark::setCursorModeSlot);
    connect(m_ptrColor, &Color::emitUnsetCursor, this, &Tessark::setDynamicUnsetCursorSlot);
    auto host = [](QFrame* row, QWidget* panel) {
        if (!row)
            return;
        row->setParent(panel);
        row->move(panel->width() / 2 - row->width() / 2, 33);
    };
    host(m_globuleColorFrame, palette);
    host(m_globuleModeFrame, mode);
    // Rows wrapped for a keyboard with many maps or modes push the panels below them down.
    const auto extra = [this](const QFrame* row) { return row ? row->height() - GlobuleLayerHeight : 0; };
    m_ptrColor->makeRoomForRows(extra(m_globuleColorFrame), extra(m_globuleModeFrame));
    // Grown past the window's bottom, the page rises as far as the picture allows.
    const int overflow = m_ptrColor->y() + m_ptrColor->height() - height();
    if (overflow > 0)
        m_ptrColor->move(m_ptrColor->x(), std::max(bottom, m_ptrColor->y() - overflow));
    applyDeviceKeyValues(1);
}

void Tessark::deleteColor()
{
    if (!m_ptrColor)
        return;
    applyDeviceKeyValues(0);
    // A forbidden cursor from an unarmed paint ends with the page.
    for (KeyBtn* key : qAsConst(m_vDynamicKeyBtn))
        key->unsetCursor();
    // The rows go back first: left inside, they would be freed with the page and again with their
    // layer. A row whose layer is gone already (a close) is null here.
    for (QFrame* row : {m_globuleColorFrame, m_globuleModeFrame}) {
        if (row) {
            row->setParent(this);
            row->hide();
        }
    }
    qDebug() << "delete color finish.";
    removePage(m_ptrColor);
    delete m_ptrColor;
    m_ptrColor = nullptr;
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
