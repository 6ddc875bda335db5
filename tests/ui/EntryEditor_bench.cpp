// Figures for the entry editor at its largest: opening it with 32,767 entries, and single
// commands on that grid. Prints milliseconds; a fake desktop keeps message boxes away.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/AppState.h"
#include "support/FakeDesktop.h"
#include "support/TempHome.h"
#include "ui/EntryEditor.h"
#include "ui/FlexGrid.h"

namespace {

// The program's entries and options, as start-up makes them.
AppState state;

std::vector<Entry> ManyEntries(int n) {
    const char* labels[] = {"お名前", "フリガナ", "電話番号", "メールアドレス",
                            "ご住所", "郵便番号", "会社名",   "生年月日"};
    std::vector<Entry> rows;
    rows.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        // Distinct texts of varied length, so that no measurement can be shared.
        std::string label = std::string(labels[i % 8]) + std::to_string(i);
        std::string text =
            "東京都千代田区" + std::to_string(i) + std::string(static_cast<size_t>(i % 23), 'x');
        std::string memo = i % 3 ? "" : "メモ" + std::to_string(i * 7);
        rows.push_back({label, text, memo});
    }
    return rows;
}

// Runs the event loop until the window is on screen and has been painted once.
void WaitShown(QWidget& w) {
    QElapsedTimer t;
    t.start();
    while (!(w.windowHandle() && w.windowHandle()->isExposed()) && t.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QApplication::processEvents();
}

double Ms(QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TempHome home;
    fake::FakeDesktop desk;

    const int n = 32767;
    std::vector<Entry> rows = ManyEntries(n);
    state.entries.Resize(static_cast<std::int16_t>(n));
    for (int i = 0; i < n; ++i)
        state.entries[static_cast<std::size_t>(i)] = rows[static_cast<std::size_t>(i)];

    QElapsedTimer t;
    t.start();
    EntryEditor w(state, desk.shell());
    w.Load();
    const double loaded = Ms(t);
    w.show();
    WaitShown(w);
    const double shown = Ms(t);
    std::printf("open with %d entries: %.1f ms to load, %.1f ms until shown (goal < 1000 ms)\n", n,
                loaded, shown);

    auto* label = w.findChild<QLineEdit*>("txtSelection");
    auto* text = w.findChild<QLineEdit*>("txtOutput");
    auto* memo = w.findChild<QLineEdit*>("txtMemo");
    FlexGrid* grid = w.Grid();

    std::vector<double> inserts, deletes, revises;
    for (int k = 0; k < 7; ++k) {
        // Make room first: the grid holds at most 32,767 entries.
        grid->SetRow(1 + k * 100);
        t.restart();
        w.onDelete();
        QApplication::processEvents();
        deletes.push_back(Ms(t));

        label->setText(QString("追加した項目%1").arg(k));
        text->setText("とても長い記入文字がここに入ります" + QString(k * 3, QChar(u'あ')));
        memo->setText("  メモ  ");
        t.restart();
        w.onInsert();
        QApplication::processEvents();
        inserts.push_back(Ms(t));

        grid->SetRow(500 + k);
        label->setText("修正した項目");
        text->setText("修正した記入文字");
        t.restart();
        w.onRevise();
        QApplication::processEvents();
        revises.push_back(Ms(t));
    }
    std::printf("追加 into %d entries: median %.2f ms, worst %.2f ms (goal < 50 ms)\n", n - 1,
                Median(inserts), *std::max_element(inserts.begin(), inserts.end()));
    std::printf("修正: median %.2f ms; 削除: median %.2f ms\n", Median(revises), Median(deletes));

    t.restart();
    w.onSort();
    QApplication::processEvents();
    std::printf("ソート of %d entries: %.1f ms\n", grid->Rows() - 2, Ms(t));

    t.restart();
    w.onOk();
    std::printf("OK (hand-back and save to disk): %.1f ms\n", Ms(t));
    if (!desk.msgBoxes().empty()) {
        std::printf("unexpected message: %s\n", desk.msgBoxes().front().prompt.c_str());
        return 1;
    }
    return state.entries.count() == n ? 0 : 1;
}
