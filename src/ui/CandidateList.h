// The candidate list: offers every entry whose label matched and types the one picked.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "core/Matching.h"
#include "core/SelectListLayout.h"
#include "ui/Shell.h"

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
    // Shows the candidates modally over `toolbar`, calls `fill` with the text of the one
    // picked (not at all when cancelled) and returns when the list has closed. Without a
    // toolbar (a fill from the shortcut) it opens over the middle of the window `over` (the
    // one to fill) and leaves the toolbar as it is.
    static void ShowModal(const Shell& shell, QWidget* toolbar, const Options& options,
                          const std::vector<Candidate>& candidates,
                          std::function<void(const std::string&)> fill,
                          platform::WindowId over = 0);
    // nullptr puts the real font metrics back.
    static void SetMeasurer(const TextMeasurer* measurer);

    CandidateList(const Shell& shell, QWidget* toolbar, const Options& options,
                  const std::vector<Candidate>& candidates,
                  std::function<void(const std::string&)> fill, platform::WindowId over = 0);

    QListWidget* List() const { return list_; }
    QPushButton* CancelButton() const { return cancelButton_; }
    QPushButton* HelpButton() const { return helpButton_; }
    const SelectListLayout& Layout() const { return layout_; }

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    // Fills the list and sizes the window to its widest row.
    void LayOut();
    // Types the highlighted row's text and closes.
    void onPick();
    void onCancel();
    void onHelp();
    // The end both exits share: the toolbar takes this window's place and is shown again.
    void LeaveToToolbar();

    const Shell shell_;
    QWidget* toolbar_;
    platform::WindowId over_ = 0;
    Options options_;
    std::vector<Candidate> candidates_;
    std::function<void(const std::string&)> fill_;
    ScrollExtentList* list_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* helpButton_ = nullptr;
    SelectListLayout layout_;
    bool leaving_ = false;
    // The Enter or Space that went down in the list, which picks when it comes up.
    int pickKey_ = 0;
};
