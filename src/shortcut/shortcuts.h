#pragma once
// The SHORTCUTS page: one row per key function of the keyboard, their download, and the launcher panel.
#include "shortcut/opengate.h"
#include "shortcut/storedentries.h"
#include "widget/kffunc.h"
#include "widget/stcts.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QVector>
#include <QWidget>
#include <array>

class Device;
class GlobalShortcut;
class KeyBtn;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;
class ShortcutsItem;
class ShortcutsKB;
class Slider;
class Tessark;
struct kf_t;

class Shortcuts : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxRows = 32;
    static constexpr int CreateIntervalMs = 100;
    // A keyboard may send one row's notification hundreds of times a second: the row's program,
    // website or folder opens at most once in this time; what comes between is logged, not opened.
    static constexpr int NotifyOpenGapMs = 250;
    // However many rows the keyboard names at once, all of them together open at most this many
    // times a second; what is held back is logged, a line per span.
    static constexpr int NotifyOpensPerSecond = 5;
    static constexpr int SlotIds = 64; // a slot id has 6 bits

    Shortcuts(Tessark* parent, QVector<KeyBtn*>* staticKeys);
    ~Shortcuts() override;

    // After a keyboard has loaded: its catalogue file in config/, its shortcuts.xml, the picture's keys.
    void load(const QString& kfFile, const QString& path, QVector<KeyBtn*>* pictureKeys, Device* device);
    void deleteKF();
    void clearVirtualKeyboard();
    void setLanguage(int type);
    void updateMacroCBAddItem(QString name);
    void updateMacroCBRemoveItem(int index);
    void updateMacroCBSetItemText(int index, QString name);
    void onNotify(int id, int hi);
    // Appends the functions of the catalogue file at path: 0 read, -1 unreadable or malformed.
    int parseKFXML(QString path);
    // 0 written, -1 refused while rows are still being made, -2 the file could not be written, -3 the
    // rows went with the keyboard while a lookup's box was open (nothing written).
    int save(const QList<ShortcutsItem*>& rows, const QString& path);

    // ---- what the window, the panel and the tests read
    const QList<ShortcutsItem*>& rows() const { return m_rows; }
    QVector<kffunc_t*>* catalogue() { return &m_catalogue; }
    const QVector<STCTS*>& textRecords() const { return m_texts; }
    QString shortcutsPath() const { return m_path; }
    bool initFinished() const { return m_initFinished; }
    ShortcutsKB* panel() const { return m_panel; }
    GlobalShortcut* hotKey() const { return m_hotKey; }
    QPushButton* addButton() const;
    QPushButton* deleteButton() const;
    QPushButton* downloadButton() const;
    QWidget* rowArea() const;
    QScrollArea* scrollArea() const;
    Slider* slider() const { return m_slider; }
    Device* device() const { return m_device; }

public slots:
    void barValueSlot(int value);
    void itemAddButtonSlot();
    void itemDeleteButtonSlot();
    void itemDownloadButtonSlot();
    void requestSaveSlot();
    void shortcutsItemBtnMouseTimerReleaseSlot(bool on);
    void shortcutsItemReleaseSelectDynamicLayoutKey();
    void parameterBtnReleaseSlot(bool on);
    void createItemSlot();
    // The hot key: hides a shown panel, shows one that has buttons.
    void togglePanel();

private:
    enum ButtonKind { AddButton, DeleteButton, DownloadButton };
    // A button's state and its images change together: "-ban" pictures while disabled.
    void setButtonEnabled(ButtonKind kind, bool enabled);
    void setButtonsEnabled(bool enabled);
    // Whether the catalogue gives the function numbered hi a type a row can show and write.
    bool knowsFunction(int hi) const;
    // The entry shortcuts.xml held at load for a slot whose function the catalogue does not know:
    // written back as it was, so the texts the row cannot show survive. Null otherwise.
    const storedentries::Entry* keptEntry(const kf_t* slot) const;
    bool keepsStoredEntries() const; // some used slot has such an entry
    int keyMapCount() const;
    int slotCount() const; // records of the device's table the page may use
    bool idInUse(int id) const; // some used record of the table has this slot id
    // Slot id's gate; AllRows: the one all rows share.
    static constexpr int AllRows = -1;
    OpenGate& gate(int id) { return id == AllRows ? m_allRowsGate : m_openGates[size_t(id)]; }
    // Tells what the id's gate held back once the gate is open again.
    void tellSkippedWhenGateOpens(int id);
    // Logs, in one line, the notifications of slot id not opened since its last opening.
    void logSkippedNotifications(int id);
    ShortcutsItem* createRow(kf_t* slot);
    void placeRow(ShortcutsItem* row, kf_t* slot);
    void connectRow(ShortcutsItem* row);
    void makeOneRow(kf_t* slot);
    void layoutRows();
    // Saves after a user's action (a failure tells the user) and gives the panel the rows.
    void saveAndRebuildPanel();
    // At load: notes an input that did not read (shortcuts.xml itself, kept as .bad, or the static
    // key file) and tells the user once.
    void checkInputs();
    // What the download of one ticked row leaves: the record written (the row is unticked), the
    // row kept ticked with its record unchanged, or the end of the whole download (with or without
    // writing shortcuts.xml for the rows done so far).
    // Abandoned: the rows and the slot table went with the keyboard while a box was open; nothing
    // more may be touched.
    enum class RowResult { Written, Kept, StopAndSave, StopAtOnce, Abandoned };
    RowResult downloadRow(ShortcutsItem* row);
    void endRow(ShortcutsItem* row, bool untick);

    struct Form;
    Form* m_form = nullptr;
    Slider* m_slider = nullptr;
    QList<ShortcutsItem*> m_rows;
    QVector<KeyBtn*>* m_staticKeys = nullptr;
    QVector<KeyBtn*>* m_pictureKeys = nullptr;
    Device* m_device = nullptr;
    QVector<kffunc_t*> m_catalogue;
    QVector<STCTS*> m_texts;
    QString m_path;
    QVector<storedentries::Entry> m_storedEntries; // the item entries of shortcuts.xml as read at load
    // The first input of this load that did not read; while set the rows are not saved at load.
    QString m_unreadInput;
    // shortcuts.xml holds what the rows lack: a copy is kept before the first save replaces it.
    bool m_keepBeforeSave = false;
    QString m_saveError;
    bool m_initFinished = false;
    // Counts the times the rows and the slot table went (deleteKF). A box runs an event loop in which
    // an unplug deletes them: whoever showed one compares the count before and after.
    quint64 m_generation = 0;
    QTimer* m_createTimer = nullptr;
    int m_createCount = 0;
    ShortcutsKB* m_panel = nullptr;
    GlobalShortcut* m_hotKey = nullptr;
    // Per slot id: when its row last opened what it names, and the notifications not opened since.
    std::array<OpenGate, SlotIds> m_openGates;
    OpenGate m_allRowsGate{NotifyOpensPerSecond, 1000};
};
