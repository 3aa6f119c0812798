#pragma once
// The maps and modes the keyboard switched to on its own, waiting to be selected in the window.
#include <QTimer>

#include <array>
#include <functional>

// Each switch selects a layer and reads its table from the keyboard, which takes the window's thread
// for a while. A keyboard may report switches far faster than that: each kind keeps only the last
// index named, and one kind is selected per pass of the event loop, so the window paints and takes
// clicks between them.
class PendingLayers {
public:
    enum Kind { KeyMap, ColourMap, Mode, Kinds };
    using Select = std::function<void(Kind kind, int index)>;

    explicit PendingLayers(Select select);

    // The keyboard named index for kind. False when that index already waits: it adds nothing.
    bool add(Kind kind, int index);
    bool waiting(Kind kind) const { return m_waiting[size_t(kind)] >= 0; }

private:
    void selectNext();

    Select m_select;
    std::array<int, Kinds> m_waiting{{-1, -1, -1}};
    int m_next = 0; // the kind looked at first in the next pass, so none waits behind the others
    QTimer m_pass;
};
