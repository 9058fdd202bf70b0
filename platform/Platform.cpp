#include "platform/Platform.h"
#include "platform/FileIcons.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace platform {

namespace {

QtDesktop qtDesktop;
Desktop* currentDesktop = &qtDesktop;

// "*.html;*.htm" becomes Qt's "*.html *.htm". The Windows pattern "*.*" means
// every file there, while here it would only match names with a dot.
QString QtPatterns(const std::string& pattern) {
    QStringList patterns = QString::fromStdString(pattern).split(';', Qt::SkipEmptyParts);
    for (QString& p : patterns) {
        if (p == "*.*")
            p = "*";
    }
    return patterns.join(' ');
}

// The dialog shows the display text only, since it hides the trailing patterns.
QStringList QtNameFilters(const std::vector<FileFilter>& filters) {
    QStringList names;
    for (const FileFilter& f : filters)
        names << QString::fromStdString(f.displayText) + " (" + QtPatterns(f.pattern) + ")";
    return names;
}

// Qt's file dialog asks its own questions (delete this file?, and others) with
// the file's name in a message box that would read the name as HTML, so a name
// such as "<img src=...>" could make it load any file as an image. While this
// object lives, every message box is turned to plain text before it is first
// laid out.
class PlainMessageBoxes : public QObject {
  public:
    PlainMessageBoxes() { QCoreApplication::instance()->installEventFilter(this); }
    ~PlainMessageBoxes() override { QCoreApplication::instance()->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Polish) {
            if (auto* box = qobject_cast<QMessageBox*>(watched))
                box->setTextFormat(Qt::PlainText);
        }
        return false;
    }
};

bool RunFileDialog(QWidget* owner, const FileDialogRequest& request, QFileDialog::AcceptMode mode,
                   std::string& path) {
    PlainMessageBoxes plainQuestions;
    NameOnlyIconProvider icons; // outlives the dialog, whose thread uses it
    QFileDialog dialog(owner, QString::fromStdString(request.title));
    dialog.setIconProvider(&icons);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The program asks before replacing a file itself, through this desktop,
    // so that the question is the same whatever dialog the platform shows.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (!request.filters.empty())
        dialog.setNameFilters(QtNameFilters(request.filters));
    if (!request.initialPath.empty())
        dialog.selectFile(BytesToDisplay(request.initialPath));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = DisplayToBytes(dialog.selectedFiles().first());
    return !path.empty();
}

} // namespace

int QtDesktop::MessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                          MessageBoxType type) {
    // The text holds paths and other outside data: never read it as HTML.
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString(),
                    QMessageBox::NoButton, owner);
    box.setTextFormat(Qt::PlainText);
    box.setText(BytesToDisplay(text));
    if (type == MB_YESNOCANCEL) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    } else if (type == MB_YESNO) {
        // Asked before something is destroyed: a stray Enter must not do it.
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    case QMessageBox::Ok:
        return IDOK;
    default:
        return IDCANCEL;
    }
}

int QtDesktop::Ask(QWidget* owner, const std::string& text, const std::string& caption,
                   const std::vector<std::string>& buttons, int defaultButton, int escapeButton) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString(),
                    QMessageBox::NoButton, owner);
    box.setTextFormat(Qt::PlainText);
    box.setText(BytesToDisplay(text));
    std::vector<QPushButton*> pushButtons;
    for (const std::string& label : buttons)
        pushButtons.push_back(
            box.addButton(QString::fromStdString(label), QMessageBox::ActionRole));
    auto valid = [&](int index) { return index >= 0 && size_t(index) < pushButtons.size(); };
    if (valid(defaultButton))
        box.setDefaultButton(pushButtons[size_t(defaultButton)]);
    if (valid(escapeButton))
        box.setEscapeButton(pushButtons[size_t(escapeButton)]);
    box.exec();
    for (size_t i = 0; i < pushButtons.size(); ++i) {
        if (box.clickedButton() == pushButtons[i])
            return int(i);
    }
    return escapeButton;
}

bool QtDesktop::GetOpenFileName(QWidget* owner, const FileDialogRequest& request,
                                std::string& path) {
    return RunFileDialog(owner, request, QFileDialog::AcceptOpen, path);
}

bool QtDesktop::GetSaveFileName(QWidget* owner, const FileDialogRequest& request,
                                std::string& path) {
    return RunFileDialog(owner, request, QFileDialog::AcceptSave, path);
}

void QtDesktop::PostQuitMessage(int status) {
    QCoreApplication::exit(status);
}

void AnswerWaitingEvents() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

Desktop& CurrentDesktop() {
    return *currentDesktop;
}

void SetDesktop(Desktop* desktop) {
    currentDesktop = desktop ? desktop : &qtDesktop;
}

std::string DisplayToBytes(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString BytesToDisplay(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

} // namespace platform
