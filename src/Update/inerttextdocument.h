#pragma once
// A text document for text that comes from the update server: shown as rich text, but it never loads
// an image, style sheet or any other resource, from the disk or the network.
#include <QImage>
#include <QTextDocument>
#include <QVariant>

class InertTextDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int type, const QUrl& name) override
    {
        Q_UNUSED(name);
        // An image that finds nothing here is read straight from its file by the text layout, so every
        // image gets a blank one pixel instead.
        if (type == QTextDocument::ImageResource) {
            QImage blank(1, 1, QImage::Format_ARGB32);
            blank.fill(Qt::transparent);
            return blank;
        }
        return QString();
    }
};
