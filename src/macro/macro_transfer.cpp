// Macros between the page and the keyboard: reading one macro's frames and drawing its events, the
// download, and recording on the keyboard with live chips. The frame codec itself is macrocodec's.
#include "macro.h"

#include "device/device.h"
#include "macro/key.h"
#include "macro/keptaside.h"
#include "macro/keylayout.h"
#include "macro/macrocodec.h"
#include "macro/macrofile.h"
#include "macro/macroitem.h"
#include "macro/macronotice.h"
#include "platform/savefile.h"
#include "setting/Language.h"
#include "widget/combobox.h"
#include "widget/fileguard.h"
#include "widget/messagebox.h"
#include "widget/unreadablefile.h"
#include "widget/writefailurenotice.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstring>

namespace {
constexpr int LiveFrameSize = int(sizeof(mframe_t));
}

// ---- codec ---------------------------------------------------------------------------------------

QVector<const DataKey*> Macro::itemEvents(MacroItem* item)
{
    QVector<const DataKey*> events;
    if (!item)
        return events;
    for (const Key* chip : qAsConst(item->keyLayout()->keys))
        events.append(chip->record());
    return events;
}

QVector<DataKey> Macro::eventValues(MacroItem* item)
{
    QVector<DataKey> values;
    for (const DataKey* e : itemEvents(item))
        values.append(*e);
    return values;
}

bool Macro::isChangedFromKeyboard(MacroItem* item)
{
    const QVector<DataKey> now = eventValues(item);
    const QVector<DataKey>& held = item->keyboardEvents();
    if (now.size() != held.size())
        return true;
    for (int i = 0; i < now.size(); ++i) {
        const DataKey& a = now[i];
        const DataKey& b = held[i];
        if (a.status != b.status || a.delay != b.delay || !a.sameKey(b))
            return true;
    }
    return false;
}

uint32_t Macro::key2mframe(MacroItem* item, mframe_t* frames)
{
    uint32_t needed = 0;
    macrocodec::encodeFrames(itemEvents(item), frames, MaxFrames, &needed);
    return needed;
}

void Macro::updateKeyboardReport(const DataKey* event, mframe_t* frame)
{
    macrocodec::updateKeyboardReport(event, frame);
}

void Macro::_parserFrame(int count, mframe_t* frames)
{
    macrocodec::decodeFrames(count, frames, &m_vDataKey);
}

bool Macro::fitsFrameArea(uint32_t needed)
{
    if (needed <= uint32_t(MaxFrames))
        return true;
    qWarning() << "macro needs" << needed << "frames, the keyboard holds" << MaxFrames << ": refused";
    const QString title = isChinese() ? QStringLiteral("下载") : QStringLiteral("Download");
    const QString text = isChinese()
                             ? QStringLiteral("该宏需要 %1 帧，键盘最多只能保存 %2 帧。").arg(needed).arg(MaxFrames)
                             : QStringLiteral("This macro needs %1 frames; the keyboard holds at most %2.")
                                   .arg(needed)
                                   .arg(MaxFrames);
    messagebox::warning(this, title, text, QMessageBox::Ok, QMessageBox::NoButton,
                        m_appDir + QStringLiteral("/images/Tessark-icon-tray-win.svg"));
    return false;
}

// ---- reading and drawing one macro ---------------------------------------------------------------

void Macro::loadDataSlot(MacroItem* item)
{
    if (!item)
        return;
    setItemSelect(item);
    const int stops = Device::outsideStops();
    const uint32_t e = mframe2key(item->index());
    if (e != 0) {
        // The entry stays unloaded. A read cut short by a stop signal is not told: the tool is ending.
        if (Device::outsideStops() != stops)
            qWarning("macro %d: read stopped by a stop signal", item->index());
        else
            macronotice::notRead(item->name(), e);
        return;
    }
    if (m_vDataKey.size() > MaxEvents) {
        // Drawn cut, a download would write the cut macro back: the keyboard's copy stays as it is.
        const int events = m_vDataKey.size();
        dropPendingEvents();
        qWarning() << "macro" << item->index() << "decodes into" << events << "events, the editor holds" << MaxEvents
                   << ": not drawn";
        const QString title = isChinese() ? QStringLiteral("宏") : QStringLiteral("Macro");
        // Shown as plain text: the keyboard's name as it is.
        const QString text =
            isChinese() ? QStringLiteral("键盘上的宏“%1”有 %2 个按键事件，编辑器最多只能显示 %3 个。键盘上的宏保持不变。")
                              .arg(item->name())
                              .arg(events)
                              .arg(MaxEvents)
                        : QStringLiteral("The keyboard's macro \"%1\" has %2 key events; the editor shows at most %3. "
                                         "The macro on the keyboard is left as it is.")
                              .arg(item->name())
                              .arg(events)
                              .arg(MaxEvents);
        messagebox::warning(this, title, text, QMessageBox::Ok, QMessageBox::NoButton,
                            m_appDir + QStringLiteral("/images/Tessark-icon-tray-win.svg"));
        return;
    }
    qDebug() << "Load data item ID = " << item->index();
    m_drawTarget = item;
    setItemEditEnabled(item, false);
    drawKBDeviceKeyStart();
    item->setVisibleItem(false);
}

uint32_t Macro::mframe2key(int index)
{
    if (!m_ptrDevice || index < 0 || index >= int(m_ptrDevice->m_nKMTotalNum)
        || index >= int(m_ptrDevice->m_pKMs.size()))
        return DeviceResult::BadIndex;
    const km_t head = m_ptrDevice->m_pKMs[size_t(index)];
    if (!head.used())
        return 0;
    const uint32_t e = m_ptrDevice->readMacroData(head.slotIndex());
    if (e != 0) {
        qDebug("get KM head=%d failed", index);
        return e;
    }
    const int count = head.frameCount();
    qDebug() << "------------------ LINE=" << __LINE__ << QString::asprintf("item=%d", count);
    // A head may claim up to 1023 frames; the frame area holds 512, and the decoder reads no more.
    _parserFrame(count, m_ptrDevice->m_frames.data());
    qDebug() << "datakeySize[" << m_vDataKey.size() << "]";
    return 0;
}

void Macro::drawKBDeviceKeyStart()
{
    qDebug() << "start draw KB device key timer....";
    m_drawIndex = 0;
    m_drawDeviceKeyTimer.start();
}

void Macro::drawXMLKeyStart()
{
    m_drawIndex = 0;
    m_drawXMLKeyTimer.start();
    qDebug() << "start draw XML key timer....";
}

void Macro::drawKeyboradDeviceKeySlot()
{
    MacroItem* target = m_drawTarget;
    if (!m_listReady && m_readIndex >= 0 && m_readIndex < m_items.size())
        target = m_items[m_readIndex];
    if (!target) {
        qDebug() << "Get macro item is NULL. return";
        return;
    }
    if (m_drawIndex >= m_vDataKey.size()) {
        qDebug() << " Draw KB finished, stop load data.";
        m_drawDeviceKeyTimer.stop();
        m_drawTarget = nullptr;
        target->setKeyboardEvents(eventValues(target));
        setItemEditEnabled(target, true);
        target->keyLayout()->scrollToStart();
        dropPendingEvents();
        return;
    }
    drawPendingEvent(target);
}

void Macro::createKey(int status, uint delay, uint16_t type, uint16_t stype, uint16_t code)
{
    qDebug() << "createKey=" << status << delay << type << stype << code;
    MacroItem* item = getSelectItem();
    if (!item) {
        qDebug() << "ERROR: Create key failed. Not select item.";
        return;
    }
    KeyLayout* timeline = item->keyLayout();
    if (!m_recording) {
        timeline->keys.append(timeline->createKey(status, delay, code, type, stype));
        timeline->updateKeyPoint();
        return;
    }
    // Placed alone; the scroll and the change check wait for the frames that arrived together.
    timeline->appendKey(timeline->createKey(status, delay, code, type, stype));
    if (!m_liveChipsPending) {
        m_liveChipsPending = true;
        QTimer::singleShot(0, this, &Macro::finishLiveChips);
    }
}

void Macro::finishLiveChips()
{
    m_liveChipsPending = false;
    MacroItem* item = getSelectItem();
    if (!item)
        return;
    eventsChanged(item);
    if (m_recording)
        item->keyLayout()->scrollToEnd();
}

void Macro::deleteMacroItemKeyData(MacroItem* item)
{
    if (!item)
        return;
    KeyLayout* timeline = item->keyLayout();
    qDebug() << "delete macro item, is " << timeline->keys.size();
    const QList<Key*> chips = timeline->keys;
    timeline->keys.clear();
    qDeleteAll(chips);
    timeline->updateKeyPoint();
}

// ---- download -------------------------------------------------------------------------------------

bool Macro::downloadMacroItem(MacroItem* item)
{
    if (!item || !m_ptrDevice)
        return false;
    qDebug() << "----------USB DONWLOAD: ITEM =" << item->name() << "ID =" << item->index() << "----------";
    qDebug() << "m_vDataKey.size=" << item->keyLayout()->keys.size();
    std::array<mframe_t, MaxFrames> frames{};
    // Encoded before anything is sent: a macro the keyboard cannot hold is refused whole.
    const uint32_t count = key2mframe(item, frames.data());
    qDebug() << "downloadMacroItem=" << count;
    if (!fitsFrameArea(count))
        return false;
    if (!sendHeadName(item)) {
        keepUndelivered(item);
        return false;
    }
    // The write selects the macro again; a selection that already failed ends the download here.
    uint32_t e = m_ptrDevice->selectMacro(uint8_t(item->index()));
    if (e == 0)
        e = m_ptrDevice->writeMacroData(item->index(), int(count), frames.data());
    setDelayControlsEnabled(false, false);
    if (e != 0) {
        qWarning("macro %d: frames not written, error %x", item->index(), e);
        keepUndelivered(item);
        return false;
    }
    m_undelivered.removeAll(QPointer<MacroItem>(item));
    item->setKeyboardEvents(eventValues(item));
    // What the page shows is what the keyboard holds now.
    item->setSaved(true);
    forgetBack(item);
    return true;
}

void Macro::keepUndelivered(MacroItem* item)
{
    if (!m_undelivered.contains(QPointer<MacroItem>(item)))
        m_undelivered.append(item);
    // Its file is written as a downloaded macro's is, but the entry keeps its unsaved mark: the
    // keyboard still holds something else.
    item->setSaved(false);
    const bool saved = saveMacroItem(item);
    // Back from the list, it is remembered as it is now: a kill must not bring back an older copy.
    keepBackInStep(item);
    // A download tried here says the user wants it, whatever another copy removed from the list.
    m_removedElsewhere.erase(std::remove_if(m_removedElsewhere.begin(), m_removedElsewhere.end(),
                                            [item](const RemovedElsewhere& r) { return r.item == item; }),
                             m_removedElsewhere.end());
    writefailurenotice::macroNotTaken(item->name(), saved);
}

void Macro::keepBackInStep(MacroItem* item)
{
    bool changed = false;
    for (AsideMacro& kept : m_aside) {
        if (!kept.back || kept.item != item)
            continue;
        kept.slot = item->index();
        kept.name = item->name();
        kept.events = eventValues(item);
        changed = true;
    }
    if (changed)
        rememberAside(m_itemFolder);
}

void Macro::eventsChanged(MacroItem* item)
{
    // Drawn from the keyboard or a file, or brought back: the drawing sets the mark itself.
    if (m_quietEdits || !item)
        return;
    if ((!item->hasSavedMark() || item->isSaved()) && isChangedFromKeyboard(item))
        item->setSaved(false);
}

void Macro::setAsideUndelivered(const MacroItem* drawing)
{
    // What an earlier run remembered for this keyboard stays beside what is set aside now.
    recallAside(m_itemFolder);
    QList<AsideMacro> fresh;
    QList<MacroItem*> unsaved;
    for (MacroItem* item : qAsConst(m_items)) {
        const bool notTaken = m_undelivered.contains(QPointer<MacroItem>(item));
        // Recorded or edited and not downloaded: the user's work, which the keyboard does not hold.
        const bool unsent = item != drawing && !item->keyLayout()->keys.isEmpty() && isChangedFromKeyboard(item);
        if ((!notTaken && !unsent) || m_itemFolder.isEmpty())
            continue;
        if (isRemovedElsewhere(item)) {
            qDebug().noquote() << "macro" << item->name() << "- removed from the kept list by another copy of the"
                               << "tool: not kept aside again";
            continue;
        }
        AsideMacro kept;
        kept.itemFolder = m_itemFolder;
        kept.slot = item->index();
        kept.name = item->name();
        kept.events = eventValues(item);
        kept.told = notTaken;
        unsaved.append(item);
        fresh.append(kept);
    }
    m_undelivered.clear();
    m_removedElsewhere.clear(); // its entries go with the keyboard
    // Those back on the page are set aside anew above, as the page holds them, unless the keyboard holds
    // them now.
    const int before = m_aside.size();
    const QString folder = m_itemFolder;
    m_aside.erase(std::remove_if(m_aside.begin(), m_aside.end(),
                                 [&folder](const AsideMacro& a) { return a.back && a.itemFolder == folder; }),
                  m_aside.end());
    const bool changed = !fresh.isEmpty() || m_aside.size() != before;
    // First in the list: what was on the page takes the free heads before what found none.
    m_aside = fresh + m_aside;
    const bool remembered = !changed || rememberAside(m_itemFolder, false);
    // The files after the list: a kill between the two leaves the list naming the macro with all its
    // events, which brings it back; a file alone brings nothing back (downloaded macros have one too).
    for (int i = 0; i < unsaved.size(); ++i) { // one each, in the same order as fresh
        const AsideMacro& k = fresh[i];
        const bool stillKept = std::any_of(m_aside.begin(), m_aside.end(), [&k](const AsideMacro& a) {
            return a.itemFolder == k.itemFolder && keptaside::sameEntry(a.entry(), k.entry());
        });
        // Another copy removed it from the list: its file may hold that copy's state now, which a start takes.
        if (!stillKept) {
            qDebug().noquote() << "macro" << k.name << "- removed from the kept list by another copy of the tool:"
                               << "not kept aside, its file left as it is";
            continue;
        }
        saveMacroItem(unsaved[i]);
        qDebug() << "macro" << fresh[i].name << "not on the keyboard: kept aside with" << fresh[i].events.size()
                 << "events, in its file" << fileHolding(fresh[i]);
    }
    // Told once the files are written: the box names the file that holds the macro.
    if (!remembered)
        tellNotRemembered(m_itemFolder);
}

QString Macro::fileHolding(const AsideMacro& kept)
{
    if (!isFileName(kept.name))
        return QString();
    // What a save of it writes now: the entry's saved mark may predate its last edit.
    QVector<const DataKey*> events;
    for (const DataKey& e : kept.events)
        events.append(&e);
    const QString path = kept.itemFolder + kept.name + QStringLiteral(".xml");
    QByteArray content;
    if (FileGuard::readFile(path, &content) != FileGuard::Result::Read
        || content != macrofile::fileBytes(kept.slot, events))
        return QString();
    return path;
}

bool Macro::hasKeptAside(const QString& deviceFolder)
{
    for (const char* name : {keptaside::FileName, keptaside::SpareFileName}) {
        const QFileInfo list(deviceFolder + QStringLiteral("item/") + QLatin1String(name));
        if (list.exists() || list.isSymLink())
            return true;
    }
    return false;
}

namespace {

bool isListFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

} // namespace

bool Macro::isRemovedElsewhere(MacroItem* item)
{
    const QVector<DataKey> now = eventValues(item);
    return std::any_of(m_removedElsewhere.begin(), m_removedElsewhere.end(), [&](const RemovedElsewhere& r) {
        return r.item == item && keptaside::sameEvents(r.events, now);
    });
}

bool Macro::takeNewerFile(const QString& folder, const QDateTime& listTime, keptaside::Entry* entry)
{
    if (!isFileName(entry->name))
        return false;
    const QString path = folder + entry->name + QStringLiteral(".xml");
    const QFileInfo file(path);
    // Saved after the list was written: an edit saved at a failed download, before a kill.
    if (!file.isFile() || file.isSymLink() || !listTime.isValid() || file.lastModified() <= listTime)
        return false;
    QVector<DataKey*> read;
    QVector<macrofile::Item> items;
    if (macrofile::readMacroFile(path, &read, &items) != macrofile::Ok || items.size() != 1
        || items[0].id != entry->slot) {
        qDeleteAll(read);
        return false;
    }
    QVector<DataKey> events;
    for (const DataKey* e : qAsConst(read))
        events.append(*e);
    qDeleteAll(read);
    if (keptaside::sameEvents(events, entry->events))
        return false;
    qDebug().noquote() << "kept macro" << entry->name << "- its file" << path << "is newer than the list: taken";
    entry->events = events;
    return true;
}

void Macro::recallAside(const QString& folder)
{
    if (folder.isEmpty() || m_asideRecalled.contains(folder))
        return;
    m_asideRecalled.insert(folder);
    keptaside::removeTemporaries(folder);
    const QString first = folder + QLatin1String(keptaside::FileName);
    const QString spare = folder + QLatin1String(keptaside::SpareFileName);
    QList<keptaside::Entry> held[2]; // what each place holds
    struct Damage {
        QString place;
        QString copy;
        int read = 0;
        int unread = 0;
    };
    QList<Damage> damaged;
    bool linked[2] = {false, false};
    bool rewrite = false;
    const QString places[2] = {first, spare};
    for (int i = 0; i < 2; ++i) {
        int unread = 0;
        const keptaside::Result r = keptaside::read(places[i], &held[i], &unread);
        if (r == keptaside::Result::Link) {
            // Neither the link nor what it names is ours to read or write over.
            m_asideLocked.insert(places[i]);
            linked[i] = true;
        } else if (r == keptaside::Result::Damaged) {
            // What did not read may be a macro the user has nowhere else: kept before anything replaces
            // it, else never written over. An empty file held nothing and is not told.
            const QFileInfo info(places[i]);
            const bool empty = info.isFile() && !info.isSymLink() && info.size() == 0;
            QString copy;
            if (!empty && !keepUnreadableFile(places[i], &copy))
                m_asideLocked.insert(places[i]);
            if (!empty)
                damaged.append({places[i], copy, held[i].size(), unread});
            rewrite = true;
        }
    }
    // While the first place cannot be written over, the spare holds the list once it stands: what the
    // first still names may have been downloaded or deleted since.
    m_asideSeen[folder] = held[0] + held[1];
    const bool spareOnly = m_asideLocked.contains(first) && !m_asideLocked.contains(spare) && isListFile(spare);
    const QDateTime times[2] = {QFileInfo(first).lastModified(), QFileInfo(spare).lastModified()};
    QList<keptaside::Entry> entries = held[1];
    QList<int> from; // the place each entry came from
    for (int n = 0; n < entries.size(); ++n)
        from << 1;
    if (!spareOnly) {
        // Both hold the list when the tool ended between writing one place and emptying the other: the
        // one written last holds the macro as it was last.
        entries = held[0];
        from.clear();
        for (int n = 0; n < entries.size(); ++n)
            from << 0;
        const bool spareNewer = isListFile(first) && isListFile(spare) && times[1] > times[0];
        for (const keptaside::Entry& e : qAsConst(held[1])) {
            const auto it = std::find_if(entries.begin(), entries.end(), [&e](const keptaside::Entry& o) {
                return o.slot == e.slot && o.name == e.name;
            });
            if (it == entries.end()) {
                entries.append(e);
                from << 1;
            } else if (spareNewer && !keptaside::sameEvents(it->events, e.events)) {
                qDebug().noquote() << "kept macro" << e.name << "- both places hold it: the newer, in" << spare
                                   << ", is taken";
                *it = e;
                from[int(it - entries.begin())] = 1;
                rewrite = true;
            } else if (!keptaside::sameEvents(it->events, e.events)) {
                qDebug().noquote() << "kept macro" << e.name << "- both places hold it: the newer, in" << first
                                   << ", is taken";
                rewrite = true;
            }
        }
    }
    for (int n = 0; n < entries.size(); ++n) {
        const keptaside::Entry& e = entries[n];
        const auto alike = std::count_if(entries.begin(), entries.end(), [&e](const keptaside::Entry& o) {
            return o.slot == e.slot && o.name == e.name;
        });
        // Two copies of the folder each kept a macro of this name and slot: its file is one of theirs,
        // not a newer state of both, and each comes back as it is.
        if (alike > 1) {
            qDebug().noquote() << "kept macro" << e.name << "- the list holds" << alike << "of this name in slot"
                               << e.slot << ": each comes back, its file not taken";
            continue;
        }
        rewrite = takeNewerFile(folder, times[from[n]], &entries[n]) || rewrite;
    }
    for (const Damage& d : qAsConst(damaged)) {
        const bool elsewhere = d.place == first && m_asideLocked.contains(first) && !m_asideLocked.contains(spare);
        // The spare standing says an earlier start told this and remembers the list there: told once, as
        // what blocks the first place may stay for good.
        if (elsewhere && spareOnly) {
            qDebug().noquote() << "kept macros remembered in" << spare << "while" << first << "does not read";
            continue;
        }
        macronotice::listUnreadable(d.place, d.copy, elsewhere ? spare : QString(), d.read, d.unread);
    }
    for (int i = 0; i < 2; ++i) {
        if (!linked[i])
            continue;
        const QString& other = places[1 - i];
        const bool otherFree = !m_asideLocked.contains(other);
        // The other place standing says an earlier start told this: it is written, if only empty, while
        // the link stays.
        if (otherFree && isListFile(other)) {
            qDebug().noquote() << "kept macros remembered in" << other << "while a link stands at" << places[i];
            continue;
        }
        macronotice::listLinked(places[i], otherFree ? other : QString());
        rewrite = true;
    }
    for (const keptaside::Entry& e : qAsConst(entries))
        m_aside.append(AsideMacro::of(folder, e));
    if (!entries.isEmpty())
        qDebug() << entries.size() << "macros kept aside for" << folder << "when the tool last ran";
    // With its copy kept, the list holds what read: it is not told again at the next start.
    if (rewrite)
        rememberAside(folder);
}

bool Macro::rememberAside(const QString& folder, bool tell)
{
    if (folder.isEmpty())
        return true;
    QList<keptaside::Entry> entries;
    for (const AsideMacro& kept : qAsConst(m_aside)) {
        if (kept.itemFolder == folder)
            entries.append(kept.entry());
    }
    const QString first = folder + QLatin1String(keptaside::FileName);
    const QString spare = folder + QLatin1String(keptaside::SpareFileName);
    // A link put there since the list was read is left alone as one found then.
    for (const QString& place : {first, spare}) {
        if (!m_asideLocked.contains(place) && SaveFile::isLinkAtName(place)) {
            m_asideLocked.insert(place);
            const QString other = place == first ? spare : first;
            macronotice::listLinked(place, m_asideLocked.contains(other) ? QString() : other);
        }
    }
    keepDamagedPlaces(first, spare);
    const bool firstFree = !m_asideLocked.contains(first);
    const bool spareFree = !m_asideLocked.contains(spare);
    // Another copy of the folder may have kept macros aside there since this copy read the list, or
    // removed some: what it added is kept, what it removed stays removed. Read as a start would: of a
    // macro both places hold, the older place's state is not an addition.
    bool whole = false;
    QList<keptaside::Entry> held;
    const QList<keptaside::Entry> there = keptaside::standing(first, spare, firstFree, spareFree, &whole, &held);
    const keptaside::Merge merged = keptaside::merge(there, held, whole, m_asideSeen.value(folder), entries);
    for (const keptaside::Entry& e : merged.removed)
        dropRemovedElsewhere(folder, e, &entries);
    for (const keptaside::Entry& e : merged.added) {
        qDebug().noquote() << "kept macro" << e.name << "- put in the list by another copy of the tool: kept";
        m_aside.append(AsideMacro::of(folder, e));
        entries.append(e);
    }
    if (!entries.isEmpty())
        Data::makeDir(folder);
    // The place that does not hold the list is emptied: what it held would come back at the next start.
    // Kept when empty while the spare cannot be used: it says that was told.
    if (firstFree && keptaside::write(first, entries, !spareFree)) {
        m_asideSeen[folder] = entries;
        if (spareFree && !keptaside::write(spare, {}))
            qWarning().noquote() << "kept macros: cannot remove" << spare;
        return true;
    }
    // Kept when empty: it stands for the first place, which may still name what left since.
    if (spareFree && keptaside::write(spare, entries, !firstFree)) {
        m_asideSeen[folder] = entries;
        if (firstFree && !keptaside::write(first, {}))
            qWarning().noquote() << "kept macros: cannot remove" << first;
        qDebug() << "kept macros remembered in the spare place" << spare;
        return true;
    }
    qWarning().noquote() << "kept macros not remembered: neither" << first << "nor" << spare << "takes them";
    if (tell)
        tellNotRemembered(folder);
    return false;
}

void Macro::keepDamagedPlaces(const QString& first, const QString& spare)
{
    // Damaged since the list was read (another copy, the disk): what did not read may be a macro the user
    // has nowhere else, so it is kept, as a start keeps it, before the write replaces it; else never
    // written over.
    for (const QString& place : {first, spare}) {
        if (m_asideLocked.contains(place))
            continue;
        QList<keptaside::Entry> read;
        int unread = 0;
        if (keptaside::read(place, &read, &unread) != keptaside::Result::Damaged)
            continue;
        // Only a file a write would replace: over anything else (a folder, a pipe) the write fails and the
        // spare takes the list, as before.
        const QFileInfo info(place);
        if (!info.isFile() || info.isSymLink() || info.size() == 0)
            continue;
        QString copy;
        if (!keepUnreadableFile(place, &copy))
            m_asideLocked.insert(place);
        const QString other = place == first ? spare : first;
        const bool otherFree = !m_asideLocked.contains(other);
        macronotice::listUnreadable(place, copy, copy.isEmpty() && otherFree ? other : QString(), read.size(), unread);
    }
}

void Macro::dropRemovedElsewhere(const QString& folder, const keptaside::Entry& e, QList<keptaside::Entry>* entries)
{
    const auto same = [&e](const keptaside::Entry& o) { return keptaside::sameEntry(o, e); };
    const auto at = std::find_if(entries->begin(), entries->end(), same);
    if (at != entries->end())
        entries->erase(at);
    const auto kept = std::find_if(m_aside.begin(), m_aside.end(), [&](const AsideMacro& a) {
        return a.itemFolder == folder && same(a.entry());
    });
    if (kept == m_aside.end())
        return;
    // Back on the page as it was, it is not kept aside again when the keyboard leaves; edited, it is.
    if (kept->back && kept->item)
        m_removedElsewhere.append({kept->item, kept->events});
    qDebug().noquote() << "kept macro" << e.name << "- removed from the list by another copy of the tool:"
                       << "removed here too";
    m_aside.erase(kept);
}

void Macro::tellNotRemembered(const QString& folder)
{
    // What the places hold now comes back at the next start: a list written earlier may hold a macro,
    // as it is or as it was (its file taken where that is newer, as a start takes it).
    QList<keptaside::Entry> held[2];
    QDateTime times[2];
    const char* const names[2] = {keptaside::FileName, keptaside::SpareFileName};
    for (int i = 0; i < 2; ++i) {
        const QString place = folder + QLatin1String(names[i]);
        if (!m_asideLocked.contains(place) && keptaside::read(place, &held[i]) != keptaside::Result::Absent)
            times[i] = QFileInfo(place).lastModified();
    }
    // Those on the page are the user's to download; the others are told once a run.
    for (AsideMacro& kept : m_aside) {
        if (kept.itemFolder != folder || kept.back || kept.toldForgotten)
            continue;
        keptaside::Entry found;
        QDateTime foundTime;
        for (int i = 0; i < 2; ++i) {
            for (const keptaside::Entry& e : qAsConst(held[i])) {
                // Both places hold it: the one written last comes back.
                if (e.slot == kept.slot && e.name == kept.name && (foundTime.isNull() || times[i] > foundTime)) {
                    found = e;
                    foundTime = times[i];
                }
            }
        }
        if (!foundTime.isNull())
            takeNewerFile(folder, foundTime, &found);
        if (!foundTime.isNull() && keptaside::sameEvents(found.events, kept.events)) {
            qDebug().noquote() << "kept macro" << kept.name << "- a list written before holds it as it is";
            continue;
        }
        if (!foundTime.isNull())
            macronotice::rememberedOlder(kept.name);
        else
            macronotice::notRemembered(kept.name, fileHolding(kept));
        kept.toldForgotten = true;
    }
}

void Macro::forgetBack(const MacroItem* item)
{
    const int before = m_aside.size();
    m_aside.erase(std::remove_if(m_aside.begin(), m_aside.end(),
                                 [item](const AsideMacro& a) { return a.back && a.item == item; }),
                  m_aside.end());
    if (m_aside.size() != before)
        rememberAside(m_itemFolder);
}

void Macro::restoreUndelivered()
{
    recallAside(m_itemFolder);
    // Each macro back on the page stays in the remembered list until it is downloaded or deleted. A
    // change of what it was told is written too.
    bool changed = false;
    QList<AsideMacro> stillAside;
    // An entry holds one kept macro: a second of its name and slot (another copy's) comes back as a new one.
    QList<const MacroItem*> taken;
    for (const AsideMacro& kept : qAsConst(m_aside)) {
        if (kept.back && kept.item)
            taken.append(kept.item);
    }
    for (AsideMacro kept : qAsConst(m_aside)) {
        if (kept.itemFolder != m_itemFolder || kept.back) {
            stillAside.append(kept);
            continue;
        }
        const auto it = std::find_if(m_items.begin(), m_items.end(), [&kept, &taken](const MacroItem* i) {
            return i->index() == kept.slot && i->name() == kept.name && !taken.contains(i);
        });
        // The keyboard may have lost the macro's head with the unplug, or hold another macro there:
        // the user's macro comes back all the same, as a new one.
        MacroItem* item = it != m_items.end() ? *it : addEntryForAside(kept.name, kept.slot);
        if (!item) {
            qDebug() << "macro" << kept.name << "kept aside: the keyboard has no free macro slot";
            if (!kept.toldNoRoom)
                macronotice::noFreeSlot(kept.name, fileHolding(kept));
            changed = changed || !kept.toldNoRoom;
            kept.toldNoRoom = true;
            stillAside.append(kept);
            continue;
        }
        m_quietEdits = true;
        deleteMacroItemKeyData(item);
        KeyLayout* timeline = item->keyLayout();
        for (const DataKey& e : qAsConst(kept.events))
            timeline->keys.append(timeline->createKey(e.status, e.delay, e.code, e.type, e.stype));
        timeline->updateKeyPoint();
        m_quietEdits = false;
        timeline->scrollToStart();
        // The keyboard's frames are not the user's macro: only a new download replaces them.
        item->setVisibleItem(false);
        if (item->name() != kept.name) {
            // Its file under the new name, which no other macro's file has (the old one is left as it is).
            saveMacroItem(item);
            macronotice::backRenamed(kept.name, item->name());
        } else if (!kept.told) {
            std::array<mframe_t, MaxFrames> frames{};
            const uint32_t needed = key2mframe(item, frames.data());
            if (needed > uint32_t(MaxFrames))
                macronotice::backTooLong(kept.name, int(needed), MaxFrames);
            else
                macronotice::backNotDownloaded(kept.name);
        }
        item->setSaved(false);
        m_undelivered.append(item);
        changed = true;
        qDebug() << "macro" << kept.name << "back on the page as" << item->name() << "in slot" << item->index()
                 << "with" << kept.events.size() << "events, not downloaded";
        kept.slot = item->index();
        kept.name = item->name();
        kept.told = true;
        kept.toldNoRoom = false;
        // Remembered until the keyboard holds it or the user deletes it: its file alone brings nothing
        // back at the next start.
        kept.back = true;
        kept.item = item;
        taken.append(item);
        stillAside.append(kept);
    }
    m_aside = stillAside;
    if (changed)
        rememberAside(m_itemFolder);
}

MacroItem* Macro::addEntryForAside(const QString& name, int slot)
{
    // Only the keyboard's free heads limit it, as they limit add: the list may hold more than 16.
    if (!m_ptrDevice)
        return nullptr;
    const int heads = qMin(int(m_ptrDevice->m_nKMTotalNum), int(m_ptrDevice->m_pKMs.size()));
    int position = -1;
    for (int i = 0; i < heads; ++i) {
        const km_t& head = m_ptrDevice->m_pKMs[size_t(i)];
        if (head.used())
            continue;
        if (position < 0 || head.slotIndex() == slot)
            position = i;
        if (head.slotIndex() == slot)
            break;
    }
    if (position < 0)
        return nullptr;
    QString fresh = name;
    if (fresh.isEmpty() || isItemNameUsed(fresh) || isDeviceNameUsed(position, fresh)) {
        fresh = generatedName(m_ptrDevice->m_pKMs[size_t(position)].slotIndex());
        for (int counter = 0; !isNewNameFree(position, fresh); ++counter)
            fresh = QStringLiteral("Macro") + QString::number(counter);
    }
    claimHead(position, fresh);
    MacroItem* item = createMacroItem(m_ptrDevice->m_pKMs[size_t(position)].slotIndex(), fresh);
    item->setEnabled(true);
    m_selectorGuard = true;
    m_comboBox->addItem(fresh);
    m_selectorGuard = false;
    emit updateShortcutsComboboxAddItem(fresh);
    return item;
}

bool Macro::sendHeadName(MacroItem* item)
{
    const int slot = item->index();
    if (slot < 0 || slot >= int(m_ptrDevice->m_pKMs.size()))
        return false;
    // A name the list gave (the keyboard's was empty or repeated) reaches the keyboard with the macro.
    if (m_ptrDevice->m_pKMs[size_t(slot)].name() == item->name())
        return true;
    uint8_t bytes[16] = {};
    const QByteArray local = item->name().toLocal8Bit();
    std::memcpy(bytes, local.constData(), size_t(qMin(local.size(), int(sizeof bytes))));
    const uint32_t e = m_ptrDevice->setMacroHeadData(slot, bytes);
    if (e != 0) {
        qWarning("macro %d: name not written, error %x", slot, e);
        return false;
    }
    return true;
}

void Macro::downloadItemDataSlot()
{
    // A warning box runs an event loop, in which the keyboard may go and take the entries with it.
    QPointer<MacroItem> item = getSelectItem();
    if (item) {
        if (!downloadMacroItem(item)) {
            if (item)
                qDebug() << "download item error. name = " << item->name() << "id=" << item->index();
            return;
        }
        item->setSelected(false);
        m_comboBox->setCurrentIndex(-1);
        saveMacroItem(item);
    }
    setDownloadButtonState(false);
    setRecordButtonState(false);
    setEditButtonState(false);
    setOtherButtonState(false);
    setExportButtonState(false);
    setDeleteButtonState(false);
}

void Macro::drawKeyFinished()
{
    disconnect(m_importDrawn);
    if (m_items.isEmpty())
        return;
    QPointer<MacroItem> item = m_items.last();
    if (downloadMacroItem(item))
        saveMacroItem(item);
    else if (item)
        qDebug() << "Import data download item to USB error. name = " << item->name() << "id=" << item->index();
}

// ---- recording ------------------------------------------------------------------------------------

bool Macro::isRecording() const
{
    return m_form->recorderButton->isChecked();
}

void Macro::setRecording(bool on)
{
    m_form->recorderButton->setChecked(on);
}

void Macro::setRecButtonCheckedQuietly(bool checked)
{
    QPushButton* rec = m_form->recorderButton;
    disconnect(rec, &QPushButton::toggled, this, &Macro::recorderItemDataSlot);
    rec->setChecked(checked);
    connect(rec, &QPushButton::toggled, this, &Macro::recorderItemDataSlot);
}

void Macro::recorderItemDataSlot(bool on)
{
    MacroItem* item = getSelectItem();
    if (!on) {
        m_comboBox->setEnabled(true);
        m_form->msecDelaysCheckBox->setEnabled(true);
        updateItemButtons();
        setItemsEnabled(true);
        emit emitBanWindowsButton(false);
        m_recording = false;
        qDebug() << "INFO: stop recorder;";
        if (m_ptrDevice)
            m_ptrDevice->setRecordMacro(false);
        // Without a selected entry nothing was recorded, so there is nothing to check.
        if (item)
            item->keyLayout()->checkoutAllKeys();
        setRecordButtonState(true);
        return;
    }
    if (!item) {
        qDebug() << "DEBUG: Not select macro item. return.";
        return;
    }
    if (!item->keyLayout()->keys.isEmpty() || !item->isLoadDataHidden()) {
        const QPointer<MacroItem> asked = item;
        const QMessageBox::StandardButton answer = messagebox::warning(
            this, QStringLiteral("About recording message boxes"),
            QStringLiteral("Yes: '") + item->name() + QStringLiteral("' recordings of data;\nNo: canceling recording;"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton,
            m_appDir + QStringLiteral("/images/Tessark-icon-tray-win.svg"));
        // The box's event loop may have seen the keyboard go (and the entry with it).
        if (answer != QMessageBox::Yes || !asked || !m_ptrDevice) {
            qDebug() << "INFO: Cancel recording....";
            setRecButtonCheckedQuietly(false);
            return;
        }
        qDebug() << "INFO: 删除所有数据 item=" << item->name();
        deleteMacroItemKeyData(item);
        item->setVisibleItem(false);
    }
    m_comboBox->setEnabled(false);
    setDelayControlsEnabled(false, false);
    disableItemButtons();
    setItemsEnabled(false);
    emit emitBanWindowsButton(true);
    m_recording = true;
    m_recordedEvents = 0;
    m_droppedFrameLogged = false;
    qDebug() << "INFO: start recorder;";
    std::memset(m_prevReport, 0, sizeof m_prevReport);
    if (m_ptrDevice)
        m_ptrDevice->setRecordMacro(true);
    setRecordButtonState(true);
}

uint32_t Macro::getRawData(uint8_t* frame, uint16_t length)
{
    if (!m_recording) {
        // A keyboard that goes on sending after the stop fills no log.
        if (!m_droppedFrameLogged)
            qDebug() << "macro frame dropped: not recording (later ones are not logged)";
        m_droppedFrameLogged = true;
        return 0;
    }
    if (!frame || length < LiveFrameSize) {
        qDebug() << "macro frame dropped: only" << length << "bytes arrived";
        return 0;
    }
    QVector<DataKey*> events;
    macrocodec::decodeLiveFrame(frame, m_prevReport, &events);
    // Every frame holds at least one event: within MaxEvents a recording is within the frame area too.
    if (m_recordedEvents + events.size() > MaxEvents) {
        qDeleteAll(events);
        stopFullRecording();
        return 0;
    }
    m_recordedEvents += events.size();
    for (const DataKey* e : qAsConst(events))
        createKey(e->status, e->delay, e->type, e->stype, e->code);
    qDeleteAll(events);
    return 0;
}

void Macro::stopFullRecording()
{
    qWarning() << "recording stopped: it holds" << m_recordedEvents << "events, the next frame would pass what a"
               << "macro can take";
    // As REC off does: the keyboard stops, the window is free again.
    setRecording(false);
    const QString title = isChinese() ? QStringLiteral("录制") : QStringLiteral("Recording");
    const QString text = isChinese()
                             ? QStringLiteral("录制已停止：宏已达到键盘能保存的最大长度（%1 帧）。").arg(MaxFrames)
                             : QStringLiteral("Recording stopped: the macro has reached the most the keyboard can "
                                              "hold (%1 frames).")
                                   .arg(MaxFrames);
    // The box waits for the frames being handled now: its own event loop would take them too.
    QTimer::singleShot(0, this, [this, title, text] {
        messagebox::warning(this, title, text, QMessageBox::Ok, QMessageBox::NoButton,
                            m_appDir + QStringLiteral("/images/Tessark-icon-tray-win.svg"));
    });
}
