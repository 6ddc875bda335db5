// A console's Ctrl+C, Ctrl+Break or closing, taken to the event loop. (A windowed program is
// asked to end through its windows and the session's end, which Qt delivers itself.) The
// handler runs on a thread of the system's: it only queues the call, then gives the event loop
// time to save before the system ends the process.
#include "platform/Signals.h"

#include <windows.h>

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <utility>

namespace platform {
namespace {
QPointer<QObject> g_context;
std::function<void()> g_handler;
HANDLE g_done = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    if (!g_context) return FALSE;
    QMetaObject::invokeMethod(g_context.data(), [] {
        if (g_handler) g_handler();
        SetEvent(g_done);
    });
    // The system ends the process when this returns (or after its own grace period).
    WaitForSingleObject(g_done, 4000);
    return TRUE;
}
}  // namespace

void OnTerminationRequest(QObject* context, std::function<void()> handler) {
    g_context = context;
    g_handler = std::move(handler);
    g_done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void EndAsTerminated() {
    // The code a console program ends with when Ctrl+C ends it.
    ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace platform
