// The hidapi functions the tool calls, served by the devices on the emulated bus.
#include "bus.h"
#include "emulateddevice.h"

#include <hidapi.h>

#include <QByteArray>
#include <QString>
#include <cstdlib>
#include <cstring>
#include <thread>

using sim::Bus;
using sim::Clock;
using sim::EmulatedDevice;

namespace {

constexpr int WriteSize = EmulatedDevice::ReportSize + 1; // report id 0, then the report

int fail(hid_device* dev, const wchar_t* why)
{
    if (dev)
        dev->error.store(why);
    return -1;
}

hid_device* openPort(const std::shared_ptr<EmulatedDevice>& device, int interfaceNumber)
{
    auto* handle = new hid_device;
    handle->device = device;
    handle->interfaceNumber = interfaceNumber;
    device->attachLocked(handle);
    return handle;
}

} // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void) { return 0; }

// Unlike a real exit this keeps the bus: the devices belong to the test, not to hidapi.
int HID_API_EXPORT HID_API_CALL hid_exit(void) { return 0; }

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    Bus& bus = Bus::instance();
    std::lock_guard<std::mutex> lock(bus.mutex);
    bus.plugDueLocked();
    hid_device_info* first = nullptr;
    hid_device_info** tail = &first;
    for (const auto& device : bus.devices) {
        if ((vendor_id && device->vendorId() != vendor_id) || (product_id && device->productId() != product_id))
            continue;
        for (const EmulatedDevice::Port& port : device->ports()) {
            auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
            if (!info)
                return first;
            info->path = strdup(port.path.toUtf8().constData());
            info->vendor_id = device->vendorId();
            info->product_id = device->productId();
            info->interface_number = port.number;
            info->usage_page = port.usagePage;
            info->usage = port.usage;
            info->bus_type = HID_API_BUS_USB;
            *tail = info;
            tail = &info->next;
        }
    }
    return first;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs)
{
    while (devs) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

hid_device HID_API_EXPORT* HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t* serial_number)
{
    Bus& bus = Bus::instance();
    std::lock_guard<std::mutex> lock(bus.mutex);
    bus.plugDueLocked();
    // The emulated devices have no serial number, so asking for one matches none.
    if (!serial_number) {
        for (const auto& device : bus.devices) {
            if (device->vendorId() != vendor_id || device->productId() != product_id)
                continue;
            if (device->refusesOpenLocked()) {
                bus.error.store(L"Permission denied");
                return nullptr;
            }
            if (device->port(device->primaryInterface()))
                return openPort(device, device->primaryInterface());
        }
    }
    bus.error.store(L"No matching device");
    return nullptr;
}

hid_device HID_API_EXPORT* HID_API_CALL hid_open_path(const char* path)
{
    Bus& bus = Bus::instance();
    std::lock_guard<std::mutex> lock(bus.mutex);
    bus.plugDueLocked();
    if (path) {
        ++bus.openAttempts[path];
        const QString wanted = QString::fromUtf8(path);
        for (const auto& device : bus.devices) {
            const EmulatedDevice::Port* port = device->portByPath(wanted);
            if (!port)
                continue;
            if (device->refusesOpenLocked()) {
                bus.error.store(L"Permission denied");
                return nullptr;
            }
            return openPort(device, port->number);
        }
    }
    bus.error.store(L"No such device");
    return nullptr;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    if (!dev)
        return -1;
    // Only whole reports of a device without report ids: id 0, then 64 bytes.
    if (!data || length != size_t(WriteSize) || data[0] != 0)
        return fail(dev, L"Expected report id 0 and 64 bytes");
    Bus& bus = Bus::instance();
    std::shared_ptr<EmulatedDevice> device;
    {
        std::lock_guard<std::mutex> lock(bus.mutex);
        device = dev->device;
        if (!device->pluggedLocked())
            return fail(dev, L"Device disconnected");
        switch (device->takeWriteFaultLocked()) {
        case EmulatedDevice::WriteFault::None: break;
        case EmulatedDevice::WriteFault::Fail: return fail(dev, L"Write failed");
        case EmulatedDevice::WriteFault::Unplug:
            device->leaveBusLocked();
            return fail(dev, L"Device disconnected");
        }
    }
    const int delay = device->reportDelayMs();
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));

    const QByteArray report(reinterpret_cast<const char*>(data) + 1, EmulatedDevice::ReportSize);
    std::lock_guard<std::mutex> lock(bus.mutex);
    if (!device->pluggedLocked())
        return fail(dev, L"Device disconnected");
    device->receiveLocked(dev->interfaceNumber, report);
    return WriteSize;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    if (!dev)
        return -1;
    if (!data)
        return fail(dev, L"No buffer");
    Bus& bus = Bus::instance();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0);
    std::unique_lock<std::mutex> lock(bus.mutex);
    const EmulatedDevice::Port* port = dev->device->port(dev->interfaceNumber);
    const std::string path = port ? port->path.toStdString() : std::string();
    if (port)
        ++bus.reads[path];
    for (;;) {
        if (!dev->device->pluggedLocked())
            return fail(dev, L"Device disconnected");
        const Clock::time_point now = Clock::now();
        if (!dev->queue.empty() && dev->queue.front().readyAt <= now) {
            const QByteArray report = dev->queue.front().report;
            dev->queue.pop_front();
            if (!path.empty() && milliseconds != 0)
                ++bus.waitingReadsWithReport[path];
            const size_t n = std::min(length, size_t(report.size()));
            std::memcpy(data, report.constData(), n);
            return int(n);
        }
        if (milliseconds == 0 || (milliseconds > 0 && now >= deadline))
            return 0;
        // Wake for the next report coming due, the deadline, or any change on the bus.
        Clock::time_point until = milliseconds > 0 ? deadline : Clock::time_point::max();
        if (!dev->queue.empty())
            until = std::min(until, dev->queue.front().readyAt);
        if (until == Clock::time_point::max())
            bus.changed.wait(lock);
        else
            bus.changed.wait_until(lock, until);
    }
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device* dev, unsigned char* data, size_t length)
{
    if (!dev)
        return -1;
    return hid_read_timeout(dev, data, length, dev->nonblocking.load() ? 0 : -1);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device* dev, int nonblock)
{
    if (!dev)
        return -1;
    dev->nonblocking.store(nonblock != 0);
    return 0;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev)
{
    if (!dev)
        return;
    {
        std::lock_guard<std::mutex> lock(Bus::instance().mutex);
        dev->device->detachLocked(dev);
        // The handle may hold the last reference to an unplugged device; release it under the lock.
        dev->device.reset();
        dev->queue.clear();
    }
    delete dev;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device* dev)
{
    const wchar_t* e = dev ? dev->error.load() : Bus::instance().error.load();
    return e ? e : L"Success";
}

} // extern "C"
