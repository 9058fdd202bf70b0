// The Paste item follows the clipboard: it changes the moment the clipboard
// does, says exactly what a paste would do, and refreshing the menus never
// asks the clipboard anything.
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <functional>

#include "editor/ClipboardBytes.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "tests/TestSupport.h"

namespace {

// Counts every question asked of it, as a slow clipboard owner would feel it.
class CountingMimeData : public QMimeData {
  public:
    mutable int questions = 0;

    QStringList formats() const override {
        ++questions;
        return QMimeData::formats();
    }
    bool hasFormat(const QString& format) const override {
        ++questions;
        return QMimeData::hasFormat(format);
    }

  protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        ++questions;
        return QMimeData::retrieveData(format, type);
    }
};

class PasteStateTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        theApp.frameWindow->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(theApp.frameWindow));
        theApp.editorWindow->setFocus();
    }

    void TearDown() override {
        QApplication::clipboard()->clear();
        EditorTest::TearDown();
    }

    void PressCtrlV() { QTest::keyClick(theApp.editorWindow, Qt::Key_V, Qt::ControlModifier); }
};

TEST_F(PasteStateTest, CopyingElsewhereEnablesPasteWithNoCommandBetween) {
    QApplication::clipboard()->clear();
    Command(IDM_SELECTALL);
    ASSERT_FALSE(MenuEnabled(IDM_PASTE));

    QApplication::clipboard()->setText("copied elsewhere");
    EXPECT_TRUE(MenuEnabled(IDM_PASTE));
    PressCtrlV();
    EXPECT_EQ(EditorText(), "copied elsewhere");

    QApplication::clipboard()->clear();
    EXPECT_FALSE(MenuEnabled(IDM_PASTE));
    PressCtrlV();
    EXPECT_EQ(EditorText(), "copied elsewhere");
}

TEST_F(PasteStateTest, PasteIsEnabledExactlyWhenAPasteInsertsSomething) {
    struct Case {
        const char* what;
        std::function<QMimeData*()> make; // nullptr: an empty clipboard
    };
    const Case cases[] = {
        {"plain text",
         [] {
             auto* data = new QMimeData;
             data->setText("text");
             return data;
         }},
        {"an image only",
         [] {
             auto* data = new QMimeData;
             data->setImageData(QImage(4, 4, QImage::Format_RGB32));
             return data;
         }},
        {"HTML without plain text",
         [] {
             auto* data = new QMimeData;
             data->setHtml("<b>bold</b>");
             return data;
         }},
        {"a format of some other program",
         [] {
             auto* data = new QMimeData;
             data->setData("application/x-other-program", "bytes");
             return data;
         }},
        {"text beside other formats",
         [] {
             auto* data = new QMimeData;
             data->setHtml("<b>bold</b>");
             data->setText("bold");
             return data;
         }},
        {"nothing", [] { return nullptr; }},
    };
    for (const Case& c : cases) {
        if (QMimeData* data = c.make())
            QApplication::clipboard()->setMimeData(data);
        else
            QApplication::clipboard()->clear();
        const long before = theApp.SendEditor(SCI_GETLENGTH);
        const bool enabled = MenuEnabled(IDM_PASTE);
        theApp.SendEditor(WM_PASTE);
        const bool inserted = theApp.SendEditor(SCI_GETLENGTH) != before;
        EXPECT_EQ(enabled, inserted) << c.what;
    }
    EXPECT_EQ(EditorText(), "textbold");
}

TEST_F(PasteStateTest, RefreshingTheMenusAsksTheClipboardNothing) {
    auto* data = new CountingMimeData; // the clipboard owns it
    data->setText("text");
    QApplication::clipboard()->setMimeData(data);
    const int afterTheChange = data->questions;
    ASSERT_TRUE(MenuEnabled(IDM_PASTE));

    QMenu* edit = theApp.frameWindow->menuBar()->actions()[1]->menu();
    for (int i = 0; i < 10; ++i) {
        TypeText("a");
        Command(IDM_SELECTALL);
        emit edit->aboutToShow();
    }
    EXPECT_EQ(data->questions, afterTheChange);
    EXPECT_TRUE(MenuEnabled(IDM_PASTE));
}

// The editor's own copy keys run no menu command, which would refresh the
// menus anyway: the clipboard's change alone enables Paste, for Varne's own
// bytes as for text.
TEST_F(PasteStateTest, ACopyInsideVarneEnablesPasteAtOnce) {
    AddText("line one\nline two\n");
    theApp.SendEditor(SCI_SETSEL, 0UL, 4);
    const struct {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* copied;
    } copies[] = {
        {"Ctrl+Insert", Qt::Key_Insert, Qt::ControlModifier, "line"},
        {"Ctrl+Shift+T", Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier, "line one\n"},
    };
    for (const auto& copy : copies) {
        SCOPED_TRACE(copy.what);
        QApplication::clipboard()->clear();
        ASSERT_FALSE(MenuEnabled(IDM_PASTE));
        QTest::keyClick(theApp.editorWindow, copy.key, copy.modifiers);
        EXPECT_TRUE(MenuEnabled(IDM_PASTE));
        const QMimeData* data = QApplication::clipboard()->mimeData();
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->data(varneBytesType), QByteArray(copy.copied));
    }
}

TEST_F(PasteStateTest, ReadOnlyEditorGreysPasteWhateverTheClipboardHolds) {
    QApplication::clipboard()->setText("text");
    ASSERT_TRUE(MenuEnabled(IDM_PASTE));
    theApp.editorWindow->SendScintilla(SCI_SETREADONLY, 1UL);
    theApp.UpdateMenus();
    EXPECT_FALSE(MenuEnabled(IDM_PASTE));
    theApp.editorWindow->SendScintilla(SCI_SETREADONLY, 0UL);
}

} // namespace
