// The entry editor: every entry as one row of a grid, three text boxes in which an entry is
// composed or revised, and the commands 追加, 修正, 削除, ソート, OK, ｷｬﾝｾﾙ and ﾍﾙﾌﾟ. It works on
// the grid only; OK hands the rows back to the entry table.
#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "core/AppState.h"
#include "ui/Shell.h"

class FlexGrid;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class EntryEditor : public QDialog {
    Q_OBJECT
  public:
    // Shows the editor modally and returns when it has closed.
    static void ShowModal(QWidget* owner, AppState& state, const Shell& shell);

    EntryEditor(AppState& state, const Shell& shell, QWidget* owner = nullptr);
    ~EntryEditor() override;

    // Loads the grid from the entry table and the stored widths; places the window.
    void Load();
    // The data columns' widths in twips as stored (Set_7 .. Set_9), index 1 .. 3.
    const std::array<std::string, 4>& ColumnWidths() const { return columnWidths_; }

    // The commands, one per button.
    void onInsert();
    void onRevise();
    void onDelete();
    void onSort();
    void onOk();
    void onCancel();
    void onHelp();
    // A click in the grid.
    void onGridClick();

    FlexGrid* Grid() const { return grid_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void BuildControls();
    void FitColumns();
    void SortEntries();
    void CommitGrid();
    void ClearBoxes();
    void WarnIfUntypable(const QString& fillText);
    // When `fillText` would type something other than what it reads as (a + or ~ meant as a
    // character), says what it types and offers it written literally; returns what to store.
    QString OfferLiteral(const QString& fillText);
    long TextWidthTwips(const QString& text) const;

    QFrame* frame_ = nullptr;
    QLabel* memoLabel_ = nullptr;
    QLabel* fillTextLabel_ = nullptr;
    QLabel* itemLabel_ = nullptr;
    QLineEdit* itemEdit_ = nullptr;
    QLineEdit* fillTextEdit_ = nullptr;
    QLineEdit* memoEdit_ = nullptr;
    QPushButton* insertButton_ = nullptr;
    QPushButton* reviseButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* sortButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* helpButton_ = nullptr;
    FlexGrid* grid_ = nullptr;
    AppState& state_;
    const Shell shell_;
    std::array<std::string, 4> columnWidths_;
};
