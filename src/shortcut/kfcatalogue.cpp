#include "kfcatalogue.h"

#include "widget/fileguard.h"
#include "widget/messagebox.h"

#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QFileInfo>

namespace kfcatalogue {

namespace {

const QString HiOfNameFailed =
    QStringLiteral("get menu index funcHI failed. <font color='red'> index is -1. </font>");
const QString TypeOfNameFailed =
    QStringLiteral("get function type failed. <font color='red'> type is -1. </font>");

// The failures above in their red; they hold no insert.
void showFailure(QWidget* parent, const QString& text)
{
    MessageBoxRequest request;
    request.kind = MessageBoxRequest::Critical;
    request.parent = parent;
    request.title = QStringLiteral("critical");
    request.text = text;
    request.textFormat = Qt::RichText;
    messagebox::show(request);
}

// A missing or non-numeric number reads as 0.
int decimal(const QDomElement& e, const QString& name)
{
    return e.attribute(name).toInt(nullptr, 10);
}

kffunc_t* readFunction(const QDomElement& e)
{
    auto* f = new kffunc_t;
    f->name = e.attribute(QStringLiteral("name"));
    f->hi = decimal(e, QStringLiteral("hi"));
    f->enable = decimal(e, QStringLiteral("enable")) != 0;
    f->control_type = decimal(e, QStringLiteral("control_type"));
    f->tips = e.attribute(QStringLiteral("tips"));
    return f;
}

// The position an options element names ("hi" and the decimal position exactly as QString::number
// writes it, so "hi03" names nothing), or -1.
int optionsPosition(const QString& tag)
{
    if (!tag.startsWith(QLatin1String("hi")))
        return -1;
    const QString digits = tag.mid(2);
    bool ok = false;
    const int position = digits.toInt(&ok, 10);
    return ok && position >= 0 && QString::number(position) == digits ? position : -1;
}

const kffunc_t* functionNamed(const QVector<kffunc_t*>* catalogue, const QString& name)
{
    if (!catalogue)
        return nullptr;
    for (const kffunc_t* f : *catalogue) {
        if (f && f->name == name)
            return f;
    }
    return nullptr;
}

// The function named name, or null: with the critical box when the menu offers something (a row
// then shows a name the catalogue lacks), with a log line only while it offers nothing.
const kffunc_t* lookUpName(const QVector<kffunc_t*>* catalogue, const QString& name, QWidget* boxParent)
{
    if (!offersFunctions(catalogue)) {
        qDebug().noquote() << "no key function offered, no number for" << name;
        return nullptr;
    }
    const kffunc_t* f = functionNamed(catalogue, name);
    if (!f)
        showFailure(boxParent, HiOfNameFailed);
    return f;
}

} // namespace

int parse(const QString& path, QVector<kffunc_t*>* catalogue)
{
    qDebug().noquote() << "parseKFXML=" + path;
    if (!catalogue)
        return -1;
    QDomDocument doc;
    FileGuard::XmlError error;
    switch (FileGuard::loadDom(path, &doc, &error)) {
    case FileGuard::Result::Read:
        break;
    case FileGuard::Result::Malformed:
        qDebug().noquote() << "parse file failed:" << path << error.line << "---" << error.column << ":" << error.text;
        return -1;
    case FileGuard::Result::Unreadable:
        if (!QFileInfo::exists(path))
            qDebug().noquote() << "parse file failed:" << path << "no such file";
        return -1; // otherwise logged by the guard
    case FileGuard::Result::Refused: // logged by the guard
        return -1;
    }

    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        const QString tag = e.tagName();
        if (tag == QLatin1String("key_func")) {
            for (QDomElement f = e.firstChildElement(QStringLiteral("func")); !f.isNull();
                 f = f.nextSiblingElement(QStringLiteral("func")))
                catalogue->append(readFunction(f));
        }
        // Options belong to a position of the catalogue as built so far: an element ahead of its
        // functions gives nothing.
        const int position = optionsPosition(tag);
        if (position < 0 || position >= catalogue->size() || !catalogue->at(position))
            continue;
        kffunc_t* owner = (*catalogue)[position];
        for (QDomElement item = e.firstChildElement(QStringLiteral("item")); !item.isNull();
             item = item.nextSiblingElement(QStringLiteral("item")))
            owner->options.append({item.attribute(QStringLiteral("name")), decimal(item, QStringLiteral("value"))});
    }
    return 0;
}

bool offersFunctions(const QVector<kffunc_t*>* catalogue)
{
    if (!catalogue)
        return false;
    for (const kffunc_t* f : *catalogue) {
        if (f && f->enable)
            return true;
    }
    return false;
}

QString nameOfHi(const QVector<kffunc_t*>* catalogue, int hi)
{
    const kffunc_t* f = functionOfHi(catalogue, hi);
    return f ? f->name : QStringLiteral("none");
}

int hiOfName(const QVector<kffunc_t*>* catalogue, const QString& name, QWidget* boxParent)
{
    const kffunc_t* f = lookUpName(catalogue, name, boxParent);
    return f ? f->hi : -1;
}

int typeOfName(const QVector<kffunc_t*>* catalogue, const QString& name, QWidget* boxParent)
{
    // A failed name lookup has told the user already: one box, not a second for the type.
    const kffunc_t* named = lookUpName(catalogue, name, boxParent);
    if (!named)
        return -1;
    const kffunc_t* f = functionOfHi(catalogue, named->hi);
    if (!f) {
        showFailure(boxParent, TypeOfNameFailed);
        return -1;
    }
    return f->control_type;
}

int typeOfHi(const QVector<kffunc_t*>* catalogue, int hi)
{
    const kffunc_t* f = functionOfHi(catalogue, hi);
    return f ? f->control_type : E_SCT_NONE;
}

const kffunc_t* functionOfHi(const QVector<kffunc_t*>* catalogue, int hi)
{
    if (!catalogue)
        return nullptr;
    for (const kffunc_t* f : *catalogue) {
        if (f && f->hi == hi)
            return f;
    }
    return nullptr;
}

void clear(QVector<kffunc_t*>* catalogue)
{
    if (!catalogue)
        return;
    qDeleteAll(*catalogue);
    catalogue->clear();
}

} // namespace kfcatalogue
