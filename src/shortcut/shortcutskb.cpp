#include "shortcut/shortcutskb.h"

#include "platform/versioninfo.h"
#include "shortcut/shortcutsitem.h"
#include "widget/keybtn.h"
#include "widget/plaintext.h"
#include "widget/plaintooltips.h"

#include <QDebug>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const char* const WindowIconPath = "://images/Tessark-icon-tools-win.svg";
constexpr int ButtonWidth = 100;
constexpr int ButtonHeight = 40;
constexpr int ButtonsPerRow = 4;

bool opensSomething(int type) { return type == E_SCT_WEB || type == E_SCT_EDIT || type == E_SCT_FOLDER; }

bool isBlank(const QString& text) { return text.simplified().isEmpty(); }

} // namespace

// ---- CPushButton

CPushButton::CPushButton(QWidget* parent) : QPushButton(parent)
{
    setStyleSheet(styleSheet() + QStringLiteral("background:rgba(85,255,255,0.8);"));
    m_text.setWordWrap(true);
    m_text.setTextFormat(Qt::PlainText); // file names, web addresses

    auto* row = new QHBoxLayout;
    row->addWidget(&m_icon);
    row->addWidget(&m_text);
    row->setContentsMargins(2, 2, 2, 2);
    setLayout(row);
    m_icon.setFixedSize(25, 25);
    m_icon.setStyleSheet(QStringLiteral("background:rgba(255,255,255,0);"));
    m_text.setStyleSheet(QStringLiteral("background:rgba(255,255,255,0);"));
}

CPushButton::~CPushButton() = default;

void CPushButton::setIconPixmap(const QIcon& icon)
{
    const QSize size = m_icon.size();
    const QPixmap pixmap = icon.pixmap(size, QIcon::Normal, QIcon::Off);
    // A file the platform has no icon for (a program that isn't there) leaves the label empty.
    m_icon.setPixmap(pixmap.isNull() ? pixmap : pixmap.scaled(size, Qt::KeepAspectRatio, Qt::FastTransformation));
}

void CPushButton::setText(const QString& text) { m_text.setText(text); }

QString CPushButton::text() const { return m_text.text(); }

// ---- ShortcutsKB

ShortcutsKB::ShortcutsKB(QWidget* parent) : QWidget(parent), m_CButtonList(new QVector<CPushButton*>)
{
    setObjectName(QStringLiteral("ShortcutsKB"));
    resize(269, 144);
    m_grid = new QGridLayout(this);
    m_grid->setObjectName(QStringLiteral("gridLayout"));
    m_widget = new QWidget(this);
    m_widget->setObjectName(QStringLiteral("widget"));
    m_grid->addWidget(m_widget, 0, 0, 1, 1);
    setWindowTitle(QStringLiteral("Virtual Keyboard"));
    setWindowIcon(QIcon(QPixmap(QString::fromLatin1(WindowIconPath))
                            .scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    // Not fully transparent: a window system gives clicks on fully transparent pixels to what lies below.
    setStyleSheet(QStringLiteral("background:rgba(255,255,255,0.006);QPushButton{background-color:rgba(255,255,0,1);}"));
    hide();
}

ShortcutsKB::~ShortcutsKB() { delete m_CButtonList; }

int ShortcutsKB::buttonCount() const { return m_CButtonList->size(); }

void ShortcutsKB::addButtons(QList<ShortcutsItem*>* rows)
{
    QList<ShortcutsItem*> sorted = rows ? *rows : QList<ShortcutsItem*>();
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](ShortcutsItem* a, ShortcutsItem* b) { return a->record()->id() < b->record()->id(); });
    qDebug() << "SIList" << sorted.size();
    clearButtons();

    // The lookups come first, before anything is built: each may show a box, in whose event loop an
    // unplug deletes the rows. Then the panel stays empty.
    QVector<int> types;
    QList<QPointer<ShortcutsItem>> watched;
    for (ShortcutsItem* item : qAsConst(sorted))
        watched << item;
    for (const QPointer<ShortcutsItem>& item : qAsConst(watched))
        types << (item ? item->getFunctionType() : int(E_SCT_NONE));
    if (std::any_of(watched.cbegin(), watched.cend(), [](const QPointer<ShortcutsItem>& item) { return !item; })) {
        qWarning() << "launcher panel left empty: the keyboard left while a box was open";
        return;
    }

    auto* column = new QVBoxLayout;
    QHBoxLayout* row = nullptr;
    int inRow = 0;
    QFileIconProvider icons;
    for (int i = 0; i < sorted.size(); ++i) {
        ShortcutsItem* item = sorted.at(i);
        const int type = types.at(i);
        if (!opensSomething(type))
            continue;
        auto* button = new CPushButton(this);
        button->setMinimumSize(ButtonWidth, ButtonHeight);
        button->setMaximumSize(ButtonWidth, ButtonHeight);
        PlainToolTips::setMarkupToolTip(button, plaintext::toolTip(buttonToolTip(item)));
        // The action is the row's at the time of the click; a row deleted meanwhile does nothing.
        const QPointer<ShortcutsItem> target(item);
        connect(button, &QPushButton::clicked, [target] {
            // The lookup may show a box, in whose event loop an unplug deletes the row.
            if (target && opensSomething(target->getFunctionType()) && target)
                target->executeCommandSlot();
        });
        qDebug() << "getCurrentFunctionHIType" << i << type;

        if (type == E_SCT_WEB) {
            button->setIconPixmap(icons.icon(QFileIconProvider::Network));
            button->setText(websiteLabel(item->getWebsite()));
        } else if (type == E_SCT_EDIT) {
            const QString path = item->getDocumentPath();
            const QFileInfo file(path);
            qDebug() << "AppDir" << path << file.suffix();
            if (file.suffix().toLower() == QLatin1String("exe")) {
                qDebug() << "App";
                button->setIconPixmap(icons.icon(file));
                button->setText(productNameOf(path));
            } else {
                button->setIconPixmap(icons.icon(QFileIconProvider::File));
                button->setText(file.fileName());
            }
        } else {
            button->setIconPixmap(icons.icon(QFileIconProvider::Folder));
            button->setText(QStringLiteral("文件目录"));
        }
        m_CButtonList->append(button);

        // Four to a row; a new, still empty row follows every fourth button.
        if (inRow < ButtonsPerRow - 1) {
            if (!row) {
                row = new QHBoxLayout;
                column->addLayout(row);
            }
            row->addWidget(button);
            ++inRow;
        } else {
            row->addWidget(button);
            row = new QHBoxLayout;
            column->addLayout(row);
            inRow = 0;
        }
    }
    // The first row is the bottom one; later rows stack above it.
    column->setDirection(QBoxLayout::BottomToTop);
    qDebug() << "m_CButtonList" << m_CButtonList->size();

    // The height counts rows of three although rows hold four: the panel has always been sized so.
    const int n = m_CButtonList->size();
    const int width = n > 2 ? 450 : (n + 1) * ButtonWidth + 50;
    const int height = (n + 2) / 3 * ButtonHeight + 50;
    setMinimumSize(width, height);
    setMaximumSize(width, height);
    m_widget->setLayout(column);
}

void ShortcutsKB::showAtDefaultPosition()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const int x = available.width() / 2 - width() / 2;
    const int y = available.height() > 200 ? available.height() - 200 : available.height();
    move(x, y);
    show();
}

void ShortcutsKB::clearButtons()
{
    for (CPushButton* button : qAsConst(*m_CButtonList)) {
        button->disconnect();
        delete button;
    }
    m_CButtonList->clear();
    // The column layout owns its row layouts.
    delete m_widget->layout();
}

QString ShortcutsKB::buttonToolTip(ShortcutsItem* row)
{
    QString first;
    QString second;
    bool twoLines = false;
    const QVector<KeyBtn*>& keys = row->keyList();
    for (int k = 0; k < 4 && k < keys.size(); ++k) {
        const QStringList parts = keys.at(k)->alias().split(QLatin1Char('\n'), Qt::KeepEmptyParts);
        const QString f = parts.value(0);
        const QString s = parts.value(1);
        twoLines = twoLines || parts.size() >= 2;
        if (!isBlank(f))
            first += (k == 0 ? QString() : QStringLiteral("+")) + f;

        // The second line puts each key's second alias line under the middle of its first line.
        const int l = f.size();
        if (isBlank(s)) {
            second += QString(l, QLatin1Char(' '));
            continue;
        }
        const int pad = k == 0 ? l / 2 : int(std::ceil(l / 2.0 + 1));
        const int width = k == 0 ? l : k == 1 ? l + 1 : pad + s.size() + l / 2;
        second += (QString(pad, QLatin1Char(' ')) + s).leftJustified(width, QLatin1Char(' '), true);
    }
    return twoLines ? first + QLatin1Char('\n') + second : first;
}

QString ShortcutsKB::websiteLabel(const QString& address)
{
    const QStringList parts = address.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() < 3)
        return address;
    QString label = parts.at(1) + QLatin1Char('.') + parts.at(2);
    for (int k = 1; 13 * k - 1 <= label.size(); ++k)
        label.insert(13 * k - 1, QLatin1Char('\n'));
    return label;
}

QString ShortcutsKB::productNameOf(const QString& path)
{
    QByteArray name;
    if (!exeProductName(path.toLocal8Bit(), name))
        return QString();
    return QString::fromLocal8Bit(name);
}

bool ShortcutsKB::exeProductName(const QByteArray& path, QByteArray& name) { return ::exeProductName(path, name); }

void ShortcutsKB::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    const QPoint at = event->localPos().toPoint();
    m_pressX = at.x();
    m_pressY = at.y();
}

void ShortcutsKB::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed)
        move(event->globalPos() - QPoint(m_pressX, m_pressY));
}

void ShortcutsKB::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
}
