#include "platform/qt/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <chrono>

#include "platform/qt/QtSupport.h"

namespace platform {
namespace {
// The clipboard's formats as Qt read them, copied out of whoever owned it.
struct QtClipboardContents : ClipboardContents {
    std::unique_ptr<QMimeData> data = std::make_unique<QMimeData>();
};
}  // namespace

bool QtClipboard::HasText() {
    const QMimeData* m = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    return m && m->hasText();
}

std::string QtClipboard::Text() {
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard).toStdString();
}

void QtClipboard::Clear() {
    // Owning the clipboard with no formats at all: no text for anyone.
    QGuiApplication::clipboard()->setMimeData(new QMimeData, QClipboard::Clipboard);
}

bool QtClipboard::WaitText(int timeoutMs) {
    QClipboard* cb = QGuiApplication::clipboard();
    bool changed = true;
    QMetaObject::Connection conn =
        QObject::connect(cb, &QClipboard::dataChanged, [&changed] { changed = true; });
    // The clipboard is asked again only when its owner changed (and every half second, in
    // case a change slipped past before the connection was made).
    auto lastAsk = std::chrono::steady_clock::now();
    bool has = false;
    bool ok = RunEventsUntil(
        [&] {
            auto now = std::chrono::steady_clock::now();
            if (changed || now - lastAsk > std::chrono::milliseconds(500)) {
                changed = false;
                lastAsk = now;
                has = HasText();
            }
            return has;
        },
        timeoutMs, 10);
    QObject::disconnect(conn);
    return ok;
}

std::unique_ptr<ClipboardContents> QtClipboard::Take() {
    auto saved = std::make_unique<QtClipboardContents>();
    const QMimeData* m = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!m) return saved;
    for (const QString& format : m->formats()) {
        // Names without a slash are the selection protocol's own targets (TARGETS,
        // TIMESTAMP, ...); application/x-qt-* are Qt's views of the real formats.
        if (!format.contains(u'/') || format.startsWith(QLatin1String("application/x-qt-")))
            continue;
        QByteArray bytes = m->data(format);
        if (!bytes.isNull()) saved->data->setData(format, bytes);
    }
    return saved;
}

void QtClipboard::PutBack(std::unique_ptr<ClipboardContents> saved) {
    auto* contents = dynamic_cast<QtClipboardContents*>(saved.get());
    // Nothing saved: owned with no formats, as after Clear.
    QMimeData* data = contents ? contents->data.release() : new QMimeData;
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

}  // namespace platform
