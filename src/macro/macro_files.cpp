// Macro files of the page: the save into the item folder, export, import and the folder load. The
// file format and its reader and writer are macrofile's.
#include "macro.h"

#include "macro/keptaside.h"
#include "macro/key.h"
#include "macro/keylayout.h"
#include "macro/macrocodec.h"
#include "macro/macrofile.h"
#include "macro/macroitem.h"
#include "widget/combobox.h"
#include "widget/filenotice.h"
#include "widget/inputnotice.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <array>

bool Macro::isFileName(const QString& name)
{
    return macrofile::isSafeMacroFileName(name);
}

bool Macro::isNewNameFree(int position, const QString& name) const
{
    // The list may name a head otherwise than the keyboard does (it renames only on its side).
    if (isDeviceNameUsed(position, name) || isItemNameUsed(name))
        return false;
    // Any entry counts, a file that did not read, a folder or a link to nowhere too.
    const QFileInfo file(m_itemFolder + name + QStringLiteral(".xml"));
    return m_itemFolder.isEmpty() || (!file.exists() && !file.isSymLink());
}

int Macro::writeItemXml(MacroItem* item, QString path)
{
    if (!item)
        return macrofile::Unreadable;
    return macrofile::writeMacroFile(path, item->index(), itemEvents(item));
}

int Macro::readItemXml(QString path)
{
    return macrofile::readMacroFile(path, &m_vDataKey);
}

int Macro::readItemXml(QString path, QString fileName)
{
    QVector<macrofile::Item> found;
    const int r = macrofile::readMacroFile(path, &m_vDataKey, &found);
    if (r != macrofile::Ok)
        return r;
    const QString name = macrofile::baseName(fileName);
    for (const macrofile::Item& item : qAsConst(found)) {
        createMacroItem(item.id, name);
        // The selector lists every entry, in list order.
        m_selectorGuard = true;
        m_comboBox->addItem(name);
        m_selectorGuard = false;
    }
    return r;
}

bool Macro::saveMacroItem(MacroItem* item)
{
    if (!item)
        return false;
    if (m_itemFolder.isEmpty() || !isFileName(item->name())) {
        qDebug() << "Save item error.";
        return false;
    }
    if (Data::makeDir(m_itemFolder))
        qDebug() << "文件夹  不存在，创建。" << m_itemFolder;
    const QString path = m_itemFolder + item->name() + QStringLiteral(".xml");
    if (!keptaside::mayStep())
        return false;
    if (writeItemXml(item, path) < 0) {
        // Unsaved, the macro stays marked so: the user is told which file did not take it.
        filenotice::saveFailed(path, QStringLiteral("the macro file could not be written"));
        return false;
    }
    qDebug() << "Save item save finished. id=" << item->index();
    qDebug() << "Save macro item: " << path;
    // The saved mark is the keyboard's: a file alone does not put the events on it.
    return true;
}

void Macro::exportItemSlot(QString path)
{
    if (path.isEmpty())
        return;
    qDebug() << "export config: " << path;
    MacroItem* item = getSelectItem();
    if (!item) {
        qDebug() << "get select item error is NULL, export file failed. return.";
        return;
    }
    const int index = item->index();
    item->setIndex(-1);
    const int r = writeItemXml(item, path);
    item->setIndex(index);
    if (r != macrofile::Ok)
        filenotice::saveFailed(path, QStringLiteral("export failed, the file could not be written"));
}

void Macro::importItemSlot(QString path)
{
    if (path.isEmpty())
        return;
    qDebug() << "import config: " << path;
    if (!Data::isFileExist(path)) {
        qDebug() << "file format error.";
        return;
    }
    if (!m_form->itemAddButton->isEnabled()) {
        qDebug() << "import Item Slot failed. item add button false. return";
        return;
    }
    // Read and checked before anything is added: a file that does not parse, or a macro the keyboard
    // cannot hold, adds nothing.
    QVector<DataKey*> events;
    if (macrofile::readMacroFile(path, &events) != macrofile::Ok) {
        qDebug() << "file format error.";
        return;
    }
    std::array<mframe_t, MaxFrames> frames{};
    uint32_t needed = 0;
    macrocodec::encodeFrames(QVector<const DataKey*>(events.begin(), events.end()), frames.data(), MaxFrames,
                             &needed);
    if (!fitsFrameArea(needed)) {
        qDeleteAll(events);
        return;
    }
    const int before = m_items.size();
    addItemSlot();
    if (m_items.size() == before) {
        qDebug() << "import: no macro added";
        qDeleteAll(events);
        return;
    }
    m_vDataKey += events;
    qDebug() << "read item data size is " << m_vDataKey.size();
    disconnect(m_importDrawn);
    m_importDrawn = connect(this, &Macro::stopDrawKey, this, &Macro::drawKeyFinished);
    MacroItem* item = getSelectItem();
    if (!item)
        return;
    setItemEditEnabled(item, false);
    drawXMLKeyStart();
    scrollToSelectItem(2);
}

// ---- the folder load ------------------------------------------------------------------------------

void Macro::readFileInfoData()
{
    // Whatever stands under an item file's name is listed, a folder or a FIFO too: the reader refuses
    // it and the user hears of it, rather than the macro going missing without a word.
    m_fileInfoList.reset(new QFileInfoList(QDir(m_itemFolder).entryInfoList(
        QStringList(QStringLiteral("*.xml")), QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot,
        QDir::Name)));
    if (!m_fileInfoList->isEmpty()) {
        m_fileIndex = 0;
        m_listReady = false;
        emit startReadItemXml();
        return;
    }
    qDebug() << "fileInfo = null";
    showEmptyList();
}

void Macro::startReadItemXmlSlot()
{
    if (!m_fileInfoList)
        return;
    if (m_fileIndex >= m_fileInfoList->size()) {
        qDebug() << "Parse macro item XML finished.";
        m_listReady = true;
        m_comboBox->setEnabled(true);
        setItemsEnabled(true);
        if (!m_items.isEmpty()) {
            setItemSelect(m_items.first());
        } else {
            setAddButtonState(true);
            setOtherButtonState(true);
            setImportButtonState(true);
        }
        return;
    }
    const QFileInfo file = m_fileInfoList->at(m_fileIndex);
    const int r = readItemXml(file.absoluteFilePath(), file.fileName());
    if (r != macrofile::Ok) {
        qDebug() << "parseXml error. return, ERROR: " << r << file.absoluteFilePath();
        // Its macro is missing from the list: said once a run, however often the folder is read.
        inputnotice::unreadable(file.absoluteFilePath());
        // The other files still load.
        ++m_fileIndex;
        emit startReadItemXml();
        return;
    }
    drawXMLKeyStart();
}
