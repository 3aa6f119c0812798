#include "key.h"

#include "macro/datakey.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QRegExpValidator>

namespace {

const QString Folder = QStringLiteral("macro");
const int ChipWidth = 28;
const int ChipHeight = 40;
const int ChipY = 36;
const QColor Grey(173, 173, 173);
// A hidden button's images, styled at its first show.
const char* const NormalImage = "chipNormalImage";
const char* const HoverImage = "chipHoverImage";

} // namespace

Key::Key(QWidget* parent, int status) : QLabel(parent), m_record(new DataKey(status))
{
    resize(ChipWidth, ChipHeight);
    clear();
    show();

    m_delayEdit = new LineEdit(parent);
    m_delayEdit->setValidator(
        new QRegExpValidator(QRegExp(QStringLiteral("[0-9][0-9][0-9][0-9][0-9][0-9]")), m_delayEdit));
    m_delayEdit->setAlignment(Qt::AlignCenter);
    m_delayEdit->resize(38, 12);
    m_delayEdit->setFont(QFont(QStringLiteral("Consolas"), 7, QFont::Bold));
    m_delayEdit->setStyleSheet(QStringLiteral(
        "QLineEdit{ background-color: rgb(241, 159, 21); color: rgb(255, 255, 255); border-radius: 0px; "
        "border-top: 2px solid #adadad; border-left: 2px solid #adadad; border-right: 2px solid #adadad; "
        "border-bottom: 0px; }"));
    connect(m_delayEdit, &LineEdit::emitPressed, this, &Key::delayLineEditPressed);
    setDelayTracking(true);
    m_delayEdit->lower();
    m_delayEdit->hide();

    m_delDelay = makeButton(14, 14, QStringLiteral("del-delay.svg"), QStringLiteral("del-delay-hover.svg"));
    m_addDelay = makeButton(14, 14, QStringLiteral("add-delay.svg"), QStringLiteral("add-delay-hover.svg"));
    m_addKey = makeButton(14, 14, QStringLiteral("add-key.svg"), QStringLiteral("add-key-hover.svg"));
    m_delKey = makeButton(14, 14, QStringLiteral("del-key.svg"), QStringLiteral("del-key-hover.svg"));
    const bool down = status != 0;
    m_dot = makeButton(9, 9, down ? QStringLiteral("dot-down.svg") : QStringLiteral("dot-up.svg"), QString());
    m_perv = makeButton(21, 21, QStringLiteral("perv.svg"), QStringLiteral("perv-hover.svg"));
    m_next = makeButton(21, 21, QStringLiteral("next.svg"), QStringLiteral("next-hover.svg"));
    connect(m_delDelay, &Label::emitPressed, this, &Key::hideDelayLineEdit);
    connect(m_addDelay, &Label::emitPressed, this, &Key::showDelayLineEdit);
    connect(m_addKey, &Label::emitPressed, this, &Key::addKeyButtonPressed);
    connect(m_delKey, &Label::emitPressed, this, &Key::delKeyButtonPressed);
    connect(m_perv, &Label::emitPressed, this, &Key::pervButtonPressed);
    connect(m_next, &Label::emitPressed, this, &Key::nextButtonPressed);

    m_timeLabel = new Label(parent);
    m_timeLabel->resize(44, 14);
    m_timeLabel->setAlignment(Qt::AlignCenter);
    m_qss.setTextLabelStyle(m_timeLabel, 9, Grey, QFont::Bold);
    m_timeLabel->hide();

    m_moveTimer.setInterval(50);
    connect(&m_moveTimer, &QTimer::timeout, this, &Key::setMoveAcation);

    setSelected(false);
}

Key::~Key()
{
    // The parts are the parent's children: a parent deleting its children may have got there first.
    for (QWidget* part : {static_cast<QWidget*>(m_delDelay), static_cast<QWidget*>(m_addDelay),
                          static_cast<QWidget*>(m_addKey), static_cast<QWidget*>(m_delKey),
                          static_cast<QWidget*>(m_dot), static_cast<QWidget*>(m_timeLabel),
                          static_cast<QWidget*>(m_perv), static_cast<QWidget*>(m_next),
                          static_cast<QWidget*>(m_delayEdit)})
        delete part;
    delete m_record;
}

Label* Key::makeButton(int width, int height, const QString& normal, const QString& hover)
{
    Label* button = new Label(parentWidget());
    button->resize(width, height);
    // Styled when first shown, not now: a styled label reads its image again at every polish, and a
    // long macro holds hundreds of chips whose buttons mostly never show.
    button->setProperty(NormalImage, normal);
    button->setProperty(HoverImage, hover);
    button->hide();
    return button;
}

void Key::setDelay(uint ms)
{
    // The record holds 16 bits; the edit shows what it holds.
    const uint16_t kept = uint16_t(ms);
    m_delayEdit->setText(QString::number(kept));
    m_record->delay = kept;
    if (kept != 0)
        showPart(m_delayEdit);
    else
        hidePart(m_delayEdit);
}

uint Key::getDelay() const
{
    return m_delayEdit->text().toUInt();
}

uint16_t Key::code() const
{
    return m_record->code;
}

uint16_t Key::type() const
{
    return m_record->type;
}

uint16_t Key::stype() const
{
    return m_record->stype;
}

int Key::status() const
{
    return m_record->status;
}

void Key::setKeyCode(uint16_t type, uint16_t stype, uint16_t code)
{
    m_record->type = type;
    m_record->stype = stype;
    m_record->code = code;
}

void Key::setKeyInfo(const QString& name, const QString& alias, const QString& image)
{
    m_name = name;
    m_alias = alias;
    m_image = image;
    update();
}

void Key::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    const bool down = status() != 0;
    if (down)
        setLook(selected ? QStringLiteral("down-select.svg") : QStringLiteral("down.svg"), QString());
    else
        setLook(selected ? QStringLiteral("up-select.svg") : QStringLiteral("up.svg"), QString());
}

void Key::setLook(const QString& normal, const QString& hover)
{
    m_qss.setImageLabelStyle(this, Folder, normal, hover);
}

bool Key::isTimeLabelHidden() const
{
    return m_timeLabel->isHidden();
}

bool Key::isDelayEditHidden() const
{
    return m_delayEdit->isHidden();
}

void Key::setTimeText(uint ms)
{
    m_timeLabel->setText(QString::number(ms));
}

QString Key::timeText() const
{
    return m_timeLabel->text();
}

void Key::showPart(QWidget* part) const
{
    if (!part->isHidden())
        return;
    const QString normal = part->property(NormalImage).toString();
    auto* label = qobject_cast<QLabel*>(part);
    if (label && !normal.isEmpty() && label->styleSheet().isEmpty())
        m_qss.setImageLabelStyle(label, Folder, normal, part->property(HoverImage).toString());
    part->show();
}

void Key::hidePart(QWidget* part)
{
    if (!part->isHidden())
        part->hide();
}

void Key::showDelDelayButton() { showPart(m_delDelay); }
void Key::hideDelDelayButton() { hidePart(m_delDelay); }
void Key::showAddDelayButton()
{
    if (m_delayEdit->isHidden())
        showPart(m_addDelay);
}
void Key::hideAddDelayButton() { hidePart(m_addDelay); }
void Key::showAddKeyButton() { showPart(m_addKey); }
void Key::hideAddKeyButton() { hidePart(m_addKey); }
void Key::showDelKeyButton() { showPart(m_delKey); }
void Key::hideDelKeyButton() { hidePart(m_delKey); }
void Key::showDot() { showPart(m_dot); }
void Key::hideDot() { hidePart(m_dot); }
void Key::showTimeLabel() { showPart(m_timeLabel); }
void Key::hideTimeLabel() { hidePart(m_timeLabel); }
void Key::showPervButton() { showPart(m_perv); }
void Key::hidePervButton() { hidePart(m_perv); }
void Key::showNextButton() { showPart(m_next); }
void Key::hideNextButton() { hidePart(m_next); }

void Key::setDelayTracking(bool on)
{
    if (on)
        connect(m_delayEdit, &QLineEdit::textChanged, this, &Key::delayEidtChanged, Qt::UniqueConnection);
    else
        disconnect(m_delayEdit, &QLineEdit::textChanged, this, &Key::delayEidtChanged);
}

void Key::resetState()
{
    setSelected(false);
    for (QWidget* part : {static_cast<QWidget*>(m_delDelay), static_cast<QWidget*>(m_addDelay),
                          static_cast<QWidget*>(m_addKey), static_cast<QWidget*>(m_delKey),
                          static_cast<QWidget*>(m_dot), static_cast<QWidget*>(m_timeLabel),
                          static_cast<QWidget*>(m_perv), static_cast<QWidget*>(m_next)})
        hidePart(part);
}

int Key::placeAt(int x)
{
    const int editWidth = 5 * m_delayEdit->text().size() + 10;
    m_delayEdit->resize(editWidth, m_delayEdit->height());
    int next = x + ChipWidth;
    if (m_delayEdit->isHidden()) {
        move(x + 6, ChipY);
        m_addDelay->move(this->x() - m_addDelay->width() / 2, 84 - m_addDelay->height());
    } else {
        m_delayEdit->move(x + 6, 86 - m_delayEdit->height());
        move(x + 6 + editWidth, ChipY);
        m_delDelay->move(m_delayEdit->x() + editWidth / 2 - m_delDelay->width() / 2, m_delayEdit->y() - 16);
        next += editWidth;
    }
    const int kx = this->x();
    m_addKey->move(kx + 7, 4);
    m_delKey->move(kx + 7, 20);
    m_timeLabel->move(kx - 8, 98);
    m_dot->move(kx + 10, 83);
    m_perv->move(kx - 17, 6);
    m_next->move(kx + 23, 6);

    if (m_moving) {
        m_moveTimer.stop();
        const QPoint centre = mapToGlobal(rect().center());
        QCursor::setPos(centre);
        m_cursorOffset = centre.x() - kx;
        m_moving = false;
        m_dragOrigin = pos();
        m_draggable = true;
    }
    return next;
}

void Key::retire()
{
    m_moveTimer.stop();
    blockSignals(true);
    hide();
    hidePart(m_delayEdit);
    resetState();
}

void Key::delayLineEditPressed()
{
    m_delayEdit->selectAll();
    showDelDelayButton();
    emit delayEditPressed(this);
    emit hideDelayAddButtonAll();
    emit hideAddKeyButtonAll();
    emit hideDelKeyButtonAll();
    emit hidePervNextButtonAll();
}

void Key::hideDelayLineEdit()
{
    hideDelDelayButton();
    hideAddKeyButton();
    emit delayHideButtonPressed(this);
}

void Key::showDelayLineEdit()
{
    hideAddDelayButton();
    setDelay(10);
    hideAddKeyButton();
    hideDelKeyButton();
    hidePervButton();
    hideNextButton();
    m_delayEdit->setFocus();
    m_delayEdit->selectAll();
    showDelDelayButton();
    emit updateTotalTime(this);
    emit updateKeyMoveX();
}

void Key::addKeyButtonPressed()
{
    emit createKeyButtonPressed(this);
}

void Key::delKeyButtonPressed()
{
    emit deleteKeyButtonPressed(this);
}

void Key::pervButtonPressed()
{
    emit pervPressed(this);
}

void Key::nextButtonPressed()
{
    emit nextPressed(this);
}

void Key::setMoveAcation()
{
    m_moving = true;
    Label* button = m_toPrevious ? m_perv : m_next;
    emit button->emitPressed();
}

void Key::delayEidtChanged()
{
    const QString text = m_delayEdit->text();
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!text.isEmpty() && (!ok || value > MaxDelay)) {
        // As the default-delay edit does: the text the record holds comes back, nothing else happens.
        const QSignalBlocker quiet(m_delayEdit);
        m_delayEdit->setText(QString::number(m_record->delay));
        return;
    }
    m_record->delay = uint16_t(value);
    emit updateKeyMoveX();
}

void Key::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragOrigin = pos();
    m_cursorOffset = qRound(event->screenPos().x()) - x();
    if (m_delayEdit->isHidden())
        showAddDelayButton();
    showAddKeyButton();
    showDelKeyButton();
    showDot();
    emit keyPressed(this);
}

void Key::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_draggable || !(event->buttons() & Qt::LeftButton))
        return;
    move(qRound(event->screenPos().x()) - m_cursorOffset, y());
    // 20 px either way is one step to the neighbouring place; the timeline decides whether it is taken.
    if (x() < m_dragOrigin.x() - 19)
        m_toPrevious = true;
    else if (x() > m_dragOrigin.x() + 19)
        m_toPrevious = false;
    else
        return;
    m_draggable = false;
    m_moveTimer.start();
}

void Key::mouseReleaseEvent(QMouseEvent*)
{
    emit updateKeyMoveX();
}

void Key::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked(this);
}

void Key::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    QPainter painter(this);
    if (m_image.isEmpty()) {
        painter.setPen(Qt::white);
        painter.setFont(QFont(QStringLiteral("Arial"), 7));
        painter.drawText(QRect(0, 3, width(), width()), Qt::AlignCenter, m_alias);
        return;
    }
    const QString file = m_qss.appDir() + QStringLiteral("/images/StaticKeySvg/BlackImage/")
                         + m_image.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".svg");
    if (file != m_loadedImage) {
        m_renderer.load(file);
        m_loadedImage = file;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    m_renderer.render(&painter, QRectF(0, 5, width(), width()));
}
