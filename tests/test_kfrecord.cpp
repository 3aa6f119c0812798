// The key function record's field codec, the key function catalogue with its lookups (and the sample
// records the emulated keyboards hold against the shipped catalogues), and the Info.plist reader.
#include "device/records.h"
#include "messageboxrecorder.h"
#include "shortcut/infoplist.h"
#include "shortcut/kfcatalogue.h"
#include "simcontrol.h"
#include "tempappdir.h"

#include <QApplication>
#include <QRegularExpression>
#include <QWidget>
#include <QtTest>
#include <cstring>

Q_DECLARE_METATYPE(sim::KeyboardConfig)

namespace {

enum Field { Used, Hi, KeyCount, Flag, MapMask, TriggerKey0, TriggerKey3, TriggerKey4, ParamKey0, ParamKey8, ParamKey9,
             FirstU32, SecondU32 };

// 56 bytes with the given bytes set.
QByteArray recordBytes(std::initializer_list<std::pair<int, int>> set)
{
    QByteArray b(56, '\0');
    for (const auto& s : set)
        b[s.first] = char(s.second);
    return b;
}

// Writes every bit of the field (all ones) or none (zero); returns what the getter then reads, as text.
QString setAndRead(kf_t& r, int field, bool ones)
{
    kc_t key;
    if (ones) {
        key.type = 7;
        key.stype = 15;
        key.code = 0xFFFF;
    }
    const auto keyText = [](const kc_t& k) { return QStringLiteral("%1/%2/%3").arg(k.type).arg(k.stype).arg(k.code); };
    const uint32_t u = ones ? 0xFFFFFFFFu : 0;
    switch (field) {
    case Used: r.setUsed(ones); return QString::number(r.used());
    case Hi: r.setHi(ones ? 63 : 0); return QString::number(r.hi());
    case KeyCount: r.setKeyCount(ones ? 7 : 0); return QString::number(r.keyCount());
    case Flag: r.setFlag(ones); return QString::number(r.flag());
    case MapMask: r.setMapMask(ones ? 0xFF : 0); return QString::number(r.mapMask());
    case TriggerKey0: r.setKey(0, key); return keyText(r.key(0));
    case TriggerKey3: r.setKey(3, key); return keyText(r.key(3));
    case TriggerKey4: r.setKey(4, key); return keyText(r.key(4));
    case ParamKey0: r.setParamKey(0, key); return keyText(r.paramKey(0));
    case ParamKey8: r.setParamKey(8, key); return keyText(r.paramKey(8));
    case ParamKey9: r.setParamKey(9, key); return keyText(r.paramKey(9));
    case FirstU32: r.setOption(u); return QString::number(r.option());
    case SecondU32: r.setRepeat(u); return QString::number(r.repeat());
    }
    return QString();
}

QByteArray record(const kf_t& r) { return QByteArray(reinterpret_cast<const char*>(r.bytes), 56); }

// name/hi/enable/type and the option names of each function, then the catalogue is freed.
QString describeAndFree(QVector<kffunc_t*>* catalogue)
{
    QStringList out;
    for (const kffunc_t* f : qAsConst(*catalogue)) {
        QStringList options;
        for (const kfoption_t& o : f->options)
            options << o.name + '=' + QString::number(o.value);
        out << QStringLiteral("%1/%2/%3/%4/%5[%6]")
                   .arg(f->name)
                   .arg(f->hi)
                   .arg(f->enable)
                   .arg(f->control_type)
                   .arg(f->tips, options.join(','));
    }
    kfcatalogue::clear(catalogue);
    return out.join(';');
}

kffunc_t* function(const QString& name, int hi, bool enable, int type)
{
    auto* f = new kffunc_t;
    f->name = name;
    f->hi = hi;
    f->enable = enable;
    f->control_type = type;
    return f;
}

const QString HiBox = QStringLiteral("get menu index funcHI failed. <font color='red'> index is -1. </font>");

} // namespace

// Each setter writes its own bits and leaves every other bit of the record as the keyboard sent it.
class KeyFunctionRecordTest : public QObject {
    Q_OBJECT
private slots:
    void settersChangeOnlyTheirOwnBits_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QByteArray>("bits"); // the bits the field owns
        QTest::addColumn<QString>("all");     // the getter after all of them were set
        // Key slots own type, stype and code: never the state bit (bit 0) or the fourth byte.
        QTest::newRow("used") << int(Used) << recordBytes({{0, 0x40}}) << "1";
        QTest::newRow("hi: word 0 bits 7-12") << int(Hi) << recordBytes({{0, 0x80}, {1, 0x1F}}) << "63";
        QTest::newRow("key count") << int(KeyCount) << recordBytes({{2, 0x07}}) << "7";
        QTest::newRow("flag") << int(Flag) << recordBytes({{2, 0x08}}) << "1";
        QTest::newRow("map mask: word 1 bits 4-11") << int(MapMask) << recordBytes({{2, 0xF0}, {3, 0x0F}}) << "255";
        QTest::newRow("trigger key 0") << int(TriggerKey0) << recordBytes({{4, 0xFE}, {5, 0xFF}, {6, 0xFF}})
                                       << "7/15/65535";
        QTest::newRow("trigger key 3") << int(TriggerKey3) << recordBytes({{16, 0xFE}, {17, 0xFF}, {18, 0xFF}})
                                       << "7/15/65535";
        QTest::newRow("trigger key 4 does not exist") << int(TriggerKey4) << recordBytes({}) << "0/0/0";
        QTest::newRow("parameter key 0") << int(ParamKey0) << recordBytes({{20, 0xFE}, {21, 0xFF}, {22, 0xFF}})
                                         << "7/15/65535";
        QTest::newRow("parameter key 8") << int(ParamKey8) << recordBytes({{52, 0xFE}, {53, 0xFF}, {54, 0xFF}})
                                         << "7/15/65535";
        QTest::newRow("parameter key 9 does not exist") << int(ParamKey9) << recordBytes({}) << "0/0/0";
        QTest::newRow("u32 at 20: option, macro id, swap 1")
            << int(FirstU32) << recordBytes({{20, 0xFF}, {21, 0xFF}, {22, 0xFF}, {23, 0xFF}}) << "4294967295";
        QTest::newRow("u32 at 24: repeat, swap 2")
            << int(SecondU32) << recordBytes({{24, 0xFF}, {25, 0xFF}, {26, 0xFF}, {27, 0xFF}}) << "4294967295";
    }
    void settersChangeOnlyTheirOwnBits()
    {
        QFETCH(int, field);
        QFETCH(QByteArray, bits);
        QFETCH(QString, all);
        kf_t r;
        std::memset(r.bytes, 0, sizeof r.bytes);
        QCOMPARE(setAndRead(r, field, true), all);
        QCOMPARE(record(r).toHex(), bits.toHex());
        // From a record of all ones, clearing the field clears exactly its bits.
        std::memset(r.bytes, 0xFF, sizeof r.bytes);
        setAndRead(r, field, false);
        QByteArray rest = bits;
        for (char& c : rest)
            c = char(~c);
        QCOMPARE(record(r).toHex(), rest.toHex());
    }
};

// The catalogue file, its lookups, the shipped catalogues against the emulated keyboards' sample
// records, and the Info.plist reader.
class KeyFunctionFilesTest : public QObject {
    Q_OBJECT
    TempAppDir m_dir;

private slots:
    void readsFunctionsAndTheirOptions_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("catalogue");
        QTest::newRow("options follow their functions; the root's name is not checked")
            << QByteArray(R"(<x><key_func><func name="Web" hi="1" enable="1" control_type="1" tips="t"/>)"
                          R"(<func name="LED" hi="4" enable="1" control_type="4"/></key_func>)"
                          R"(<hi1><item name="Low" value="1"/><other name="no"/><item name="High" value="9"/></hi1></x>)")
            << "Web/1/1/1/t[];LED/4/1/4/[Low=1,High=9]";
        QTest::newRow("options ahead of their functions are lost")
            << QByteArray(R"(<x><hi3><item name="lost"/></hi3><key_func><func name="a"/><func name="b"/>)"
                          R"(<func name="c"/><func name="d" hi="4"/></key_func></x>)")
            << "a/0/0/0/[];b/0/0/0/[];c/0/0/0/[];d/4/0/0/[]";
        QTest::newRow("a disabled function keeps its position and options")
            << QByteArray(R"(<x><key_func><func name="off" hi="5" enable="0" control_type="4"/></key_func>)"
                          R"(<hi0><item name="o"/></hi0></x>)")
            << "off/5/0/4/[o=0]";
        QTest::newRow("positions run on across key_func elements; other children are skipped")
            << QByteArray(R"(<x><key_func><func name="a"/><other name="no"/></key_func><junk/>)"
                          R"(<key_func><func name="b" hi="2"/></key_func><hi1><item name="o" value="x"/></hi1></x>)")
            << "a/0/0/0/[];b/2/0/0/[o=0]";
        QTest::newRow("only hi and the plain decimal position name options")
            << QByteArray(R"(<x><key_func><func name="a"/></key_func><hi00><item name="1"/></hi00>)"
                          R"(<hi-0><item name="2"/></hi-0><HI0><item name="3"/></HI0><hi1><item name="4"/></hi1></x>)")
            << "a/0/0/0/[]";
        QTest::newRow("numbers that are not decimal read as 0; enable is any non-zero")
            << QByteArray(R"(<x><key_func><func name="a" hi="0x10" enable="-1" control_type="9z"/></key_func></x>)")
            << "a/0/1/0/[]";
    }
    void readsFunctionsAndTheirOptions()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, catalogue);
        QVERIFY(m_dir.write("config/kf.xml", xml));
        QVector<kffunc_t*> list;
        QCOMPARE(kfcatalogue::parse(m_dir.filePath("config/kf.xml"), &list), 0);
        QCOMPARE(describeAndFree(&list), catalogue);
    }

    void failedReadLeavesTheCatalogueAsItWas_data()
    {
        QTest::addColumn<QByteArray>("xml"); // null: no file
        QTest::addColumn<QString>("log");    // a line the failure logs; empty: none beyond the first
        QTest::newRow("missing") << QByteArray() << QString();
        QTest::newRow("malformed") << QByteArray("<x><key_func><func name=\"a\"/></x>")
                                   << "^parse file failed: 1 --- \\d+ : \\S";
        QTest::newRow("nested too deep") << QByteArray("<x>") + QByteArray("<a>").repeated(70) << "^File refused: ";
    }
    void failedReadLeavesTheCatalogueAsItWas()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, log);
        const QString path = m_dir.filePath("config/broken.xml");
        QFile::remove(path);
        if (!xml.isNull())
            QVERIFY(m_dir.write("config/broken.xml", xml));
        QTest::ignoreMessage(QtDebugMsg, qPrintable("parseKFXML=" + path));
        if (!log.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log));
        QVector<kffunc_t*> list{function("kept", 1, true, 1)};
        QCOMPARE(kfcatalogue::parse(path, &list), -1);
        QCOMPARE(describeAndFree(&list), QString("kept/1/1/1/[]"));
    }

    // Lookups by number find the first function with it; a disabled function still answers for its name.
    void lookupsTakeTheFirstMatch()
    {
        QVector<kffunc_t*> list{function("Web", 1, true, 1), function("Hidden", 4, false, 4),
                                function("Second web", 1, true, 2)};
        QCOMPARE(kfcatalogue::nameOfHi(&list, 1), QString("Web"));
        QCOMPARE(kfcatalogue::typeOfHi(&list, 1), 1);
        QCOMPARE(kfcatalogue::typeOfName(&list, "Second web"), 1); // through its number, to the first
        QCOMPARE(kfcatalogue::hiOfName(&list, "Hidden"), 4);
        QCOMPARE(kfcatalogue::nameOfHi(&list, 4), QString("Hidden"));
        QCOMPARE(kfcatalogue::nameOfHi(&list, 9), QString("none"));
        QCOMPARE(kfcatalogue::typeOfHi(&list, 9), 0);
        QVERIFY(!kfcatalogue::functionOfHi(&list, 9));
        kfcatalogue::clear(&list);
        QVERIFY(list.isEmpty());
    }

    void unknownNameBoxesOnceOnlyWhenTheMenuOffersSomething_data()
    {
        QTest::addColumn<bool>("enabled"); // the catalogue holds one enabled function (else none at all)
        QTest::addColumn<bool>("disabled"); // ... and one disabled
        QTest::addColumn<bool>("type");    // the type lookup, else the number lookup
        QTest::addColumn<int>("boxes");
        QTest::newRow("empty catalogue") << false << false << false << 0;
        QTest::newRow("nothing enabled, even the disabled name") << false << true << true << 0;
        QTest::newRow("functions offered") << true << true << false << 1;
        QTest::newRow("functions offered, type: one box, not two") << true << false << true << 1;
    }
    void unknownNameBoxesOnceOnlyWhenTheMenuOffersSomething()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, disabled);
        QFETCH(bool, type);
        QFETCH(int, boxes);
        QVector<kffunc_t*> list;
        if (enabled)
            list << function("Web", 1, true, 1);
        if (disabled)
            list << function("Hidden", 4, false, 4);
        const QString name = disabled && !enabled ? "Hidden" : "Unknown";
        MessageBoxRecorder recorder;
        QWidget parent;
        QCOMPARE(type ? kfcatalogue::typeOfName(&list, name, &parent) : kfcatalogue::hiOfName(&list, name, &parent), -1);
        QCOMPARE(recorder.boxes().size(), boxes);
        if (boxes) {
            const MessageBoxRequest& box = recorder.boxes().first();
            QVERIFY(box.kind == MessageBoxRequest::Critical && box.parent == &parent);
            QCOMPARE(box.title + '|' + box.text, "critical|" + HiBox);
        }
        kfcatalogue::clear(&list);
    }

    // The sample records of the emulated keyboards are what a download from the shipped catalogue writes.
    void sampleRecordsFollowTheShippedCatalogues_data()
    {
        QTest::addColumn<sim::KeyboardConfig>("board");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<int>>("types"); // of the used slots in slot order
        QTest::newRow("full size") << sim::fullSizeDual() << "kf_tk104.xml" << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9};
        QTest::newRow("wired") << sim::tenkeylessWired() << "kf_tk87.xml" << QList<int>{1, 2, 3};
    }
    void sampleRecordsFollowTheShippedCatalogues()
    {
        QFETCH(sim::KeyboardConfig, board);
        QFETCH(QString, file);
        QFETCH(QList<int>, types);
        QVector<kffunc_t*> catalogue;
        QCOMPARE(kfcatalogue::parse(QFINDTESTDATA("../appdir/config/" + file), &catalogue), 0);
        const kffunc_t* led = nullptr;
        for (const kffunc_t* f : qAsConst(catalogue)) {
            // Virtual keyboard records always carry 7: no other function may have it.
            QCOMPARE(f->hi == 7, f->control_type == E_SCT_VKB);
            if (f->control_type == E_SCT_LED)
                led = f;
        }
        const sim::FirmwareState state = sim::plug(board)->state();
        sim::reset();
        QList<int> used;
        for (const QByteArray& bytes : state.keyFunctions) {
            kf_t r;
            std::memcpy(r.bytes, bytes.constData(), sizeof r.bytes);
            if (!r.used())
                continue;
            const int type = kfcatalogue::typeOfHi(&catalogue, r.hi());
            used << type;
            // Ctrl+Alt+letter in every key map, flag clear only for replacement keys.
            QCOMPARE(QList<int>({r.id(), r.keyCount(), r.flag(), r.mapMask(), r.key(0).code, r.key(1).code, r.key(3).type}),
                     QList<int>({used.size() - 1, 3, type != E_SCT_REPKEY, 0xFF, 0xE0, 0xE2, 0}));
            QCOMPARE(r.bytes[1] & 0xE0, 0); // nothing but the fields a download writes
            QCOMPARE(r.bytes[3] & 0xF0, 0);
            switch (type) {
            case E_SCT_LED: QVERIFY(led && int(r.option()) < led->options.size()); break;
            case E_SCT_REPKEY:
            case E_SCT_LOCKKEY: QVERIFY(!r.paramKey(0).isEmpty()); break;
            case E_SCT_MACRO: {
                QVERIFY(r.macroId() < state.macroHeads.size() && r.repeat() == 2);
                km_t head;
                std::memcpy(head.bytes, state.macroHeads[r.macroId()].constData(), sizeof head.bytes);
                QVERIFY(head.used() && !head.name().isEmpty());
                break;
            }
            case E_SCT_SWAP: QCOMPARE(QList<uint32_t>({r.swap1(), r.swap2()}), QList<uint32_t>({1, 3})); break;
            default: QVERIFY(QByteArray(bytes.mid(20)).count('\0') == 36); break;
            }
        }
        QCOMPARE(used, types);
        // A free macro slot has no name, as after a delete on the keyboard.
        for (const QByteArray& bytes : state.macroHeads)
            QVERIFY((bytes[0] & 0x40) || bytes.mid(8, 16) == QByteArray(16, '\0'));
        kfcatalogue::clear(&catalogue);
    }

    void readsInfoPlistValue_data()
    {
        QTest::addColumn<QByteArray>("plist"); // null: no file
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const QByteArray head = R"(<?xml version="1.0" encoding="UTF-8"?>)"
                                R"(<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" )"
                                R"("http://www.apple.com/DTDs/PropertyList-1.0.dtd">)";
        const QByteArray dict = R"(<dict><key>CFBundleIdentifier</key><string>org.example.a</string>)"
                                R"(<key>CFBundleName</key><string>Übersicht 日本</string><key>Last</key></dict>)";
        QTest::newRow("value after its key, UTF-8") << head + "<plist version=\"1.0\">" + dict + "</plist>"
                                                    << "CFBundleName" << QString("Übersicht 日本");
        QTest::newRow("tags and key without regard to case")
            << QByteArray("<PList><DICT><KEY>cfbundlename</KEY><String>n</String></DICT></PList>") << "CFBundleName"
            << "n";
        QTest::newRow("UTF-8 whatever the declaration says")
            << QByteArray(R"(<?xml version="1.0" encoding="ISO-8859-1"?><plist>)") + dict + "</plist>"
            << "CFBundleName" << QString("Übersicht 日本");
        QTest::newRow("key without a following element") << "<plist>" + dict + "</plist>" << "Last" << "";
        QTest::newRow("another root") << "<dict>" + dict + "</dict>" << "CFBundleName" << "";
        QTest::newRow("malformed") << QByteArray("<plist><dict><key>CFBundleName</key><string>n</dict>") << "CFBundleName"
                                   << "";
        QTest::newRow("missing") << QByteArray() << "CFBundleName" << "";
    }
    void readsInfoPlistValue()
    {
        QFETCH(QByteArray, plist);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFile::remove(m_dir.filePath("App.app/Contents/Info.plist"));
        if (!plist.isNull())
            QVERIFY(m_dir.write("App.app/Contents/Info.plist", plist));
        QCOMPARE(readInfoPlistValue(m_dir.filePath("App.app"), key), value);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int failed = 0;
    {
        KeyFunctionRecordTest t;
        failed += QTest::qExec(&t, argc, argv);
    }
    {
        KeyFunctionFilesTest t;
        failed += QTest::qExec(&t, argc, argv);
    }
    return failed;
}

#include "test_kfrecord.moc"
