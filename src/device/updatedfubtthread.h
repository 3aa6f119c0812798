#pragma once
// The Bluetooth module upload: reads each frame's acknowledgement and sends the image's next block.
#include "uploadpace.h"

#include <QThread>
#include <atomic>
#include <cstdint>

class Usb;

class updateDFUBtThread : public QThread {
    Q_OBJECT
public:
    // app_bin and sd_bin are connected here, directly, so the next block goes out inside run().
    explicit updateDFUBtThread(QObject* parent = nullptr);
    // Stops the loop and waits for it: the object may be deleted while an upload runs.
    ~updateDFUBtThread() override;

    void setUsb(Usb* usb) { m_usb = usb; }
    Usb* usb() const { return m_usb; }
    // A new image: the bytes stay the caller's until emitUpdateDfuFinished or an error.
    void setImage(const uint8_t* image, uint32_t size);
    void setRunning(bool on);
    bool running() const { return m_running.load(); }
    uint32_t sent() const { return m_sent; }
    uint32_t blockNumber() const { return m_block; }
    // How long an acknowledgement may take; an erase frame's follows a flash erase.
    void setAckTimeouts(int ackMs, int eraseAckMs);
    // The bound in all over an image's data frames (UploadPace); the tests scale it down.
    void setPaceBound(int window, int slowestAckMs) { m_pace.setBound(window, slowestAckMs); }
    // Ends the loop within a read slice; start() runs it again.
    void stop();

    int sendPacket(uint8_t group, uint8_t command, uint16_t length, uint16_t offset, const uint8_t* payload);
    uint32_t bt_erase_app_com();
    uint32_t bt_erase_sd_com();
    uint32_t bt_boot_app();
    uint32_t DfuReceiveCmd(uint8_t* report, int length);
    void ErrorMessage(uint8_t* report, int length);

public slots:
    void bt_app_bin_data();
    uint32_t bt_sd_bin_data();

signals:
    void app_bin();
    void sd_bin();
    void UpdateError(int step, int code);
    void emitStopDfu();
    void emitUpdateDfuFinished();
    void BtFirmwareUpdateProgress(int);
    void SendByteUpdateProgress(int);

protected:
    void run() override;

private:
    // Writes one frame with its acknowledgement's deadline; a failed write ends the image.
    int writeFrame(const uint8_t* frame, int ackMs);
    // Ends the image in flight with UpdateError(step, code).
    void fail(int step, int code);
    int sendBlock(uint8_t sub, uint32_t pos);
    // Reads what is already waiting and drops it: a report that came before the next frame went out
    // cannot answer it (a doubled acknowledgement, most often). A rejection among them fails the image
    // instead, and the result is false. The thread of the upload only.
    bool dropWaitingReports();
    // The image's bytes are all acknowledged, as far as the count of acknowledgements tells: the image
    // ends now, or once no frame's own acknowledgement can still be on its way.
    void endImage();
    void finishImage();
    // Judges a report while `frame` is in flight; true when it is that frame's acknowledgement.
    bool acknowledges(const uint8_t* report, int length, uint8_t frame);

    const uint8_t* m_image = nullptr;
    uint32_t m_size = 0;
    uint32_t m_sent = 0;
    uint32_t m_block = 1;
    Usb* m_usb = nullptr;
    std::atomic<bool> m_running{false};
    std::atomic<uint8_t> m_outstanding{0}; // sub-command of the frame awaiting its acknowledgement; 0 none
    std::atomic<uint8_t> m_dataSub{0x83};  // the image's data frames: 0x83 application, 0x84 SoftDevice
    uint8_t m_lastAccepted = 0;            // sub-command of the frame acknowledged last (the thread's)
    // The image's end waits for the last frame's deadline; meanwhile every report is still judged.
    std::atomic<bool> m_settling{false};
    qint64 m_lastFrameDeadline = 0;        // of the frame acknowledged last (the thread's)
    uint32_t m_acks = 0;                   // acknowledgements taken for the image's frames (the thread's)
    uint32_t m_extraAcks = 0;              // and those beyond them, ignored (the thread's)
    UploadPace m_pace;                      // from an image's first data frame to its end
    std::atomic<qint64> m_deadline{0};     // monotonic ms; 0 while no frame is outstanding
    // An image's frames and the reports ignored meanwhile are counted and logged once, when it ends;
    // only the first few ignored reports are logged themselves.
    static constexpr int LoggedIgnoredReports = 4;
    std::atomic<int> m_framesWritten{0};
    std::atomic<int> m_ignoredReports{0};
    bool logIgnored() { return m_ignoredReports++ < LoggedIgnoredReports; }
    std::atomic<int> m_ackMs;
    std::atomic<int> m_eraseAckMs;
};
