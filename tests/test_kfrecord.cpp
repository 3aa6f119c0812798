// The key function record's field codec, the key function catalogue with its lookups (and the sample
// records the emulated keyboards hold against the shipped catalogues), and the Info.plist reader.
#include "device/records.h"
#include "messageboxrecorder.h"
#include "shortcut/infoplist.h"
#include "shortcut/kfcatalogue.h"
#include "simcontrol.h"
#include "tempappdir.h"

#include <QWidget>
#include <QtTest>

// Writes every bit of one field (o) or none, and returns what its getter then reads.
using Field = QString (*)(kf_t&, bool o);
Q_DECLARE_METATYPE(Field)
#define FIELD(set, get) +[](kf_t& r, bool o) { r.set; return text(r.get); }

namespace {

// 56 zero bytes but for `hex` at `offset`.
QByteArray at(int offset, const char* hex) { return QByteArray(offset, 0).append(QByteArray::fromHex(hex)).leftJustified(56, 0); }
QByteArray bytes(const kf_t& r) { return QByteArray(reinterpret_cast<const char*>(r.bytes), 56).toHex(); }
kc_t key(bool ones) { return ones ? kc_t{0, 7, 15, 0xFFFF} : kc_t{}; }
QString text(const kc_t& k) { return QStringLiteral("%1/%2/%3").arg(k.type).arg(k.stype).arg(k.code); }
QString text(uint32_t v) { return QString::number(v); }
kffunc_t* function(const char* name, int hi, bool enable, int type) { return new kffunc_t{name, hi, enable, type, {}, {}}; }

} // namespace

class KeyFunctionTest : public QObject {
    Q_OBJECT
    TempAppDir m_dir;

private slots:
    // Each setter writes its own bits and leaves every other bit as the keyboard sent it.
    void settersChangeOnlyTheirOwnBits_data()
    {
        QTest::addColumn<Field>("field");
        QTest::addColumn<QByteArray>("bits"); // the bits the field owns
        QTest::addColumn<QString>("all");     // the getter after all of them were set
        // Key slots own type, stype and code, not the state bit or byte 3; keys 4 and 9 (past the end) are none.
        const char *const K = "7/15/65535", *const U = "4294967295";
        QTest::newRow("used") << FIELD(setUsed(o), used()) << at(0, "40") << "1";
        QTest::newRow("hi: word 0 bits 7-12") << FIELD(setHi(o ? 63 : 0), hi()) << at(0, "801f") << "63";
        QTest::newRow("key count") << FIELD(setKeyCount(o ? 7 : 0), keyCount()) << at(2, "07") << "7";
        QTest::newRow("flag") << FIELD(setFlag(o), flag()) << at(2, "08") << "1";
        QTest::newRow("map mask: word 1 bits 4-11") << FIELD(setMapMask(o ? 255 : 0), mapMask()) << at(2, "f00f") << "255";
        QTest::newRow("key 0") << FIELD(setKey(0, key(o)), key(0)) << at(4, "feffff") << K;
        QTest::newRow("key 3") << FIELD(setKey(3, key(o)), key(3)) << at(16, "feffff") << K;
        QTest::newRow("no key 4") << FIELD(setKey(4, key(o)), key(4)) << at(0, "") << "0/0/0";
        QTest::newRow("parameter key 0") << FIELD(setParamKey(0, key(o)), paramKey(0)) << at(20, "feffff") << K;
        QTest::newRow("parameter key 8") << FIELD(setParamKey(8, key(o)), paramKey(8)) << at(52, "feffff") << K;
        QTest::newRow("no parameter key 9") << FIELD(setParamKey(9, key(o)), paramKey(9)) << at(0, "") << "0/0/0";
        QTest::newRow("option, macro id, swap 1") << FIELD(setOption(o ? ~0u : 0), option()) << at(20, "ffffffff") << U;
        QTest::newRow("repeat, swap 2") << FIELD(setRepeat(o ? ~0u : 0), repeat()) << at(24, "ffffffff") << U;
    }
    void settersChangeOnlyTheirOwnBits()
    {
        QFETCH(Field, field);
        QFETCH(QByteArray, bits);
        kf_t r{};
        QTEST(field(r, true), "all");
        QCOMPARE(bytes(r), bits.toHex());
        std::memset(r.bytes, 0xFF, sizeof r.bytes); // from all ones, clearing the field clears exactly its bits
        field(r, false);
        for (char& c : bits)
            c = char(~c);
        QCOMPARE(bytes(r), bits.toHex());
    }

    void readsFunctionsAndTheirOptions_data()
    {
        QTest::addColumn<QByteArray>("xml");    // below the root; null: no file
        QTest::addColumn<QString>("catalogue"); // empty: the read fails and leaves the list as it was
        QTest::newRow("options follow their functions")
            << QByteArray(R"(<key_func><func name="W" hi="1" enable="1" control_type="1" tips="t"/><func name="L" hi="4"/>)"
                          R"(</key_func><hi1><item name="Low" value="1"/><other name="no"/><item name="High" value="9"/></hi1>)")
            << "W/1/1/1/t[];L/4/0/0/[Low=1,High=9,];";
        QTest::newRow("options ahead of their functions or under another name are lost")
            << QByteArray(R"(<hi1><item name="lost"/></hi1><key_func><func name="a"/><func name="b"/></key_func>)"
                          R"(<hi00><item/></hi00><hi-0><item/></hi-0><HI0><item/></HI0>)")
            << "a/0/0/0/[];b/0/0/0/[];";
        // Numbers that are not decimal read as 0; enable is any non-zero.
        QTest::newRow("positions run on across key_func elements, disabled ones too; other children are skipped")
            << QByteArray(R"(<key_func><func name="a" enable="0"/><other/></key_func><junk/><key_func><func name="b" hi="0x10")"
                          R"( enable="-1" control_type="9z"/></key_func><hi0><item name="o"/></hi0><hi1><item value="x"/></hi1>)")
            << "a/0/0/0/[o=0,];b/0/1/0/[=0,];";
        QTest::newRow("missing") << QByteArray() << QString();
        QTest::newRow("malformed") << QByteArray("<key_func><func name=\"a\"/>") << QString();
    }
    void readsFunctionsAndTheirOptions()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, catalogue);
        QFile::remove(m_dir.filePath("config/kf.xml"));
        QVERIFY(xml.isNull() || m_dir.write("config/kf.xml", "<anyroot>" + xml + "</anyroot>"));
        QVector<kffunc_t*> list;
        if (catalogue.isEmpty())
            list << function("kept", 1, true, 1);
        QCOMPARE(kfcatalogue::parse(m_dir.filePath("config/kf.xml"), &list), catalogue.isEmpty() ? -1 : 0);
        QString read; // name/hi/enable/type/tips[options] of each function
        for (const kffunc_t* f : qAsConst(list)) {
            read += QStringLiteral("%1/%2/%3/%4/%5[").arg(f->name).arg(f->hi).arg(f->enable).arg(f->control_type).arg(f->tips);
            for (const kfoption_t& o : f->options)
                read += o.name + '=' + QString::number(o.value) + ',';
            read += "];";
        }
        kfcatalogue::clear(&list);
        QCOMPARE(read, catalogue.isEmpty() ? "kept/1/1/1/[];" : catalogue);
    }

    // Lookups by number find the first function with it; a disabled function still answers for its name.
    // An unknown name boxes once, for the type too, but not while the menu offers nothing.
    void lookupsTakeTheFirstMatchAndBoxAnUnknownName()
    {
        MessageBoxRecorder recorder;
        QWidget parent;
        QVector<kffunc_t*> list;
        QCOMPARE(kfcatalogue::hiOfName(&list, "Web", &parent), -1);
        list << function("Hidden", 4, false, 4);
        QCOMPARE(kfcatalogue::typeOfName(&list, "Hidden", &parent), -1);
        QVERIFY(recorder.boxes().isEmpty());
        list << function("Web", 1, true, 1) << function("Second web", 1, true, 2);
        QCOMPARE(kfcatalogue::nameOfHi(&list, 1) + kfcatalogue::nameOfHi(&list, 4) + kfcatalogue::nameOfHi(&list, 9),
                 QString("WebHiddennone"));
        QCOMPARE(QList<int>({kfcatalogue::typeOfHi(&list, 1), kfcatalogue::typeOfName(&list, "Second web"),
                             kfcatalogue::hiOfName(&list, "Hidden"), kfcatalogue::typeOfHi(&list, 9)}),
                 QList<int>({1, 1, 4, 0})); // the second web's type through its number, to the first
        QCOMPARE(kfcatalogue::hiOfName(&list, "Unknown", &parent) + kfcatalogue::typeOfName(&list, "x", &parent), -2);
        QCOMPARE(recorder.boxes().size(), 2);
        for (const MessageBoxRequest& box : recorder.boxes())
            QVERIFY(box.kind == MessageBoxRequest::Critical && box.parent == &parent);
        kfcatalogue::clear(&list);
    }

    // The sample records of the emulated keyboards are what a download from the shipped catalogue writes:
    // slot i holds type i + 1, with Ctrl+Alt+letter in every key map and nothing in the kept bits.
    void sampleRecordsFollowTheShippedCatalogues_data()
    {
        QTest::addColumn<bool>("fullSize");
        QTest::newRow("full size") << true;
        QTest::newRow("wired") << false;
    }
    void sampleRecordsFollowTheShippedCatalogues()
    {
        QFETCH(bool, fullSize);
        QVector<kffunc_t*> catalogue;
        const QString file = QFINDTESTDATA(QString("../appdir/config/kf_tk%1.xml").arg(fullSize ? 104 : 87));
        QCOMPARE(kfcatalogue::parse(file, &catalogue), 0);
        for (const kffunc_t* f : qAsConst(catalogue))
            QCOMPARE(f->hi == 7, f->control_type == E_SCT_VKB); // virtual keyboard records always carry 7
        const sim::FirmwareState state = sim::plug(fullSize ? sim::fullSizeDual() : sim::tenkeylessWired())->state();
        sim::reset();
        int used = 0;
        for (const QByteArray& bytes : state.keyFunctions) {
            kf_t r;
            std::memcpy(r.bytes, bytes.constData(), sizeof r.bytes);
            if (!r.used())
                continue;
            const int type = kfcatalogue::typeOfHi(&catalogue, r.hi());
            QCOMPARE(QList<int>({type, r.id(), r.keyCount(), r.flag(), r.mapMask(), r.key(0).code, r.key(1).code,
                                 r.key(3).type, r.bytes[1] & 0xE0, r.bytes[3] & 0xF0}),
                     QList<int>({used + 1, used, 3, type != E_SCT_REPKEY, 0xFF, 0xE0, 0xE2, 0, 0, 0}));
            ++used;
            km_t head{};
            if (type == E_SCT_MACRO && r.macroId() < state.macroHeads.size())
                std::memcpy(head.bytes, state.macroHeads[r.macroId()].constData(), sizeof head.bytes);
            switch (type) {
            case E_SCT_LED: QVERIFY(int(r.option()) < kfcatalogue::functionOfHi(&catalogue, r.hi())->options.size()); break;
            case E_SCT_REPKEY:
            case E_SCT_LOCKKEY: QVERIFY(!r.paramKey(0).isEmpty()); break;
            case E_SCT_MACRO: QVERIFY(head.used() && !head.name().isEmpty() && r.repeat() == 2); break;
            case E_SCT_SWAP: QVERIFY(r.swap1() == 1 && r.swap2() == 3); break;
            default: QCOMPARE(bytes.mid(20), QByteArray(36, '\0'));
            }
        }
        QCOMPARE(used, fullSize ? 9 : 3);
        // A free macro slot has no name, as after a delete on the keyboard.
        for (const QByteArray& bytes : state.macroHeads)
            QVERIFY((bytes[0] & 0x40) || bytes.mid(8, 16) == QByteArray(16, '\0'));
        kfcatalogue::clear(&catalogue);
    }

    void readsInfoPlistValue_data()
    {
        QTest::addColumn<QByteArray>("plist"); // null: no file
        QTest::addColumn<QString>("name");     // the value of CFBundleName
        const QByteArray dict =
            R"(<dict><key>Id</key><string>a</string><key>CFBundleName</key><string>Übersicht 日本</string></dict>)";
        QTest::newRow("value after its key, UTF-8 whatever the declaration says")
            << R"(<?xml version="1.0" encoding="ISO-8859-1"?><!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" )"
               R"("http://www.apple.com/DTDs/PropertyList-1.0.dtd"><plist version="1.0">)" + dict + "</plist>"
            << QString("Übersicht 日本");
        QTest::newRow("tags and key without regard to case")
            << QByteArray("<PList><DICT><KEY>cfbundlename</KEY><String>n</String></DICT></PList>") << "n";
        QTest::newRow("another root") << "<dict>" + dict + "</dict>" << "";
        QTest::newRow("malformed") << QByteArray("<plist><dict><key>CFBundleName</key><string>n</dict>") << "";
        QTest::newRow("missing") << QByteArray() << "";
    }
    void readsInfoPlistValue()
    {
        QFETCH(QByteArray, plist);
        QFile::remove(m_dir.filePath("App.app/Contents/Info.plist"));
        QVERIFY(plist.isNull() || m_dir.write("App.app/Contents/Info.plist", plist));
        QTEST(readInfoPlistValue(m_dir.filePath("App.app"), "CFBundleName"), "name");
    }
};

QTEST_MAIN(KeyFunctionTest)
#include "test_kfrecord.moc"
