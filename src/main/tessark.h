#pragma once
// The main window: sets up the log, the language and the look, and is the window a second start raises.
#include "widget/qss.h"
#include "widget/runtime.h"

#include <QMainWindow>
#include <QString>

class Tessark : public QMainWindow {
    Q_OBJECT
public:
    // mode is "None" or "/background", as qMain found it on the command line.
    Tessark(QWidget* parent, QString mode);
    ~Tessark() override;

    QString startArgument() const { return m_startArgument; }

public slots:
    // Restores, raises and activates the window (a second start of the tool calls it).
    void mainShow();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void retranslateUi(int language);
    void centreOnScreen();

    QString m_appDir;
    QString m_startArgument;
    bool m_shownOnce = false;
    RunTime m_runTime;
    Qss m_qss;
};
