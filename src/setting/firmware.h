#pragma once
// The settings page's manual firmware block: pick an image's folder, remember it, hand it to the upgrade.
#include <QDir>
#include <QLabel>
#include <QString>
#include <QTimer>
#include <QWidget>

class QFileDialog;
class Schedule;
class Ui_Firmware;

class Firmware : public QWidget {
    Q_OBJECT
public:
    // An empty path shows the folder remembered in config/temp/temp.xml; any other is shown instead.
    Firmware(QWidget* parent, const QString& path);
    ~Firmware() override;

    // Lays the panel out at the settings page's update frame size and makes the progress ring,
    // which the page then reparents and places.
    void createPanel(int width, int height);
    // Folder button, update button and path edit together.
    void setButtonsEnabled(bool on);
    void setFolderButtonEnabled(bool on);
    void setDownloadButtonEnabled(bool on);
    // The upgrade's percentage on the ring.
    void setProgress(int percent);

    // Null until createPanel; owned by the panel wherever it is shown.
    Schedule* schedule() const { return m_schedule; }
    int waitCount() const { return m_waitCount; }
    QDir lastDir() const { return m_lastDir; }
    QFileDialog* fileDialog() const { return m_fileDialog; }
    const QTimer& waitTimer() const { return m_waitTimer; }
    QLabel* captionLabel() { return &m_captionLabel; }

public slots:
    // True while the keyboard's bootloader is awaited: the ring's wait animation runs.
    void waitDfuOpenSlot(bool on);
    // The ring says the keyboard restarts.
    void showRestarting();
    void retranslate(int languageType);

signals:
    // The folder to upgrade from, after the start checks passed.
    void emitUpdateSure(QString folder);

private slots:
    void openFileSlot();
    void startUpdateSlot();
    void editingTextChangedSlot(const QString& text);
    void waitDfuOpenAddnumberSlot();

private:
    void readFilePathXml();
    void writeFilePathXml();
    void setEditBorder(bool error);

    Schedule* m_schedule = nullptr;
    int m_waitCount = 0;
    QTimer m_waitTimer;
    QLabel m_captionLabel;
    QFileDialog* m_fileDialog = nullptr;
    QDir m_lastDir{QString()};
    Ui_Firmware* ui = nullptr;
};
