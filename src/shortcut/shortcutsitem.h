#pragma once
// One row of the shortcuts page: the trigger keys, key maps, function and parameter of one key function slot.
#include "device/records.h"
#include "widget/kffunc.h"
#include "widget/stcts.h"

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <QVector>
#include <QWidget>

class ComboBox;
class Device;
class GlobuleLayout;
class KeyBtn;
class LineEdit;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class Shortcuts;
class StaticDialog;

class ShortcutsItem : public QWidget {
    Q_OBJECT
public:
    static constexpr int RowWidth = 877;
    static constexpr int RowHeight = 58;
    static constexpr int CursorBanMs = 500;

    ShortcutsItem(QWidget* parent, kf_t* record, QVector<KeyBtn*>* staticKeys, QVector<kffunc_t*>* catalogue,
                  QVector<KeyBtn*>* pictureKeys, QString filePath, Device* device);
    ~ShortcutsItem() override;

    // ---- called by the page, in this order
    void setShortcutsPage(Shortcuts* page) { m_page = page; }
    void createGlobuleLayout(int count, QVector<bool> states);
    void setFunctionIndex(int index);
    void showFunctionEditor(int type, STCTS* stored);
    void connectSignals();
    void restoreSelectedKey();
    void setKeyBorder(bool normal);
    void setInitialized() { m_initialized = true; }

    // ---- state the page drives and reads
    kf_t* record() const { return m_record; }
    void markChanged(bool state);
    bool isChecked() const;
    bool downloading = false; // set by the download while it works on the row
    bool isInitialized() const { return m_initialized; }
    void setLockKeyBorder(bool normal);
    void clearSelectedKey() { m_pictureKey = nullptr; }
    KeyBtn* pictureKey() const { return m_pictureKey; }

    // ---- getters of the download, the file writer and the panel
    const QVector<KeyBtn*>& keyList() const { return m_keys; }
    int getMenuIndex();     // hi of the menu's function; -1 when the lookup fails
    int getFunctionType();  // its control_type; -1 when the lookup fails
    QByteArray globuleStates() const;
    QString getWebsite() const;
    QString getDocumentPath() const;
    QString getFolderPath() const;
    int getLedBrightness() const { return m_ledOption; }
    void setLedBrightness(int index);
    const QVector<KeyBtn*>& replKeyList() const { return m_replKeys; }
    const QVector<KeyBtn*>& lockKeyList() const { return m_lockKeys; }
    QString getMacroName() const;
    int getMacroRepeat() const;
    int getSwapOne() const;
    int getSwapTwo() const;

    // ---- macro list upkeep
    void updateMacroCB();
    void updateMacroCBAddItem(QString name);
    void updateMacroCBRemoveItem(int index);
    void updateMacroCBSetItemText(int index, QString name);

    // ---- for tests and the page: the widgets of the row
    ComboBox* functionMenu() const { return m_functionMenu; }
    QCheckBox* checkBox() const;
    QPushButton* globuleButton() const;
    GlobuleLayout* globuleLayout() const { return m_globules; }
    QFrame* keyFrame(int j) const;     // btn_0 .. btn_3
    QLabel* separator(int j) const;    // label_1 .. label_3
    QFrame* parameterFrame() const;
    QLineEdit* websiteEdit() const { return m_websiteEdit; }
    QLineEdit* documentEdit() const { return m_documentEdit; }
    QLineEdit* folderEdit() const { return m_folderEdit; }
    QVector<ComboBox*> ledLists() const { return m_ledLists; }
    QPushButton* replAddButton() const { return m_replAdd; }
    QPushButton* replDelButton() const { return m_replDel; }
    QPushButton* lockAddButton() const { return m_lockAdd; }
    QPushButton* lockDelButton() const { return m_lockDel; }
    ComboBox* macroList() const { return m_macroList; }
    QLineEdit* macroRepeatEdit() const { return m_macroRepeat; }
    LineEdit* swapOneEdit() const { return m_swapOne; }
    LineEdit* swapTwoEdit() const { return m_swapTwo; }
    StaticDialog* staticDialog() const { return m_staticDialog; }
    KeyBtn* selectedKey() const { return m_selectedKey; }
    KeyBtn* selectedListKey() const { return m_selectedListKey; }
    bool keyRowReady() const { return m_keyRowReady; }
    QTimer* cursorTimer() { return &m_cursorTimer; }

signals:
    void emitRequestSave();
    void emitBtnMouseTimerRelease(bool on);
    void emitShortcutsItemSave(ShortcutsItem* item);
    void emitParameterBtnRelease(bool on);

public slots:
    void setFunctionTextSlot(QString text);
    void setItemSelectSwapOneSlot(QString text);
    void setItemSelectSwapTwoSlot(QString text);
    void swapOneFinishedSlot();
    void swapTwoFinishedSlot();
    void swapOneSelectEditSlot();
    void swapTwoSelectEditSlot();
    void setBtnSlot(KeyBtn* slot);
    void dynClickKeySlot(KeyBtn* key);
    void globuleButtonSlot(bool on);
    void staticDialogFinishedSlot();
    void mouseStatusTimeroutSlot();
    void deleteBtnSlot();
    void addBtnSlot();
    void globuleChangeSlot();
    void saveSelectBtnSlot(KeyBtn* key);
    void doubleClickSlot(KeyBtn* key);
    void setReplKeyOtherMouseBoaderSlot(bool on);
    void setLockKeyOtherMouseBoaderSlot(bool on);
    void setVectorButtonOtherMouseBoader(bool on);
    void delReplBtnSlot();
    void delLockBtnSlot();
    void addReplBtnSlot();
    void addLockBtnSlot();
    void staticDoubleClickSlot(KeyBtn* key);
    void proDocEidtTextChangedSlot(QString text);
    void websiteEidtTextChangedSlot(QString text);
    void fileFolderEidtTextChangedSlot(QString text);
    void folderEditOpenDirSlot();
    void proDocOpenFileSlot();
    void executeCommandSlot();
    void ledbriCurrentIndexChangedSlot(int index);
    void macroCurrentIndexChangedSlot(int index);
    void macroCurrentIndexChangedSlot(QString text);
    void checkBoxSlot(bool checked);
    void clearKeybtn(KeyBtn* key);

private:
    void buildForm();
    void createFunctionMenu();
    void createTriggerKeys();
    // Ticks the enable box for an edit, once the page has filled the row.
    void tick();
    void refreshKeyRow();
    void showNextKeySlot();
    void setKeyFrameCursor(Qt::CursorShape shape);
    // Fills key from a stored key slot: an empty slot gives a blank key, not the palette's "None".
    void fillKey(KeyBtn* key, const kc_t& kc);
    QString menuFunctionName() const;
    int menuCataloguePosition() const; // the menu's function in the catalogue, found without a box

    void createWebsiteEditor();
    void createPathEditor(bool document);
    void createLedLists();
    void showLedListOfMenu();
    void createKeyList(QVector<KeyBtn*>& keys, QPushButton*& add, QPushButton*& del, bool repl);
    void fillKeyList(QVector<KeyBtn*>& keys);
    void layoutKeyList(QVector<KeyBtn*>& keys, QPushButton* add, QPushButton* del);
    void layoutKeyLists();
    void addListKey(QVector<KeyBtn*>& keys, QPushButton* add, QPushButton* del);
    void deleteListKey(QVector<KeyBtn*>& keys, QPushButton* add, QPushButton* del);
    void deleteKeyList(QVector<KeyBtn*>& keys, QPushButton*& add, QPushButton*& del);
    QVector<KeyBtn*>& pickerList(); // the list the static key picker fills
    void markPickerKeys();
    void createMacroEditor();
    void fillMacroEditor(bool stored);
    void createSwapEditor();
    void setSwapStyle(QLineEdit* edit, bool error);
    void swapEdited(LineEdit* edit, LineEdit* other, const QString& text);
    void deleteEditorsBut(int type);
    void closeStaticDialog();

    // The row's form: its frame, key slots, buttons and the frames of the function and its parameter.
    QFrame* m_selectFrame = nullptr;
    QPushButton* m_globuleButton = nullptr;
    QFrame* m_keyFrames[4] = {};
    QPushButton* m_btnAdd = nullptr;
    QPushButton* m_btnDelete = nullptr;
    QFrame* m_functionFrame = nullptr;
    QFrame* m_parameterFrame = nullptr;
    QCheckBox* m_checkBox = nullptr;

    kf_t* m_record = nullptr;
    QVector<KeyBtn*> m_keys; // always four; used slots first
    QVector<QLabel*> m_separators;
    KeyBtn* m_keyPlaceholder = nullptr;  // the selected trigger key until one is clicked
    KeyBtn* m_listPlaceholder = nullptr; // the selected list key until one is clicked
    KeyBtn* m_selectedKey = nullptr;
    KeyBtn* m_pictureKey = nullptr;
    GlobuleLayout* m_globules = nullptr;
    QTimer m_cursorTimer;
    QVector<kffunc_t*>* m_catalogue = nullptr;
    QLineEdit* m_websiteEdit = nullptr;
    QLineEdit* m_documentEdit = nullptr;
    QPushButton* m_documentButton = nullptr;
    QLineEdit* m_folderEdit = nullptr;
    QPushButton* m_folderButton = nullptr;
    QVector<ComboBox*> m_ledLists;
    QVector<KeyBtn*> m_replKeys;
    QPushButton* m_replAdd = nullptr;
    QPushButton* m_replDel = nullptr;
    QVector<KeyBtn*> m_lockKeys;
    QPushButton* m_lockAdd = nullptr;
    QPushButton* m_lockDel = nullptr;
    KeyBtn* m_selectedListKey = nullptr;
    ComboBox* m_macroList = nullptr;
    QLineEdit* m_macroRepeat = nullptr;
    QLabel* m_macroTimes = nullptr;
    bool m_macroRelay = false; // the macro page changes the list: the row's choice stays
    LineEdit* m_swapOne = nullptr;
    LineEdit* m_swapTwo = nullptr;
    QLabel* m_swapPicture = nullptr;
    QLabel* m_swapHint = nullptr;
    Shortcuts* m_page = nullptr;
    ComboBox* m_functionMenu = nullptr;
    StaticDialog* m_staticDialog = nullptr;
    int m_ledOption = 0;
    QVector<KeyBtn*>* m_pictureKeys = nullptr;
    QVector<KeyBtn*>* m_staticKeys = nullptr;
    bool m_initialized = false;
    QString m_filePath;
    Device* m_device = nullptr;
    bool m_keyRowReady = true;
};
