// The small windows of the Search menu: Find (which is also Replace) and Go to
// Line. They stay open beside the frame without blocking it, and report
// every button and Return to the program through one handler, as the frame
// does with commands; what a request does is up to the program.
//
// Everything in them is labelled and reachable by keyboard alone: fields and
// options have mnemonics and named labels, and the line that says what
// happened (a miss, a count, what is wrong with an expression) is plain text
// that screen readers are told of when it changes.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {

enum class SearchAction { findNext, findPrevious, replace, replaceAll, close, goToLine };

struct SearchRequest {
    SearchAction action = SearchAction::findNext;
    std::string what; // UTF-8, as typed
    std::string with; // UTF-8, as typed
    bool matchCase = false;
    bool wholeWord = false;
    bool regularExpression = false;
    bool wrapAround = true;
    long line = 0; // for goToLine, from 1
};

using SearchHandler = std::function<void(const SearchRequest& request)>;

class FindWindow : public QDialog {
    Q_OBJECT

  public:
    FindWindow(QWidget* owner, SearchHandler handler);

    // Shows the window titled "Find", or "Replace" with the replace row, in
    // front with the focus in the first field. A text that is not empty, and
    // is UTF-8, replaces what the field held.
    void ShowFind(bool replace, const std::string& what);
    bool Replacing() const { return replacing; }
    // What the fields and options say now, for the action given.
    SearchRequest Request(SearchAction action) const;
    bool HasSomethingToFind() const;
    // The line under the fields; plain text.
    void SetStatus(const std::string& text);
    QString Status() const;
    // Moves the window, if it covers the area (in global coordinates), to
    // the other end of its owner.
    void KeepClearOf(const QRect& area);

  protected:
    void reject() override;

  private:
    void Report(SearchAction action);

    SearchHandler handler;
    QLineEdit* what;
    QLabel* withLabel;
    QLineEdit* with;
    QCheckBox* matchCase;
    QCheckBox* wholeWord;
    QCheckBox* regularExpression;
    QCheckBox* wrapAround;
    QPushButton* replace;
    QPushButton* replaceAll;
    QLabel* status;
    bool replacing = false;
    bool placed = false;
};

class GoToLineWindow : public QDialog {
    Q_OBJECT

  public:
    GoToLineWindow(QWidget* owner, SearchHandler handler);

    // Shows the window for lines 1 to lines, the field holding current.
    void ShowFor(long lines, long current);
    void SetStatus(const std::string& text);
    QString Status() const;

  protected:
    void reject() override;

  private:
    void Go();

    SearchHandler handler;
    QLabel* range;
    QLineEdit* number;
    QLabel* status;
};

} // namespace platform
