#pragma once
// Tells the user once per run of the tool that one of its input files did not read: the window, the
// pages and every load of a keyboard read the same files again, and a notice per reading would pile up.
#include <QString>

namespace inputnotice {

// Queues the unreadable-file notice for path (filenotice) unless nothing stands there (an absent file
// is not damage) or it was queued for the same path earlier in this run; true when it queued it.
// keptAs names the copy kept of it, if any.
bool unreadable(const QString& path, const QString& keptAs = QString());
// The same for a file describing the keyboards (their list or a layout), whose notice says what is
// left unshown.
bool descriptionUnreadable(const QString& path);
// The same for the lighting effects' descriptions, whose notice says that the effect list stays empty
// (partly: that their values that do not read count as 0) until the file is restored.
bool effectsUnreadable(const QString& path, bool partly);

} // namespace inputnotice
