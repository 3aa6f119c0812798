#pragma once
// Reader of the description files in config/ (board records, layouts, static keys, menu file, key
// function texts) and a few small file and widget utilities.
#include "device/records.h"
#include "widget/runtime.h"

#include <QString>
#include <QVector>
#include <cstdint>
#include <vector>

class KeyBtn;
class QDomDocument;
class QLineEdit;
class QPushButton;
struct STCTS;
struct kffunc_t;

// One board element of config.xml. Created once by Data::parseConfigXML, never changed afterwards.
// A key shown outside the static palette (a macro chip) whose texts the static key files give: its
// key code to look up, and where the texts of the matching entry go.
class StaticKeyTarget {
public:
    virtual ~StaticKeyTarget() = default;
    virtual uint16_t code() const = 0;
    virtual uint16_t type() const = 0;
    virtual uint16_t stype() const = 0;
    virtual void setKeyInfo(const QString& name, const QString& alias, const QString& image) = 0;
};

struct BoardInfo {
    QString name;
    QString file; // key layout JSON in config/
    QString kf;   // key function catalogue in config/
    double fw = 0;
    bool key = false;
    bool color = false;
    bool shortcuts = false;
    bool macro = false;
    bool setting = false;
    double x = 0, y = 0, w = 0, h = 0; // picture placement; w, h pixels per key unit
    bool KLE = false;
    int KLEW = 0, KLEH = 0;
    int KLER = 0, KLEC = 0; // matrix rows and columns of the layout import grid
};

// The settings menu's saved choices (menutree.xml). Without a file (or without a layout_version
// element) the layout version is automatic, so the Windows static key file applies.
struct MenuTreeData {
    bool autoStart = false;
    QString webDownload;
    QString webHelp;
    bool MacOS = false;
    bool Windows = false;
    bool Automatic = true;
};

class Data {
public:
    Data();
    ~Data();
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;

    // Layout values beyond this many key units in either direction read as 0: no keyboard is wider.
    static constexpr double MaxLayoutUnits = 64;
    // Keys one layout file may make; the rest are skipped. A full-size board has about 110.
    static constexpr int MaxLayoutKeys = 256;
    // config.xml's placements lie within the main window, which has this fixed size...
    static constexpr int WindowWidth = 980;
    static constexpr int WindowHeight = 750;
    // ...and its key unit sizes within these pixels; values outside are clamped.
    static constexpr int MinUnitPixels = 1;
    static constexpr int MaxUnitPixels = 200;

    QString json;   // palette layout JSON
    QString xmlWin; // static key file, Windows legends
    QString xmlMac; // static key file, Mac legends
    QString devicePath;
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t iface = 0;
    int x = 0, y = 0;
    int w = 0, h = 0; // pixels per key unit of the static palette
    int gap = 2;
    QVector<BoardInfo*> boards; // owned
    RunTime runTime;

    // config/<fileName>: usb and static elements into this object, one record per board appended to
    // boards. False (nothing changed) when the document can't be loaded. File names must be plain names in
    // config/: a board with another is skipped, a static one dropped. Placements and unit sizes are
    // clamped to the limits above. A file that is there but does not load is told to the user, once a run.
    bool parseConfigXML(QVector<BoardInfo*>* boards, const QString& fileName);

    // The whole file as a new DOM document the caller owns; null when unreadable, not well-formed or
    // refused by the file guard (too large, nested too deep).
    static QDomDocument* openXMLDomDocument(const QString& path);

    // New key caps with label and key-unit geometry, appended in file order, at most MaxLayoutKeys.
    // Reads config/<file>, or path as given when file is empty. False when unreadable, refused by the
    // file guard or not JSON; such a file of config/ is told to the user, once a run.
    static bool parseJsonFileForFix(QVector<KeyBtn*>* keys, const QString& file, const QString& path);

    // The n-th key element of config/<fileName> describes key cap n.
    static bool parseStaticXML(QVector<KeyBtn*>* keys, const QString& fileName);
    // Gives the chip the texts of the last key element with the chip's key code.
    static bool parseStaticXML(StaticKeyTarget* chip, const QString& fileName);
    // The n-th named color element of config/customcolor/<fileName> names button n.
    bool parseStaticColorXML(QVector<QPushButton*>* buttons, const QString& fileName);

    // The whole static palette: layout, then the static key file the layout version chooses.
    void loadKeyBtns(QVector<KeyBtn*>* keys);
    // One macro chip's texts from the static key file the layout version chooses.
    void loadKeys(StaticKeyTarget* chip);
    // Makes out show the palette entry of kc, or a blank key with index -1.
    static KeyBtn* selectStaticBtn(KeyBtn* out, const kc_t* kc, QVector<KeyBtn*>* statics);

    // config/<fileName> into out; false (out unchanged) when it can't be loaded. A flag is an unsigned
    // decimal, set when not 0; one that is there and not such a number reads as clear, and then
    // *flagsRead (when given) is false.
    static bool parseMenutreeXML(const QString& fileName, MenuTreeData* out, bool* flagsRead = nullptr);

    // One new record per slot id used among the first count of a keyboard's key function table
    // (Device::m_pKFs and m_nKFTotalNum once loaded), typed from the catalogue. A repeated id is
    // taken from its first used record; the others are skipped and the id logged once.
    static void buildShortcutList(const std::vector<kf_t>& table, int count, QVector<STCTS*>* list,
                                  QVector<kffunc_t*>* catalogue);
    // The texts of shortcuts.xml at path into the matching records.
    static bool parseShortcutsXML(const QString& path, QVector<STCTS*>* list);

    // Makes the folder path, whose parent must stand; true when it was not there (made or not: a failure
    // is logged, and the write into it then fails).
    static bool makeDir(const QString& path);
    static void renameFile(const QString& dir, const QString& oldName, const QString& newName);
    static void clipLineEdit(QLineEdit* edit, const QString& text, int max);
    static bool dirExists(const QString& path);
    static QString columnName(int index);
    static bool removeFileInDir(const QString& dir, const QString& fileName, const QString& nameFilter);
    // True when path is a regular file that opens for reading; anything else is refused unopened.
    static bool isFileExist(const QString& path);

    // The static key file the layout version of menutree.xml chooses; empty for none.
    QString chosenStaticFile();
};
