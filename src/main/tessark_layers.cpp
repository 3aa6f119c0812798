// The selection layers: rows of numbered buttons (globules) that choose the keyboard's current key
// map, key colour map and lighting mode, and the colour and mode cursors over the picture.
#include "tessark.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "device/device.h"
#include "shortcut/shortcuts.h"
#include "widget/keybtn.h"
#include "widget/runtime.h"

#include <QDebug>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>

#include <algorithm>
#include <functional>

namespace {

constexpr int GlobuleSize = 26;
constexpr int GlobuleSpacing = 6;
constexpr int GlobuleMargin = 11;
constexpr int GlobuleStep = 36; // width a globule takes in its frame
constexpr int LayerHeight = Tessark::GlobuleLayerHeight;
constexpr int KeyLayerWidth = 350;
constexpr uint8_t Invalid = 0xFF;
constexpr int RowPitch = GlobuleSize + GlobuleSpacing;
// The colour-map and mode rows lie on their panel's 760-pixel group box.
constexpr int PanelRowWidth = 760;

// How many globules one row of a frame this wide holds with the layer's margins and spacing.
constexpr int rowCapacity(int frameWidth)
{
    return (frameWidth - 2 * GlobuleMargin + GlobuleSpacing) / RowPitch;
}
constexpr int PanelRowCapacity = PanelRowWidth / GlobuleStep;

// More globules than one row holds: centred rows of perRow at the row's pitch, the frame as many
// rows taller as it needs. The layout is left empty, since it would squeeze them back into one row.
void wrapGlobules(QFrame* frame, const QVector<QPushButton*>& list, int perRow)
{
    const int n = list.size();
    const int rows = (n + perRow - 1) / perRow;
    frame->resize(frame->width(), LayerHeight + (rows - 1) * RowPitch);
    for (int i = 0; i < n; ++i) {
        const int row = i / perRow;
        const int inRow = std::min(perRow, n - row * perRow);
        const int content = inRow * RowPitch - GlobuleSpacing;
        list[i]->move((frame->width() - content) / 2 + (i % perRow) * RowPitch,
                      (LayerHeight - GlobuleSize) / 2 + row * RowPitch);
    }
}

// The position of the button that sent a press, -1 when it is not in the list.
int senderIndex(const QVector<QPushButton*>& list, QObject* sender)
{
    for (int i = 0; i < list.size(); ++i) {
        if (list[i] == sender)
            return i;
    }
    return -1;
}

} // namespace

// --- building and removing the layers -----------------------------------------------------------

void Tessark::createGlobuleKeyLayer()
{
    Device* const dev = loadedDevice();
    if (!dev) {
        qDebug() << "Create globule key Layer failed, m_ptrDevice == NULL.";
        return;
    }
    if (m_hGlobuleKeyLayout) {
        qDebug() << "Create globule key Layer failed, m_hGlobuleKeyLayout != NULL.";
        return;
    }
    if (dev->m_curkcm == Invalid) {
        qDebug() << "Create globule key Layer error, m_ptrDevice->m_curkcm = -1.";
        return;
    }
    if (dev->m_nkcm == Invalid) {
        qDebug() << "Create globule key Layer error, m_ptrDevice->m_nkcm = -1.";
        return;
    }
    // The layer goes below the picture. Without one (a board no record names) its place would be the
    // window's top, across the tabs, which then take no clicks.
    if (m_dynamicBottom <= 0) {
        qDebug() << "Create globule key Layer skipped, no keyboard picture to place it under.";
        return;
    }
    RunTime runTime;
    runTime.mark(1);
    qDebug() << "Create globule key Layer.........";
    // A frame left empty by an earlier build (no key maps) is replaced.
    delete m_globuleKeyFrame;
    m_globuleKeyFrame = new QFrame(this);
    m_globuleKeyFrame->resize(KeyLayerWidth, LayerHeight);
    for (int k = 0; k < dev->m_nkcm; ++k) {
        auto* globule = new QPushButton(QString::number(k), m_globuleKeyFrame);
        globule->setFixedSize(GlobuleSize, GlobuleSize);
        m_vGlobuleKey.append(globule);
    }
    if (m_vGlobuleKey.isEmpty()) {
        qDebug() << "Create globule key Layer error, m_vGlobuleKey size is 0.";
        return;
    }
    m_hGlobuleKeyLayout = new QHBoxLayout(m_globuleKeyFrame);
    m_hGlobuleKeyLayout->setSpacing(GlobuleSpacing);
    m_hGlobuleKeyLayout->setContentsMargins(GlobuleMargin, GlobuleMargin, GlobuleMargin, GlobuleMargin);
    const int perRow = rowCapacity(KeyLayerWidth);
    for (QPushButton* globule : qAsConst(m_vGlobuleKey)) {
        connect(globule, &QPushButton::pressed, this, &Tessark::globuleKeyPressedSlot);
        m_qss.setGlobuleStyle(globule, false);
        if (m_vGlobuleKey.size() <= perRow)
            m_hGlobuleKeyLayout->addWidget(globule);
    }
    if (m_vGlobuleKey.size() > perRow)
        wrapGlobules(m_globuleKeyFrame, m_vGlobuleKey, perRow);
    // A current map the keyboard counts past its maps presses no globule.
    if (dev->m_curkcm < m_vGlobuleKey.size())
        m_qss.setGlobuleStyle(m_vGlobuleKey[dev->m_curkcm], true);
    const int half = width() / 2;
    m_globuleKeyFrame->move(half - m_globuleKeyFrame->width() / 2, m_dynamicBottom);
    // The layer belongs to the key page: it shows while the picture does.
    m_globuleKeyFrame->setVisible(m_ui->dynamicLayout->isVisibleTo(this));
    runTime.stop(QStringLiteral("createGlobuleKey"), 1);
}

bool Tessark::createGlobules(QFrame* frame, QHBoxLayout* layout, QVector<QPushButton*>* list, int n)
{
    if (!frame || !layout || !list)
        return false;
    // One row as wide as its globules while it fits on the panel; beyond, rows of as many as fit.
    const bool wraps = n > PanelRowCapacity;
    frame->resize((wraps ? PanelRowCapacity : n) * GlobuleStep, LayerHeight);
    for (int k = 0; k < n; ++k) {
        auto* globule = new QPushButton(QString::number(k), frame);
        globule->setFixedSize(GlobuleSize, GlobuleSize);
        globule->show();
        list->append(globule);
    }
    if (list->isEmpty())
        return false;
    layout->setSpacing(GlobuleSpacing);
    layout->setContentsMargins(GlobuleMargin, GlobuleMargin, GlobuleMargin, GlobuleMargin);
    if (wraps) {
        wrapGlobules(frame, *list, PanelRowCapacity);
        return true;
    }
    for (QPushButton* globule : qAsConst(*list))
        layout->addWidget(globule);
    return true;
}

void Tessark::createGlobuleColorLayer()
{
    Device* const dev = loadedDevice();
    if (!dev || m_hGlobuleColorLayout)
        return;
    if (dev->m_nkrm == 0) {
        qDebug() << "Create globule color layer error, Do not support color function(krm <= 0).";
        return;
    }
    if (dev->m_curkrm == Invalid) {
        qDebug() << "Create globule color layer error, m_ptrDevice->m_curkrm = -1.";
        return;
    }
    if (dev->m_nkrm == Invalid) {
        qDebug() << "Create globule color layer error, m_ptrDevice->m_nkrm = -1.";
        return;
    }
    qDebug() << "Create globule color layer........";
    delete m_globuleColorFrame;
    m_globuleColorFrame = new QFrame(this);
    m_hGlobuleColorLayout = new QHBoxLayout(m_globuleColorFrame);
    qDebug() << QStringLiteral("临时：小球总数") << dev->m_nkrm;
    if (!createGlobules(m_globuleColorFrame, m_hGlobuleColorLayout, &m_vGlobuleColor, dev->m_nkrm)) {
        qDebug() << "Create globule color layer error, m_vGlobule size is 0.";
        return;
    }
    for (QPushButton* globule : qAsConst(m_vGlobuleColor)) {
        connect(globule, &QPushButton::pressed, this, &Tessark::globuleColorPressedSlot);
        m_qss.setGlobuleStyle(globule, false);
    }
    if (dev->m_curkrm < m_vGlobuleColor.size())
        m_qss.setGlobuleStyle(m_vGlobuleColor[dev->m_curkrm], true);
    m_globuleColorFrame->hide();
}

void Tessark::createGlobuleModeLayer()
{
    Device* const dev = loadedDevice();
    if (!dev || m_hGlobuleModeLayout)
        return;
    if (dev->m_curlm == Invalid) {
        qDebug() << "Create globule mode layer error, m_ptrDevice->m_curlm = -1.";
        return;
    }
    if (dev->m_nlmm == Invalid) {
        qDebug() << "Create globule mode layer error, m_ptrDevice->m_nlmm = -1.";
        return;
    }
    delete m_globuleModeFrame;
    m_globuleModeFrame = new QFrame(this);
    m_hGlobuleModeLayout = new QHBoxLayout(m_globuleModeFrame);
    if (!createGlobules(m_globuleModeFrame, m_hGlobuleModeLayout, &m_vGlobuleMode, dev->m_nlmm)) {
        qDebug() << "Create globule mode layer error, m_vGlobule size is 0.";
        return;
    }
    for (QPushButton* globule : qAsConst(m_vGlobuleMode)) {
        connect(globule, &QPushButton::pressed, this, &Tessark::globuleModePressedSlot);
        m_qss.setGlobuleStyle(globule, false);
    }
    if (dev->m_curlm < m_vGlobuleMode.size())
        m_qss.setGlobuleStyle(m_vGlobuleMode[dev->m_curlm], true);
    const int half = width() / 2;
    m_globuleModeFrame->move(half - m_globuleModeFrame->width() / 2, m_globuleModeFrame->y());
    m_globuleModeFrame->hide();
}

void Tessark::deleteGlobuleLayer(QFrame** frame, QHBoxLayout** layout, QVector<QPushButton*>* list)
{
    for (QPushButton* globule : qAsConst(*list)) {
        disconnect(globule, &QPushButton::pressed, this, nullptr);
        delete globule;
    }
    list->clear();
    delete *layout;
    *layout = nullptr;
    // The emptied frame goes with its layer: the next build makes a new one.
    delete *frame;
    *frame = nullptr;
}

void Tessark::deleteGlobuleKeyLayer()
{
    if (!m_hGlobuleKeyLayout)
        return;
    qDebug() << "Delete globule key Layer.........";
    deleteGlobuleLayer(&m_globuleKeyFrame, &m_hGlobuleKeyLayout, &m_vGlobuleKey);
}

void Tessark::deleteGlobuleColorLayer()
{
    if (!m_hGlobuleColorLayout)
        return;
    qDebug() << "Delete globule color layer........";
    deleteGlobuleLayer(&m_globuleColorFrame, &m_hGlobuleColorLayout, &m_vGlobuleColor);
}

void Tessark::deleteGlobuleModeLayer()
{
    if (!m_hGlobuleModeLayout)
        return;
    qDebug() << "Delete globule mode layer........";
    deleteGlobuleLayer(&m_globuleModeFrame, &m_hGlobuleModeLayout, &m_vGlobuleMode);
}

// --- presses ------------------------------------------------------------------------------------

void Tessark::globuleKeyPressedSlot()
{
    Device* const dev = loadedDevice();
    const int pressed = senderIndex(m_vGlobuleKey, sender());
    for (int i = 0; i < m_vGlobuleKey.size(); ++i) {
        if (i != pressed)
            m_qss.setGlobuleStyle(m_vGlobuleKey[i], false);
    }
    if (pressed < 0 || !dev)
        return;
    qDebug("m_curkcm=%d", dev->m_curkcm);
    // The keyboard's answers are not examined: the re-read table shows what it holds.
    dev->setCurKCMID(uint8_t(pressed));
    dev->getAllKC();
    qDebug("setCurKCMID=%d", pressed);
    m_qss.setGlobuleStyle(m_vGlobuleKey[pressed], true);
    drawKeyCode();
    unsetCursorSlot();
}

void Tessark::pressGlobule(const QVector<QPushButton*>& row, int pressed, int current,
                           const char* unchangedLog, const std::function<void()>& select)
{
    for (int i = 0; i < pressed; ++i)
        m_qss.setGlobuleStyle(row[i], false);
    if (row[pressed]->text().toInt() == current) {
        qDebug() << unchangedLog;
        return;
    }
    m_qss.setGlobuleStyle(row[pressed], true);
    select();
    for (int i = pressed + 1; i < row.size(); ++i)
        m_qss.setGlobuleStyle(row[i], false);
}

void Tessark::globuleColorPressedSlot()
{
    Device* const dev = loadedDevice();
    const int pressed = senderIndex(m_vGlobuleColor, sender());
    if (pressed < 0)
        return;
    qDebug().noquote() << "Color globule pressed " + m_vGlobuleColor[pressed]->text();
    if (!dev) {
        for (int i = 0; i < pressed; ++i)
            m_qss.setGlobuleStyle(m_vGlobuleColor[i], false);
        return;
    }
    pressGlobule(m_vGlobuleColor, pressed, dev->m_curkrm, "no changes color return.", [&] {
        dev->setCurKRMID(uint8_t(pressed));
        dev->getAllKR();
        applyDeviceKeyColors();
    });
}

void Tessark::globuleModePressedSlot()
{
    Device* const dev = loadedDevice();
    const int pressed = senderIndex(m_vGlobuleMode, sender());
    if (pressed < 0)
        return;
    qDebug().noquote() << "Mode globule pressed " + m_vGlobuleMode[pressed]->text();
    qDebug() << QStringLiteral("------临时: 填入mode值。");
    if (!dev) {
        for (int i = 0; i < pressed; ++i)
            m_qss.setGlobuleStyle(m_vGlobuleMode[i], false);
        return;
    }
    pressGlobule(m_vGlobuleMode, pressed, dev->m_curlm, "no changes LM return.", [&] {
        dev->setCurLM(uint8_t(pressed));
        dev->getCurLMM();
        onLMMChange();
    });
}

void Tessark::onLMMChange()
{
    qDebug() << QStringLiteral("**********临时: device读入getMode, 填入mode值到keyBtn**************** ");
    Device* const dev = loadedDevice();
    if (dev) {
        // Only the bytes the keyboard counted and sent; further picture keys keep their number.
        const int bytes = dev->m_nlm == Invalid ? 0 : std::min(int(dev->m_nlm), int(dev->m_pLMMs.size()));
        const int count = std::min(bytes, int(m_vDynamicKeyBtn.size()));
        for (int i = 0; i < count; ++i) {
            const uint8_t mode = dev->m_pLMMs[size_t(i)];
            qDebug() << "id=" << mode;
            m_vDynamicKeyBtn[i]->setModeIndex(mode);
        }
    }
    unsetCursorSlot();
}

// --- cursors ------------------------------------------------------------------------------------

void Tessark::setCursorColorSlot(QColor* colour)
{
    if (!colour) {
        qDebug() << "set cursor color slot is NULL, return -1.";
        return;
    }
    m_qss.setCursorStatus(m_ui->dynamicLayout, Qss::CursorColor, colour->name());
    if (m_ptrColor)
        m_qss.setCursorStatus(m_ptrColor->paletteWidget(), Qss::CursorColor, colour->name());
    setDynamicKeyUnsetCursor();
}

void Tessark::setCursorModeSlot(int mode)
{
    qDebug() << "mode is " << mode;
    m_qss.setCursorStatus(m_ui->dynamicLayout, Qss::CursorMode);
    if (m_ptrColor)
        m_qss.setCursorStatus(m_ptrColor->modeWidget(), Qss::CursorMode);
    setDynamicKeyUnsetCursor();
}

void Tessark::setDynamicKeyUnsetCursor()
{
    if (m_vDynamicKeyBtn.isEmpty()) {
        qDebug() << "set dynamic key unsetCursor failed! m_vDynamicKeyBtn.size() == 0. return.";
        return;
    }
    for (KeyBtn* key : qAsConst(m_vDynamicKeyBtn))
        key->unsetCursor();
}

void Tessark::unsetCursorColorSlot()
{
    m_ui->dynamicLayout->unsetCursor();
    if (m_ptrColor) {
        m_ptrColor->paletteWidget()->unsetColorCursor();
        m_ptrColor->modeWidget()->clearSelection();
    }
}

void Tessark::unsetCursorModeSlot()
{
    unsetCursorColorSlot();
}

void Tessark::unsetCursorSlot()
{
    unsetCursorColorSlot();
    unsetCursorKeySlot();
    unsetCursorModeSlot();
}

void Tessark::receiveRequestColorSlot(int keyIndex)
{
    // Keys are painted only from the lighting page, which arms the colour or mode.
    if (!m_ptrColor || m_ptrColor->isHidden())
        return;
    if (m_vDynamicKeyBtn.isEmpty()) {
        qDebug() << "m_vDynamicKeyBtn Vector Dynamic key button is size 0.";
        return;
    }
    // Both always run: at most one of them has something armed.
    const bool coloured = setKeyColor(keyIndex, m_ptrColor->paletteWidget()->getCurrentColor());
    const bool moded = setKeyMode(keyIndex, m_ptrColor->modeWidget()->currentIndex());
    if (coloured || moded)
        return;
    qDebug() << "Please select a color or mode.";
    for (KeyBtn* key : qAsConst(m_vDynamicKeyBtn))
        key->setCursor(Qt::ForbiddenCursor);
}

void Tessark::keyPressEvent(QKeyEvent* event)
{
    if (!event || event->key() != Qt::Key_Escape)
        return; // other keys are not passed on
    unsetCursorColorSlot();
    unsetCursorKeySlot();
    unsetCursorModeSlot();
    if (m_ptrShortcuts) {
        m_ptrShortcuts->shortcutsItemBtnMouseTimerReleaseSlot(true);
        m_ptrShortcuts->parameterBtnReleaseSlot(true);
    }
}
