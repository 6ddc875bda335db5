// A form for Penrika to fill on Windows: rows of a label and an input box, as a web form shows
// them. Each label is a read-only edit box, so the user (or a test) can select its text and copy
// it with Ctrl+C; it is not a tab stop, so Tab goes from a label, or from an input, to the next
// input, as in a browser. The window sits at the top left of the screen, under Penrika's toolbar.
#include <windows.h>

namespace {

const wchar_t* const kLabels[] = {L"お名前", L"ふりがな", L"メールアドレス", L"郵便番号", L"住所"};
HWND savedFocus = nullptr;

LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_ACTIVATE:
            // Like a dialog or a browser: the box that had the focus gets it back when the window
            // is activated again (by default the window itself would take it, and Ctrl+C would go
            // nowhere).
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(hwnd, focus)) savedFocus = focus;
            } else if (savedFocus && IsWindow(savedFocus)) {
                SetFocus(savedFocus);
                return 0;
            }
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = FormProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32513));  // IDC_IBEAM
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"PenrikaTestForm";
    if (!RegisterClassW(&wc)) return 1;
    HWND form =
        CreateWindowExW(WS_EX_CONTROLPARENT, wc.lpszClassName, L"記入テスト", WS_OVERLAPPEDWINDOW,
                        0, 0, 560, 340, nullptr, nullptr, instance, nullptr);
    if (!form) return 1;
    // A Japanese face of Windows; under Wine the test prefix maps it to IPAGothic.
    HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH, L"MS UI Gothic");
    int y = 70;  // below the toolbar, which covers the top left corner
    for (const wchar_t* label : kLabels) {
        HWND boxes[] = {
            CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", label,
                            WS_CHILD | WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL | ES_NOHIDESEL, 20,
                            y, 170, 28, form, nullptr, instance, nullptr),
            CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 200, y, 320, 28,
                            form, nullptr, instance, nullptr),
        };
        for (HWND box : boxes) SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        y += 44;
    }
    ShowWindow(form, show);
    UpdateWindow(form);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(form, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
