#include "onlineupdate.h"

#include "Update/downloadfile.h"
#include "Update/inerttextdocument.h"
#include "Update/overallvariate.h"
#include "Update/servertext.h"
#include "Update/ui_onlineupdate.h"
#include "images/compiledimages.h"
#include "setting/Language.h"
#include "widget/filenotice.h"
#include "widget/qss.h"
#include "widget/smallxml.h"
#include "widget/waterprogressbar.h"

#include <QDebug>
#include <QRegularExpression>
#include <QDomDocument>
#include <QPalette>
#include <QTimer>

namespace {

// The checking text's dot counter: one for the whole process, never reset.
int g_dotCounter = 1;

enum class Tip { Checking, NewVersion, Latest, Failed };

QString tipText(Tip tip, int language, int dots = 1)
{
    const bool chinese = language == 0;
    switch (tip) {
    case Tip::Checking:
        return (chinese ? QStringLiteral("正在检查新版本，请稍后") : QStringLiteral("Check new version,Please wait"))
            + QString(dots, QChar(0x00B7));
    case Tip::NewVersion:
        return chinese ? QStringLiteral("发现新版本！") : QStringLiteral("Discover new version!");
    case Tip::Latest:
        return chinese ? QStringLiteral("当前已是最新版本！") : QStringLiteral("Current is latest version!");
    case Tip::Failed:
        return chinese ? QStringLiteral("升级失败，请稍后重试！") : QStringLiteral("Update failed, Please later retry!");
    }
    return QString();
}

// A text area whose background shows the dialog through it and whose text cannot be selected or edited.
void makeTransparentText(QTextEdit* edit)
{
    QPalette palette = edit->palette();
    QBrush clear(QColor(255, 0, 0, 0));
    clear.setStyle(Qt::SolidPattern);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setBrush(group, QPalette::Base, clear);
    edit->setPalette(palette);
    edit->setTextInteractionFlags(Qt::NoTextInteraction);
}

// The update information comes from the server: rich text stays rich, but an <img> or <link> in it
// must not read the user's disk (a device or a pipe would hang or fill memory).
void makeInert(QTextEdit* edit)
{
    const QTextDocument* form = edit->document();
    auto* inert = new InertTextDocument(edit);
    inert->setDefaultFont(form->defaultFont());
    inert->setDocumentMargin(form->documentMargin());
    inert->setHtml(form->toHtml());
    edit->setDocument(inert);
}

WaterProgressbar* newProgressBall(QWidget* parent)
{
    auto* ball = new WaterProgressbar(parent);
    ball->resize(80, 60);
    ball->value = 0;
    ball->border = 0;
    ball->hide();
    return ball;
}

} // namespace

onlineUpdate::onlineUpdate(QWidget* parent) : QWidget(parent)
{
    initCompiledImages();
    m_ui = new Ui_onlineUpdate;
    m_settingsPath = appDirPath() + QStringLiteral("/config/AutoUpdate.xml");
    // The form is laid out for a 9-point interface font: a desktop's larger default would push the check
    // row out of its frame.
    QFont interfaceFont = font();
    interfaceFont.setPointSize(InterfacePointSize);
    setFont(interfaceFont);
    m_ui->setupUi(this);
    fitTipLabel();

    makeTransparentText(m_ui->textEdit_TessarkUpdate);
    makeTransparentText(m_ui->textEdit_FirmwareUpdate);
    makeInert(m_ui->textEdit_TessarkUpdate);
    makeInert(m_ui->textEdit_FirmwareUpdate);

    m_ui->frame_TessarkUpdate->hide();
    m_ui->frame_FirmwareUpdate->hide();
    m_ui->pushButton_TessarkUpdate->setEnabled(false);
    m_ui->pushButton_FirmwareUpdate->setEnabled(false);

    m_thread = new QThread;
    m_worker = new DownloadFile;
    m_worker->moveToThread(m_thread);
    // Deleted on its own thread once that thread's loop has ended, never while one of its slots runs.
    connect(m_thread, &QThread::finished, m_worker.data(), &QObject::deleteLater);
    connectSignals();

    // The check box is connected by name already: a stored "0" unchecks it and so rewrites the file.
    parseXmlAutoUpdateFile(m_settingsPath);

    m_tipTimer = new QTimer;
    m_tipTimer->setInterval(TipIntervalMs);
    connect(m_tipTimer, &QTimer::timeout, this, &onlineUpdate::UpdateTipSlot);

    m_toolProgress = newProgressBall(m_ui->label_Progress);
    m_firmwareProgress = newProgressBall(m_ui->label_Firmware_Progress);

    if (g_language)
        connect(g_language, &Language::LanguageChange, this, &onlineUpdate::setLanguage);

    m_thread->start(QThread::InheritPriority);
}

onlineUpdate::~onlineUpdate()
{
    delete m_ui;
    m_ui = nullptr;
    delete m_tipTimer;
    if (!stopWorker()) {
        // Destroying a running QThread aborts the process, and the worker is inside one of its slots:
        // both are left alive on purpose; the worker deletes itself if its thread ever ends.
        qWarning() << __LINE__ << "onlineUpdate: leaving the update worker's thread running";
        return;
    }
    delete m_thread;
}

DownloadFile* onlineUpdate::worker() const
{
    return m_worker.data();
}

int onlineUpdate::dotCounter()
{
    return g_dotCounter;
}

bool onlineUpdate::stopWorker()
{
    if (!m_thread || !m_thread->isRunning())
        return true;
    if (m_worker)
        m_worker->requestStop();
    m_thread->quit();
    if (m_thread->wait(WorkerStopWaitMs))
        return true;
    qWarning() << __LINE__ << "update worker did not stop within" << WorkerStopWaitMs << "ms";
    return false;
}

void onlineUpdate::connectSignals()
{
    overallVariate* hub = g_overallVariate;
    if (!hub || !m_worker) {
        qWarning() << __LINE__ << "onlineUpdate: no update hub to connect to";
        return;
    }
    DownloadFile* worker = m_worker.data();
    connect(hub, &overallVariate::checkUpdateSignal, this, &onlineUpdate::checkUpdateSlot, Qt::QueuedConnection);
    connect(hub, &overallVariate::checkFirmwareUpdateSignal, worker, &DownloadFile::checkFirmwareUpdateSlot,
            Qt::QueuedConnection);
    connect(hub, &overallVariate::checkUpdateSignalFirmware, this, &onlineUpdate::checkFirmwareUpdateSlot,
            Qt::QueuedConnection);
    connect(hub, &overallVariate::dowmloadTessarkUpdateFileSignal, worker,
            &DownloadFile::dowmloadTessarkUpdateFileSlot, Qt::QueuedConnection);
    connect(hub, &overallVariate::dowmloadFirmwareUpdateFileSignal, worker,
            &DownloadFile::dowmloadFirmwareUpdateFileSlot, Qt::QueuedConnection);
    connect(hub, &overallVariate::ErrorInfoSignal, this, &onlineUpdate::ErrorInfoSlot, Qt::QueuedConnection);
    connect(hub, &overallVariate::threadBusySignal, this, &onlineUpdate::threadBusySignalSolt,
            Qt::QueuedConnection);
    connect(hub, &overallVariate::unModeFirmwareSignal, worker, &DownloadFile::unModeFirmwareSlot,
            Qt::QueuedConnection);
    connect(hub, &overallVariate::checkUpdateDownloadSignal, worker, &DownloadFile::checkUpdateSlot,
            Qt::QueuedConnection);
}

void onlineUpdate::setLanguage(int type)
{
    const bool chinese = type == 0;
    setWindowTitle(chinese ? QStringLiteral("在线升级") : QStringLiteral("Online Upgrade"));
    m_ui->checkBox_AutoCheckUpdate->setText(chinese ? QStringLiteral("自动检查更新")
                                                    : QStringLiteral("Auto Check Update"));
    m_ui->pushButton_checkUpdate->setText(chinese ? QStringLiteral("检查更新") : QStringLiteral("Check Update"));
    const QString upgrade = chinese ? QStringLiteral("立即升级") : QStringLiteral("Upgrade");
    m_ui->pushButton_TessarkUpdate->setText(upgrade);
    m_ui->pushButton_FirmwareUpdate->setText(upgrade);
    fitTipLabel();
}

void onlineUpdate::fitTipLabel()
{
    // The row is sized for a narrower interface font than most systems have: where the check box and
    // the button take more, the tip wraps to a second line in the room left instead of running out of
    // the frame, cut.
    QLabel* tip = m_ui->label_UpdateTip;
    tip->setWordWrap(true);
    int outerLeft = 0, outerTop = 0, outerRight = 0, outerBottom = 0;
    m_ui->horizontalLayout_4->getContentsMargins(&outerLeft, &outerTop, &outerRight, &outerBottom);
    int left = 0, top = 0, right = 0, bottom = 0;
    m_ui->horizontalLayout_3->getContentsMargins(&left, &top, &right, &bottom);
    const int spacing = m_ui->horizontalLayout_3->spacing();
    const int room = m_ui->frame_6->contentsRect().width() - outerLeft - outerRight - left - right
                     - m_ui->checkBox_AutoCheckUpdate->sizeHint().width()
                     - m_ui->pushButton_checkUpdate->sizeHint().width() - 2 * spacing;
    tip->setMinimumWidth(qBound(0, room, TipMinimumWidth));
}

void onlineUpdate::startCheckTip()
{
    m_tipTimer->start();
    m_ui->label_UpdateTip->setText(tipText(Tip::Checking, currentLanguageType(), 1));
}

void onlineUpdate::UpdateTipSlot()
{
    m_ui->label_UpdateTip->setText(tipText(Tip::Checking, currentLanguageType(), g_dotCounter + 1));
    g_dotCounter = (g_dotCounter + 1) % 3;
}

void onlineUpdate::on_pushButton_TessarkUpdate_clicked()
{
    m_toolProgress->value = 0;
    m_toolProgress->show();
    if (g_overallVariate)
        g_overallVariate->emitDownloadTessarkUpdateFile();
}

void onlineUpdate::on_pushButton_FirmwareUpdate_clicked()
{
    m_firmwareProgress->value = 0;
    m_firmwareProgress->show();
    if (g_overallVariate)
        g_overallVariate->emitDownloadFirmwareUpdateFile();
}

void onlineUpdate::on_pushButton_checkUpdate_clicked()
{
    m_ui->pushButton_checkUpdate->setEnabled(false);
    checkUpdateSlot();
}

void onlineUpdate::TessarkWidgetShow(bool found)
{
    const bool online = g_overallVariate && g_overallVariate->getOnlinState();
    if (!online) {
        m_tipTimer->stop();
        m_ui->pushButton_checkUpdate->setEnabled(true);
    }
    if (found) {
        m_ui->label_UpdateTip->setText(tipText(Tip::NewVersion, currentLanguageType()));
        show();
        // A firmware frame moved up into the hidden tool frame's place goes back below it.
        QFrame* firmware = m_ui->frame_FirmwareUpdate;
        firmware->move(firmware->x(), FirmwareFrameY);
        m_ui->frame_TessarkUpdate->show();
        if (!online)
            m_ui->pushButton_TessarkUpdate->setEnabled(true);
        return;
    }
    if (!online)
        m_ui->label_UpdateTip->setText(tipText(Tip::Latest, currentLanguageType()));
    m_ui->frame_TessarkUpdate->hide();
    m_ui->pushButton_TessarkUpdate->setEnabled(false);
}

void onlineUpdate::FirmeareWidgetShow(bool found)
{
    m_tipTimer->stop();
    m_ui->pushButton_checkUpdate->setEnabled(true);
    m_ui->pushButton_TessarkUpdate->setEnabled(true);
    if (found) {
        m_ui->label_UpdateTip->setText(tipText(Tip::NewVersion, currentLanguageType()));
        m_firmwareProgress->value = 0;
        m_firmwareProgress->hide();
        show();
        QFrame* firmware = m_ui->frame_FirmwareUpdate;
        firmware->show();
        if (!m_ui->frame_TessarkUpdate->isVisible())
            firmware->move(firmware->x(), m_ui->frame_TessarkUpdate->y());
        m_ui->pushButton_FirmwareUpdate->setEnabled(true);
        return;
    }
    m_ui->label_UpdateTip->setText(
        tipText(m_ui->frame_TessarkUpdate->isVisible() ? Tip::NewVersion : Tip::Latest, currentLanguageType()));
    m_ui->frame_FirmwareUpdate->hide();
    m_ui->pushButton_FirmwareUpdate->setEnabled(false);
}

void onlineUpdate::on_checkBox_AutoCheckUpdate_stateChanged(int state)
{
    // The user's own choice that did not last is told; the rewrite while the file is read only logs.
    if (!writeAutoUpdateXml(m_settingsPath, QString::number(state)) && !m_showingFile)
        filenotice::saveFailed(m_settingsPath, QStringLiteral("the automatic update check choice could not be written"));
}

void onlineUpdate::ErrorInfoSlot(QString message)
{
    m_tipTimer->stop();
    m_ui->label_UpdateTip->setText(tipText(Tip::Failed, currentLanguageType()));
    qDebug() << __LINE__ << "下载出错了" << message;
    m_ui->pushButton_checkUpdate->setEnabled(true);
    if (m_ui->frame_TessarkUpdate->isVisible())
        m_toolProgress->hide();
    if (m_ui->pushButton_FirmwareUpdate->isVisible())
        m_firmwareProgress->hide();
}

void onlineUpdate::DeviceOfflineSlot()
{
    m_ui->frame_FirmwareUpdate->hide();
    if (!m_ui->frame_TessarkUpdate->isVisible())
        m_ui->label_UpdateTip->setText(QStringLiteral(" "));
    m_firmwareProgress->value = 0;
    m_firmwareProgress->hide();
}

void onlineUpdate::checkUpdateSlot()
{
    if (!g_overallVariate || g_overallVariate->getBusy())
        return;
    startCheckTip();
    g_overallVariate->emitCheckUpdateDownload();
}

void onlineUpdate::checkFirmwareUpdateSlot()
{
    if (!g_overallVariate || g_overallVariate->getBusy())
        return;
    startCheckTip();
    g_overallVariate->emitCheckFirmwareUpdate();
}

// The server's text is laid out on this thread: bounded first, so a text built to be costly cannot stall
// the window or overflow the stack.
void onlineUpdate::setTessarkUpdateInfoSlot(QString text)
{
    // The text area is transparent: the text shows on the dialog's own background.
    ServerText::show(m_ui->textEdit_TessarkUpdate->document(), text, "tool", palette().color(QPalette::Window));
}

void onlineUpdate::setFirmwareUpdateInfoSlot(QString text)
{
    ServerText::show(m_ui->textEdit_FirmwareUpdate->document(), text, "firmware", palette().color(QPalette::Window));
}

void onlineUpdate::threadBusySignalSolt(bool busy)
{
    qDebug() << __LINE__ << "threadBusySignalSolt=" << busy;
    m_ui->pushButton_FirmwareUpdate->setEnabled(!busy);
    m_ui->pushButton_TessarkUpdate->setEnabled(!busy);
    m_ui->pushButton_checkUpdate->setEnabled(!busy);
}

WaterProgressbar* onlineUpdate::progressBallOfMode() const
{
    // The mode is read as the queued signal is handled; the worker may have moved on since.
    const int mode = m_worker ? m_worker->getDownloadMode() : -1;
    if (mode == DownloadFile::ToolFiles)
        return m_toolProgress;
    if (mode == DownloadFile::FirmwareFiles)
        return m_firmwareProgress;
    return nullptr;
}

void onlineUpdate::setDownloadProgress(int value)
{
    if (WaterProgressbar* ball = progressBallOfMode())
        ball->value = value;
    qDebug() << __LINE__ << "setDownloadProgress" << value;
}

void onlineUpdate::setDownloadNumber(int count)
{
    if (WaterProgressbar* ball = progressBallOfMode())
        ball->maximum = count;
    qDebug() << __LINE__ << "setDownloadNumber" << count;
}

bool onlineUpdate::writeAutoUpdateXml(const QString& path, const QString& value)
{
    if (g_overallVariate)
        g_overallVariate->setAutoCheckUpdate(value.toInt(nullptr, 10) != 0);
    QDomElement root;
    QDomDocument doc = newCommandDocument(QStringLiteral("version='1.0' encoding='UTF-8'"), &root);
    QDomElement update = doc.createElement(QStringLiteral("Update"));
    QDomElement autoUpdate = doc.createElement(QStringLiteral("AutoUpdate"));
    autoUpdate.setAttribute(QStringLiteral("Auto"), value);
    update.appendChild(autoUpdate);
    root.appendChild(update);
    // Through a save file: a write that fails keeps the old content.
    if (saveSmallXml(path, doc))
        return true;
    qWarning().noquote() << "automatic update check: not saved:" << path;
    return false;
}

std::unique_ptr<QDomDocument> onlineUpdate::openXMLDomDocument(const QString& path)
{
    auto doc = std::make_unique<QDomDocument>();
    const QByteArray failure = "Open XML file failed: \"" + path.toUtf8() + '"';
    if (readSmallXml(path, doc.get(), failure.constData()) != 0)
        return nullptr;
    return doc;
}

bool onlineUpdate::parseXmlAutoUpdateFile(const QString& path)
{
    const std::unique_ptr<QDomDocument> doc = openXMLDomDocument(path);
    if (!doc) {
        qDebug() << __LINE__ << "读取xml错误";
        return false;
    }
    const QDomElement root = doc->documentElement();
    for (QDomElement update = root.firstChildElement(QStringLiteral("Update")); !update.isNull();
         update = update.nextSiblingElement(QStringLiteral("Update"))) {
        for (QDomElement autoUpdate = update.firstChildElement(QStringLiteral("AutoUpdate")); !autoUpdate.isNull();
             autoUpdate = autoUpdate.nextSiblingElement(QStringLiteral("AutoUpdate"))) {
            // Text that is not a number reads as 0: off. A number is on when it is not zero, however long:
            // one past the range of int is still not zero.
            static const QRegularExpression number(QStringLiteral("^\\s*[+-]?0*([0-9]*)\\s*$"));
            const QRegularExpressionMatch digits = number.match(autoUpdate.attribute(QStringLiteral("Auto")));
            const bool on = digits.hasMatch() && !digits.captured(1).isEmpty();
            if (g_overallVariate)
                g_overallVariate->setAutoCheckUpdate(on);
            m_showingFile = true;
            m_ui->checkBox_AutoCheckUpdate->setChecked(on);
            m_showingFile = false;
        }
    }
    return true;
}
