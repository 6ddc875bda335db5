#include "platform/wayland/LayerShell.h"

#include <QWidget>
#include <QWindow>

#ifdef PENRIKA_LAYER_SHELL
#include <LayerShellQt/Window>
#endif

namespace platform {

#ifdef PENRIKA_LAYER_SHELL
bool LayerShellAvailable() { return true; }

bool MakeLayerSurface(QWidget* widget, bool above) {
    QWindow* window = widget->windowHandle();
    if (!window || window->isVisible()) return false;
    LayerShellQt::Window* layer = LayerShellQt::Window::get(window);
    if (!layer) return false;
    // Where the widget was put, from the output's top-left corner.
    layer->setAnchors(LayerShellQt::Window::Anchors(LayerShellQt::Window::AnchorTop |
                                                    LayerShellQt::Window::AnchorLeft));
    layer->setMargins(QMargins(widget->x(), widget->y(), 0, 0));
    layer->setExclusiveZone(0);
    layer->setKeyboardInteractivity(LayerShellQt::Window::KeyboardInteractivityNone);
    layer->setScope(QStringLiteral("penrika"));
    layer->setLayer(above ? LayerShellQt::Window::LayerTop : LayerShellQt::Window::LayerBottom);
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
