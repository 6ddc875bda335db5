#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

// One line of the form server's log.
struct Event {
    std::string kind;  // "submit", "layout", "selection", "focus", "click"
    int seq = 0;       // 1, 2, ... in the order the server logged them
    std::string page;  // "form.html"
    std::string tag;   // the session tag in the page's address (?t=...), "" when none
    std::map<std::string, std::string> fields;  // submit: the form's fields
    // selection, click: the selected text; focus: the focused element's id
    std::string text;
    int clicks = 0;     // click: 1, 2, 3 for a single, double, triple click
    std::string phase;  // composition: "start", "update" (text: the preedit), "end" (committed)
    // layout: viewport origin on the screen, device pixels per CSS pixel, element rectangles
    // (left, top, width, height in CSS pixels, relative to the viewport).
    double originX = 0, originY = 0, scale = 1;
    double clientX = 0, clientY = 0;  // layout: where the pointer was in the viewport
    std::map<std::string, std::vector<double>> rects;
    std::string raw;  // the line as logged
};

}  // namespace e2e
