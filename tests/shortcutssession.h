#pragma once
// A loaded emulated keyboard with chosen key function slots in use, and a shortcuts page on it.
#include "keyboardfixture.h"
#include "readerharness.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "widget/combobox.h"
#include "widget/keybtn.h"
#include "wire.h"

#include <QCheckBox>
#include <QMap>
#include <QTest>
#include <cstring>
#include <functional>
#include <memory>

// Every function type once; the virtual keyboard's number is not the 7 its records carry.
static const QByteArray TestCatalogue = R"(<kf><key_func>
<func name="Website" hi="1" enable="1" control_type="1"/>
<func name="Document" hi="2" enable="1" control_type="2"/>
<func name="Folder" hi="3" enable="1" control_type="3"/>
<func name="LED" hi="4" enable="1" control_type="4"/>
<func name="Replace" hi="5" enable="1" control_type="5"/>
<func name="Lock" hi="6" enable="1" control_type="6"/>
<func name="Macro" hi="8" enable="1" control_type="7"/>
<func name="Swap" hi="9" enable="1" control_type="8"/>
<func name="Keyboard" hi="10" enable="1" control_type="9"/>
</key_func><hi3><item name="dim" value="1"/><item name="bright" value="2"/></hi3></kf>)";

struct ShortcutsSession {
    ReaderAppDir app;
    std::unique_ptr<KeyboardFixture> kb;
    QVector<KeyBtn*> pictureKeys;
    std::unique_ptr<Shortcuts> page;
    QString path;

    // used: slot id -> function number of each slot in use; the others are free. change: anything
    // else the keyboard should hold. Returns once the rows are made, or at once with wait false.
    bool start(const QMap<int, int>& used, int slotCount = 16, int keyMaps = 4,
               const std::function<void(sim::FirmwareState&)>& change = {}, bool wait = true)
    {
        sim::KeyboardConfig config;
        config.keyFunctions = uint8_t(slotCount);
        config.keyMaps = uint8_t(keyMaps);
        config.sampleKeyFunctions = false;
        kb = std::make_unique<KeyboardFixture>(config);
        kb->kb->edit([&](sim::FirmwareState& s) {
            for (int i = 0; i < int(s.keyFunctions.size()); ++i) {
                const int word = i | (used.contains(i) ? 0x40 | used[i] << 7 : 0);
                s.keyFunctions[size_t(i)][0] = char(word & 0xFF);
                s.keyFunctions[size_t(i)][1] = char(word >> 8);
            }
            if (change)
                change(s);
        });
        path = app.filePath("kb/shortcuts.xml");
        // The rows' and buttons' pictures, so a missing one would show as a warning.
        if (!app.copyFiles(QFINDTESTDATA("../appdir/images"), QStringLiteral("images"))
            || !app.put("config/kf_test.xml", TestCatalogue) || !app.put("kb/shortcuts.xml", "") || !kb->open()
            || !kb->loadNow())
            return false;
        kb->kb->clearLog();
        page = std::make_unique<Shortcuts>(nullptr, nullptr);
        page->load("kf_test.xml", path, &pictureKeys, kb->device);
        return !wait || waitForRows();
    }
    bool waitForRows()
    {
        return QTest::qWaitFor([this] { return page->initFinished(); }, 10000);
    }

    ShortcutsItem* row(int i) const { return page->rows().value(i); }
    QList<int> rowIds() const
    {
        QList<int> ids;
        for (const ShortcutsItem* r : page->rows())
            ids << r->record()->id();
        return ids;
    }
    QList<bool> ticks() const
    {
        QList<bool> out;
        for (const ShortcutsItem* r : page->rows())
            out << r->isChecked();
        return out;
    }
    // A new row with the function chosen in its menu (which ticks it).
    ShortcutsItem* addRow(const QString& function)
    {
        page->itemAddButtonSlot();
        ShortcutsItem* r = page->rows().last();
        r->functionMenu()->setCurrentText(function);
        return r;
    }
    // The records written with the key function write command, in order.
    QList<kf_t> written() const
    {
        QList<kf_t> out;
        for (const QByteArray& r : sentReports(kb->kb, 0x40, 0x20)) {
            kf_t record{};
            memcpy(record.bytes, r.constData() + 8, sizeof record.bytes);
            out << record;
        }
        return out;
    }
    kf_t table(int slot) const { return kb->device->m_pKFs[size_t(slot)]; }
};
