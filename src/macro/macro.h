#pragma once
// The MACRO page: the keyboard's macros as a list of entries with their key events on timelines, the
// name selector above them, and the controls to add, delete, rename, record on the keyboard, download,
// save, export and import. Everything runs on the GUI thread; keyboard requests block it.
#include "device/records.h"
#include "macro/datakey.h"
#include "macro/keptaside.h"
#include "widget/data.h"

#include <QFileInfoList>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <cstdint>
#include <memory>

class ComboBox;
class Device;
class MacroItem;
class Popup;
class QCheckBox;
class QEvent;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QScrollBar;
class QVBoxLayout;
class Slider;
class QDateTime;

class Macro : public QWidget {
    Q_OBJECT

public:
    // value is kept and never read.
    Macro(QWidget* parent, int value);
    ~Macro() override;

    // Whether macros are kept aside for the keyboard of this per-device folder (ending in a separator),
    // there to come back when a page lists it.
    static bool hasKeptAside(const QString& deviceFolder);

    // The form's widgets, by their object names.
    struct Form;
    Form* form() const { return m_form; }

    // ---- the page and its list
    // folder: the per-device folder, ending in a separator. A page without a keyboard takes device and
    // lists its macros; one that holds a keyboard only moves its item folder.
    void setDevice(QString folder, Device* device);
    // Ends a recording and any drawing, removes the entries and forgets the keyboard.
    void releaseDevice();
    void deleteMacroItemAll();
    MacroItem* createMacroItem(int slot, QString name);
    void deleteMacroItemAt(QString name);
    bool isItemNameUsed(const QString& name) const;
    // Whether a head other than the one at skipSlot, used or not, carries name.
    bool isDeviceNameUsed(int skipSlot, const QString& name) const;
    // A name a new macro may take: no other head on the keyboard and no listed entry has it, and
    // nothing of that name's file is in the item folder (the new macro's file would replace it).
    bool isNewNameFree(int position, const QString& name) const;
    void scrollToSelectItem(int mode);
    void updateItemLayout();

    // ---- transfer and recording
    void readKeyboradData(Device* device);
    uint32_t mframe2key(int index);
    void drawKBDeviceKeyStart();
    void drawXMLKeyStart();
    void createKey(int status, uint delay, uint16_t type, uint16_t stype, uint16_t code);
    void deleteMacroItemKeyData(MacroItem* item);
    bool isRecording() const;
    // Checks or unchecks REC, which starts or ends the recording through its toggle.
    void setRecording(bool on);
    // One recording notification's frame (10 bytes) becomes chips of the selected entry at once.
    // length is how many bytes can be read at frame (what the report carried; the length the keyboard
    // declares does not matter): the frame is dropped only when fewer than 10 arrived.
    uint32_t getRawData(uint8_t* frame, uint16_t length);

    // ---- frame codec
    // Writes the entry's events into frames (room for MaxFrames, zeroed by the caller), never past
    // MaxFrames; returns the number of frames the whole macro needs.
    uint32_t key2mframe(MacroItem* item, mframe_t* frames);
    static void updateKeyboardReport(const DataKey* event, mframe_t* frame);

    // ---- macro files (results 0, -1 not well-formed, -2 unreadable or unwritable)
    static int writeItemXml(MacroItem* item, QString path);
    int readItemXml(QString path);
    // The folder load: one entry per ITEM, named by the file name up to its first ".".
    int readItemXml(QString path, QString fileName);
    void readFileInfoData();

    // ---- controls
    void setRecordButtonState(bool enabled);
    void setDownloadButtonState(bool enabled);
    void setAddButtonState(bool enabled);
    void setEditButtonState(bool enabled);
    void setDeleteButtonState(bool enabled);
    void setOtherButtonState(bool enabled);
    void setExportButtonState(bool enabled);
    void setImportButtonState(bool enabled);
    void updateItemButtons();
    // Every button of the entries' row off: download, add, rename, other, delete, export, import.
    void disableItemButtons();
    // A ready list without entries: only add, other and import act, and the selector.
    void showEmptyList();
    void setEditControlsEnabled(bool on);
    void setAllButtonsEnabled(bool on);
    void setItemEditEnabled(MacroItem* item, bool on);
    void setOtherItemsEnabled(MacroItem* item, bool on);
    void setItemsEnabled(bool on);
    void setDelayCheckBoxState(bool on);
    void setDelayEditText(uint ms);
    void setDelayControlsEnabled(bool enable, bool checked);
    void updateMADDCheckBox(MacroItem* item);
    int getSelectItemIndex() const;
    MacroItem* getSelectItem() const;
    void setLanguage(int language);

    // ---- what the window, the tests and the screenshots read
    static constexpr int MaxFrames = 512;
    static constexpr int MaxItems = 16;
    // Chips one entry's editor takes from the keyboard or a recording: a macro of one event per frame.
    static constexpr int MaxEvents = MaxFrames;
    static_assert(MaxEvents <= MaxFrames, "a recording bound by events must fit the frame area");
    static constexpr int DrawIntervalMs = 50;
    Device* device() const { return m_ptrDevice; }
    const QList<MacroItem*>& items() const { return m_items; }
    ComboBox* nameSelector() const { return m_comboBox; }
    QLineEdit* renameEdit() const { return m_alterEdit; }
    Popup* popup() const { return m_popup; }
    Slider* listSlider() const { return m_slider; }
    QFileDialog* exportDialog() const { return m_exportDialog; }
    QFileDialog* importDialog() const { return m_importDialog; }
    QString itemFolder() const { return m_itemFolder; }
    bool isListReady() const { return m_listReady; }
    const QVector<DataKey*>& pendingEvents() const { return m_vDataKey; }
    const QTimer& deviceDrawTimer() const { return m_drawDeviceKeyTimer; }
    const QTimer& fileDrawTimer() const { return m_drawXMLKeyTimer; }
    MacroItem* drawTarget() const { return m_drawTarget; }
    uint defaultDelay() const { return m_defaultDelay; }
    // The export dialog's first folder: "C:\Users" on Windows, the home folder elsewhere.
    static QString exportStartFolder();

signals:
    void emitKeyStatus(int, int);
    void emitKeyStatus(int);
    void emitBanWindowsButton(bool ban);
    void startReadItemXml();
    void startReadItemKBDevice();
    void stopDrawKey();
    void updateShortcutsComboboxAddItem(QString name);
    void updateShortcutsComboboxRemoveItem(int index);
    void updateShortcutsComboboxSetItemText(int index, QString name);

public slots:
    void setItemSelect(MacroItem* item);
    void msecDelaysCheckBoxSlot(bool checked);
    void msecLineEditSlot(QString text);
    void addItemSlot();
    void deleteItemSlot();
    void exportItemSlot(QString path);
    void importItemSlot(QString path);
    void itemEditingFinishedTextSlot(QString key, QString text);
    void pressSlot(QString name);
    void comboboxCurentTextChangedSlot(QString text);
    void downloadItemDataSlot();
    void recorderItemDataSlot(bool on);
    // Writes the entry's file in the item folder; false (the user told) when that did not happen.
    bool saveMacroItem(MacroItem* item);
    bool downloadMacroItem(MacroItem* item);
    void alterButtonSlot();
    void alterEditFinishedSlot();
    void alterEditChangedSlot(QString text);
    void startReadItemXmlSlot();
    void startReadItemKBDeviceSlot();
    void drawXMLKeySlot();
    void drawKeyboradDeviceKeySlot();
    void fileDialogSaveShow();
    void fileDialogOpenShow();
    void drawKeyFinished();
    void otherPressedSlot();
    void _parserFrame(int count, mframe_t* frames);
    void loadDataSlot(MacroItem* item);
    void onEventRecordBtnSlot(QEvent* event);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Construction steps.
    void createPopup();
    void initFonts();
    void createComboBox();
    void initNameValidator();
    void initScrollBar();
    void initDrawXMLKeyTimer();
    void initDrawDeviceKeyTimer();
    void initExportDialog();
    void initImportDialog();
    void initDelayCheckBox();
    void connectButtons();
    void connectAlterSignals();

    void readItemKBDevice(const QPair<QString, int>& record);
    // A used head's name that is empty or repeats a listed one is replaced, in the list only, as an
    // added macro is named.
    QString uniqueHeadName(int position, const QString& name, const QList<QPair<QString, int>>& listed);
    // Writes name into the head of slot (16 bytes, zero padded); its result is not used.
    void writeHeadName(int slot, const QString& name);
    QString generatedName(int slot) const;
    void setImageButton(QPushButton* button, bool enabled, const QString& normal, const QString& hover,
                        const QString& ban);
    void setFlatButton(QPushButton* button, bool enabled);
    // The entry's events in timeline order.
    static QVector<const DataKey*> itemEvents(MacroItem* item);
    static QVector<DataKey> eventValues(MacroItem* item);
    // Whether the entry's chips differ from what the keyboard holds for it.
    static bool isChangedFromKeyboard(MacroItem* item);
    // Whether events fit in the keyboard's frame area; otherwise a warning box says so.
    bool fitsFrameArea(uint32_t needed);
    // The keyboard's head of the entry gets the entry's name when it holds another; false when that
    // write fails.
    bool sendHeadName(MacroItem* item);
    // A macro the keyboard did not take stays on the page as it is, saved to its file, and the user
    // is told; it is kept until a download of it succeeds.
    void keepUndelivered(MacroItem* item);
    // Before the entries go with the keyboard: the macros it does not hold are kept aside, by keyboard,
    // and saved to their files: those it did not take, and those recorded or edited and not downloaded
    // (but not one being drawn, whose events are the keyboard's or an import file's).
    void setAsideUndelivered(const MacroItem* drawing);
    // Once the list is built again from that keyboard: each kept macro comes back with its events,
    // unsaved, to its entry (same slot and name) or else as a new macro wherever the keyboard has a free
    // head, as add takes one. One that comes back under another name, or finds no free head and stays
    // aside, is told, as is one the user has not heard of yet. One back on the page stays remembered
    // until its file holds it as it is, or it is downloaded or deleted.
    void restoreUndelivered();
    // The macros the files beside folder's macro files remember as kept aside join those in memory,
    // once a run per folder; a file that does not read is kept as .bad first, and told.
    void recallAside(const QString& folder);
    // The list's place made to hold what is kept aside for folder now, or its spare place while the
    // first cannot be written over; when neither takes it: false, and with tell, those not remembered
    // are told (tellNotRemembered).
    bool rememberAside(const QString& folder, bool tell = true);
    // Each macro kept aside for folder, not on the page nor told yet, that no list standing holds as it
    // is, is told that it does not outlive the tool.
    void tellNotRemembered(const QString& folder);
    // The remembered macro back on the page as item leaves the list: the keyboard or its file holds it,
    // or the user deleted it.
    void forgetBack(const MacroItem* item);
    // The remembered macro back on the page as item is remembered as the page holds it now.
    void keepBackInStep(MacroItem* item);
    // The entry's events changed: unsaved, unless they are what the keyboard holds.
    void eventsChanged(MacroItem* item);
    // entry's events from its file in folder when that file reads as its macro, differs and was saved
    // after listTime (the time of the list it came from); true when taken.
    static bool takeNewerFile(const QString& folder, const QDateTime& listTime, keptaside::Entry* entry);
    // A free head for a kept macro whose entry the keyboard does not list: its own slot when free, else
    // the first free one, claimed as an added macro's is, under its name unless a listed macro or
    // another head has that; null when the keyboard has no free head.
    MacroItem* addEntryForAside(const QString& name, int slot);
    // The list built: the kept macros back, the first entry selected, the controls set.
    void finishListing();
    // Marks the free head at position used, without frames and named, on the keyboard too.
    void claimHead(int position, const QString& name);
    void setRecButtonCheckedQuietly(bool checked);
    void setSelectorTextQuietly(int index, const QString& text);
    // Draws the pending event at the draw position as a chip at the end of target's timeline.
    void drawPendingEvent(MacroItem* target);
    // Names from the keyboard can hold anything: only safe ones become file names.
    static bool isFileName(const QString& name);
    void dropPendingEvents();
    // The recording has what the keyboard can take: it stops, on the keyboard too, and the user is told.
    void stopFullRecording();
    void finishLiveChips();
    bool isChinese() const;

    Form* m_form = nullptr;
    QList<MacroItem*> m_items;
    int m_value = 0;
    ComboBox* m_comboBox = nullptr;
    QScrollBar* m_scrollBar = nullptr;
    Slider* m_slider = nullptr;
    QString m_itemFolder;
    QString m_appDir;
    QLineEdit* m_alterEdit = nullptr;
    Device* m_ptrDevice = nullptr;
    bool m_recording = false;
    bool m_selectorGuard = false;
    Data* m_data = nullptr;
    uint8_t m_prevReport[mframe_t::ReportSize] = {};
    std::unique_ptr<QFileInfoList> m_fileInfoList;
    int m_fileIndex = 0;
    QVector<DataKey*> m_vDataKey;
    int m_drawIndex = 0;
    QTimer m_drawXMLKeyTimer;
    QTimer m_drawDeviceKeyTimer;
    bool m_listReady = false;
    int m_readIndex = 0;
    QFileDialog* m_exportDialog = nullptr;
    QFileDialog* m_importDialog = nullptr;
    Popup* m_popup = nullptr;
    QList<QPair<QString, int>> m_readList;
    uint m_defaultDelay = 0;
    MacroItem* m_drawTarget = nullptr;
    QMetaObject::Connection m_importDrawn;
    // Chips made by a draw or a return from the list, not by the user: the saved mark stays.
    bool m_quietEdits = false;
    int m_recordedEvents = 0; // what the running recording holds
    bool m_liveChipsPending = false; // the scroll and the change check, once per turn of the event loop
    bool m_droppedFrameLogged = false;
    // Entries whose download failed, and their macros set aside while their keyboard is away.
    struct AsideMacro {
        QString itemFolder;
        int slot = -1;
        QString name;
        QVector<DataKey> events;
        bool told = false;        // the user knows the keyboard does not hold it
        bool toldNoRoom = false;  // the user knows it found no free head
        bool toldForgotten = false; // the user knows no list remembers it (this run only)
        bool back = false;        // back on the page as item, remembered until something else holds it
        QPointer<MacroItem> item;
        // One read from a kept list of folder.
        static AsideMacro of(const QString& folder, const keptaside::Entry& e)
        {
            AsideMacro kept;
            kept.itemFolder = folder;
            kept.slot = e.slot;
            kept.name = e.name;
            kept.events = e.events;
            kept.told = e.told;
            kept.toldNoRoom = e.toldNoRoom;
            return kept;
        }
        // As a kept list holds it.
        keptaside::Entry entry() const { return {slot, name, events, told, toldNoRoom}; }
    };
    // Its file, when that holds its events as they are now (a save may have failed since, or another
    // macro of that name replaced it); empty otherwise.
    static QString fileHolding(const AsideMacro& kept);
    QList<QPointer<MacroItem>> m_undelivered;
    QList<AsideMacro> m_aside;
    // Macros back on the page that another copy of the folder removed from the list, as they were then.
    struct RemovedElsewhere {
        QPointer<MacroItem> item;
        QVector<DataKey> events;
    };
    QList<RemovedElsewhere> m_removedElsewhere;
    // Keeps a copy of each free place of the list that no longer reads whole, and tells; one that cannot
    // be copied is not written over.
    void keepDamagedPlaces(const QString& first, const QString& spare);
    // Drops e, which another copy removed from folder's list, from entries and from what is kept aside.
    void dropRemovedElsewhere(const QString& folder, const keptaside::Entry& e, QList<keptaside::Entry>* entries);
    // Whether item is one of those, unchanged since.
    bool isRemovedElsewhere(MacroItem* item);
    // Item folders whose remembered lists were read, and the lists' places that did not read and could
    // not be kept as .bad: never written over.
    QSet<QString> m_asideRecalled;
    // What each item folder's lists held when this copy last read or wrote them: what another copy of the
    // folder adds there since is told apart from what this copy removed.
    QHash<QString, QList<keptaside::Entry>> m_asideSeen;
    QSet<QString> m_asideLocked;

    // The last accepted default delay text, shared by every page of the process.
    static QString s_lastDelayText;
};

// The page's widget tree, built in code; object names as the form names them.
struct Macro::Form {
    QVBoxLayout* verticalLayout = nullptr;
    QFrame* frameTop = nullptr;
    QPushButton* recorderButton = nullptr;
    QLabel* recLabel = nullptr;
    QPushButton* downloadButton = nullptr;
    QLabel* downloadLabel = nullptr;
    QFrame* frameMacroComboBox = nullptr;
    QPushButton* itemAddButton = nullptr;
    QPushButton* itemPenButton = nullptr;
    QPushButton* itemDelButton = nullptr;
    QPushButton* itemOtherButton = nullptr;
    QPushButton* itemImportButton = nullptr;
    QPushButton* itemExportButton = nullptr;
    QScrollArea* scrollArea = nullptr;
    QWidget* scrollAreaWidgetContents = nullptr;
    QFrame* frameBottom = nullptr;
    QWidget* layoutWidget = nullptr;
    QLabel* label = nullptr;
    QLabel* downLabel = nullptr;
    QWidget* layoutWidget1 = nullptr;
    QLabel* label_3 = nullptr;
    QLabel* upLabel = nullptr;
    QWidget* layoutWidget_2 = nullptr;
    QLabel* label_9 = nullptr;
    QLabel* delayLabel = nullptr;
    QFrame* frame_3 = nullptr;
    QCheckBox* msecDelaysCheckBox = nullptr;
    QLineEdit* msecLineEdit = nullptr;
    QLabel* msecLabel = nullptr;

    void setupUi(QWidget* page);
};
