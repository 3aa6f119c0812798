// The keyboard picture (one key cap per key of the open keyboard) and the static key palette
// below it, from which a picture key gets its new key code.
#include "tessark.h"

#include "color/color.h"
#include "color/palette.h"
#include "device/device.h"
#include "widget/plaintext.h"
#include "widget/plaintooltips.h"
#include "device/resultcodes.h"
#include "shortcut/shortcuts.h"
#include "widget/data.h"
#include "widget/keybtn.h"
#include "widget/runtime.h"
#include "widget/writefailurenotice.h"

#include <QDebug>
#include <QFrame>
#include <QLabel>
#include <QPointF>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>

#include <algorithm>

namespace {
// Right and bottom edge of a set of keys, in key units.
QPointF keyExtent(const QVector<KeyBtn*>& keys)
{
    QPointF extent(0.0, 0.0);
    for (const KeyBtn* key : keys) {
        extent.setX(std::max(extent.x(), key->x + key->w));
        extent.setY(std::max(extent.y(), key->y + key->h));
    }
    return extent;
}


constexpr int KeyEntrySize = 4; // packed kc_t (3 bytes) and a fourth byte
constexpr uint16_t LockToggleCode = 0xF0;
const QColor NoColourMapKey(245, 245, 245);

// Entries of the keyboard's current key map that are really there: the count it reported, bounded
// by what was read.
int keyCodeCount(const Device* device)
{
    if (!device || device->m_nkc == 0xFF)
        return 0;
    return std::min(int(device->m_nkc), int(device->m_pKCs.size() / KeyEntrySize));
}

int lightingByteCount(const Device* device)
{
    if (!device || device->m_nlm == 0xFF)
        return 0;
    return std::min(int(device->m_nlm), int(device->m_pLMMs.size()));
}

bool hasColourMaps(const Device* device)
{
    return device && device->m_nkrm != 0xFF && device->m_nkrm > 0;
}

} // namespace

// --- keyboard picture ---------------------------------------------------------------------------

void Tessark::createDynamicKeybtn()
{
    Device* const dev = loadedDevice();
    if (!dev || !m_vDynamicKeyBtn.isEmpty())
        return;
    // Set again only when this keyboard's picture is drawn: an earlier keyboard's does not count.
    m_dynamicBottom = 0;
    RunTime runTime;
    runTime.mark(1);
    // Device::boardName reads at most the 16 bytes the keyboard sent, zero or not.
    const QString boardName = dev->boardName();
    qDebug().noquote() << QStringLiteral("^^^^^^^^^^^^^^^^读取到名字：") + boardName;

    int board = -1;
    for (int i = 0; i < m_data.boards.size(); ++i) {
        if (m_data.boards[i] && m_data.boards[i]->name == boardName) {
            board = i;
            break;
        }
    }
    if (board >= 0) {
        deleteDisconPixBackground();
        if (!Data::parseJsonFileForFix(&m_vDynamicKeyBtn, m_data.boards[board]->file, QString()))
            return;
        drawDynamicLayout(board);
    }
    createGlobuleKeyLayer();
    createGlobuleColorLayer();
    createGlobuleModeLayer();
    runTime.stop(QStringLiteral("createDynamic  "), 1);
}

void Tessark::drawDynamicLayout(int boardIndex)
{
    Device* const dev = loadedDevice();
    qDebug() << "draw dynamic layout.........";
    if (!m_initFinished) {
        qDebug() << "Draw dynamic layout failed. m_initLock is false.";
        return;
    }
    if (!dev) {
        qDebug() << "Draw dynamic layout error, m_ptrDevice is NULL.";
        return;
    }
    if (dev->m_pKCs.empty()) {
        qDebug() << "Draw dynamic layout error, m_ptrDevice->m_pKCs is NULL.";
        return;
    }
    if (m_vDynamicKeyBtn.isEmpty())
        return;
    if (boardIndex < 0 || boardIndex >= m_data.boards.size() || !m_data.boards[boardIndex]) {
        qDebug() << "Draw dynamic layout error, no board record" << boardIndex;
        return;
    }
    const BoardInfo& record = *m_data.boards[boardIndex];
    const double W = record.w;
    const double H = record.h;
    const double g = m_data.gap;

    const QPointF extent = keyExtent(m_vDynamicKeyBtn);
    const double right = extent.x();
    const double bottom = extent.y();

    QFrame* frame = m_ui->dynamicLayout;
    frame->resize(int(right * W), int(bottom * H));
    // Centred in the window whatever the record's x says.
    const int half = width() / 2;
    frame->move(int(half - right * W * 0.5), int(record.y));
    m_dynamicBottom = frame->y() + (frame->height() - 1) + 9;

    for (int i = 0; i < m_vDynamicKeyBtn.size(); ++i) {
        KeyBtn* key = m_vDynamicKeyBtn[i];
        key->setParent(frame);
        key->resize(int((key->w * W - g) - key->x2 * W), int(key->h * H - g));
        key->move(int(key->x * W + key->x2 * W), int(key->y * H));
        key->layoutShape(int(W));
        key->setKeyIndex(i);
        if (m_ptrColor)
            key->setFillBackground(m_ptrColor->paletteWidget()->isEnabled());
        // drawKeyCode gives the picture keys tool tips that are not meant to show.
        key->toolTipEnabled = false;
        // Keys beyond the keyboard's table get no code but are still part of the picture.
        key->show();
    }

    drawKeyCode();
    if (!m_vDynamicKeyBtn.isEmpty())
        connectDynamicKeybtn();
    qDebug() << "keyboard picture drawn";
}

void Tessark::connectDynamicKeybtn()
{
    Device* const dev = loadedDevice();
    const bool colours = hasColourMaps(dev);
    for (KeyBtn* key : qAsConst(m_vDynamicKeyBtn)) {
        connect(key, &KeyBtn::emitClickKeyBtnSignal, this, &Tessark::clickKeyBtnSlot);
        if (colours)
            connect(key, &KeyBtn::emitRequestColorSignal, this, &Tessark::receiveRequestColorSlot);
        connect(key, &KeyBtn::emitReleaseControl, this, &Tessark::unsetCursorKeySlot);
        connect(key, &KeyBtn::emitReleaseControl, this, &Tessark::unsetCursorColorSlot);
        connect(key, &KeyBtn::emitReleaseControl, this, &Tessark::unsetCursorModeSlot);
    }
}

void Tessark::clickKeyBtnSlot(KeyBtn* key)
{
    if (!key)
        return;
    m_pkeyBtn = key;
    qDebug().noquote() << "Click KeyBtn text is " + key->alias();
    if (m_pkeyBtnHighlight && m_pkeyBtnHighlight->keyIndex() != key->keyIndex())
        m_pkeyBtnHighlight->updateBorderStyle(true);
    m_pkeyBtnHighlight = key;
    key->updateBorderStyle(false);
}

bool Tessark::setKeyColor(int btnId, QColor color)
{
    Device* const dev = loadedDevice();
    if (!color.isValid())
        return false;
    if (btnId < 0 || btnId > m_vDynamicKeyBtn.size()) {
        qDebug() << "btn_id is valid , id < 0 or id > valid size, return.";
        return false;
    }
    for (int i = 0; i < m_vDynamicKeyBtn.size(); ++i) {
        KeyBtn* key = m_vDynamicKeyBtn[i];
        if (key->keyIndex() != btnId)
            continue;
        const QColor before = key->color;
        key->setColor(color);
        // Device::setKeyColor refuses an index past the colour table itself. A key the keyboard did
        // not take shows what the keyboard still has.
        const uint32_t e = dev ? dev->setKeyColor(i, color) : uint32_t(DeviceResult::Ok);
        if (e != DeviceResult::Ok) {
            key->setColor(before);
            qWarning("set key %d colour failed, error code = %x", i, e);
            // A key without a colour entry sent nothing; anything else went to the keyboard and failed.
            if (e != DeviceResult::BadIndex)
                writefailurenotice::keyColourNotTaken();
        }
        return true;
    }
    return true;
}

bool Tessark::setKeyMode(int btnId, int mode)
{
    Device* const dev = loadedDevice();
    if (mode < 0)
        return false;
    for (int i = 0; i < m_vDynamicKeyBtn.size(); ++i) {
        KeyBtn* key = m_vDynamicKeyBtn[i];
        if (key->keyIndex() != btnId)
            continue;
        const int before = key->macroIndex;
        key->setModeIndex(mode);
        qDebug().noquote() << "set " + key->name() + " mode=" + QString::number(mode);
        const uint8_t byte = uint8_t(mode);
        // setLMM refuses a position past the lighting table; the key then keeps its old slot.
        const uint32_t e = dev ? dev->setLMM(i, i, &byte) : uint32_t(DeviceResult::Ok);
        if (e != DeviceResult::Ok) {
            key->setModeIndex(before);
            qWarning("set key %d mode failed, error code = %x", i, e);
            if (e != DeviceResult::BadIndex)
                writefailurenotice::keyModeNotTaken();
        }
        return true;
    }
    return true;
}

void Tessark::applyDeviceKeyValues(int displayMode)
{
    Device* const dev = loadedDevice();
    const int bytes = lightingByteCount(dev);
    for (int i = 0; i < m_vDynamicKeyBtn.size(); ++i) {
        KeyBtn* key = m_vDynamicKeyBtn[i];
        key->setDisplayMode(displayMode);
        if (i < bytes)
            key->setModeIndex(dev->m_pLMMs[size_t(i)]);
    }
}

void Tessark::applyDeviceKeyColors()
{
    Device* const dev = loadedDevice();
    if (dev) {
        for (int i = 0; i < m_vDynamicKeyBtn.size(); ++i) {
            const QColor colour = dev->keyColor(i); // invalid past the colour table
            if (colour.isValid())
                m_vDynamicKeyBtn[i]->setColor(colour);
        }
    }
    unsetCursorSlot();
}

void Tessark::clearKeySelections()
{
    for (KeyBtn* key : {m_pStaticKeyBtnHighlight, m_pkeyBtnHighlight, m_pStaticKeyBtn, m_pkeyBtn}) {
        if (key)
            key->updateBorderStyle(true);
    }
    m_pStaticKeyBtnHighlight = nullptr;
    m_pkeyBtnHighlight = nullptr;
    m_pStaticKeyBtn = nullptr;
    m_pkeyBtn = nullptr;
}

void Tessark::deleteDynamicKeybtn()
{
    if (m_vDynamicKeyBtn.isEmpty())
        return;
    qDebug() << "Delete dynamic keybtn operater keybtn.....";
    clearKeySelections();
    qDebug() << "Delete dynamic keybtn all.......";
    qDeleteAll(m_vDynamicKeyBtn);
    m_vDynamicKeyBtn.clear();
    qDebug() << "Delete dynamic keybtn all finish.";
}

// --- static key palette -------------------------------------------------------------------------

void Tessark::createStaticKeyBtn()
{
    Data::parseJsonFileForFix(&m_vStaticKeyBtn, m_data.json, QString());
    initStaticKeyBtn(&m_vStaticKeyBtn);
}

void Tessark::initStaticKeyBtn(QVector<KeyBtn*>* keys)
{
    if (!keys)
        return;
    if (keys != &m_vStaticKeyBtn)
        m_vStaticKeyBtn += *keys; // the window owns the palette from here on
    const double W = m_data.w;
    const double H = m_data.h;
    const double g = m_data.gap;

    const QPointF extent = keyExtent(m_vStaticKeyBtn);
    const double right = extent.x();
    const double bottom = extent.y();

    initStaticLayoutArea();

    QScrollArea* area = m_ui->scrollAreaStaticLayout;
    QWidget* palette = m_ui->staticLayout;
    QSlider* slider = m_ui->verticalSliderStaticLayout;

    const int pw = int(W * right);
    palette->setMinimumSize(pw, int(H * bottom));

    area->resize(pw + 1, area->height());
    const int half = width() / 2;
    const int x0 = half - pw / 2 - slider->width() / 2 + 5;
    area->move(x0, m_data.y);

    slider->resize(slider->width(), area->height() - 1);
    slider->move(pw + x0 - 1, m_data.y + 1);
    // The scroll area resizes its widget only once shown; until then the minimum is what counts.
    const int paletteHeight = std::max(palette->height(), palette->minimumHeight());
    slider->setRange(0, paletteHeight - area->height());

    for (KeyBtn* key : qAsConst(m_vStaticKeyBtn)) {
        key->setParent(palette);
        key->resize(int(W * key->w - g + 1.0), int(H * key->h - g + 1.0));
        key->move(int(W * key->x), int(H * key->y));
        key->show();
    }

    if (m_vStaticKeyBtn.isEmpty()) {
        area->show();
        return;
    }
    for (KeyBtn* key : qAsConst(m_vStaticKeyBtn)) {
        connect(key, &KeyBtn::emitKeyCodeSignal, this, &Tessark::keyCodeSlot);
        connect(key, &KeyBtn::emitClickKeyBtnSignal, this, &Tessark::clickKeyBtnStaticSlot);
        connect(key, &KeyBtn::emitReleaseControl, this, &Tessark::unsetCursorKeySlot);
        connect(key, &KeyBtn::emitReleaseControl, this, &Tessark::unsetCursorColorSlot);
    }
    area->show();
}

void Tessark::clickKeyBtnStaticSlot(KeyBtn* key)
{
    if (!key) {
        qDebug() << "click key button static slot is NULL. return.";
        return;
    }
    m_pStaticKeyBtn = key;
    if (m_pStaticKeyBtnHighlight)
        m_pStaticKeyBtnHighlight->updateBorderStyle(true);
    m_pStaticKeyBtnHighlight = key;
    key->updateBorderStyle(false);
}

void Tessark::keyCodeSlot(KeyBtn* key)
{
    Device* const dev = loadedDevice();
    if (!m_initFinished || !key)
        return;
    if (m_disconPix || !dev) {
        qDebug() << "m_label != NULL or m_ptrDevice == NULL.";
        return;
    }
    if (!m_pkeyBtn) {
        qDebug() << "m_pkeyBtn == NULL. return";
        return;
    }
    qDebug().noquote() << "key code slot:" << key->type << key->stype << QString::number(key->code, 16)
                       << key->image() << key->name();

    const int i = m_pkeyBtn->keyIndex();
    // A picture with more keys than the keyboard's table: the extra keys have nothing to write.
    if (i < 0 || i >= keyCodeCount(dev) || i > 0xFF) {
        qDebug() << "key code slot: key" << i << "is not in the keyboard's key code table.";
        return;
    }
    const uint8_t* current = dev->m_pKCs.data() + size_t(i) * KeyEntrySize;
    const bool lockToggle = key->type == 0 && key->stype == 0 && key->code == LockToggleCode;

    // The lock key toggles the key's lock flag; any other key replaces its code and keeps the flag.
    kc_t kc = kc_t::unpack(current);
    if (lockToggle) {
        kc.state ^= 1;
    } else {
        kc.type = uint8_t(key->type);
        kc.stype = uint8_t(key->stype);
        kc.code = key->code;
    }
    uint8_t entry[KeyEntrySize];
    kc.pack(entry);
    // The keyboard's own fourth byte goes back unchanged; Device::setKC keeps what it sent.
    entry[3] = current[3];

    if (dev->setKC(uint8_t(i), uint8_t(i), entry) != 0)
        return;

    // What was written, as the table now holds it (fields beyond the packed widths are dropped).
    const kc_t written = kc_t::unpack(entry);
    KeyBtn* target = m_pkeyBtn;
    target->type = written.type;
    target->stype = written.stype;
    target->code = written.code;
    if (!lockToggle) {
        target->setImage(key->image());
        target->setName(key->name());
        target->setAlias(key->alias());
    }
    target->locked = written.state;
    target->update();
}

void Tessark::drawKeyCode()
{
    Device* const dev = loadedDevice();
    if (!dev) {
        qDebug() << "Draw Key Code error, m_ptrDevice is NULL.";
        return;
    }
    if (dev->m_pKCs.empty() || m_vDynamicKeyBtn.isEmpty() || m_vStaticKeyBtn.isEmpty())
        return;
    const bool colours = hasColourMaps(dev);
    const int count = std::min(keyCodeCount(dev), int(m_vDynamicKeyBtn.size()));
    for (int i = 0; i < count; ++i) {
        const kc_t kc = kc_t::unpack(dev->m_pKCs.data() + size_t(i) * KeyEntrySize);
        const auto match = std::find_if(m_vStaticKeyBtn.cbegin(), m_vStaticKeyBtn.cend(), [&](const KeyBtn* s) {
            return s->type == kc.type && s->stype == kc.stype && s->code == kc.code;
        });
        if (match == m_vStaticKeyBtn.cend())
            continue;
        const KeyBtn* palette = *match;
        KeyBtn* key = m_vDynamicKeyBtn[i];
        QColor colour = colours ? dev->keyColor(i) : NoColourMapKey;
        key->setColor(colour.isValid() ? colour : NoColourMapKey);
        key->code = palette->code;
        key->type = palette->type;
        key->stype = palette->stype;
        key->setImage(palette->image());
        key->setName(palette->name());
        key->setAlias(palette->alias());
        PlainToolTips::setMarkupToolTip(key, plaintext::toolTip(palette->name()));
        key->locked = kc.state;
        key->show();
        key->update();
    }
}

void Tessark::reloadStaticKeys(const QString& file)
{
    // Codes and legends only: the palette keeps its geometry.
    Data::parseStaticXML(&m_vStaticKeyBtn, file);
    drawKeyCode();
}

void Tessark::layoutVersionAutoSlot()
{
    reloadStaticKeys(m_data.xmlWin);
}

void Tessark::layoutVersionWinSlot()
{
    reloadStaticKeys(m_data.xmlWin);
}

void Tessark::layoutVersionMacSlot()
{
    reloadStaticKeys(m_data.xmlMac);
}

void Tessark::unsetCursorKeySlot()
{
    if (m_ptrShortcuts)
        m_ptrShortcuts->shortcutsItemReleaseSelectDynamicLayoutKey();
    if (m_pkeyBtn) {
        m_pkeyBtn->updateBorderStyle(true);
        m_pkeyBtn = nullptr;
    }
    if (m_pStaticKeyBtn) {
        m_pStaticKeyBtn->updateBorderStyle(true);
        m_pStaticKeyBtn = nullptr;
    }
    m_ui->dynamicLayout->unsetCursor();
    m_ui->staticLayout->unsetCursor();
}

Device* Tessark::loadedDevice() const
{
    // Until the load has finished the loader still writes the tables on the device thread.
    return m_deviceLoaded ? device() : nullptr;
}
