// The macro page's controls: button looks and states, the default delay, selecting and renaming an
// entry, the list's slider, the file dialogs and the popup, the two languages and the page's lines.
#include "macro.h"

#include "device/device.h"
#include "macro/keylayout.h"
#include "macro/macroitem.h"
#include "macro/popup.h"
#include "setting/Language.h"
#include "widget/combobox.h"
#include "widget/qss.h"
#include "widget/slider.h"
#include "widget/toolfiledialog.h"

#include <QCheckBox>
#include <QDebug>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMetaEnum>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegExpValidator>
#include <QScrollArea>
#include <QScrollBar>

namespace {
constexpr int MaxNameLength = 12;
constexpr uint MaxDefaultDelay = 65535;
constexpr uint SmallestAppliedDelay = 5; // 0..4 are kept but not written into the chips
constexpr int CheckBoxShift = 44;
const QColor ControlOn(60, 60, 60);
const QColor ControlOff(170, 170, 170);
}

// ---- construction steps ----------------------------------------------------------------------------

void Macro::createPopup()
{
    m_popup = new Popup(nullptr);
    m_popup->setContentWidget(m_form->itemImportButton);
    m_popup->setContentWidget(m_form->itemExportButton);
}

void Macro::initFonts()
{
    const QFont caption(QStringLiteral("Consolas"), 13);
    m_form->recLabel->setFont(caption);
    m_form->downloadLabel->setFont(caption);
    QFont legendFont(QStringLiteral("Consolas"));
    legendFont.setPixelSize(11);
    m_form->upLabel->setFont(legendFont);
    m_form->downLabel->setFont(legendFont);
    m_form->delayLabel->setFont(legendFont);
}

void Macro::createComboBox()
{
    m_comboBox = new ComboBox(m_form->frameMacroComboBox, 11, false);
    m_comboBox->setObjectName(QStringLiteral("nameSelector"));
    m_comboBox->setGeometry(0, 0, m_form->frameMacroComboBox->width(), m_form->frameMacroComboBox->height());
}

void Macro::initNameValidator()
{
    m_alterEdit->setParent(m_form->frameMacroComboBox);
    m_alterEdit->setObjectName(QStringLiteral("renameEdit"));
    m_alterEdit->resize(m_form->frameMacroComboBox->size());
    m_alterEdit->hide();
    m_alterEdit->setValidator(
        new QRegExpValidator(QRegExp(QStringLiteral("[a-zA-Z0-9]+$"), Qt::CaseSensitive), m_alterEdit));
    Qss().setCenteredLineEditStyle(m_alterEdit);
}

void Macro::initScrollBar()
{
    QScrollArea* area = m_form->scrollArea;
    m_form->scrollAreaWidgetContents->resize(area->size());
    area->setStyleSheet(QStringLiteral("background-color: rgba(0, 0, 0, 0%); border-radius:0px;"));
    m_scrollBar = area->verticalScrollBar();
    m_slider = new Slider(this, 1, 0, true);
    m_slider->setObjectName(QStringLiteral("listSlider"));
    // The page's right edge, level with the list (the form's margins put the list there).
    m_slider->setFixedHeight(area->height());
    m_slider->move(width() - m_slider->width(), 6 + m_form->frameTop->height());
    m_slider->setRange(0, 0);
    connect(m_slider, &QSlider::valueChanged, m_scrollBar, &QScrollBar::setValue);
    connect(m_scrollBar, &QScrollBar::valueChanged, m_slider, &QSlider::setValue);
}

void Macro::initDrawXMLKeyTimer()
{
    m_drawXMLKeyTimer.setInterval(DrawIntervalMs);
    connect(&m_drawXMLKeyTimer, &QTimer::timeout, this, &Macro::drawXMLKeySlot);
}

void Macro::initDrawDeviceKeyTimer()
{
    m_drawDeviceKeyTimer.setInterval(DrawIntervalMs);
    connect(&m_drawDeviceKeyTimer, &QTimer::timeout, this, &Macro::drawKeyboradDeviceKeySlot);
}

QString Macro::exportStartFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\Users");
#else
    return QDir::homePath();
#endif
}

void Macro::initExportDialog()
{
    m_exportDialog = new ToolFileDialog(nullptr, QStringLiteral("Choose to save the data directory"),
                                        exportStartFolder(), QStringLiteral("XML File(*.xml)"));
    m_exportDialog->setAcceptMode(QFileDialog::AcceptSave);
    connect(m_exportDialog, &QFileDialog::fileSelected, this, &Macro::exportItemSlot);
}

void Macro::initImportDialog()
{
    m_importDialog = new ToolFileDialog(nullptr, QStringLiteral("Select import data file"), QString(),
                                        QStringLiteral("XML File(*.xml)"));
    m_importDialog->setAcceptMode(QFileDialog::AcceptOpen);
    m_importDialog->setFileMode(QFileDialog::ExistingFile);
    connect(m_importDialog, &QFileDialog::fileSelected, this, &Macro::importItemSlot);
}

void Macro::initDelayCheckBox()
{
    QCheckBox* box = m_form->msecDelaysCheckBox;
    box->setText(QStringLiteral("Modify all default delays"));
    box->resize(220, 20);
    box->move(box->x() - CheckBoxShift, box->y());
}

void Macro::connectButtons()
{
    connect(m_form->itemAddButton, &QPushButton::pressed, this, &Macro::addItemSlot);
    connect(m_form->itemPenButton, &QPushButton::pressed, this, &Macro::alterButtonSlot);
    connect(m_form->itemDelButton, &QPushButton::pressed, this, &Macro::deleteItemSlot);
    connect(m_form->itemOtherButton, &QPushButton::pressed, this, &Macro::otherPressedSlot);
    connect(m_form->downloadButton, &QPushButton::pressed, this, &Macro::downloadItemDataSlot);
    connect(m_form->recorderButton, &QPushButton::toggled, this, &Macro::recorderItemDataSlot);
    connect(m_form->msecDelaysCheckBox, &QCheckBox::clicked, this, &Macro::msecDelaysCheckBoxSlot);
    connect(m_form->msecLineEdit, &QLineEdit::textChanged, this, &Macro::msecLineEditSlot);
    connect(this, &Macro::startReadItemXml, this, &Macro::startReadItemXmlSlot);
    connect(this, &Macro::startReadItemKBDevice, this, &Macro::startReadItemKBDeviceSlot);
    connect(m_form->itemExportButton, &QPushButton::pressed, this, &Macro::fileDialogSaveShow);
    connect(m_form->itemImportButton, &QPushButton::pressed, this, &Macro::fileDialogOpenShow);
}

void Macro::connectAlterSignals()
{
    connect(m_comboBox, &QComboBox::currentTextChanged, this, &Macro::comboboxCurentTextChangedSlot);
    connect(m_alterEdit, &QLineEdit::editingFinished, this, &Macro::alterEditFinishedSlot);
    connect(m_alterEdit, &QLineEdit::textChanged, this, &Macro::alterEditChangedSlot);
}

// ---- button looks and states ---------------------------------------------------------------------

void Macro::setImageButton(QPushButton* button, bool enabled, const QString& normal, const QString& hover,
                           const QString& ban)
{
    if (!m_listReady)
        return;
    button->setEnabled(enabled);
    Qss qss;
    if (enabled)
        qss.setMacroButtonStyle(button, normal, hover);
    else
        qss.setMacroButtonStyle(button, ban, QString());
}

void Macro::setFlatButton(QPushButton* button, bool enabled)
{
    if (!m_listReady)
        return;
    button->setEnabled(enabled);
    Qss().setFlatButtonStyle(button, enabled);
}

void Macro::setRecordButtonState(bool enabled)
{
    const bool on = m_form->recorderButton->isChecked();
    setImageButton(m_form->recorderButton, enabled, on ? QStringLiteral("rec-on.svg") : QStringLiteral("rec-off.svg"),
                   on ? QStringLiteral("rec-on-hover.svg") : QStringLiteral("rec-off-hover.svg"),
                   QStringLiteral("rec-off-ban.svg"));
}

void Macro::setDownloadButtonState(bool enabled)
{
    setImageButton(m_form->downloadButton, enabled, QStringLiteral("download-off.svg"),
                   QStringLiteral("download-off-hover.svg"), QStringLiteral("download-off-ban.svg"));
}

void Macro::setAddButtonState(bool enabled)
{
    setImageButton(m_form->itemAddButton, enabled, QStringLiteral("item-add.svg"), QStringLiteral("item-add-hover.svg"),
                   QStringLiteral("item-add-ban.svg"));
}

void Macro::setEditButtonState(bool enabled)
{
    setImageButton(m_form->itemPenButton, enabled, QStringLiteral("item-pen.svg"), QStringLiteral("item-pen-hover.svg"),
                   QStringLiteral("item-pen-ban.svg"));
}

void Macro::setDeleteButtonState(bool enabled)
{
    setImageButton(m_form->itemDelButton, enabled, QStringLiteral("item-del.svg"), QStringLiteral("item-del-hover.svg"),
                   QStringLiteral("item-del-ban.svg"));
}

void Macro::setOtherButtonState(bool enabled)
{
    setImageButton(m_form->itemOtherButton, enabled, QStringLiteral("item-other.svg"),
                   QStringLiteral("item-other-hover.svg"), QStringLiteral("item-other-ban.svg"));
}

void Macro::setExportButtonState(bool enabled)
{
    setFlatButton(m_form->itemExportButton, enabled);
}

void Macro::setImportButtonState(bool enabled)
{
    setFlatButton(m_form->itemImportButton, enabled);
}

void Macro::updateItemButtons()
{
    MacroItem* item = getSelectItem();
    if (!item)
        return;
    const bool hasChips = !item->keyLayout()->keys.isEmpty();
    setDownloadButtonState(hasChips);
    setExportButtonState(hasChips);
    setOtherButtonState(true);
    setRecordButtonState(true);
    setDeleteButtonState(true);
    setEditButtonState(true);
    bool freeHead = false;
    if (m_ptrDevice) {
        const int heads = qMin(int(m_ptrDevice->m_nKMTotalNum), int(m_ptrDevice->m_pKMs.size()));
        for (int i = 0; i < heads && !freeHead; ++i)
            freeHead = !m_ptrDevice->m_pKMs[size_t(i)].used();
    }
    setAddButtonState(freeHead);
    setImportButtonState(freeHead);
}

void Macro::setEditControlsEnabled(bool on)
{
    m_comboBox->setEnabled(on);
    setDelayControlsEnabled(on, m_form->msecDelaysCheckBox->isChecked());
    if (on) {
        updateItemButtons();
        return;
    }
    disableItemButtons();
}

void Macro::setAllButtonsEnabled(bool on)
{
    setRecordButtonState(on);
    setDownloadButtonState(on);
    setAddButtonState(on);
    setEditButtonState(on);
    setOtherButtonState(on);
    setDeleteButtonState(on);
    setExportButtonState(on);
    setImportButtonState(on);
    setDelayControlsEnabled(on, m_form->msecDelaysCheckBox->isChecked());
    if (!on)
        setDelayEditText(0);
    m_comboBox->setEnabled(on);
}

void Macro::setItemEditEnabled(MacroItem* item, bool on)
{
    if (!item)
        return;
    item->setEnabled(on);
    setOtherItemsEnabled(item, on);
    m_comboBox->setEnabled(on);
    if (!on) {
        setAllButtonsEnabled(false);
        return;
    }
    updateMADDCheckBox(item);
    updateItemButtons();
}

void Macro::setOtherItemsEnabled(MacroItem* item, bool on)
{
    for (MacroItem* other : qAsConst(m_items)) {
        if (other == item)
            continue;
        other->setEnabled(on);
        other->setLoadDataEnabled(on);
    }
}

void Macro::setItemsEnabled(bool on)
{
    for (MacroItem* item : qAsConst(m_items)) {
        item->setEnabled(on);
        item->setLoadDataEnabled(on);
    }
}

// ---- default delay -----------------------------------------------------------------------------------

void Macro::setDelayCheckBoxState(bool on)
{
    QCheckBox* box = m_form->msecDelaysCheckBox;
    box->setChecked(on);
    m_form->msecLineEdit->setEnabled(on);
    const QColor text = on ? ControlOn : ControlOff;
    Qss().setCheckBoxStyle(box, QStringLiteral("color"), QStringLiteral("checked.svg"), 9, QColor(0x7d, 0x7d, 0x7d),
                           text);
    const QString colour = QStringLiteral("color: rgb(%1, %2, %3);").arg(text.red()).arg(text.green()).arg(text.blue());
    m_form->msecLabel->setStyleSheet(colour);
    m_form->msecLineEdit->setStyleSheet(colour);
}

void Macro::setDelayEditText(uint ms)
{
    QLineEdit* edit = m_form->msecLineEdit;
    disconnect(edit, &QLineEdit::textChanged, this, &Macro::msecLineEditSlot);
    edit->setText(ms == 0 ? QString() : QString::number(ms));
    connect(edit, &QLineEdit::textChanged, this, &Macro::msecLineEditSlot);
}

void Macro::setDelayControlsEnabled(bool enable, bool checked)
{
    if (!m_listReady)
        return;
    m_form->msecDelaysCheckBox->setEnabled(enable);
    if (enable) {
        setDelayCheckBoxState(checked);
        return;
    }
    m_form->msecDelaysCheckBox->setChecked(false);
    setDelayEditText(0);
    setDelayCheckBoxState(false);
}

void Macro::updateMADDCheckBox(MacroItem* item)
{
    if (!item)
        return;
    qDebug() << "update modify all default delay, item=" << item->index() << item->name();
    if (item->keyLayout()->keys.isEmpty()) {
        setDelayControlsEnabled(false, false);
        return;
    }
    setDelayControlsEnabled(true, item->isModifyAllDefaultDelay());
    setDelayEditText(item->defaultDelay());
    qDebug() << "set modify all default delay checkbox = " << (item->isModifyAllDefaultDelay() ? "true" : "false")
             << "editTime=" << item->defaultDelay();
}

void Macro::msecDelaysCheckBoxSlot(bool checked)
{
    qDebug() << "msec delays checkBox =" << (checked ? "true" : "false");
    setDelayControlsEnabled(true, checked);
    if (MacroItem* item = getSelectItem())
        item->setModifyAllDefaultDelayCheckBox(checked);
}

void Macro::msecLineEditSlot(QString text)
{
    QLineEdit* edit = m_form->msecLineEdit;
    if (text.isEmpty()) {
        edit->setText(QStringLiteral("0"));
        edit->selectAll();
        return;
    }
    bool ok = false;
    uint value = text.toUInt(&ok);
    if (!ok)
        value = 0;
    if (value > MaxDefaultDelay) {
        disconnect(edit, &QLineEdit::textChanged, this, &Macro::msecLineEditSlot);
        edit->setText(s_lastDelayText);
        connect(edit, &QLineEdit::textChanged, this, &Macro::msecLineEditSlot);
        return;
    }
    s_lastDelayText = QString::number(value);
    if (value == m_defaultDelay)
        return;
    m_defaultDelay = value;
    qDebug() << "msec line eidt number =" << value;
    MacroItem* item = getSelectItem();
    if (item && value >= SmallestAppliedDelay)
        item->setDefaultDelay(value);
}

// ---- selection ------------------------------------------------------------------------------------

int Macro::getSelectItemIndex() const
{
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items[i]->isSelected())
            return i;
    }
    qDebug() << "get Select error.";
    return -1;
}

MacroItem* Macro::getSelectItem() const
{
    const int i = getSelectItemIndex();
    return i < 0 ? nullptr : m_items[i];
}

void Macro::setItemSelect(MacroItem* item)
{
    if (!item)
        return;
    for (MacroItem* other : qAsConst(m_items)) {
        if (other == item)
            continue;
        other->setSelected(false);
        other->keyLayout()->resetAllKeys();
    }
    item->setSelected(true);
    updateMADDCheckBox(item);
    m_selectorGuard = true;
    pressSlot(item->name());
    m_selectorGuard = false;
    updateItemButtons();
}

void Macro::pressSlot(QString name)
{
    m_alterEdit->hide();
    m_comboBox->show();
    m_comboBox->setCurrentText(name);
}

void Macro::setSelectorTextQuietly(int index, const QString& text)
{
    m_selectorGuard = true;
    if (index >= 0)
        m_comboBox->setItemText(index, text);
    m_selectorGuard = false;
}

void Macro::itemEditingFinishedTextSlot(QString key, QString text)
{
    // Names are unique only with their case: "abc" and "ABC" are two macros.
    setSelectorTextQuietly(m_comboBox->findText(key, Qt::MatchExactly | Qt::MatchCaseSensitive), text);
}

// ---- renaming -------------------------------------------------------------------------------------

void Macro::alterButtonSlot()
{
    if (m_comboBox->currentIndex() < 0)
        return;
    m_alterEdit->setText(m_comboBox->currentText());
    m_alterEdit->show();
    m_alterEdit->setFocus();
    m_comboBox->hide();
    qDebug("Line=%d func=%s", __LINE__, "alterButtonSlot");
}

void Macro::alterEditChangedSlot(QString text)
{
    if (text != m_comboBox->currentText())
        Data::clipLineEdit(m_alterEdit, text, MaxNameLength);
}

void Macro::alterEditFinishedSlot()
{
    const QString name = m_alterEdit->text();
    qDebug("Line=%d func=%s", __LINE__, "alterEditFinishedSlot");
    if (name.isEmpty() || isItemNameUsed(name)) {
        qDebug().noquote() << QStringLiteral("change Macro name failed, ") + name + QStringLiteral(" name repeated. return.");
        m_alterEdit->hide();
        m_comboBox->show();
        return;
    }
    const QString old = m_comboBox->currentText();
    const auto it = std::find_if(m_items.begin(), m_items.end(), [&old](MacroItem* i) { return i->name() == old; });
    if (it == m_items.end())
        return;
    MacroItem* item = *it;
    qDebug() << "name=" << old << " -> change to -> " << name;
    if (isFileName(old) && !m_itemFolder.isEmpty())
        Data::renameFile(m_itemFolder, old + QStringLiteral(".xml"), name + QStringLiteral(".xml"));
    else
        qDebug() << "rename: the name" << old << "is no file name, no macro file renamed";
    item->setName(name);
    keepBackInStep(item);
    writeHeadName(item->index(), name);
    const int index = m_comboBox->findText(old, Qt::MatchExactly | Qt::MatchCaseSensitive);
    setSelectorTextQuietly(index, name);
    emit updateShortcutsComboboxSetItemText(index, name);
    m_alterEdit->hide();
    m_comboBox->show();
}

void Macro::mousePressEvent(QMouseEvent* event)
{
    m_alterEdit->hide();
    m_comboBox->show();
    QWidget::mousePressEvent(event);
}

// ---- dialogs and popup ----------------------------------------------------------------------------

void Macro::fileDialogSaveShow()
{
    const QString text = m_comboBox->currentText();
    if (text.isEmpty())
        return;
    m_exportDialog->selectFile(text + QStringLiteral(".xml"));
    m_exportDialog->exec();
    // Its hover look would stay while the modal dialog held the mouse.
    setOtherButtonState(false);
    setOtherButtonState(true);
}

void Macro::fileDialogOpenShow()
{
    m_importDialog->show();
    setOtherButtonState(false);
    setOtherButtonState(true);
}

void Macro::otherPressedSlot()
{
    QPushButton* other = m_form->itemOtherButton;
    m_popup->raise();
    m_popup->move(other->mapToGlobal(QPoint(0, 0)) + QPoint(10, other->height() + 20));
    m_popup->show();
}

void Macro::onEventRecordBtnSlot(QEvent* event)
{
    if (!event)
        return;
    const char* name = QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type());
    qDebug() << "event type=" << (name ? name : "unknown");
    if (event->type() == QEvent::ToolTip)
        qDebug().noquote() << QString(42, QLatin1Char('-'));
}

// ---- texts and painting ----------------------------------------------------------------------------

bool Macro::isChinese() const
{
    return currentLanguageType() == 0;
}

void Macro::setLanguage(int language)
{
    const bool zh = language == 0;
    auto pick = [zh](const char* english, const QString& chinese) { return zh ? chinese : QString::fromLatin1(english); };
    m_form->itemImportButton->setText(pick("Import", QStringLiteral("导入")));
    m_form->itemExportButton->setText(pick("Export", QStringLiteral("导出")));
    m_form->recLabel->setText(pick("REC", QStringLiteral("录制")));
    m_form->downloadLabel->setText(pick("DOWNLOAD", QStringLiteral("下载")));
    m_form->upLabel->setText(pick("Bounce", QStringLiteral("弹起")));
    m_form->downLabel->setText(pick("Pressed", QStringLiteral("按下")));
    m_form->delayLabel->setText(pick("delay", QStringLiteral("延时")));
    m_form->msecDelaysCheckBox->setText(pick("Modify all default delays", QStringLiteral("修改所有默认延时")));
    m_form->msecLabel->setText(pick("msec", QStringLiteral("毫秒")));
    m_form->itemAddButton->setToolTip(pick("Add", QStringLiteral("添加")));
    m_form->itemPenButton->setToolTip(pick("Rename", QStringLiteral("重命名")));
    m_form->itemDelButton->setToolTip(pick("Delete", QStringLiteral("删除")));
    m_form->itemOtherButton->setToolTip(pick("Other", QStringLiteral("其它")));
}

void Macro::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QColor(150, 150, 150));
    const QScrollArea* area = m_form->scrollArea;
    if (area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        painter.drawLine(891, 99, 891, 551);
    if (area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        painter.drawLine(8, 556, 886, 556);
}

void Macro::disableItemButtons()
{
    setDownloadButtonState(false);
    setAddButtonState(false);
    setEditButtonState(false);
    setOtherButtonState(false);
    setDeleteButtonState(false);
    setExportButtonState(false);
    setImportButtonState(false);
}

void Macro::showEmptyList()
{
    m_listReady = true;
    setRecordButtonState(false);
    setDownloadButtonState(false);
    setAddButtonState(true);
    setOtherButtonState(true);
    setImportButtonState(true);
    m_comboBox->setEnabled(true);
}
