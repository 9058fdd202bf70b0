// Outside data is shown as it is: a path holding tags or an <img> element is
// text in every message box, ours and those Qt's file dialog shows by itself.
// These run the real Qt message boxes and file dialog offscreen and look at
// the message box while it is open.
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "platform/Platform.h"
#include "tests/TestSupport.h"

namespace {

// What an open message box showed.
struct SeenBox {
    bool seen = false;
    Qt::TextFormat format = Qt::AutoText;
    QString text;
    int labelHeight = 0;
};

QMessageBox* OpenMessageBox() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box && box->isVisible())
            return box;
    }
    return nullptr;
}

// Polls until a message box is shown, notes what it shows and presses the
// given button.
void AnswerNextMessageBox(SeenBox& seen, QMessageBox::StandardButton button) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, &seen, button] {
        QMessageBox* box = OpenMessageBox();
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        seen.seen = true;
        seen.format = label ? label->textFormat() : Qt::AutoText;
        seen.text = label ? label->text() : QString();
        seen.labelHeight = label ? label->sizeHint().height() : 0;
        box->button(button)->click();
    });
    timer->start();
}

// Closes whatever modal window is left after a while, so that a test whose
// window never appeared fails instead of waiting for ever.
class Watchdog {
  public:
    Watchdog() {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [] {
            while (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        timer.start(20000);
    }

  private:
    QTimer timer;
};

class PlainTextTest : public ::testing::Test {
  protected:
    // A picture far taller than a line of text: if a message box read its
    // text as HTML, an <img> naming it would make the box that tall.
    std::string TallPicture() {
        const std::string path = dir.Path("tall.png");
        QImage picture(40, 900, QImage::Format_RGB32);
        picture.fill(Qt::red);
        EXPECT_TRUE(picture.save(QString::fromStdString(path)));
        return path;
    }

    static constexpr int fewLines = 200;
    platform::QtDesktop desktop;
    TempDir dir;
};

TEST_F(PlainTextTest, MessageBoxesShowPathsWithTagsAsText) {
    const std::string path = "/tmp/<b>bold</b>/<img src=" + TallPicture() + ">.html";
    const std::string message = "Could not save file \"" + path + "\".\n\nNo space left on device.";
    Watchdog watchdog;

    // Each kind of box, answered with one of its buttons, shows the text as
    // given, one short label of plain text.
    auto expectShownAsText = [&](const std::string& text, platform::MessageBoxType type,
                                 QMessageBox::StandardButton button, int answer) {
        SeenBox box;
        AnswerNextMessageBox(box, button);
        EXPECT_EQ(desktop.MessageBox(nullptr, text, "Varne", type), answer);
        ASSERT_TRUE(box.seen);
        EXPECT_EQ(box.format, Qt::PlainText);
        EXPECT_EQ(box.text.toStdString(), text);
        EXPECT_LT(box.labelHeight, fewLines) << "the picture was laid out";
    };
    expectShownAsText(message, platform::MB_OK, QMessageBox::Ok, platform::IDOK);
    expectShownAsText("Save changes to \"" + path + "\"?", platform::MB_YESNOCANCEL,
                      QMessageBox::No, platform::IDNO);
    expectShownAsText("The file \"" + path + "\" already exists.", platform::MB_YESNO,
                      QMessageBox::Yes, platform::IDYES);
}

// A question with buttons of its own shows its text as given, and Return and
// Escape choose the buttons the caller named, whatever their place.
TEST_F(PlainTextTest, QuestionsWithNamedButtonsAreTextAndKeepTheirKeys) {
    const std::string text = "Changes to \"/tmp/<img src=" + TallPicture() + ">\" were kept.";
    const std::vector<std::string> buttons = {"&Recover", "&Discard", "&Open as it is"};
    Watchdog watchdog;
    for (const auto& [key, expected] : {std::pair{Qt::Key_Return, 0}, {Qt::Key_Escape, 2}}) {
        SeenBox seen;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&, key = key] {
            QMessageBox* box = OpenMessageBox();
            if (!box)
                return;
            poll.stop();
            const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
            seen.seen = true;
            seen.format = label->textFormat();
            seen.text = label->text();
            QTest::keyClick(box, key);
        });
        poll.start();
        EXPECT_EQ(desktop.Ask(nullptr, text, "Varne", buttons, 0, 2), expected);
        ASSERT_TRUE(seen.seen);
        EXPECT_EQ(seen.format, Qt::PlainText);
        EXPECT_EQ(seen.text.toStdString(), text);
    }
}

// A file name cannot hold '/', but HTML reads "&#47;" as one: Qt's own
// question before deleting such a file must still show the name as text.
TEST_F(PlainTextTest, TheFileDialogsOwnQuestionsShowNamesAsText) {
    std::string picture;
    for (char c : TallPicture())
        picture += c == '/' ? std::string("&#47;") : std::string(1, c);
    const std::string name = "<img src=" + picture + ">.html";
    const std::string path = dir.Path(name);
    WriteBytes(path, "kept");
    Watchdog watchdog;

    // Once the dialog lists the file, select it and ask the dialog to delete
    // it, as its context menu does; answer No to its question.
    SeenBox seen;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* list = dialog ? dialog->findChild<QListView*>("listView") : nullptr;
        auto* model = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
        if (!list || !model || list->model() != model)
            return;
        const QModelIndex file = model->index(QString::fromStdString(path));
        if (!file.isValid() || file.parent() != list->rootIndex())
            return;
        poll.stop();
        list->selectionModel()->select(file, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
        AnswerNextMessageBox(seen, QMessageBox::No);
        QMetaObject::invokeMethod(dialog, "_q_deleteCurrent");
        dialog->reject();
    });
    poll.start();

    platform::FileDialogRequest request;
    request.title = "Open File";
    request.initialPath = path;
    std::string chosen;
    EXPECT_FALSE(desktop.GetOpenFileName(nullptr, request, chosen));
    ASSERT_TRUE(seen.seen) << "the dialog asked nothing";
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_NE(seen.text.toStdString().find(name), std::string::npos) << seen.text.toStdString();
    EXPECT_LT(seen.labelHeight, fewLines) << "the picture was laid out";
    EXPECT_EQ(ReadBytes(path), "kept");
}

} // namespace
