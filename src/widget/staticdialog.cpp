#include "staticdialog.h"

#include "widget/keybtn.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const int Left = 20;
const int Top = 58; // below the title band
const int ExtraWidth = 2 * Left;
const int ExtraHeight = Top + 20;

int px(double v)
{
    if (!std::isfinite(v))
        return 0;
    return int(std::clamp(v, double(INT_MIN), double(INT_MAX)));
}

} // namespace

StaticDialog::StaticDialog(QWidget* parent) : FramedDialog(parent)
{
    data.loadKeyBtns(&keyBtns);
    layoutKeys(&keyBtns);
    for (KeyBtn* key : keyBtns)
        connect(key, qOverload<KeyBtn*>(&KeyBtn::emitDoubleClick), this, &StaticDialog::keyBtnDoubleClickSlot);
    setMinimumSize(size());
    setMaximumSize(size());
    createCloseButton();
    connect(&closeButton, &QPushButton::clicked, this, &StaticDialog::hideSlot);
    createTitle(QStringLiteral("Static Key Layout"));
    show();
}

StaticDialog::~StaticDialog()
{
    qDeleteAll(keyBtns);
    keyBtns.clear();
}

void StaticDialog::layoutKeys(QVector<KeyBtn*>* keys)
{
    if (!keys)
        return;
    const double uW = data.w, uH = data.h, g = data.gap;
    double maxX = 0, maxY = 0;
    for (int i = 0; i < keys->size(); ++i) {
        const KeyBtn* k = keys->at(i);
        maxX = i == 0 ? k->x + k->w : std::max(maxX, k->x + k->w);
        maxY = i == 0 ? k->y + k->h : std::max(maxY, k->y + k->h);
    }
    resize(px(maxX * uW + ExtraWidth), px(maxY * uH + ExtraHeight));
    for (KeyBtn* k : *keys) {
        k->setParent(this);
        k->resize(px(uW * k->w - g + 1), px(uH * k->h - g + 1));
        k->move(px(uW * k->x + Left), px(uH * k->y + Top));
        k->setName(k->name()); // repaints with the new size
    }
}

void StaticDialog::hideSlot()
{
    hide();
    emit emitHide();
}

void StaticDialog::keyBtnDoubleClickSlot(KeyBtn* key)
{
    if (!key || key->isDisabled())
        return;
    emit emitKeyBtnDoubleClicked(key);
}
