// The entry editor: every entry as one row of a grid, three text boxes in which an entry is
// composed or revised, and the commands 追加, 修正, 削除, ソート, OK, ｷｬﾝｾﾙ and ﾍﾙﾌﾟ. It works on
// the grid only; OK hands the rows back to the entry table.
#pragma once

#include <QDialog>

class FlexGrid;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class EntryEditor : public QDialog {
    Q_OBJECT
  public:
    // Shows the editor modally and returns when it has closed.
    static void ShowModal(QWidget* owner);

    explicit EntryEditor(QWidget* owner = nullptr);
    ~EntryEditor() override;

    // Loads the grid from the entry table and the stored widths; places the window.
    void Form_Load();

    // The commands, one per button.
    void cmdInsert_Click();
    void cmdRevision_Click();
    void cmdDelete_Click();
    void cmdSort_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    void cmdHelp_Click();
    // A click in the grid.
    void msgData_Click();

    FlexGrid* Grid() const { return msgData_; }

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void BuildControls();
    void FitColumns();
    void SortEntries();
    void CommitGrid();
    void ClearBoxes();
    void WarnIfUntypable(const QString& fillText);
    long TextWidthTwips(const QString& text) const;

    QFrame* Frame1_ = nullptr;
    QLabel* Label2_ = nullptr;
    QLabel* Label3_ = nullptr;
    QLabel* Label4_ = nullptr;
    QLineEdit* txtSelection_ = nullptr;
    QLineEdit* txtOutput_ = nullptr;
    QLineEdit* txtMemo_ = nullptr;
    QPushButton* cmdInsert_ = nullptr;
    QPushButton* cmdRevision_ = nullptr;
    QPushButton* cmdDelete_ = nullptr;
    QPushButton* cmdSort_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QPushButton* cmdHelp_ = nullptr;
    FlexGrid* msgData_ = nullptr;
};
