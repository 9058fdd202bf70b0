// Edits a file in the real program objects, offscreen, until it is killed:
// types with real key presses, pastes, deletes, undoes and redoes, with the
// recovery journal (in JOURNALS) flushing every few tens of milliseconds and
// compacting often. Just before batch N goes to the journal's writer, the
// text it brings the journal to is written to LOG/text-N; once it is on disk,
// N is added to LOG/committed. When undo comes back to the text as read,
// which a journal no longer needs, the last batch handed over is added to
// LOG/unchanged. Usage: journal-typist FILE LOG SEED JOURNALS
#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <unistd.h>

#include "app/EditorApp.h"
#include "editor/ClipboardBytes.h"
#include "editor/EditorWindow.h"

namespace {

// Nothing is asked while typing; anything that is, is answered by its
// escape button.
class SilentDesktop : public platform::QtDesktop {
    int MessageBox(QWidget*, const std::string&, const std::string&,
                   platform::MessageBoxType) override {
        return platform::IDCANCEL;
    }
    int Ask(QWidget*, const std::string&, const std::string&, const std::vector<std::string>&, int,
            int escapeButton) override {
        return escapeButton;
    }
};

// Written with plain system calls: what write() returned is in the kernel's
// hands and survives SIGKILL.
void WriteFile(const std::string& path, const std::string& bytes, int flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        std::abort();
    ::close(fd);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: journal-typist FILE LOG SEED JOURNALS\n");
        return 2;
    }
    const std::string log = argv[2];
    std::mt19937 random(unsigned(std::atoi(argv[3])));
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    SilentDesktop desktop;
    platform::SetDesktop(&desktop);

    uint64_t handed = 0;
    Journal::Settings& settings = theApp.journalSettings;
    settings.folder = argv[4];
    settings.flushMilliseconds = 30;
    settings.compactAt = 64 << 10;
    settings.streamAt = 16 << 10; // pastes go to the writer a block at a time
    settings.handingOver = [&](uint64_t batch) {
        const Position length = theApp.SendEditor(SCI_GETLENGTH);
        std::string text(size_t(length) + 1, '\0');
        theApp.GetTextRange(0, length, text.data());
        text.resize(size_t(length));
        WriteFile(log + "/text-" + std::to_string(batch), text, O_TRUNC);
        handed = batch;
    };
    settings.committed = [&](uint64_t batch) {
        WriteFile(log + "/committed", std::to_string(batch) + "\n", O_APPEND);
    };
    theApp.StartUp(application);
    theApp.LoadFile(argv[1]);
    QObject::connect(theApp.editorWindow, &QsciScintillaBase::SCN_SAVEPOINTREACHED, [&] {
        WriteFile(log + "/unchanged", std::to_string(handed) + "\n", O_APPEND);
    });

    const auto below = [&](Position limit) {
        return static_cast<unsigned long>(limit > 0 ? random() % uint64_t(limit) : 0);
    };
    const std::string letters = "abcdefghijklmnopqrstuvwxyz <>/=\"0123456789";
    for (;;) {
        const Position length = theApp.SendEditor(SCI_GETLENGTH);
        const Position start = Position(below(length + 1));
        const unsigned action = random() % 10;
        if (action < 4) {
            std::string typed;
            for (int n = 1 + int(random() % 20); n > 0; --n)
                typed += letters[random() % letters.size()];
            theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(start));
            QTest::keyClicks(theApp.editorWindow, QString::fromStdString(typed));
        } else if (action == 4) {
            // Any bytes at all, up to 64 KiB, over a selection.
            QByteArray bytes(qsizetype(1 + below(length > (512 << 10) ? 64 : 64 << 10)), '\0');
            for (char& byte : bytes)
                byte = char(random());
            QApplication::clipboard()->setMimeData(MimeDataForBytes(bytes, false));
            theApp.SendEditor(SCI_SETSEL, static_cast<unsigned long>(start),
                              start +
                                  Position(below(std::min<Position>(length - start, 4096) + 1)));
            theApp.ExecuteCommand(IDM_PASTE);
        } else if (action < 7) {
            theApp.SendEditor(SCI_SETSEL, static_cast<unsigned long>(start),
                              start + Position(below((length - start) / 4 + 1)));
            theApp.ExecuteCommand(IDM_DELETE);
        } else {
            theApp.ExecuteCommand(action < 9 ? IDM_UNDO : IDM_REDO);
        }
        QTest::qWait(int(random() % 25));
    }
}
