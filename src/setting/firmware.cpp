#include "firmware.h"

#include "Language.h"
#include "schedule.h"
#include "ui_firmware.h"
#include "widget/data.h"
#include "widget/filechooser.h"
#include "widget/filenotice.h"
#include "widget/qss.h"
#include "widget/smallxml.h"
#include "widget/toolfiledialog.h"

#include <QDebug>
#include <QDomDocument>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>

#include <memory>

namespace {

const QString DialogTitle = QStringLiteral("Open File");
const QString DialogFilter = QStringLiteral("Binary System File(*.bin)");
constexpr int WaitTickMs = 90;

QString tempFolder()
{
    QString folder = appDirPath() + QStringLiteral("/config/temp/");
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return folder;
}

} // namespace

Firmware::Firmware(QWidget* parent, const QString& path)
    : QWidget(parent)
    , ui(new Ui_Firmware)
{
    ui->setupUi(this);
    setFolderButtonEnabled(true);
    setDownloadButtonEnabled(true);
    ui->openLineEdit->setText(path);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    ui->label_Update->setFont(QFont(QStringLiteral("Consolas"), 16, 50));
    m_captionLabel.setParent(this);
    m_captionLabel.setFont(QFont(QStringLiteral("Consolas"), 12, QFont::Thin));
    m_captionLabel.setText(QStringLiteral("Firmware Update:"));
    m_captionLabel.adjustSize();
    ui->openLineEdit->setFont(QFont(QStringLiteral("Consolas"), 9));

    connect(ui->openFileButton, &QPushButton::pressed, this, &Firmware::openFileSlot);
    connect(ui->downloadButton, &QPushButton::pressed, this, &Firmware::startUpdateSlot);
    connect(&m_waitTimer, &QTimer::timeout, this, &Firmware::waitDfuOpenAddnumberSlot);

    if (path.isEmpty())
        readFilePathXml();

    // Never shown: it resolves the remembered folder to the absolute path temp.xml keeps.
    m_fileDialog = new ToolFileDialog(this, DialogTitle, m_lastDir.path(), DialogFilter);

    // Connected only now, so the texts set above leave the edit's look as it is.
    connect(ui->openLineEdit, &QLineEdit::textChanged, this, &Firmware::editingTextChangedSlot);

    if (g_language)
        connect(g_language, &Language::LanguageChange, this, &Firmware::retranslate);
    retranslate(currentLanguageType());
}

Firmware::~Firmware()
{
    delete m_fileDialog;
    delete m_schedule;
    m_waitTimer.stop();
    delete ui;
}

void Firmware::retranslate(int languageType)
{
    const bool zh = languageType == 0;
    m_captionLabel.setText(zh ? QStringLiteral("        固件更新:") : QStringLiteral("Firmware Update:"));
    m_captionLabel.adjustSize();
    ui->label_Update->setText(zh ? QStringLiteral("更新") : QStringLiteral("Update"));
    ui->openFileButton->setToolTip(zh ? QStringLiteral("选择固件") : QStringLiteral("Select Firmware"));
    ui->downloadButton->setToolTip(zh ? QStringLiteral("更新固件") : QStringLiteral("Upgrade Firmware"));
}

void Firmware::createPanel(int width, int height)
{
    resize(width, height);
    Qss().setLineEditStyle(ui->openLineEdit, true, 9, false, QColor(0x28, 0x28, 0x28), QColor(125, 125, 125));

    if (!m_schedule) {
        m_schedule = new Schedule(nullptr);
        m_schedule->hide();
        // The settings page reparents the ring; should that page delete it first, forget it.
        connect(m_schedule, &QObject::destroyed, this, [this] { m_schedule = nullptr; });
    }

    ui->openLineEdit->resize(490, 31);
    ui->openFileButton->resize(30, 30);
    ui->downloadButton->resize(30, 30);

    const int editHeight = ui->openLineEdit->height();
    m_captionLabel.move(47, height / 2 - editHeight / 2 + 5);
    ui->openLineEdit->move(218, height / 2 - editHeight / 2);
    const int folderX = ui->openLineEdit->x() + ui->openLineEdit->width() + 12;
    ui->openFileButton->move(folderX, height / 2 - ui->openFileButton->height() / 2);
    ui->downloadButton->move(folderX + ui->openFileButton->width() + 10,
                             height / 2 - ui->downloadButton->height() / 2);
}

void Firmware::setButtonsEnabled(bool on)
{
    setFolderButtonEnabled(on);
    setDownloadButtonEnabled(on);
    ui->openLineEdit->setEnabled(on);
}

void Firmware::setFolderButtonEnabled(bool on)
{
    ui->openFileButton->setEnabled(on);
    if (on)
        Qss().setSettingButtonStyle(ui->openFileButton, QStringLiteral("floder.svg"), QStringLiteral("floder-hover.svg"));
    else
        Qss().setSettingButtonStyle(ui->openFileButton, QStringLiteral("floder-ban.svg"), QString());
}

void Firmware::setDownloadButtonEnabled(bool on)
{
    ui->downloadButton->setEnabled(on);
    if (on)
        Qss().setSettingButtonStyle(ui->downloadButton, QStringLiteral("download.svg"),
                                    QStringLiteral("download-hover.svg"));
    else
        Qss().setSettingButtonStyle(ui->downloadButton, QStringLiteral("download-ban.svg"), QString());
}

void Firmware::setProgress(int percent)
{
    if (m_schedule)
        m_schedule->setProgress(percent);
}

void Firmware::setEditBorder(bool error)
{
    Qss().setColorLineEditStyle(ui->openLineEdit, error ? QColor(0xFF, 0, 0) : QColor(175, 175, 175));
}

void Firmware::openFileSlot()
{
    // The dialog runs its own event loop; the settings page may delete this panel meanwhile.
    const QPointer<Firmware> self(this);
    const QString file = filechooser::getOpenFileName(this, DialogTitle, m_lastDir.path(), DialogFilter);
    if (!self)
        return;
    // A cancelled dialog keeps the folder already chosen, on screen and in temp.xml.
    if (file.isEmpty())
        return;
    ui->openLineEdit->setText(QFileInfo(file).path());
    writeFilePathXml();
}

void Firmware::startUpdateSlot()
{
    const QString text = ui->openLineEdit->text();
    if (text.isEmpty()) {
        qDebug() << __LINE__ << "The path is " << text << "failed!";
        setEditBorder(true);
        return;
    }
    if (!Data::dirExists(text)) {
        setEditBorder(true);
        qDebug() << __LINE__ << "file format error.";
        return;
    }
    setDownloadButtonEnabled(false);
    setFolderButtonEnabled(false);
    ui->openLineEdit->setEnabled(false);
    emit emitUpdateSure(text);
}

void Firmware::editingTextChangedSlot(const QString& text)
{
    setEditBorder(text.isEmpty());
    setDownloadButtonEnabled(!text.isEmpty());
}

void Firmware::waitDfuOpenSlot(bool on)
{
    qDebug() << __LINE__ << "Wait duf open slot. stop(false)/start(true) = " << on;
    if (m_schedule)
        m_schedule->setWait(on);
    if (on)
        m_waitTimer.start(WaitTickMs);
    else
        m_waitTimer.stop();
}

void Firmware::showRestarting()
{
    if (m_schedule)
        m_schedule->setRestarting(currentLanguageType() == 0 ? QStringLiteral("重启中") : QStringLiteral("RESTART"));
}

void Firmware::waitDfuOpenAddnumberSlot()
{
    if (m_schedule)
        m_schedule->setAngle(m_waitCount);
    ++m_waitCount;
}

void Firmware::readFilePathXml()
{
    qDebug() << __LINE__ << "read file path xml";
    const std::unique_ptr<QDomDocument> doc(Data::openXMLDomDocument(tempFolder() + QStringLiteral("temp.xml")));
    if (!doc)
        return;
    for (QDomNode n = doc->documentElement().firstChild(); !n.isNull(); n = n.nextSibling()) {
        const QDomElement e = n.toElement();
        if (e.isNull())
            continue;
        if (e.tagName() == QLatin1String("PATH")) {
            ui->openLineEdit->setText(e.attribute(QStringLiteral("filePath")));
        } else if (e.tagName() == QLatin1String("DIR")) {
            const QString dir = e.attribute(QStringLiteral("dirPath"));
            qDebug() << __LINE__ << "read dir path=" << dir;
            m_lastDir = QDir(dir);
        }
    }
    qDebug() << __LINE__ << "read file path xml finished.";
}

void Firmware::writeFilePathXml()
{
    const QString folder = tempFolder();
    Data::makeDir(folder);

    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"),
                                                    QStringLiteral("version = '1.0' encoding = 'UTF-8'")));
    QDomElement root = doc.createElement(QStringLiteral("TEMP"));
    doc.appendChild(root);
    QDomElement path = doc.createElement(QStringLiteral("PATH"));
    path.setAttribute(QStringLiteral("filePath"), ui->openLineEdit->text());
    root.appendChild(path);
    QDomElement dir = doc.createElement(QStringLiteral("DIR"));
    dir.setAttribute(QStringLiteral("dirPath"), m_fileDialog->directory().path());
    root.appendChild(dir);

    const QString file = folder + QStringLiteral("temp.xml");
    // The folder chosen is remembered for the next start; the user learns when it is not.
    if (!saveSmallXml(file, doc))
        filenotice::saveFailed(file, QStringLiteral("the firmware folder chosen could not be remembered"));
}
