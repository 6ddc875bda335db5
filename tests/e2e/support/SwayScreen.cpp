#include "e2e/support/SwayScreen.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdlib>

#include "e2e/support/Keyboard.h"
#include "e2e/support/Pointer.h"
#include "e2e/support/Util.h"
#include "support/Launch.h"

namespace e2e {

namespace {

QJsonDocument SwayMsg(const std::string& args) {
    return QJsonDocument::fromJson(
        QByteArray::fromStdString(Capture("swaymsg -r " + args + " 2>/dev/null")));
}

// One pointer for the whole test program: sway 1.7 crashes on the events of a virtual pointer
// made after another one was destroyed (some seconds later), so it is never destroyed before
// the program ends.
Pointer& ThePointer() {
    static std::unique_ptr<Pointer> pointer = [] {
        int width = 0, height = 0;
        for (const QJsonValue& o : SwayMsg("-t get_outputs").array()) {
            const QJsonObject r = o.toObject().value("rect").toObject();
            if (!o.toObject().value("active").toBool()) continue;
            width = std::max(width, r.value("x").toInt() + r.value("width").toInt());
            height = std::max(height, r.value("y").toInt() + r.value("height").toInt());
        }
        if (!width || !height) throw Error("sway reports no output");
        return Pointer::Connect(width, height);
    }();
    return *pointer;
}

}  // namespace

SwayScreen::SwayScreen() : pointer_(ThePointer()) {
    // Made now, while no input method grabs the keys (a Shift would switch it).
    Keyboard::Get();
}

void SwayScreen::ForEachWindow(const std::function<bool(const QJsonObject&)>& visit) {
    std::vector<QJsonObject> todo = {SwayMsg("-t get_tree").object()};
    while (!todo.empty()) {
        QJsonObject n = todo.back();
        todo.pop_back();
        // Windows are the nodes that show a program's surface.
        if (n.contains("pid") && visit(n)) return;
        for (const char* key : {"nodes", "floating_nodes"})
            for (const QJsonValue& c : n.value(key).toArray()) todo.push_back(c.toObject());
    }
}

QJsonObject SwayScreen::Node(std::uint32_t w) {
    QJsonObject found;
    ForEachWindow([&](const QJsonObject& n) {
        if (static_cast<std::uint32_t>(n.value("id").toInt()) != w) return false;
        found = n;
        return true;
    });
    return found;
}

std::vector<std::uint32_t> SwayScreen::ClientWindows() {
    std::vector<std::uint32_t> out;
    ForEachWindow([&](const QJsonObject& n) {
        out.push_back(static_cast<std::uint32_t>(n.value("id").toInt()));
        return false;
    });
    return out;
}

std::string SwayScreen::Title(std::uint32_t w) {
    return Node(w).value("name").toString().toStdString();
}

bool SwayScreen::Viewable(std::uint32_t w) {
    return Node(w).value("visible").toBool();
}

std::uint32_t SwayScreen::ActiveWindow() {
    std::uint32_t active = 0;
    ForEachWindow([&](const QJsonObject& n) {
        if (!n.value("focused").toBool()) return false;
        active = static_cast<std::uint32_t>(n.value("id").toInt());
        return true;
    });
    return active;
}

bool SwayScreen::Command(std::uint32_t w, const std::string& command) {
    const QJsonArray replies =
        SwayMsg("'[con_id=" + std::to_string(w) + "] " + command + "'").array();
    return !replies.isEmpty() && std::all_of(replies.begin(), replies.end(), [](const auto& r) {
        return r.toObject().value("success").toBool();
    });
}

void SwayScreen::RequestActivate(std::uint32_t w) {
    Command(w, "focus");
}

std::vector<int> SwayScreen::Frame(std::uint32_t w) {
    const QJsonObject r = Node(w).value("rect").toObject();
    if (r.isEmpty()) return {};
    return {r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(),
            r.value("height").toInt()};
}

void SwayScreen::MoveMouse(int x, int y) {
    pointer_.MoveTo(x, y);
}

void SwayScreen::Click(int x, int y, int count) {
    pointer_.Click(x, y, count);
}

void SwayScreen::Key(const std::string& keys) {
    Keyboard::Get().Keys(keys);
}

void SwayScreen::Type(const std::string& text) {
    Keyboard::Get().Type(text);
}

}  // namespace e2e
