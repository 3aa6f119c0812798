#include "keylayout.h"

#include "macro/key.h"
#include "widget/data.h"
#include "widget/keybtn.h"
#include "widget/label.h"
#include "widget/slider.h"
#include "widget/staticdialog.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

namespace {

const QString Folder = QStringLiteral("macro");
const int ContentHeight = 126;
const int AxisCentreY = ContentHeight / 2 + 24; // the line's middle; chips' dots sit on it
const int AxisRightGap = 100;
const int ContentTail = 10 + 150; // room for the axis arrow after the last chip
const int WarningTicks = 12;      // 30 ms each

bool sameKey(const Key* a, const Key* b)
{
    return a->code() == b->code() && a->type() == b->type() && a->stype() == b->stype();
}

bool isDown(const Key* key)
{
    return key->status() != 0;
}

bool hasDelay(const Key* key)
{
    return !key->isDelayEditHidden();
}

} // namespace

KeyLayout::KeyLayout(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("KeyLayout"));
    resize(779, 144);
    setWindowTitle(QStringLiteral("Form"));
    setStyleSheet(QStringLiteral("border-radius: 0px; border: 0px;"));

    m_horizontalLayout = new QHBoxLayout(this);
    m_horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    m_horizontalLayout->setContentsMargins(9, 9, 9, 9);
    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setObjectName(QStringLiteral("scrollArea"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setAlignment(Qt::AlignCenter);
    m_content = new QWidget();
    m_content->setObjectName(QStringLiteral("scrollAreaWidgetContents"));
    m_content->setGeometry(0, 0, 754, 119);
    m_scrollArea->setWidget(m_content);
    m_horizontalLayout->addWidget(m_scrollArea);

    m_scrollArea->resize(747, ContentHeight);
    m_content->setFixedHeight(ContentHeight);
    m_scrollBar = m_scrollArea->horizontalScrollBar();

    m_slider = new Slider(this, 0, 0, true);
    m_slider->setFixedWidth(m_scrollArea->width());
    m_slider->move(9, height() - m_slider->height() - 1);
    connect(m_slider, &QSlider::valueChanged, m_scrollBar, &QScrollBar::setValue);
    connect(m_scrollBar, &QScrollBar::valueChanged, m_slider, &QSlider::setValue);
    m_slider->hide();

    buildAxis();
    m_warningTimer.setInterval(30);
    connect(&m_warningTimer, &QTimer::timeout, this, &KeyLayout::warningTimerAcation);
    updateKeyPoint();
}

KeyLayout::~KeyLayout()
{
    qDebug() << "DEBUG: ~KeyLayout();";
    qDeleteAll(keys);
    keys.clear();
    delete m_picker;
}

void KeyLayout::buildAxis()
{
    const QColor grey(173, 173, 173);
    m_axisCentre = new Label(m_content);
    m_axisCentre->setGeometry(0, AxisCentreY - 5, 10, 10);
    m_qss.setImageLabelStyle(m_axisCentre, Folder, QStringLiteral("axle-centre.svg"), QString());

    m_axisZero = new Label(m_content);
    m_axisZero->setGeometry(m_axisCentre->x(), m_axisCentre->y() + 17, 10, 10);
    m_axisZero->setAlignment(Qt::AlignCenter);
    m_qss.setTextLabelStyle(m_axisZero, 10, grey, QFont::Bold);
    m_axisZero->setText(QStringLiteral("0"));

    m_axisLine = new Label(m_content);
    m_axisLine->setGeometry(m_axisCentre->width(), AxisCentreY - 1, 1, 2);
    m_qss.setLabelBackground(m_axisLine, grey);

    m_axisArrow = new Label(m_content);
    m_axisArrow->resize(30, 15);
    m_qss.setImageLabelStyle(m_axisArrow, Folder, QStringLiteral("axle-arrow.svg"), QString());

    m_axisCaption = new Label(m_content);
    m_axisCaption->resize(50, 15);
    m_axisCaption->setAlignment(Qt::AlignCenter);
    m_qss.setTextLabelStyle(m_axisCaption, 9, grey, QFont::Bold);
    m_axisCaption->setText(QStringLiteral("time/ms"));

    for (Label* part : {m_axisCentre, m_axisZero, m_axisLine, m_axisArrow})
        connect(part, &Label::emitPressed, this, &KeyLayout::keyLayoutPressed);
}

Key* KeyLayout::createKey(int status, uint delay, uint16_t code, uint16_t type, uint16_t stype)
{
    Key* key = new Key(m_content, status);
    key->setDelay(delay);
    key->setKeyCode(type, stype, code);
    Data data; // a fresh reader: Data::loadKeys appends the boards to the one it runs on
    data.loadKeys(key);

    connect(key, &Key::delayEditPressed, this, &KeyLayout::setKeyDelayEditCloseButtonAtherHide);
    connect(key, &Key::keyPressed, this, &KeyLayout::keyPressed);
    connect(key, &Key::updateKeyMoveX, this, &KeyLayout::updateKeyPoint);
    connect(key, &Key::hideDelayAddButtonAll, this, &KeyLayout::setKeyDelayAddButtonHideAll);
    connect(key, &Key::hideAddKeyButtonAll, this, &KeyLayout::setKeyAddKeyButtonHideAll);
    connect(key, &Key::hideDelKeyButtonAll, this, &KeyLayout::setKeyDelKeyButtonHideAll);
    connect(key, &Key::hidePervNextButtonAll, this, &KeyLayout::setKeyPervNextButtonHideAll);
    connect(key, &Key::createKeyButtonPressed, this, &KeyLayout::createDoubleKey);
    connect(key, &Key::deleteKeyButtonPressed, this, &KeyLayout::deleteDoubleKey);
    connect(key, &Key::doubleClicked, this, &KeyLayout::keyDoubleClicked);
    connect(key, &Key::updateTotalTime, this, &KeyLayout::updateTotalTime);
    connect(key, &Key::pervPressed, this, &KeyLayout::keyPervPressed);
    connect(key, &Key::nextPressed, this, &KeyLayout::keyNextPressed);
    connect(key, &Key::delayHideButtonPressed, this, &KeyLayout::keyDelayHideLineEdit);
    return key;
}

void KeyLayout::updateKeyPoint()
{
    int x = m_axisCentre->width();
    for (Key* key : qAsConst(keys))
        x = key->placeAt(x);
    m_nextX = x;
    setContentWidth(x + ContentTail);
    // Every change of the chips or their delays places them again.
    emit eventsChanged();
}

void KeyLayout::appendKey(Key* key)
{
    const int x = keys.isEmpty() ? m_axisCentre->width() : m_nextX;
    keys.append(key);
    m_nextX = key->placeAt(x);
    setContentWidth(m_nextX + ContentTail);
}

void KeyLayout::setContentWidth(int width)
{
    m_content->setMinimumWidth(width);
    m_content->resize(width, ContentHeight);
    const int range = std::max(0, width - m_scrollArea->width());
    m_scrollBar->setRange(0, range); // the scroll area sets the same when it next lays out
    m_slider->setRange(0, range);
    const int lineEnd = std::max(m_axisLine->x() + 1, width - AxisRightGap);
    m_axisLine->resize(lineEnd - m_axisLine->x(), m_axisLine->height());
    m_axisArrow->move(lineEnd, AxisCentreY - m_axisArrow->height() / 2);
    m_axisCaption->move(lineEnd + m_axisArrow->width() / 2 - m_axisCaption->width() / 2,
                        m_axisArrow->y() + m_axisArrow->height() + 1);
}

void KeyLayout::setSliderVisible(bool visible)
{
    m_slider->setVisible(visible);
}

void KeyLayout::scrollToEnd()
{
    m_slider->setValue(m_slider->maximum());
}

void KeyLayout::scrollToStart()
{
    m_slider->setValue(m_slider->minimum());
}

void KeyLayout::bindScrollButtons(QWidget* left, QWidget* right)
{
    // Any widget with pressed() and released(): the entry's arrows are push buttons.
    connect(left, SIGNAL(pressed()), this, SLOT(leftPressed()));
    connect(left, SIGNAL(released()), this, SLOT(leftReleased()));
    connect(right, SIGNAL(pressed()), this, SLOT(rightPressed()));
    connect(right, SIGNAL(released()), this, SLOT(rightRelecased()));
}

void KeyLayout::startRepeat(char direction)
{
    m_direction = direction;
    m_scrollBar->setPageStep(10);
    stepScroll(m_scrollBar->pageStep());
    delete m_repeatTimer;
    m_repeatTimer = new QTimer(this);
    m_repeatTimer->setInterval(10);
    connect(m_repeatTimer, &QTimer::timeout, this, &KeyLayout::delayContinuation);
    m_repeatTicks = 0;
    m_repeatTimer->start();
}

void KeyLayout::stepScroll(int step)
{
    m_scrollBar->setValue(m_scrollBar->value() + (m_direction == '-' ? -step : step));
}

void KeyLayout::leftPressed()
{
    startRepeat('-');
}

void KeyLayout::rightPressed()
{
    startRepeat('+');
}

void KeyLayout::leftReleased()
{
    if (!m_repeatTimer)
        return;
    m_repeatTimer->stop();
    delete m_repeatTimer;
    m_repeatTimer = nullptr;
}

void KeyLayout::rightRelecased()
{
    leftReleased();
}

void KeyLayout::delayContinuation()
{
    // A held arrow waits 100 ms before it repeats, then moves in finer steps.
    if (m_repeatTicks++ > 8) {
        m_scrollBar->setPageStep(4);
        stepScroll(4);
    }
}

void KeyLayout::setKeyDelayEditCloseButtonAtherHide(Key* key)
{
    for (Key* other : qAsConst(keys)) {
        if (other != key)
            other->hideDelDelayButton();
    }
    emit keyLayoutPressed();
}

void KeyLayout::keyPressed(Key* key)
{
    emit keyLayoutPressed();
    for (Key* other : qAsConst(keys)) {
        other->hideDelDelayButton();
        if (other != key) {
            other->hideAddDelayButton();
            other->hideAddKeyButton();
            other->hideDelKeyButton();
            other->hideDot();
        }
    }
    key->showDot();
    setKeyDuadSelect(key);
}

void KeyLayout::setKeyDuadSelect(Key* key)
{
    Key* partner = findPairKey(key);
    if (!partner) {
        qDebug() << "set Key select a pair key not find error. return.";
        for (Key* other : qAsConst(keys)) {
            if (other != key)
                other->resetState();
        }
        qDebug() << "发现错误数据，无法匹配到正确的key.";
        return;
    }
    for (Key* other : qAsConst(keys)) {
        if (other != key && other != partner)
            other->setSelected(false);
    }
    partner->setSelected(true);
    partner->showDot();
    partner->showDelKeyButton();
    key->setSelected(true);

    for (Key* other : qAsConst(keys)) {
        if (other != key) {
            other->hideTimeLabel();
            other->hideNextButton();
            other->hidePervButton();
        }
    }
    showTotalTime(key);
}

void KeyLayout::showTotalTime(Key* key)
{
    uint total = 0;
    for (Key* k : qAsConst(keys)) {
        total += k->getDelay();
        if (k == key)
            break;
    }
    key->setTimeText(total);
    key->showTimeLabel();
}

void KeyLayout::updateTotalTime(Key*)
{
    for (Key* key : qAsConst(keys)) {
        if (!key->isTimeLabelHidden()) {
            showTotalTime(key);
            return;
        }
    }
}

void KeyLayout::setKeyDelayAddButtonHideAll()
{
    for (Key* key : qAsConst(keys))
        key->hideAddDelayButton();
}

void KeyLayout::setKeyAddKeyButtonHideAll()
{
    for (Key* key : qAsConst(keys))
        key->hideAddKeyButton();
}

void KeyLayout::setKeyDelKeyButtonHideAll()
{
    for (Key* key : qAsConst(keys))
        key->hideDelKeyButton();
}

void KeyLayout::setKeyPervNextButtonHideAll()
{
    for (Key* key : qAsConst(keys)) {
        key->hidePervButton();
        key->hideNextButton();
    }
}

Key* KeyLayout::findPairKey(Key* key) const
{
    const int at = keys.indexOf(key);
    if (at < 0)
        return nullptr;
    if (isDown(key)) {
        for (int i = at + 1; i < keys.size(); ++i) {
            if (sameKey(keys[i], key) && keys[i]->status() != key->status())
                return keys[i];
        }
    } else {
        for (int i = at - 1; i >= 0; --i) {
            if (sameKey(keys[i], key) && keys[i]->status() != key->status())
                return keys[i];
        }
    }
    return nullptr;
}

void KeyLayout::removeKey(Key* key)
{
    keys.removeAll(key);
    if (m_warnedDown == key)
        m_warnedDown.clear();
    if (m_warnedUp == key)
        m_warnedUp.clear();
    key->retire();
    key->deleteLater();
}

void KeyLayout::createDoubleKey(Key* key)
{
    qDebug() << "create double key, delayTime=" << key->getDelay() << "key=" << key->name();
    const int at = keys.indexOf(key);
    if (at < 0)
        return;
    Key* down = createKey(1, 0, 0, 0, 0);
    Key* up = createKey(0, 50, 0, 0, 0);
    keys.insert(at + 1, up);
    keys.insert(at + 1, down);
    updateKeyPoint();
}

void KeyLayout::deleteDoubleKey(Key* key)
{
    Key* partner = findPairKey(key);
    if (!partner) {
        qDebug() << "Delete key failed, Hasn't found key. key=" << key->name();
        return;
    }
    qDebug() << "Delete key = " << partner->name() << "status = " << partner->status();
    qDebug() << "Delete key = " << key->name() << "status = " << key->status();
    removeKey(partner);
    removeKey(key);
    checkoutKeyDelay();
    checkoutAllKeys();
    updateKeyPoint();
}

void KeyLayout::checkoutKeyDelay()
{
    for (int i = 1; i < keys.size(); ++i) {
        Key* key = keys[i];
        if (sameKey(key, keys[i - 1]) && !hasDelay(key)) {
            key->setDelay(20);
            key->hideAddDelayButton();
            qDebug() << "checkout key delay, set delay time 20,  key=" << key->name();
            updateKeyPoint();
        }
    }
}

void KeyLayout::checkoutAllKeys()
{
    int i = 0;
    while (i < keys.size()) {
        if (!checkoutKey(keys[i]))
            ++i;
    }
}

bool KeyLayout::checkoutKey(Key* key)
{
    if (findPairKey(key))
        return false;
    qDebug() << "校验发现无效key=" << key->name() << "status=" << key->status();
    removeKey(key);
    updateKeyPoint();
    return true;
}

void KeyLayout::keyDelayHideLineEdit(Key* key)
{
    qDebug() << "key delay hide line edit.";
    const int at = keys.indexOf(key);
    if (at < 0)
        return;
    Key* before = at > 0 ? keys[at - 1] : nullptr;
    if (isDown(key)) {
        if (!before) {
            qDebug() << "key delay hide line edit, index perv key is NULL, return.";
            key->setDelay(0);
            updateKeyPoint();
            return;
        }
        // Without the delay the press would fall on the release before it.
        if (!isDown(before) && sameKey(before, key)) {
            startWarningKeyMessage(key, before);
            return;
        }
    } else {
        if (!before) {
            qDebug() << "key delay hide line edit, index perv key is < 0, return.";
            return;
        }
        if (sameKey(before, key)) {
            startWarningKeyMessage(before, key);
            return;
        }
    }
    key->setDelay(0);
    updateTotalTime(key);
    updateKeyPoint();
}

bool KeyLayout::checkPairCross(Key* a, Key* b)
{
    if (a->status() == b->status() || !sameKey(a, b))
        return false;
    if (isDown(a))
        startWarningKeyMessage(a, b);
    else
        startWarningKeyMessage(b, a);
    updateKeyPoint();
    return true;
}

void KeyLayout::keyPervPressed(Key* key)
{
    const int at = keys.indexOf(key);
    if (at < 0)
        return;
    Key* before = at > 0 ? keys[at - 1] : nullptr;
    Key* after = at + 1 < keys.size() ? keys[at + 1] : nullptr;
    if (!before) {
        if (hasDelay(key)) {
            if (after)
                after->setDelay(key->getDelay());
            key->setDelay(0);
            updateTotalTime(key);
        }
        updateKeyPoint();
        return;
    }
    if (checkPairCross(before, key))
        return;
    if (!hasDelay(key)) {
        // The delay stays where it is on the time axis: whichever chip comes first carries it.
        if (hasDelay(before)) {
            key->setDelay(before->getDelay());
            before->setDelay(0);
        }
        keys.swapItemsAt(at - 1, at);
        key->hideAddDelayButton();
    } else {
        // Closes the gap in front of the chip; the gap moves behind it.
        if (after)
            after->setDelay(key->getDelay());
        key->setDelay(0);
        updateTotalTime(key);
    }
    updateKeyPoint();
    const int now = keys.indexOf(key);
    if (!hasDelay(key) && now > 0 && sameKey(keys[now - 1], key)) {
        key->setDelay(20);
        updateKeyPoint();
    }
}

void KeyLayout::keyNextPressed(Key* key)
{
    moveNextKey(key);
}

void KeyLayout::moveNextKey(Key* key)
{
    const int at = keys.indexOf(key);
    if (at < 0)
        return;
    Key* after = at + 1 < keys.size() ? keys[at + 1] : nullptr;
    if (!after) {
        qDebug() << "is last, return.";
        updateKeyPoint();
        return;
    }
    if (checkPairCross(key, after))
        return;
    const bool keyDelay = hasDelay(key);
    const bool afterDelay = hasDelay(after);
    if (!keyDelay && !afterDelay) {
        keys.swapItemsAt(at, at + 1);
        key->hideAddDelayButton();
    } else if (!keyDelay) {
        key->setDelay(after->getDelay());
        after->setDelay(0);
        key->hideAddDelayButton();
        updateTotalTime(key);
    } else if (!afterDelay) {
        after->setDelay(key->getDelay());
        key->setDelay(0);
        keys.swapItemsAt(at, at + 1);
        updateTotalTime(key);
    } else {
        key->setDelay(after->getDelay());
        after->setDelay(0);
        updateTotalTime(key);
    }
    updateKeyPoint();
    const int now = keys.indexOf(key);
    Key* next = now + 1 < keys.size() ? keys[now + 1] : nullptr;
    if (next && !hasDelay(next) && sameKey(next, key)) {
        next->setDelay(20);
        updateKeyPoint();
    }
}

void KeyLayout::setNormalLook(Key* down, Key* up)
{
    if (down)
        down->setLook(QStringLiteral("down.svg"), QStringLiteral("down-select.svg"));
    if (up)
        up->setLook(QStringLiteral("up.svg"), QStringLiteral("up-select.svg"));
}

void KeyLayout::startWarningKeyMessage(Key* down, Key* up)
{
    if (!down && !up) {
        qDebug() << "start warning key is NULL. return.";
        return;
    }
    if (m_warningTimer.isActive())
        setNormalLook(m_warnedDown, m_warnedUp);
    m_warningTicks = 0;
    m_warnedDown = down;
    m_warnedUp = up;
    m_warningTimer.start();
}

void KeyLayout::warningTimerAcation()
{
    // The pair may have been deleted or left the list during the warning: only chips still here change.
    if (!m_warnedDown && !m_warnedUp) {
        qDebug() << "warning timer acation, key is NULL, stop timer. ";
        m_warningTimer.stop();
        return;
    }
    if (++m_warningTicks < WarningTicks) {
        if (m_warnedDown)
            m_warnedDown->setLook(QStringLiteral("down-warning.svg"), QString());
        if (m_warnedUp)
            m_warnedUp->setLook(QStringLiteral("up-warning.svg"), QString());
        return;
    }
    m_warningTimer.stop();
    setNormalLook(m_warnedDown, m_warnedUp);
}

void KeyLayout::keyDoubleClicked(Key* key)
{
    qDebug() << "LIST KEY: double clicked is key = " << key->name();
    if (m_picker)
        staticDialogHide();
    m_picker = new StaticDialog(nullptr);
    connect(m_picker, &StaticDialog::emitHide, this, &KeyLayout::staticDialogHide);
    connect(m_picker, &StaticDialog::emitKeyBtnDoubleClicked, this, &KeyLayout::staticDialogDoubleClicked);

    const auto disableKey = [this](uint16_t code, uint16_t type, uint16_t stype) {
        for (KeyBtn* btn : qAsConst(m_picker->keyBtns)) {
            if (btn->code == code && btn->type == type && btn->stype == stype)
                btn->updateBorderStyle(false);
        }
    };
    disableKey(0, 0, 0);
    disableKey(0xF0, 0, 0);
    disableKey(key->code(), key->type(), key->stype());

    // A key may not be picked where it would cross another pair of the same key: neither a pair
    // enclosing the edited one nor a pair nested inside it.
    Key* down = key;
    if (!isDown(key)) {
        if (Key* partner = findPairKey(key))
            down = partner;
    }
    qDebug() << "LIMIT: double key = down, name = " << down->name();
    Key* up = findPairKey(down);
    if (!up)
        return;
    const int d = keys.indexOf(down);
    const int u = keys.indexOf(up);
    const int low = std::min(d, u);
    const int high = std::max(d, u);
    for (int i = d - 1; i >= 0; --i) {
        Key* c = keys[i];
        qDebug() << "LIMIT: take perv =" << c->name();
        if (!isDown(c))
            continue;
        const int j = keys.indexOf(findPairKey(c));
        if (j >= 0 && i < low && j > high) {
            qDebug() << "LIMIT: 不可选key：" << c->name();
            disableKey(c->code(), c->type(), c->stype());
        }
    }
    for (int i = d + 1; i < keys.size(); ++i) {
        Key* c = keys[i];
        if (c == up) {
            qDebug() << "LIMIT: next is this keyUp, quit while. key =" << c->name() << c->status();
            break;
        }
        qDebug() << "LIMIT: take next =" << c->name();
        if (!isDown(c))
            continue;
        const int j = keys.indexOf(findPairKey(c));
        if (d < i && i < j && j < u) {
            qDebug() << "LIMIT: 不可选key：" << c->name();
            disableKey(c->code(), c->type(), c->stype());
        }
    }
}

void KeyLayout::staticDialogDoubleClicked(KeyBtn* btn)
{
    if (!btn)
        return;
    for (Key* key : qAsConst(keys)) {
        if (!key->isSelected())
            continue;
        key->setKeyCode(btn->type, btn->stype, btn->code);
        key->setKeyInfo(btn->name(), btn->alias(), btn->image());
        qDebug() << "DIALOG KB: KeyBtn=" << btn->name() << ", select key=" << key->name() << "status="
                 << key->status();
    }
    staticDialogHide();
    checkoutKeyDelay();
    emit eventsChanged();
}

void KeyLayout::staticDialogHide()
{
    qDebug() << "delete static dialog.";
    if (!m_picker)
        return;
    // Usually inside the picker's own signal.
    m_picker->hide();
    m_picker->deleteLater();
    m_picker = nullptr;
}

void KeyLayout::setAllDelay(uint ms)
{
    for (Key* key : qAsConst(keys)) {
        if (key->getDelay() != 0) {
            key->setDelayTracking(false);
            key->setDelay(ms);
            key->setDelayTracking(true);
        } else {
            key->hideAddDelayButton();
        }
    }
    updateKeyPoint();
}

void KeyLayout::resetAllKeys()
{
    for (Key* key : qAsConst(keys))
        key->resetState();
}
