#include "platform/wayland/LayerShell.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <charconv>
#include <optional>

#include "platform/SettingsStore.h"

#ifdef PENRIKA_LAYER_SHELL
#include <LayerShellQt/Window>
#endif

namespace platform {

#ifdef PENRIKA_LAYER_SHELL
namespace {
// Where the user left the toolbar: pixels from the screen's top-left corner.
const char* const kPlaceKey = "Software\\Tamsel\\Penrika\\Toolbar";
// How far the pointer moves on a button before the press is a drag rather than a click.
constexpr int kDragThreshold = 6;

std::optional<int> StoredNumber(const char* name) {
    const std::optional<std::string> v = FetchValue(kPlaceKey, name);
    int n = 0;
    if (!v || std::from_chars(v->data(), v->data() + v->size(), n).ec != std::errc()) return {};
    return n;
}

// Moves the layer surface by a drag that starts on any of its widgets. It moves when the button
// is let go: while it stands still, every position the compositor reports is measured from the
// same corner (a surface moved during the drag would report positions from a corner the
// compositor applies in its own time).
class Dragger : public QObject {
  public:
    Dragger(QWidget* top, LayerShellQt::Window* layer) : QObject(top), top_(top), layer_(layer) {}

    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() != QEvent::MouseButtonPress && e->type() != QEvent::MouseMove &&
            e->type() != QEvent::MouseButtonRelease)
            return false;
        auto* m = static_cast<QMouseEvent*>(e);
        const QPoint at = m->scenePosition().toPoint();
        switch (e->type()) {
            case QEvent::MouseButtonPress:
                if (m->button() == Qt::LeftButton) {
                    press_ = at;
                    dragging_ = false;
                }
                return false;
            case QEvent::MouseMove:
                if (!(m->buttons() & Qt::LeftButton)) return false;
                if (!dragging_ && (at - press_).manhattanLength() < kDragThreshold) return false;
                if (!dragging_) {
                    dragging_ = true;
                    if (auto* b = qobject_cast<QAbstractButton*>(o)) b->setDown(false);
                    top_->setCursor(Qt::SizeAllCursor);
                }
                return true;
            case QEvent::MouseButtonRelease: {
                if (!dragging_ || m->button() != Qt::LeftButton) return false;
                dragging_ = false;
                top_->unsetCursor();
                // A drag is no click.
                if (auto* b = qobject_cast<QAbstractButton*>(o)) b->setDown(false);
                const QMargins moved = MovedBy(at - press_);
                layer_->setMargins(moved);
                top_->update();
                StoreValues(kPlaceKey, {{"Left", std::to_string(moved.left())},
                                        {"Top", std::to_string(moved.top())}});
                return true;
            }
            default:
                return false;
        }
    }

  private:
    QMargins MovedBy(QPoint d) const {
        const QMargins m = layer_->margins();
        const QRect screen = top_->screen() ? top_->screen()->geometry() : QRect();
        int left = m.left() + d.x(), top = m.top() + d.y();
        if (!screen.isEmpty()) {
            left = std::clamp(left, 0, std::max(0, screen.width() - top_->width()));
            top = std::clamp(top, 0, std::max(0, screen.height() - top_->height()));
        }
        return QMargins(left, top, 0, 0);
    }

    QWidget* top_;
    LayerShellQt::Window* layer_;
    QPoint press_;
    bool dragging_ = false;
};
}  // namespace

bool LayerShellAvailable() { return true; }

bool MakeLayerSurface(QWidget* widget, bool above) {
    QWindow* window = widget->windowHandle();
    if (!window || window->isVisible()) return false;
    LayerShellQt::Window* layer = LayerShellQt::Window::get(window);
    if (!layer) return false;
    // Where the user left it, from the screen's top-left corner; at first in the lower right
    // corner, clear of the browser's tabs and address bar.
    layer->setAnchors(LayerShellQt::Window::Anchors(LayerShellQt::Window::AnchorTop |
                                                    LayerShellQt::Window::AnchorLeft));
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->availableGeometry()
                             : QRect(0, 0, 1280, 800);
    const QSize size = widget->frameGeometry().size();
    const int left = StoredNumber("Left").value_or(screen.width() - size.width() - 24);
    const int top = StoredNumber("Top").value_or(screen.height() - size.height() - 48);
    layer->setMargins(QMargins(std::clamp(left, 0, std::max(0, screen.width() - size.width())),
                               std::clamp(top, 0, std::max(0, screen.height() - size.height())),
                               0, 0));
    layer->setExclusiveZone(0);
    layer->setKeyboardInteractivity(LayerShellQt::Window::KeyboardInteractivityNone);
    layer->setScope(QStringLiteral("penrika"));
    layer->setLayer(above ? LayerShellQt::Window::LayerTop : LayerShellQt::Window::LayerBottom);
    auto* drag = new Dragger(widget, layer);
    widget->installEventFilter(drag);
    for (QWidget* child : widget->findChildren<QWidget*>()) child->installEventFilter(drag);
    return true;
}

void SetLayerAbove(QWidget* widget, bool above) {
    if (QWindow* window = widget->windowHandle()) {
        if (LayerShellQt::Window* layer = LayerShellQt::Window::get(window))
            layer->setLayer(above ? LayerShellQt::Window::LayerTop
                                  : LayerShellQt::Window::LayerBottom);
    }
}
#else
bool LayerShellAvailable() { return false; }
bool MakeLayerSurface(QWidget*, bool) { return false; }
void SetLayerAbove(QWidget*, bool) {}
#endif

}  // namespace platform
