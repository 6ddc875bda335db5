#include "ui/Startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <QTranslator>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/EntryFile.h"
#include "core/Titles.h"
#include "platform/SingleInstance.h"
#include "ui/MainToolbar.h"
#include "ui/Resources.h"
#include "ui/WindowUtil.h"

namespace {
// Held for the whole run by the copy that runs.
std::unique_ptr<platform::SingleInstance> g_instance;
}  // namespace

void ActivatePrevInstance(const Shell& shell, std::function<MainToolbar*()> toolbar, bool fill) {
    g_instance = platform::SingleInstance::Claim();
    if (const std::string failure = g_instance->Failure(); !failure.empty()) {
        shell.messages.Box(failure + "\r\nPenrika を終了します。", MsgOk, ErrorTitle);
        std::exit(1);
    }
    platform::WindowStack& d = shell.windows;
    if (g_instance->IsPrimary()) {
        auto window = [toolbar]() -> platform::WindowId {
            // A modal dialog, when one is open, is the window the user was working in.
            if (QWidget* modal = QApplication::activeModalWidget()) return IdOf(modal);
            if (QWidget* active = QApplication::activeWindow()) return IdOf(active);
            if (QWidget* main = toolbar ? toolbar() : nullptr) return IdOf(main);
            return 0;
        };
        g_instance->Serve(window, [toolbar, &d] {
            if (MainToolbar* main = toolbar ? toolbar() : nullptr)
                main->FillFromShortcut(d.ActiveWindow());
        });
        return;
    }
    if (fill) {
        // Taken by the running copy, which fills on its own from here.
        if (g_instance->AskToFill(2000)) std::exit(0);
        std::fputs("penrika: 動いている Penrika が記入の依頼に応えません。\n", stderr);
        std::exit(1);
    }
    platform::WindowId w = g_instance->RunningCopyWindow(2000);
    if (w != 0) {
        if (d.IsMinimized(w)) d.Restore(w);
        for (int attempt = 1; attempt <= 10; ++attempt) {
            d.RequestActivate(w);
            QApplication::processEvents();
            if (d.WaitActive(w, 100)) break;
        }
    }
    std::exit(0);
}

bool InstallQtTranslations() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    // A build that carries its own copy (Windows has no system one) reads that.
    InitResources();
    const QString dir = QFile::exists(":/translations/qtbase_ja.qm")
                            ? QStringLiteral(":/translations")
                            : QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_", dir)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

bool FillRequested(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--fill") return true;
    return false;
}

std::optional<int> AnswerCommandLine(int argc, char** argv) {
    bool asked = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        asked |= a == "--help" || a == "-h" || a == "--version" || a == "-v";
    }
    if (!asked) return std::nullopt;
    // Answered without a display, as command-line programs do.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("penrika");
    QCoreApplication::setApplicationVersion(PENRIKA_VERSION);
    InstallQtTranslations();
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(
        "Penrika: ブラウザーのフォームに、登録した文字を記入するツールバーです。\n"
        "ブラウザーで項目名（お名前 など）を選んでツールバーの［記入］を押すと、\n"
        "その項目の記入文字が次の入力欄に入力されます。\n"
#ifdef _WIN32
        "設定はレジストリーの HKEY_CURRENT_USER\\Software\\Tamsel\\Penrika、"
        "登録内容は Penrika.dat に保存されます。"));
#else
        "設定は $XDG_CONFIG_HOME/Tamsel/Penrika.ini、登録内容は Penrika.dat に保存されます。"));
#endif
    // Qt's own help option describes itself in English only: this one speaks Japanese.
    const QCommandLineOption help({"h", "help"}, QString::fromUtf8("このヘルプを表示する。"));
    parser.addOption(help);
    parser.addOption(QCommandLineOption(
        "fill", QString::fromUtf8("ブラウザーで選んだ項目名の入力欄に記入する（動いている Penrika "
                                  "が、いま使っているウィンドウに記入します）。キーボードの"
                                  "ショートカットに割り当てて使います。")));
    parser.addVersionOption();
    parser.process(app);  // answers --version and refuses unknown options itself
    std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
    return 0;
}

MainToolbar* Main(AppState& state, const Shell& shell, bool fill) {
    // The toolbar, once there is one, is what a later copy brings forward.
    auto toolbar = std::make_shared<QPointer<MainToolbar>>();
    ActivatePrevInstance(
        shell, [toolbar] { return toolbar->data(); }, fill);
    // The window to fill is the one active before the toolbar first shows.
    const platform::WindowId active = fill ? shell.windows.ActiveWindow() : 0;
    auto* main = new MainToolbar(state, shell);
    *toolbar = main;
    std::string notice;
    try {
        notice = main->Load();
    } catch (const EntryFileError& err) {
        shell.messages.Box(std::string(err.what()) + "\r\nPenrika を終了します。", MsgOk,
                           ErrorTitle);
        delete main;
        return nullptr;
    }
    main->show();
    if (fill) QTimer::singleShot(0, main, [main, active] { main->FillFromShortcut(active); });
    // Told once the program runs, over the toolbar (a save then writes the consistent pair, so
    // it is not told again).
    if (!notice.empty()) {
        QTimer::singleShot(0, main, [notice, &messages = shell.messages] {
            messages.Box(notice, MsgOk, AppTitle);
        });
    }
    return main;
}
