// Loading: reads everything the pages need from a freshly opened keyboard, in a fixed order.
#include "device.h"

#include <QDebug>
#include <initializer_list>

namespace {
constexpr int InfoRetryPauseMs = 1000; // between attempts at 0x10/0x10, and after the one that succeeds
}

uint32_t Device::loadDevInfoSlot()
{
    using Op = uint32_t (Device::*)();
    enum class Outcome { Go, Failed, Stopped };

    qDebug() << "loadDevInfoSlot--------------------------------------------------------------";

    // Runs requests in order. No request starts after a stop, and a stopped one ends loading without a
    // signal: whoever stopped the device is closing it. Any other error fails the load unless tolerated.
    auto run = [this](std::initializer_list<Op> ops, bool tolerated = false) {
        for (Op op : ops) {
            if (stopRequested())
                return Outcome::Stopped;
            const uint32_t e = (this->*op)();
            if (stopRequested())
                return Outcome::Stopped;
            if (e != DeviceResult::Ok && !tolerated)
                return Outcome::Failed;
        }
        return Outcome::Go;
    };

    Outcome outcome = Outcome::Go;
    // A keyboard that just enumerated may not answer yet: ask until it does.
    for (;;) {
        if (stopRequested()) {
            outcome = Outcome::Stopped;
            break;
        }
        const uint32_t e = getDevInfo();
        if (!pauseInterruptibly(InfoRetryPauseMs)) {
            outcome = Outcome::Stopped;
            break;
        }
        if (e != DeviceResult::Timeout)
            break;
    }

    // The information gets: a keyboard that leaves one unanswered is still usable, its fields stay as
    // they were. A failed write or read, where the keyboard is likely gone, still fails the load.
    struct NamedGet {
        Op op;
        const char* name;
    };
    const NamedGet infoGets[] = {{&Device::getInfo40, "getInfo40"},
                                 {&Device::getDeviceVersion, "getDeviceVersion"},
                                 {&Device::getScanSpeed, "getScanSpeed"},
                                 {&Device::getUserInfo, "getUserInfo"},
                                 {&Device::getNKey, "getNKey"}};
    for (const NamedGet& get : infoGets) {
        if (outcome != Outcome::Go)
            break;
        if (stopRequested()) {
            outcome = Outcome::Stopped;
            break;
        }
        const uint32_t e = (this->*get.op)();
        if (stopRequested())
            outcome = Outcome::Stopped;
        else if (e == DeviceResult::Timeout)
            qDebug("%s got no reply; its fields are kept, loading goes on", get.name);
        else if (e != DeviceResult::Ok)
            outcome = Outcome::Failed;
    }
    if (outcome == Outcome::Go) {
        qDebug() << "get device load information finished.";
        outcome = run({&Device::getKCInfo, &Device::getCurKCMID, &Device::getAllKC});
    }
    if (outcome == Outcome::Go) {
        qDebug() << "get device load key code finished.";
        outcome = run({&Device::getKRInfo, &Device::getCurKRMID, &Device::getAllKR});
    }
    if (outcome == Outcome::Go) {
        qDebug() << "Get device load key color succeeded.";
        outcome = run({&Device::getKMInfo});
    }
    if (outcome == Outcome::Go) {
        qDebug() << "Get device load getKMInfo succeeded.";
        outcome = run({&Device::getAllMacroHead});
    }
    if (outcome == Outcome::Go) {
        qDebug() << "Get device load key macro succeeded.";
        outcome = run({&Device::getKFInfo, &Device::getAllKF});
    }
    if (outcome == Outcome::Go) {
        qDebug() << "Get device load key shortcuts succeeded.";
        outcome = run({&Device::getLAInfo});
    }
    if (outcome == Outcome::Go && m_nLATotalNum != 0)
        outcome = run({&Device::getAllLA});
    if (outcome == Outcome::Go)
        outcome = run({&Device::getLMInfo, &Device::getCurLM, &Device::getCurLMM});
    if (outcome == Outcome::Go) {
        qDebug() << "Get device load key LED succeeded.";
        // Keyboards without a Bluetooth module do not answer these two; that is no reason to fail.
        outcome = run({&Device::getBtName, &Device::getSleepTime}, true);
    }
    // The load's outcome, whichever way it ends, is logged at Info: it keeps its room in a full log.
    if (outcome == Outcome::Go)
        qInfo() << "Get device load shortcuts succeeded.";

    switch (outcome) {
    case Outcome::Go:
        emit emitFinishLoad();
        return DeviceResult::Ok;
    case Outcome::Stopped:
        qInfo() << "Load Dev Info Slot stopped.";
        return DeviceResult::Stopped;
    case Outcome::Failed:
        break;
    }
    qInfo() << "Load Dev Info Slot error!";
    emit emitLoadDevInfoError();
    return DeviceResult::Stopped;
}
