// Edits a file in the real program objects, offscreen, until it is killed:
// types with real key presses, pastes, deletes, undoes and redoes, with the
// recovery journal flushing every few tens of milliseconds and compacting
// often. Just before each batch goes to the journal's writer, the text it
// brings the journal to is written to LOG/text-N; once batch N is on disk, N
// is added to LOG/committed. When undo comes back to the text as read, which
// a journal no longer needs, the number of the last batch handed over is
// added to LOG/unchanged. Usage: journal-typist FILE LOG SEED
#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>

#include "app/EditorApp.h"
#include "editor/ClipboardBytes.h"
#include "editor/EditorWindow.h"

namespace {

// Nothing is asked while typing; anything that is, is answered by its
// escape button.
class SilentDesktop : public platform::Desktop {
  public:
    int MessageBox(QWidget*, const std::string&, const std::string&,
                   platform::MessageBoxType) override {
        return platform::IDCANCEL;
    }
    int Ask(QWidget*, const std::string&, const std::string&, const std::vector<std::string>&, int,
            int escapeButton) override {
        return escapeButton;
    }
    bool GetOpenFileName(QWidget*, const platform::FileDialogRequest&, std::string&) override {
        return false;
    }
    bool GetSaveFileName(QWidget*, const platform::FileDialogRequest&, std::string&) override {
        return false;
    }
    void PostQuitMessage(int) override {}
    std::unique_ptr<platform::Progress> ShowProgress(QWidget*, const std::string&, int64_t,
                                                     bool) override {
        struct Silent : platform::Progress {
            bool Advance(int64_t) override { return true; }
        };
        return std::make_unique<Silent>();
    }
};

std::string Text() {
    const Position length = theApp.SendEditor(SCI_GETLENGTH);
    std::string text(size_t(length) + 1, '\0');
    theApp.GetTextRange(0, length, text.data());
    text.resize(size_t(length));
    return text;
}

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
    if (argc != 4) {
        std::fprintf(stderr, "usage: journal-typist FILE LOG SEED\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::string log = argv[2];
    std::mt19937 random(unsigned(std::atoi(argv[3])));
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    SilentDesktop desktop;
    platform::SetDesktop(&desktop);

    uint64_t handed = 0;
    Journal::Settings& settings = theApp.journalSettings;
    settings.flushMilliseconds = 30;
    settings.compactAt = 64 << 10;
    settings.streamAt = 16 << 10; // pastes go to the writer a block at a time
    settings.handingOver = [&](uint64_t batch) {
        WriteFile(log + "/text-" + std::to_string(batch), Text(), O_TRUNC);
        handed = batch;
    };
    settings.committed = [&](uint64_t batch) {
        WriteFile(log + "/committed", std::to_string(batch) + "\n", O_APPEND);
    };
    theApp.StartUp(application);
    theApp.LoadFile(path);
    QObject::connect(theApp.editorWindow, &QsciScintillaBase::SCN_SAVEPOINTREACHED, [&] {
        WriteFile(log + "/unchanged", std::to_string(handed) + "\n", O_APPEND);
    });

    auto below = [&](Position limit) {
        return Position(limit > 0 ? random() % uint64_t(limit) : 0);
    };
    const std::string letters = "abcdefghijklmnopqrstuvwxyz <>/=\"0123456789";
    for (;;) {
        const Position length = theApp.SendEditor(SCI_GETLENGTH);
        switch (random() % 10) {
        case 0:
        case 1:
        case 2:
        case 3: {
            std::string typed;
            for (int n = 1 + int(random() % 20); n > 0; --n)
                typed += letters[random() % letters.size()];
            theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(below(length + 1)));
            QTest::keyClicks(theApp.editorWindow, QString::fromStdString(typed));
            break;
        }
        case 4: {
            // Any bytes at all, up to 64 KiB, over a selection.
            QByteArray bytes(qsizetype(1 + below(length > (512 << 10) ? 64 : 64 << 10)), '\0');
            for (char& byte : bytes)
                byte = char(random());
            QApplication::clipboard()->setMimeData(MimeDataForBytes(bytes, false));
            const Position start = below(length + 1);
            theApp.SendEditor(SCI_SETSEL, static_cast<unsigned long>(start),
                              start + below(std::min<Position>(length - start, 4096) + 1));
            theApp.ExecuteCommand(IDM_PASTE);
            break;
        }
        case 5:
        case 6: {
            const Position start = below(length + 1);
            theApp.SendEditor(SCI_SETSEL, static_cast<unsigned long>(start),
                              start + below((length - start) / 4 + 1));
            theApp.ExecuteCommand(IDM_DELETE);
            break;
        }
        case 7:
        case 8:
            theApp.ExecuteCommand(IDM_UNDO);
            break;
        default:
            theApp.ExecuteCommand(IDM_REDO);
            break;
        }
        QTest::qWait(int(random() % 25));
    }
}
