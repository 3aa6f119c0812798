#pragma once
// The update worker: fetches signed downloads one after another on its own thread, then performs its
// download mode's end action (version checks, staging, the updater hand-over).
#include "Update/updateserverconfig.h"
#include "Update/workerstop.h"
#include "widget/fileguard.h"

#include <QDateTime>
#include <QDomDocument>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// What a link file gives: the files to fetch, the files to delete once they have all arrived (tool file
// only), a synopsis.
struct UrlInfo {
    QStringList linkList;
    QStringList deleteList;
    QString synopsis;
};

class DownloadFile : public QObject {
    Q_OBJECT
public:
    // What the download mode field holds: what happens when the link list is done.
    enum Mode {
        ToolVersionFile = 0,
        ToolLinkFile = 1,
        ToolFiles = 2,
        FirmwareVersionFile = 3,
        FirmwareLinkFile = 4,
        FirmwareFiles = 5,
    };

    DownloadFile();
    ~DownloadFile() override;

    // Network time (daytime protocol): the current UTC time, or null when no server answered.
    QDateTime getNetworkTime();
    void initTimeServerList();
    // The UTC time of one daytime answer ("<day> YY-MM-DD HH:MM:SS ..."); null when it does not parse.
    static QDateTime parseDaytimeAnswer(QByteArray answer);

    // Fetches link `index`, or performs the mode's end action when the list is done.
    void Startdownload(int index);
    void startRequest(const QUrl& url);
    static QByteArray getMd5(const QString& text);
    static QString createFilePath(QString path);
    void reportError(const QString& message);
    void releaseNetwork();
    int getDownloadMode() const { return m_downloadMode; }
    void loadFirmwareInfo();

    // Staging folders. deleteDirectory is false (logged) when anything of the folder stays.
    bool deleteDirectory(const QString& path, bool count);
    // Removes path with everything below it, hidden entries and dangling links too; a link is removed
    // itself, never followed. With topLevelFiles, each regular file directly in path adds one. False
    // when anything stays; nothing at path is true.
    static bool removeTree(const QString& path, int* topLevelFiles = nullptr);
    bool deleteFile(const QString& path);

    // Version and link files.
    QStringList ReadTessarkSettings(QString path);
    void ReadVersionsFile(QString path);
    QStringList ReadFirmwareSettings(QString path);
    void ReadFirmwareVersionsFile(QString path);
    std::unique_ptr<QDomDocument> openXMLDomDocument(QString path);
    bool parseTessrakUrlXml(UrlInfo& info, QString path);
    bool parseFirmwareUrlXml(UrlInfo& info, QString path);
    // Whether the server's version text is newer than the installed one.
    static bool isNewerVersion(const QString& server, const QString& installed);

    // The updater hand-over.
    void UpdateUpgrradeProgram();
    // False (reported) when the updater could not be started.
    bool StartUpgradeProgram();
    // The downloaded files below fromDir into toDir, hidden ones too, each replacing what is there; the
    // updater archive is unpacked in its place. Links are not copied. False when anything fails.
    bool copyDirectoryFiles(const QString& fromDir, const QString& toDir);
    bool unzipFile(const QString& zipFilePath, const QString& destDir, bool removeExisting);

    // Safe from any thread: the waits for network time end within 100 ms, no new request starts, a check
    // of the updater ends at its next 64 KiB and starts nothing. A stop signal counts as asked.
    void requestStop() { m_stop.request(); }
    bool stopRequested() const { return m_stop.requested(); }

    // The next time server to ask: one index for the whole process.
    static int nextTimeServerIndex();
    static void setNextTimeServerIndex(int index);
    // Shorter waits for tests (connect and read per time server, silence on a transfer), in ms.
    static void setWaitsForTest(int connectMs, int readMs, int transferMs);
    // A shorter pace window for tests, in ms (the floor per window shrinks with it).
    static void setPaceWindowForTest(int ms);
    // Smaller bounds for tests: on each tool file, and on one update's files together.
    static void setToolFileLimitForTest(qint64 bytes);
    static void setUpdateBoundForTest(qint64 bytes);
    // Tests: called as the updater check reads a program's digest, once it is open: before each 64 KiB
    // with the bytes left to read (its first call before the first byte), and with 0 once all are read.
    static void setDigestReadHookForTest(std::function<void(const QString& path, qint64 left)> hook);

    // Bounds on every download. A reply holds at most ReadBufferBytes and is read ReadChunkBytes at a
    // time, so memory stays flat whatever the server sends. The network layer refills the buffer in
    // rounds of some milliseconds, so a smaller one caps the speed (256 KiB: about 14 MB/s locally).
    static constexpr qint64 ReadBufferBytes = 512 * 1024;
    static constexpr qint64 ReadChunkBytes = 64 * 1024;
    // The largest file of each kind: version and link files as any description file the tool reads,
    // firmware images as the upgrade takes them, each of the tool's own files.
    static constexpr qint64 MaxDescriptionFileBytes = FileGuard::MaxFileBytes;
    static constexpr qint64 MaxImageFileBytes = 16 * 1024 * 1024;
    static constexpr qint64 MaxToolFileBytes = 256 * 1024 * 1024;
    // The files of one update together (the tool's, counting what the updater archive inflates to, or
    // one firmware download's images): a link file of many files each within its limit must not fill
    // the disk. Checked as the bytes arrive.
    static constexpr qint64 MaxUpdateBytes = qint64(1024) * 1024 * 1024;
    // A transfer must bring PaceFloorBytesPerSecond on average in every window of PaceWindowMs (60 KiB
    // a minute); a version or link file must be done within one window. A server that trickles would
    // otherwise keep resetting the silence wait, and the check would never end.
    static constexpr int PaceWindowMs = 60000;
    static constexpr qint64 PaceFloorBytesPerSecond = 1024;
    // The largest file a download in this mode may bring.
    static qint64 sizeLimit(int mode);

    // For tests: the state a mode's end action works on.
    QStringList linkList() const { return m_linkList; }
    void setLinkList(const QStringList& links) { m_linkList = links; }
    QStringList takePendingDeletes() { return std::exchange(m_pendingDeletes, QStringList()); }
    void setDownloadMode(int mode) { m_downloadMode = mode; }
    int deletedFileCount() const { return m_deletedFileCount; }
    void setDeletedFileCount(int count) { m_deletedFileCount = count; }
    QString tessarkVersion() const { return m_tessarkVersion; }
    void setTessarkVersion(const QString& version) { m_tessarkVersion = version; }
    QString modelDir() const { return m_modelDir; }
    int modelType() const { return m_modelType; }
    QStringList timeServerList() const { return m_timeServerList; }
    const UpdateServerConfig& serverConfig() const { return m_config; }

public slots:
    void WriteUpgradeFile();
    void upgradeFileDownloadFinished();

    // The operations, each reached through a queued hub signal.
    void checkUpdateSlot();
    void dowmloadTessarkUpdateFileSlot();
    void checkFirmwareUpdateSlot();
    void dowmloadFirmwareUpdateFileSlot();
    void unModeFirmwareSlot();

private:
    // The guarded operations start only while no other runs, and set busy until their chain ends.
    bool takeBusy();
    // A new link list of one file, in this mode, fetched from its start.
    void startOperation(const QString& link, int mode);
    // The firmware check itself; the end of a tool check chains into it with busy still set.
    void startFirmwareCheck();
    // The end action of the download mode, once the link list is done.
    void finishLinkList();
    // Closes and removes the target file (a failed download leaves nothing behind).
    void removeTargetFile();
    void fetch(int index);

    // Waits of one fetch: each daytime server gets this long to connect and this long to answer; a
    // transfer silent this long fails. Tests shorten them (setWaitsForTest).
    static constexpr int TimeServerConnectWaitMs = 30000;
    static constexpr int TimeServerReadWaitMs = 30000;
    static constexpr int TransferTimeoutMs = 30000;
    // How often a wait for a daytime server looks at the stop flag (at most 100 ms).
    static constexpr int StopPollMs = 20;
    // Redirects followed in a row; the next one fails the download.
    static constexpr int MaxRedirectsFollowed = 4;
    static inline std::atomic<int> s_connectWaitMs{TimeServerConnectWaitMs};
    static inline std::atomic<int> s_readWaitMs{TimeServerReadWaitMs};
    static inline std::atomic<int> s_transferTimeoutMs{TransferTimeoutMs};
    static inline std::atomic<int> s_paceWindowMs{PaceWindowMs};
    static inline std::atomic<qint64> s_toolFileLimit{MaxToolFileBytes};
    static inline std::atomic<qint64> s_updateBound{MaxUpdateBytes};

    // Appends what the reply has to the target file, a chunk at a time; false (the reason kept) on a
    // short write, an empty read while bytes wait, or a body over the mode's limit.
    bool writeAvailable();
    // A Content-Length over the mode's limit, or a body in any encoding but identity: the reason is
    // kept and the transfer must end.
    bool headersRefused();
    // Headers are in: a body they refuse ends the transfer before anything is written.
    void checkAnnouncedLength();
    // What this tool file or image brings to its update; false (the reason kept) when the update passes
    // its bound.
    bool withinUpdateBound(qint64 fileBytes);
    // A finished tool file or image counted into its update (an updater archive by what it inflates to as well);
    // false (the reason kept) when the update passes its bound.
    bool countIntoUpdate();
    // Each pace window: a transfer that brought too little, or a version or link file not done, ends.
    void checkPace();
    // Keeps the reason and aborts the reply; the reply-error path then removes the file.
    void abandonTransfer(const QString& reason);
    // Version and link files (and anything outside the known modes) must be done within one window.
    bool isDescriptionMode() const;
    // Why the finished transfer cannot be used; empty when it is a complete file.
    QString transferFault() const;
    // The reply-error path: the mode's answer, the target file removed, the network released.
    void failTransfer(const QString& message);
    // One daytime server's answer line; empty when it did not answer within the waits or a stop came.
    QByteArray askTimeServer(const QString& entry);

    QString m_tessarkVersion;
    QString m_modelDir;
    QString m_usbAppVersion;
    QString m_btAppVersion;
    QString m_btSdVersion;
    int m_modelType = 0;
    QStringList m_timeServerList;
    QStringList m_linkList;
    // The tool link file's delete list, applied once every file of the update has arrived.
    QStringList m_pendingDeletes;
    QFile* m_file = nullptr;
    QNetworkReply* m_reply = nullptr;
    QNetworkAccessManager* m_networkManager = nullptr;
    int m_redirectCount = 0;
    QUrl m_redirectUrl;
    int m_linkIndex = 0;
    int m_deletedFileCount = 0;
    // Read by the dialog on the GUI thread.
    std::atomic<int> m_downloadMode{0};
    WorkerStop m_stop;
    UpdateServerConfig m_config;
    // Body bytes of the current reply written to the target file.
    qint64 m_received = 0;
    // Set when the transfer broke a bound or the target file took less than it was given: the
    // transfer is failed, never completed.
    QString m_writeError;
    // The pace window of the current file, from its first request through its redirects.
    QTimer* m_paceTimer = nullptr;
    qint64 m_windowBytes = 0;
    // The tool files or images of the running operation so far, as countIntoUpdate counts them.
    qint64 m_updateBytes = 0;
};
