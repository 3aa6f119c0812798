#include "tessark.h"

#include "main/loghandler.h"
#include "setting/Language.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QScreen>

namespace {
constexpr int WindowWidth = 980;
constexpr int WindowHeight = 750;
}

Tessark::Tessark(QWidget* parent, QString mode)
    : QMainWindow(parent), m_appDir(appDirPath()), m_startArgument(std::move(mode))
{
    setObjectName(QStringLiteral("Tessark"));
    setFixedSize(WindowWidth, WindowHeight);
    setCentralWidget(new QWidget(this));
    setWindowTitle(QCoreApplication::translate("Tessark", "Tessark"));

    // From here on every message of every thread goes to the day's log file as well.
    LogHandler::instance()->installMessageHandler();
    qDebug() << "start mode:" << m_startArgument;
    // The window hides to the tray instead of closing; quitting is explicit.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    g_language = new Language;

    connect(g_language, &Language::LanguageChange, this, [this](int language) {
        retranslateUi(language);
        setWindowTitle(QCoreApplication::translate("Tessark", "Tessark"));
        update();
    });
    g_language->emitLanguageChange();
}

Tessark::~Tessark()
{
    qDebug() << "delete ~Tessark()";
}

void Tessark::retranslateUi(int language)
{
    // The window has no texts of its own yet; the pages and tabs add theirs here.
    Q_UNUSED(language);
}

void Tessark::centreOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    move(available.x() + available.width() / 2 - width() / 2, available.y() + available.height() / 2 - height() / 2);
}

void Tessark::mainShow()
{
    qDebug() << "show slot";
    if (!isMinimized() && isHidden())
        centreOnScreen();
    raise();
    activateWindow();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
}

void Tessark::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        // The start-up benchmark waits for this line.
        qDebug() << "main window shown";
    }
}

void Tessark::closeEvent(QCloseEvent* event)
{
    qDebug() << "colseEvent()";
    qDebug() << "0000000000000000000-closeEvent-0000000000000000000";
    if (isVisible())
        event->accept();
    else
        event->ignore();
    LogHandler::instance()->release();
    QCoreApplication::quit();
}
