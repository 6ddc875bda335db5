// The toolbar as a layer-shell surface where Qt's layer shell is there (Debian 13 on): above
// every window in the compositor's top layer (or below them, in the bottom layer), never taking
// the keyboard, so that the browser keeps it while the user clicks 記入.
#pragma once

class QWidget;

namespace platform {

// Whether this build and session can make layer surfaces.
bool LayerShellAvailable();
// Makes `widget` (created, not yet shown) a layer surface, in the top layer when `above`; false
// when that cannot be done, and then the widget stays an ordinary window. No window manager can
// move a layer surface: the user drags it by any of its buttons, and it opens where it was left
// (at first in the lower right corner of the screen).
bool MakeLayerSurface(QWidget* widget, bool above);
// Moves a layer surface made by MakeLayerSurface into the top layer or out of it.
void SetLayerAbove(QWidget* widget, bool above);

}  // namespace platform
