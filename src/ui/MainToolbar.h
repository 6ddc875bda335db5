// The main toolbar window: six image buttons, the program's only way in to its functions.
#pragma once

#include <QString>
#include <QWidget>
#include <string>

class QToolButton;

class MainToolbar : public QWidget {
    Q_OBJECT
  public:
    // The toolbar's button keys, left to right.
    static constexpr const char* kKeys[6] = {"Write", "Grid", "Option", "Help", "Min", "Exit"};

    MainToolbar();
    ~MainToolbar() override;

    // The one window of this class, once created.
    static MainToolbar* Instance();

    // Runs once after construction, with the window still hidden.
    void Form_Load();
    // Dispatches a toolbar button by its key; any other key runs nothing.
    void Toolbar1_ButtonClick(const QString& key);
    // The toolbar button with that key (for tests and screenshots), or nullptr.
    QToolButton* Button(const QString& key) const;

    // Closes the window for a reason other than the user's close (signal, session end): the
    // entries are saved exactly as for Exit.
    void CloseForShutdown();

  protected:
    void changeEvent(QEvent* e) override;
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    void Form_Activate();
    // Returns false when the entries could not be saved (the window then stays open).
    bool Form_QueryUnload();
    void PlaceMainWindow();

    // The Write command and its parts (frmMainWrite.cpp).
    void WriteCommand();
    void FindBrowser(unsigned long hwnd);
    void MatchItem(const std::string& copied);

    void BuildToolbar();

    bool loading_ = false;
    bool closing_ = false;
    QWidget* Toolbar1_ = nullptr;
};
