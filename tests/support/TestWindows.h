// Windows for the desktop tests: a window with two fields in this process, and the same window
// in another process (this test binary started again), which reports what its fields hold and
// which modifiers it sees held. For the Wayland compositors' tests: a window of another client
// is the only one whose keys arrive from the compositor alone.
#pragma once

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/KeyStroke.h"

// A window with two line edits; the first has the focus.
struct EditWindow : QWidget {
    QLineEdit* first = new QLineEdit(this);
    QLineEdit* second = new QLineEdit(this);
    explicit EditWindow(const QString& title) {
        setWindowTitle(title);
        auto* l = new QVBoxLayout(this);
        l->addWidget(first);
        l->addWidget(second);
        resize(420, 120);
    }
};

// Each character as a stroke of its own.
inline std::vector<KeyStroke> Chars(const QString& text) {
    std::vector<KeyStroke> out;
    for (char32_t c : text.toUcs4()) {
        KeyStroke k;
        k.ch = c;
        out.push_back(k);
    }
    return out;
}

// --- The window of another process. The test binary, started again with
// PENRIKA_OTHER_WINDOW=<title>, shows an EditWindow and prints "first:<text>" and
// "second:<text>" (UTF-8, one line each) whenever a field changes; a line "mods" on its standard
// input makes it print "mods:<n>", the keyboard modifiers it sees held. Call
// RunOtherWindowIfAsked() before any test runs (from a static initialiser).
inline bool RunOtherWindowIfAsked() {
    const char* title = std::getenv("PENRIKA_OTHER_WINDOW");
    if (!title) return false;
    static int argc = 1;
    static char arg0[] = "other-window";
    static char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    EditWindow w(QString::fromUtf8(title));
    auto say = [](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    QObject::connect(w.first, &QLineEdit::textChanged,
                     [&](const QString& t) { say("first:" + t.toStdString()); });
    QObject::connect(w.second, &QLineEdit::textChanged,
                     [&](const QString& t) { say("second:" + t.toStdString()); });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) QCoreApplication::quit();  // the test has gone
        pending.append(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            if (pending.substr(0, nl) == "mods")
                say("mods:" + std::to_string(QGuiApplication::queryKeyboardModifiers().toInt()));
            pending.erase(0, nl + 1);
        }
    });
    // Keys that arrive before the window has heard it is active go to its first field, as
    // they would to a page's focused field.
    w.first->setFocus();
    w.show();
    say("shown");
    std::exit(app.exec());
}

// The test's side: starts the other window and follows what it reports.
class OtherWindow {
  public:
    explicit OtherWindow(const QString& title) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PENRIKA_OTHER_WINDOW"), title);
        proc_.setProcessEnvironment(env);
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&proc_, &QProcess::readyReadStandardOutput, [this] { Read(); });
        proc_.start(QCoreApplication::applicationFilePath(), {});
    }
    ~OtherWindow() {
        proc_.closeWriteChannel();
        if (!proc_.waitForFinished(3000)) {
            proc_.kill();
            proc_.waitForFinished(3000);
        }
    }
    OtherWindow(const OtherWindow&) = delete;
    OtherWindow& operator=(const OtherWindow&) = delete;

    bool WaitShown(int ms = 10000) {
        return QTest::qWaitFor([&] { return shown_; }, ms);
    }
    const QString& first() const { return first_; }
    const QString& second() const { return second_; }
    // Runs the event loop until `cond` holds (reports are read meanwhile).
    bool WaitFor(const std::function<bool()>& cond, int ms = 5000) {
        return QTest::qWaitFor(cond, ms);
    }
    // The modifiers the other window sees held, -1 when it does not answer.
    int HeldModifiers() {
        mods_ = -1;
        proc_.write("mods\n");
        (void)QTest::qWaitFor([&] { return mods_ >= 0; }, 5000);
        return mods_;
    }

  private:
    void Read() {
        buffer_ += proc_.readAllStandardOutput().toStdString();
        for (std::size_t nl; (nl = buffer_.find('\n')) != std::string::npos;) {
            const std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            auto value = [&](const char* prefix) {
                return QString::fromStdString(line.substr(std::string(prefix).size()));
            };
            if (line == "shown") shown_ = true;
            if (line.rfind("first:", 0) == 0) first_ = value("first:");
            if (line.rfind("second:", 0) == 0) second_ = value("second:");
            if (line.rfind("mods:", 0) == 0) mods_ = value("mods:").toInt();
        }
    }

    QProcess proc_;
    std::string buffer_;
    bool shown_ = false;
    QString first_, second_;
    int mods_ = -1;
};
