#pragma once
// The modal "Static Key Layout" picker: the whole static key palette, from which a key code is picked
// by double-clicking its key cap.
#include "widget/data.h"
#include "widget/frameddialog.h"

#include <QVector>

class KeyBtn;

class StaticDialog : public FramedDialog {
    Q_OBJECT

public:
    // Builds, lays out and shows the picker.
    explicit StaticDialog(QWidget* parent = nullptr);
    ~StaticDialog() override;

    // The palette key caps in palette order, children of the dialog. Creators mark keys that can't be
    // picked with KeyBtn::updateBorderStyle(false) and connect what they need.
    QVector<KeyBtn*> keyBtns;

    // Sizes the dialog around the keys and places them from their key-unit geometry.
    void layoutKeys(QVector<KeyBtn*>* keys);

signals:
    void emitHide();
    void emitKeyBtnDoubleClicked(KeyBtn* key);

public slots:
    void hideSlot();
    void keyBtnDoubleClickSlot(KeyBtn* key);

private:
    Data data;
};
