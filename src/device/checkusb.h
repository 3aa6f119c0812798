#pragma once
// Watches whether a HID device with given ids is attached, and signals when it goes away.
#include <QObject>
#include <cstdint>

class QTimer;

class CheckUSB : public QObject {
    Q_OBJECT
public:
    CheckUSB(uint16_t vid, uint16_t pid);
    ~CheckUSB() override;

    void start(int ms);
    void stop();
    // One enumeration: whether a device with these ids is listed.
    static bool present(uint16_t vid, uint16_t pid);

signals:
    // A receiver may delete the poller: the poll touches nothing after emitting.
    void emitDisconnect();

public slots:
    void scanDeviceSlot();

private:
    QTimer* m_timer;
    bool m_connected = true;
    uint16_t m_vid;
    uint16_t m_pid;
};
