#include "main.h"

#include "images/compiledimages.h"
#include "main/singleapplication.h"
#include "main/tessark.h"

#include <QDebug>

int qMain(int argc, char** argv)
{
    SingleApplication app(argc, argv);
    if (app.isRunning())
        return 0;
    initCompiledImages();

    QString mode = QStringLiteral("None");
    for (int i = 0; i < argc; ++i) {
        qDebug() << QString::fromUtf8(argv[i]);
        if (QString::fromLatin1(argv[i]) == QLatin1String("/background"))
            mode = QStringLiteral("/background");
    }

    app.m_mainWindow = new Tessark(nullptr, mode);
    app.m_mainWindow->show();
    return app.exec();
}
