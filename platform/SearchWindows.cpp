#include "platform/SearchWindows.h"

#include <QAccessible>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace platform {

namespace {

QLabel* PlainLabel(const char* text, QWidget* buddy) {
    auto* label = new QLabel(QString::fromUtf8(text));
    label->setBuddy(buddy);
    return label;
}

QLabel* StatusLine() {
    auto* status = new QLabel;
    status->setTextFormat(Qt::PlainText);
    status->setWordWrap(true);
    return status;
}

// Screen readers hear the status line when it changes, and also when the
// same words come again (another miss), which a label does not report by
// itself. The widget with the focus carries it as its description, which a
// reader speaks for the control being used.
void Announce(QLabel* status, QWidget* focused, const std::string& text) {
    const QString shown = QString::fromUtf8(text.data(), qsizetype(text.size()));
    const bool same = status->text() == shown;
    status->setText(shown);
    if (same) {
        QAccessibleEvent event(status, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
    if (focused) {
        focused->setAccessibleDescription(shown);
        QAccessibleEvent event(focused, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

FindWindow::FindWindow(QWidget* owner, SearchHandler handler)
    : QDialog(owner), handler(std::move(handler)) {
    setModal(false);
    what = new QLineEdit;
    what->setAccessibleName("Find what");
    with = new QLineEdit;
    with->setAccessibleName("Replace with");
    withLabel = PlainLabel("Re&place with:", with);
    matchCase = new QCheckBox("Match &case");
    wholeWord = new QCheckBox("Match &whole word only");
    regularExpression = new QCheckBox("Regular e&xpression");
    wrapAround = new QCheckBox("Wra&p around");
    wrapAround->setChecked(true);
    status = StatusLine();

    auto* findNext = new QPushButton("&Find Next");
    findNext->setDefault(true);
    auto* findPrevious = new QPushButton("Find &Previous");
    replace = new QPushButton("&Replace");
    replaceAll = new QPushButton("Replace &All");
    auto* close = new QPushButton("Close");
    for (QPushButton* button : {findPrevious, replace, replaceAll, close})
        button->setAutoDefault(false);
    connect(findNext, &QPushButton::clicked, this, [this] { Report(SearchAction::findNext); });
    connect(findPrevious, &QPushButton::clicked, this,
            [this] { Report(SearchAction::findPrevious); });
    connect(replace, &QPushButton::clicked, this, [this] { Report(SearchAction::replace); });
    connect(replaceAll, &QPushButton::clicked, this, [this] { Report(SearchAction::replaceAll); });
    connect(close, &QPushButton::clicked, this, &FindWindow::reject);
    // The frame's F3 and Shift+F3 work here too.
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this,
            [this] { Report(SearchAction::findNext); });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this), &QShortcut::activated, this,
            [this] { Report(SearchAction::findPrevious); });

    auto* fields = new QGridLayout;
    fields->addWidget(PlainLabel("Fi&nd what:", what), 0, 0);
    fields->addWidget(what, 0, 1);
    fields->addWidget(withLabel, 1, 0);
    fields->addWidget(with, 1, 1);
    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    for (QCheckBox* option : {matchCase, wholeWord, regularExpression, wrapAround})
        left->addWidget(option);
    left->addWidget(status);
    left->addStretch();
    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {findNext, findPrevious, replace, replaceAll, close})
        buttons->addWidget(button);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(buttons);
    setMinimumWidth(480);
}

void FindWindow::ShowFind(bool replace, const std::string& text) {
    replacing = replace;
    setWindowTitle(replacing ? "Replace" : "Find");
    for (QWidget* widget :
         std::initializer_list<QWidget*>{withLabel, with, this->replace, replaceAll})
        widget->setVisible(replacing);
    const QString typed = QString::fromUtf8(text.data(), qsizetype(text.size()));
    if (!text.empty() && Utf8(typed) == text)
        what->setText(typed);
    if (!placed && parentWidget()) {
        adjustSize();
        const QRect owner = parentWidget()->geometry();
        move(owner.right() - width() - 24, owner.top() + 48);
        placed = true;
    }
    show();
    raise();
    activateWindow();
    what->setFocus();
    what->selectAll();
}

SearchRequest FindWindow::Request(SearchAction action) const {
    SearchRequest request;
    request.action = action;
    request.what = Utf8(what->text());
    request.with = Utf8(with->text());
    request.matchCase = matchCase->isChecked();
    request.wholeWord = wholeWord->isChecked();
    request.regularExpression = regularExpression->isChecked();
    request.wrapAround = wrapAround->isChecked();
    return request;
}

bool FindWindow::HasSomethingToFind() const {
    return !what->text().isEmpty();
}

void FindWindow::SetStatus(const std::string& text) {
    Announce(status, isVisible() ? focusWidget() : nullptr, text);
}

QString FindWindow::Status() const {
    return status->text();
}

void FindWindow::KeepClearOf(const QRect& area) {
    if (!isVisible() || !parentWidget() || !frameGeometry().intersects(area))
        return;
    const QRect owner = parentWidget()->geometry();
    const bool inUpperHalf = frameGeometry().center().y() < owner.center().y();
    const int y = inUpperHalf ? owner.bottom() - frameGeometry().height() - 24 : owner.top() + 48;
    move(x(), y);
}

void FindWindow::Report(SearchAction action) {
    handler(Request(action));
}

// Escape and Close hide the window; the program gives the focus back to the
// text, where the match found stays selected.
void FindWindow::reject() {
    QDialog::reject();
    Report(SearchAction::close);
}

GoToLineWindow::GoToLineWindow(QWidget* owner, SearchHandler handler)
    : QDialog(owner), handler(std::move(handler)) {
    setModal(false);
    setWindowTitle("Go to Line");
    number = new QLineEdit;
    range = PlainLabel("", number);
    status = StatusLine();
    auto* go = new QPushButton("&Go");
    go->setDefault(true);
    auto* close = new QPushButton("Close");
    close->setAutoDefault(false);
    connect(go, &QPushButton::clicked, this, &GoToLineWindow::Go);
    connect(close, &QPushButton::clicked, this, &GoToLineWindow::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(go);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(range);
    layout->addWidget(number);
    layout->addWidget(status);
    layout->addLayout(buttons);
    setMinimumWidth(300);
}

void GoToLineWindow::ShowFor(long lines, long current) {
    const QString text = QString("Line number (1 - %1):").arg(lines);
    range->setText(text);
    number->setAccessibleName(text.chopped(1));
    number->setText(QString::number(current));
    status->clear();
    if (parentWidget() && !isVisible()) {
        adjustSize();
        const QRect owner = parentWidget()->geometry();
        move(owner.center().x() - width() / 2, owner.top() + owner.height() / 4);
    }
    show();
    raise();
    activateWindow();
    number->setFocus();
    number->selectAll();
}

void GoToLineWindow::SetStatus(const std::string& text) {
    Announce(status, isVisible() ? number : nullptr, text);
}

QString GoToLineWindow::Status() const {
    return status->text();
}

// The number as typed; anything else is line 0, which no document has.
void GoToLineWindow::Go() {
    SearchRequest request;
    request.action = SearchAction::goToLine;
    bool isNumber = false;
    const long line = number->text().trimmed().toLong(&isNumber);
    request.line = isNumber ? line : 0;
    handler(request);
}

void GoToLineWindow::reject() {
    QDialog::reject();
    SearchRequest request;
    request.action = SearchAction::close;
    handler(request);
}

} // namespace platform
