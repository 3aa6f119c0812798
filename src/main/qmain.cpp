#include "main.h"

#include "images/compiledimages.h"
#include "main/singleapplication.h"
#include "main/systemstop.h"
#include "main/tessark.h"
#include "platform/filesizelimit.h"
#include "platform/stopsignals.h"
#include "widget/plaintooltips.h"

#include <QDebug>

int qMain(int argc, char** argv)
{
    // First of all: a stop signal from here on ends the tool with status 0, not by the default action.
    StopSignals::catchFromStart();
    // A save under a file-size limit fails and is told, as on a full disk; the signal would end the tool.
    FileSizeLimit::failWritesInsteadOfSignal();
#ifndef Q_OS_WIN
    // Everything is drawn with QPainter: without Qt's GLX integration the X11 window loads no GL
    // driver, which saves some 50 MB and the driver's allocations. A user's own choice stands.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
#endif
    SingleApplication app(argc, argv);
    PlainToolTips::install(); // every tool tip of every window as typed, before any is made
    if (app.isRunning())
        return 0;
    // From here on a stop signal or the desktop's log-out ends the tool as Exit does, with status 0.
    SystemStop stop;
    // Asked to stop while the application was being made: nothing is loaded yet, nothing to save.
    if (stop.requested())
        return 0;
    if (app.refusal() != SingleApplication::Refusal::None) {
        // Nothing of the user's is touched: no window, no log file, no setting. A stop signal answers the box.
        for (const QString& warning : app.guardWarnings())
            qWarning().noquote() << warning;
        app.tellRefusal();
        return 1;
    }
    initCompiledImages();

    QString mode = QStringLiteral("None");
    for (int i = 0; i < argc; ++i) {
        qDebug() << QString::fromUtf8(argv[i]);
        if (QString::fromLatin1(argv[i]) == QLatin1String("/background"))
            mode = QStringLiteral("/background");
    }

    app.m_mainWindow = new Tessark(nullptr, mode);
    // Only now does the log handler run: what the instance check found reaches the log file.
    for (const QString& warning : app.guardWarnings())
        qWarning().noquote() << warning;
    app.m_mainWindow->show();
    stop.setWindow(app.m_mainWindow);
    return app.exec();
}
