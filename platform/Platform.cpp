#include "platform/Platform.h"
#include "platform/FileIcons.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

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

bool RunFileDialog(QWidget* owner, const FileDialogRequest& request, QFileDialog::AcceptMode mode,
                   std::string& path) {
    NameOnlyIconProvider icons; // outlives the dialog, whose thread uses it
    QFileDialog dialog(owner, QString::fromStdString(request.title));
    dialog.setIconProvider(&icons);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(QFileDialog::AnyFile);
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
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), BytesToDisplay(text),
                    QMessageBox::NoButton, owner);
    if (type == MB_YESNOCANCEL) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    } else if (type == MB_YESNO) {
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

Desktop& CurrentDesktop() {
    return *currentDesktop;
}

void SetDesktop(Desktop* desktop) {
    currentDesktop = desktop ? desktop : &qtDesktop;
}

void RestartWithHugePages(char* argv[]) {
#if defined(__SANITIZE_ADDRESS__)
    (void)argv; // the sanitizer's allocator does not read the setting
#else
    const char* setting = "glibc.malloc.hugetlb=1";
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables && std::strstr(tunables, "glibc.malloc.hugetlb"))
        return;
    const std::string value = tunables ? std::string(tunables) + ":" + setting : setting;
    ::setenv("GLIBC_TUNABLES", value.c_str(), 1);
    ::execv("/proc/self/exe", argv);
#endif
}

std::string DisplayToBytes(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString BytesToDisplay(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

} // namespace platform
