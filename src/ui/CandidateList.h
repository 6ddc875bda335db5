// The candidate list: offers every entry whose label matched and types the one picked.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <QString>

#include "core/SelectListLayout.h"

class QFont;
class QPushButton;

// How the window measures its texts, in twips, in the font the list shows them in. Tests put
// chosen figures in its place.
class TextMeasurer {
  public:
    virtual ~TextMeasurer() = default;
    virtual double WidthTwips(const QString& text, const QFont& font) const;
    virtual double HeightTwips(const QString& text, const QFont& font) const;
    virtual double TwipsPerPixelX() const;
};

// A list box whose sideways scroll range is set in pixels, as wide as the widest row needs.
class ScrollExtentList : public QListWidget {
    Q_OBJECT
  public:
    explicit ScrollExtentList(QWidget* parent);
    // Set before the rows are first laid out: the list keeps one size for all rows.
    void SetHorizontalExtent(int px);
    int HorizontalExtent() const { return extent_; }

  protected:
    void updateGeometries() override;

  private:
    int extent_ = 0;
};

class CandidateList : public QDialog {
    Q_OBJECT
  public:
    // Shows the list of Candidates modally over `toolbar` and returns when it has closed.
    static void ShowModal(QWidget* toolbar);
    // nullptr puts the real font metrics back.
    static void SetMeasurer(const TextMeasurer* measurer);

    explicit CandidateList(QWidget* toolbar);

    QListWidget* List1() const { return List1_; }
    QPushButton* CancelButton() const { return cmdCancel_; }
    QPushButton* HelpButton() const { return cmdHelp_; }
    const SelectListLayout& Layout() const { return layout_; }

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void Form_Load();
    // Types the highlighted row's text and closes.
    void List1_Click();
    void cmdCancel_Click();
    void cmdHelp_Click();
    // The end both exits share: the toolbar takes this window's place and is shown again.
    void LeaveToToolbar();

    QWidget* toolbar_;
    ScrollExtentList* List1_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QPushButton* cmdHelp_ = nullptr;
    SelectListLayout layout_;
    bool leaving_ = false;
    // The Enter or Space that went down in the list, which picks when it comes up.
    int pickKey_ = 0;
};
