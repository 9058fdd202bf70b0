// The document's side of the recovery journal: the component's changes go to
// it while the text is unsaved, and journals left by processes that ended are
// offered back, a file's when it is opened and untitled ones at start-up.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <utility>

#include "app/CommandLine.h"
#include "app/EditorApp.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"

namespace {

std::string LocalTime(int64_t nanoseconds, const char* format) {
    const time_t seconds = time_t(nanoseconds / 1000000000);
    struct tm local;
    char text[64];
    if (!::localtime_r(&seconds, &local) || std::strftime(text, sizeof text, format, &local) == 0)
        return "an unknown time";
    return text;
}

// "at 14:35 on 7 December 2026", "from 14:02 to 14:35 on 7 December 2026", or
// across days "from 23:50 on 6 December 2026 to 00:10 on 7 December 2026".
std::string DescribeWhen(int64_t first, int64_t last) {
    const std::string firstDay = LocalTime(first, "%-d %B %Y");
    const std::string lastDay = LocalTime(last, "%-d %B %Y");
    const std::string firstTime = LocalTime(first, "%H:%M");
    const std::string lastTime = LocalTime(last, "%H:%M");
    if (firstDay != lastDay)
        return "from " + firstTime + " on " + firstDay + " to " + lastTime + " on " + lastDay;
    if (firstTime == lastTime)
        return "at " + lastTime + " on " + lastDay;
    return "from " + firstTime + " to " + lastTime + " on " + lastDay;
}

enum Answer { recover, discard, keep };

// Asks with buttons for the answers given, in that order; Return chooses the
// first, Escape keeps everything as it is.
Answer Ask(QWidget* owner, const std::string& text, const std::vector<Answer>& answers,
           const std::string& recoverLabel, const std::string& keepLabel) {
    std::vector<std::string> labels;
    for (const Answer answer : answers)
        labels.push_back(answer == recover   ? recoverLabel
                         : answer == discard ? "&Discard Changes"
                                             : keepLabel);
    const int escape = int(answers.size()) - 1;
    const int chosen = platform::CurrentDesktop().Ask(owner, text, "Varne", labels, 0, escape);
    return answers[size_t(chosen >= 0 && size_t(chosen) < answers.size() ? chosen : escape)];
}

} // namespace

void EditorApp::CreateJournal() {
    Journal::Settings settings = journalSettings;
    settings.snapshotWanted = [] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { theApp.FlushJournal(); }, Qt::QueuedConnection);
    };
    settings.failed = [](const std::string& reason) {
        std::fprintf(stderr, "varne: unsaved changes cannot be kept for recovery: %s\n",
                     reason.c_str());
    };
    journal = {new Journal(settings), [](Journal* made) { delete made; }};
    journalTimer = new QTimer(frameWindow);
    journalTimer->setSingleShot(true);
    QObject::connect(journalTimer, &QTimer::timeout, [this] { FlushJournal(); });
    StartJournal();
}

// The text as it is now is what the journal's changes will be made to: the
// file as read or saved, or, where no file holds it, nothing, with the text
// (if any) as the journal's first snapshot. Journals are found by the path
// they were made for, whatever the folder the program was started in.
void EditorApp::StartJournal() {
    if (!journal || !editorWindow)
        return;
    DropJournal();
    const Position length = SendEditor(SCI_GETLENGTH);
    const bool onDisk = diskIdentity && !recovered;
    JournalBase base;
    base.path = filePath.empty() ? filePath : AbsolutePath(filePath);
    base.file = onDisk ? diskIdentity : std::nullopt;
    base.length = onDisk ? length : 0;
    journal->Begin(base);
    if (!onDisk && length > 0) {
        journal->Snapshot(length, [this](char* into, int64_t offset, int64_t count) {
            GetTextRange(offset, offset + count, into);
        });
        journal->Flush();
    }
    editorWindow->SetChangeRecording(true);
}

// The text is saved, given up or about to be replaced: its journal goes, and
// nothing is recorded until the next one starts.
void EditorApp::DropJournal() {
    if (!journal)
        return;
    if (editorWindow)
        editorWindow->SetChangeRecording(false);
    if (journalTimer)
        journalTimer->stop();
    unrecorded = {};
    journal->Remove();
}

void EditorApp::AdoptJournal(std::unique_ptr<KeptJournal> kept) {
    DropJournal();
    recovered = true;
    modified = true;
    journal->Adopt(std::move(kept));
    if (editorWindow)
        editorWindow->SetChangeRecording(true);
    UpdateMenus();
}

// Called before each change. An insertion right after the one before joins
// it; its bytes are read from the component once the typing moves on, or at
// the flush.
void EditorApp::RecordChange(int type, Position position, Position length) {
    if (!journal || length <= 0 || !editorWindow || !editorWindow->RecordsChanges())
        return;
    if (type & SC_MOD_BEFOREINSERT) {
        if (unrecorded.length > 0 && position == unrecorded.position + unrecorded.length) {
            unrecorded.length += length;
        } else {
            RecordInsertion();
            unrecorded = {position, length};
        }
    } else if (type & SC_MOD_BEFOREDELETE) {
        RecordInsertion();
        journal->Change(position, length, 0, nullptr);
    } else {
        return;
    }
    if (!journalTimer->isActive())
        journalTimer->start(journal->Configuration().flushMilliseconds);
}

void EditorApp::RecordInsertion() {
    if (unrecorded.length == 0)
        return;
    const Position position = std::exchange(unrecorded.position, 0);
    const Position length = std::exchange(unrecorded.length, 0);
    journal->Change(position, 0, length,
                    [this, position](char* into, int64_t offset, int64_t count) {
                        GetTextRange(position + offset, position + offset + count, into);
                    });
}

// A journal that could not be written as it went on takes the whole text
// instead of the changes.
void EditorApp::FlushJournal() {
    if (!journal)
        return;
    if (journal->SnapshotWanted())
        TakeJournalSnapshot();
    else if (editorWindow)
        RecordInsertion();
    journal->Flush();
}

bool EditorApp::SyncJournal(int milliseconds) {
    FlushJournal();
    return !journal || journal->WaitUntilWritten(milliseconds);
}

// The file the journal began with changed before it could be copied: the
// text itself goes into the journal instead, at once.
void EditorApp::TakeJournalSnapshot() {
    if (!journal || !journal->SnapshotWanted() || !editorWindow || !editorWindow->RecordsChanges())
        return;
    unrecorded = {};
    journal->Snapshot(SendEditor(SCI_GETLENGTH), [this](char* into, int64_t offset, int64_t count) {
        GetTextRange(offset, offset + count, into);
    });
}

bool EditorApp::RecoverableSize(const KeptJournal& kept) {
    if (kept.Length() <= DocumentLimit())
        return true;
    ShowMessage("The unsaved text kept for recovery is " + DescribeSize(kept.Length()) +
                ", more than the " + DescribeSize(DocumentLimit()) +
                " Varne can hold. It is kept as it is.");
    return false;
}

// One question per journal that a process which has ended left for the file,
// the newest first, until one is recovered or kept. Changes made to a file
// that has changed since cannot be replayed onto it: they come back as an
// untitled document, if the journal holds its text.
EditorApp::Recovery EditorApp::OfferRecovery(const std::string& path) {
    if (!journal)
        return {};
    for (auto& kept : FindKeptJournals(journal->Configuration().folder, AbsolutePath(path))) {
        // A journal of a file not yet saved needs the file still absent.
        FileIdentity now;
        const bool exists = IdentifyFile(path, now);
        const bool unchanged = kept->BaseFile() ? exists && now == *kept->BaseFile() : !exists;
        std::string text = "Varne ended without saving changes to \"" + path + "\". The changes, " +
                           "made " + DescribeWhen(kept->Began(), kept->LastChange()) +
                           ", were kept.";
        std::vector<Answer> answers = {recover, discard, keep};
        std::string recoverLabel = "&Recover Changes";
        if (!unchanged) {
            text += std::string("\n\nThe file ") +
                    (exists ? "has changed on disk since" : "is no longer there");
            if (kept->HoldsItsText()) {
                text += ", so the changes cannot be made to it: recovered, the text opens as a "
                        "new untitled document.";
                recoverLabel = "&Recover as Untitled";
            } else {
                text += ", and the text the changes were made to is gone with it: they cannot be "
                        "recovered.";
                answers = {discard, keep};
            }
        }
        text += answers.front() == recover
                    ? "\n\nRecover them, discard them, or open the file as it is and keep them "
                      "for later?"
                    : "\n\nDiscard them, or open the file as it is and keep them?";
        switch (Ask(frameWindow, text, answers, recoverLabel, "&Open File As It Is")) {
        case recover:
            return Recovery{std::move(kept), !unchanged};
        case discard:
            kept->Remove();
            break;
        case keep:
            return {};
        }
    }
    return {};
}

void EditorApp::OfferUntitledRecovery() {
    if (!journal)
        return;
    for (auto& kept : FindKeptJournals(journal->Configuration().folder, std::string())) {
        const std::string text =
            "Varne ended without saving an untitled document. Its text, last changed " +
            DescribeWhen(kept->LastChange(), kept->LastChange()) +
            ", was kept.\n\nRecover it, discard it, or start with an empty document and keep "
            "it for later?";
        switch (
            Ask(frameWindow, text, {recover, discard, keep}, "&Recover Text", "&Keep for Later")) {
        case recover:
            RecoverText(std::move(kept), std::string());
            return;
        case discard:
            kept->Remove();
            break;
        case keep:
            return;
        }
    }
}
