#include "tests/TestSupport.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QWindow>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>
#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "editor/EditorAccessible.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"

int ScriptedDesktop::MessageBox(QWidget*, const std::string& text, const std::string& caption,
                                platform::MessageBoxType type) {
    messages.push_back({text, caption, type});
    if (type == platform::MB_OK)
        return platform::IDOK;
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text;
        return platform::IDCANCEL;
    }
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

int ScriptedDesktop::Ask(QWidget*, const std::string& text, const std::string& caption,
                         const std::vector<std::string>& buttons, int defaultButton,
                         int escapeButton) {
    questions.push_back({text, caption, buttons, defaultButton, escapeButton});
    if (choices.empty()) {
        ADD_FAILURE() << "unexpected question: " << text;
        return escapeButton;
    }
    const int choice = choices.front();
    choices.pop_front();
    return choice;
}

bool ScriptedDesktop::Choose(bool save, const platform::FileDialogRequest& request,
                             std::string& path) {
    dialogs.push_back({save, request});
    if (fileNames.empty()) {
        ADD_FAILURE() << "unexpected dialog: " << request.title;
        return false;
    }
    path = fileNames.front();
    fileNames.pop_front();
    return !path.empty();
}

bool ScriptedDesktop::GetOpenFileName(QWidget*, const platform::FileDialogRequest& request,
                                      std::string& path) {
    return Choose(false, request, path);
}

bool ScriptedDesktop::GetSaveFileName(QWidget*, const platform::FileDialogRequest& request,
                                      std::string& path) {
    return Choose(true, request, path);
}

namespace {

class ScriptedProgress : public platform::Progress {
  public:
    ScriptedProgress(ScriptedDesktop& desktop, ProgressRecord& record)
        : desktop(desktop), record(record) {}
    ~ScriptedProgress() override { record.closed = true; }

    bool Advance(int64_t done) override {
        record.steps.push_back(done);
        if (desktop.duringProgress)
            desktop.duringProgress();
        const bool cancelled = record.cancellable && desktop.cancelAtStep > 0 &&
                               int(record.steps.size()) >= desktop.cancelAtStep;
        return !cancelled;
    }

  private:
    ScriptedDesktop& desktop;
    ProgressRecord& record;
};

} // namespace

std::unique_ptr<platform::Progress> ScriptedDesktop::ShowProgress(QWidget*, const std::string& text,
                                                                  int64_t total, bool cancellable) {
    progress.push_back({text, total, cancellable, {}});
    return std::make_unique<ScriptedProgress>(*this, progress.back());
}

TempDir::TempDir() {
    char name[] = "/tmp/varne-test-XXXXXX";
    path = ::mkdtemp(name);
}

TempDir::~TempDir() {
    // Folders a test made read-only must be writable again to be removed.
    std::string command = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << path;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void EditorTest::SetUp() {
    ::setenv("XDG_STATE_HOME", stateDir.Root().c_str(), 1);
    platform::SetDesktop(&desktop);
    theApp.StartUp(*static_cast<QApplication*>(QApplication::instance()));
    QApplication::processEvents();
}

void EditorTest::TearDown() {
    theApp.ShutDown();
    platform::SetDesktop(nullptr);
    QApplication::processEvents();
    EXPECT_TRUE(desktop.answers.empty()) << "questions expected but never asked";
    EXPECT_TRUE(desktop.fileNames.empty()) << "dialogs expected but never shown";
}

std::string EditorTest::EditorText() {
    const Position length = theApp.SendEditor(SCI_GETLENGTH);
    std::string text(size_t(length) + 1, '\0');
    theApp.GetTextRange(0, length, text.data());
    text.resize(size_t(length));
    return text;
}

void EditorTest::TypeText(const std::string& text) {
    QTest::keyClicks(theApp.editorWindow, QString::fromStdString(text));
}

void EditorTest::Command(unsigned short id) {
    theApp.ExecuteCommand(id);
    theApp.UpdateMenus();
}

std::string EditorTest::LastMessage() {
    return desktop.messages.empty() ? "" : desktop.messages.back().text;
}

void EditorTest::AddText(const std::string& bytes) {
    theApp.SendEditor(SCI_ADDTEXT, bytes.size(), bytes.data());
}

// The caption as the window system shows it.
std::string EditorTest::Caption() {
    const QWindow* window = theApp.frameWindow->windowHandle();
    return (window ? window->title() : theApp.frameWindow->windowTitle()).toStdString();
}

bool EditorTest::MenuEnabled(unsigned short id) {
    return theApp.frameWindow->IsMenuItemEnabled(id);
}

long long ScreenReaderBytesRead() {
    return theApp.editorWindow->Accessibility().Source().BytesRead();
}

int main(int argc, char* argv[]) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

ScopedTmpfs::ScopedTmpfs(const std::string& size) {
    if (::geteuid() != 0)
        return;
    mounted = ::mount("tmpfs", dir.Root().c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
}

ScopedTmpfs::~ScopedTmpfs() {
    if (mounted)
        ::umount2(dir.Root().c_str(), MNT_DETACH);
}

bool ScopedTmpfs::RemountReadOnly() {
    return ::mount("tmpfs", dir.Root().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool DropFromElsewhere(const QString& text, const QPoint& point) {
    QMimeData data;
    data.setText(text);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QWidget* viewport = theApp.editorWindow->viewport();
    QDragEnterEvent enter(point, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDropEvent drop(point, actions, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(viewport, &drop);
    return drop.isAccepted();
}

QAccessibleInterface* AccessibleMenuItem(unsigned short id) {
    QAction* action = theApp.frameWindow->MenuAction(id);
    auto* menu = action ? qobject_cast<QMenu*>(action->associatedObjects().value(0)) : nullptr;
    if (!menu)
        return nullptr;
    QAccessibleInterface* menuInterface = QAccessible::queryAccessibleInterface(menu);
    for (int i = 0; i < menuInterface->childCount(); ++i) {
        if (menuInterface->child(i)->object() == action)
            return menuInterface->child(i);
    }
    return nullptr;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* folder = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(folder)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(folder);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

std::vector<AccessibilityRecord> recordedEvents;

void RecordEvent(QAccessibleEvent* event) {
    AccessibilityRecord record;
    record.type = int(event->type());
    record.object = event->object();
    switch (event->type()) {
    case QAccessible::TextInserted: {
        auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
        record.position = inserted->changePosition();
        record.inserted = inserted->textInserted();
        break;
    }
    case QAccessible::TextRemoved: {
        auto* removed = static_cast<QAccessibleTextRemoveEvent*>(event);
        record.position = removed->changePosition();
        record.removed = removed->textRemoved();
        break;
    }
    case QAccessible::TextUpdated: {
        auto* updated = static_cast<QAccessibleTextUpdateEvent*>(event);
        record.position = updated->changePosition();
        record.removed = updated->textRemoved();
        record.inserted = updated->textInserted();
        break;
    }
    case QAccessible::TextCaretMoved:
        record.position = static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition();
        break;
    case QAccessible::TextSelectionChanged: {
        auto* selection = static_cast<QAccessibleTextSelectionEvent*>(event);
        record.selectionStart = selection->selectionStart();
        record.selectionEnd = selection->selectionEnd();
        record.position = selection->cursorPosition();
        break;
    }
    default:
        break;
    }
    recordedEvents.push_back(record);
}

QPlatformAccessibility* PlatformAccessibility() {
    return QGuiApplicationPrivate::platformIntegration()->accessibility();
}

} // namespace

ActiveAccessibility::ActiveAccessibility() {
    recordedEvents.clear();
    QAccessible::installUpdateHandler(RecordEvent);
    PlatformAccessibility()->setActive(true);
}

ActiveAccessibility::~ActiveAccessibility() {
    PlatformAccessibility()->setActive(false);
    QAccessible::installUpdateHandler(nullptr);
    recordedEvents.clear();
}

std::vector<AccessibilityRecord> ActiveAccessibility::Events(std::vector<int> types) const {
    std::vector<AccessibilityRecord> events;
    for (const AccessibilityRecord& record : recordedEvents) {
        if (types.empty() || std::find(types.begin(), types.end(), record.type) != types.end())
            events.push_back(record);
    }
    return events;
}

void ActiveAccessibility::Clear() {
    recordedEvents.clear();
}
