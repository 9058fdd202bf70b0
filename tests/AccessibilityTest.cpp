// The editor as a screen reader sees it, through Qt's accessibility API with
// the real widget: the text and its UTF-16 offsets for every kind of byte,
// text items, the events that follow typing, deleting, pasting, undo and
// loads, editing through the interface, a screen reader that arrives late,
// and the menus' names.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QTest>
#include <algorithm>
#include <memory>
#include <random>
#include <utility>

#include "editor/EditorAccessible.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "tests/TestSupport.h"

namespace {

const std::vector<int> textChanges = {QAccessible::TextInserted, QAccessible::TextRemoved,
                                      QAccessible::TextUpdated};

QString U(const char16_t* text) {
    return QString::fromUtf16(text);
}

QString FromUcs4(char32_t code) {
    return QString::fromUcs4(&code, 1);
}

QAccessibleInterface* EditorInterface() {
    return QAccessible::queryAccessibleInterface(theApp.editorWindow);
}

QAccessibleTextInterface* TextOf() {
    QAccessibleInterface* editor = EditorInterface();
    return editor ? editor->textInterface() : nullptr;
}

QString AllText() {
    QAccessibleTextInterface* text = TextOf();
    return text->text(0, text->characterCount());
}

// What a client that only listens would hold: the text events applied, in
// order, to its copy of the text. Each removal must name what was there.
QString Replay(QString text, const std::vector<AccessibilityRecord>& events) {
    for (const AccessibilityRecord& event : events) {
        if (!event.removed.isEmpty()) {
            EXPECT_EQ(text.mid(event.position, event.removed.size()), event.removed)
                << "a removal names text that is not there";
            text.remove(event.position, event.removed.size());
        }
        if (!event.inserted.isEmpty())
            text.insert(event.position, event.inserted);
    }
    return text;
}

// The item before (which -1), at (0) or after (1) the offset, against Qt's
// own default answer, which reads the whole text.
void ExpectQtsItem(QAccessibleTextInterface* text, int offset, QAccessible::TextBoundaryType type,
                   int which) {
    int start, end, qtsStart, qtsEnd;
    const QString ours = which < 0   ? text->textBeforeOffset(offset, type, &start, &end)
                         : which > 0 ? text->textAfterOffset(offset, type, &start, &end)
                                     : text->textAtOffset(offset, type, &start, &end);
    using Qts = QAccessibleTextInterface;
    const QString qts = which < 0   ? text->Qts::textBeforeOffset(offset, type, &qtsStart, &qtsEnd)
                        : which > 0 ? text->Qts::textAfterOffset(offset, type, &qtsStart, &qtsEnd)
                                    : text->Qts::textAtOffset(offset, type, &qtsStart, &qtsEnd);
    EXPECT_EQ(ours, qts) << "type " << type << ", which " << which << ", offset " << offset;
    if (!qts.isEmpty()) {
        EXPECT_EQ(std::make_pair(start, end), std::make_pair(qtsStart, qtsEnd))
            << "type " << type << ", which " << which << ", offset " << offset;
    }
}

class AccessibilityTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        reader = std::make_unique<ActiveAccessibility>();
        ASSERT_NE(TextOf(), nullptr);
    }
    void TearDown() override {
        reader.reset();
        EditorTest::TearDown();
    }

    void Settle() { QApplication::processEvents(); }
    // Loads bytes from a file and forgets the events of the load.
    void Load(const std::string& bytes) {
        const std::string path = dir.Path("page.html");
        WriteBytes(path, bytes);
        theApp.LoadFile(path);
        Settle();
        reader->Clear();
    }
    // One key at a time, each handled before the next as on a desktop. Keys
    // carry their text, so that letters outside ASCII can be typed too.
    void TypeKeys(const QString& keys) {
        for (QChar key : keys) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(key));
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(key));
            QApplication::sendEvent(theApp.editorWindow, &press);
            QApplication::sendEvent(theApp.editorWindow, &release);
            Settle();
        }
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(theApp.editorWindow, key, modifiers);
        Settle();
    }
    std::vector<AccessibilityRecord> TextEvents() { return reader->Events(textChanges); }
    std::vector<int> CaretOffsets() {
        std::vector<int> offsets;
        for (const AccessibilityRecord& event : reader->Events({QAccessible::TextCaretMoved}))
            offsets.push_back(event.position);
        return offsets;
    }

    std::unique_ptr<ActiveAccessibility> reader;
};

TEST_F(AccessibilityTest, TextAndOffsetsFollowTheCharactersOnScreen) {
    // ASCII, é, 日本, an emoji outside the BMP, a Latin-1 é, a lone 0xFF and
    // the non-character U+FFFE (bytes the component shows one by one), a NUL,
    // and CR LF, CR and LF line ends.
    const std::string bytes =
        std::string("a\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80|\xE9|\xFF|\xEF\xBF\xBE|") +
        std::string(1, '\0') + "|\r\nx\ry\n";
    const QString expected = U(u"a\u00E9 \u65E5\u672C ") + FromUcs4(0x1F600) +
                             U(u"|\uFFFD|\uFFFD|\uFFFD\uFFFD\uFFFD|\u2400|\r\nx\ry\n");
    Load(bytes);
    QAccessibleTextInterface* text = TextOf();

    ASSERT_EQ(text->characterCount(), expected.size());
    EXPECT_EQ(AllText(), expected);
    for (int start = 0; start <= expected.size(); ++start) {
        for (int end = start; end <= expected.size(); ++end)
            ASSERT_EQ(text->text(start, end), expected.mid(start, end - start))
                << "text(" << start << ", " << end << ")";
    }

    // The caret moves one character on screen at a time; each step must move
    // the offset by exactly that character's units (2 for the emoji and for
    // CR LF, 1 for each byte that is not UTF-8), and the offset must lead
    // back to the same place in the document.
    theApp.SendEditor(SCI_DOCUMENTSTART);
    int offset = 0;
    while (offset < expected.size()) {
        offset +=
            expected.at(offset).isHighSurrogate() || expected.mid(offset, 2) == "\r\n" ? 2 : 1;
        const long before = theApp.SendEditor(SCI_GETCURRENTPOS);
        theApp.SendEditor(SCI_CHARRIGHT);
        const long position = theApp.SendEditor(SCI_GETCURRENTPOS);
        ASSERT_GT(position, before) << "the caret stopped at offset " << offset;
        EXPECT_EQ(text->cursorPosition(), offset);
        text->setCursorPosition(0);
        text->setCursorPosition(offset);
        EXPECT_EQ(theApp.SendEditor(SCI_GETCURRENTPOS), position) << "offset " << offset;
    }
    EXPECT_EQ(theApp.SendEditor(SCI_GETCURRENTPOS), long(bytes.size()));

    // Lines are the component's, each with its own line end.
    const int crlf = int(expected.indexOf(U(u"\r\n")));
    const struct {
        int offset;
        QString line;
        int start;
    } lines[] = {{0, expected.left(crlf + 2), 0},
                 {crlf, expected.left(crlf + 2), 0},
                 {crlf + 2, "x\r", crlf + 2},
                 {crlf + 4, "y\n", crlf + 4},
                 {int(expected.size()), "", int(expected.size())}};
    for (const auto& line : lines) {
        int start, end;
        EXPECT_EQ(text->textAtOffset(line.offset, QAccessible::LineBoundary, &start, &end),
                  line.line)
            << "line at " << line.offset;
        EXPECT_EQ(start, line.start);
        EXPECT_EQ(end, line.start + line.line.size());
    }
}

TEST_F(AccessibilityTest, CharactersWordsAndLinesFollowQtsRulesForTheWholeText) {
    // Qt's own default answers, which read the whole text, are the reference.
    Load("<html>\r\n<head><title>Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC</title></head>\r\n"
         "<script>\n  var x = 42; // \xF0\x9F\x98\x80 smile\n\n  if (x > 1) { run(); }\n"
         "</script>\n<p>Done. Next sentence here.</p>\n");
    QAccessibleTextInterface* text = TextOf();
    const int count = text->characterCount();
    const QAccessible::TextBoundaryType types[] = {
        QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::LineBoundary};
    for (QAccessible::TextBoundaryType type : types) {
        for (int offset = 0; offset <= count; ++offset) {
            for (int which = -1; which <= 1; ++which) {
                // Qt's default never returns for the item at either end of a
                // text that starts and ends with no word there.
                if (which == 0 && (offset == count || offset == 0) &&
                    type != QAccessible::LineBoundary)
                    continue;
                ExpectQtsItem(text, offset, type, which);
            }
        }
    }

    // A word and a line, spelled out.
    const int cafe = int(AllText().indexOf(U(u"Caf\u00E9")));
    int start, end;
    EXPECT_EQ(text->textAtOffset(cafe + 2, QAccessible::WordBoundary, &start, &end),
              U(u"Caf\u00E9"));
    EXPECT_EQ(start, cafe);
    EXPECT_EQ(text->textAfterOffset(0, QAccessible::LineBoundary, &start, &end),
              U(u"<head><title>Caf\u00E9 \u65E5\u672C</title></head>\r\n"));
    EXPECT_EQ(start, 8);
}

// A page minified to one line: characters and words are found from the text
// around the offset, with Qt's answers for the whole text, whatever joins or
// parts them (numbers with points and commas, apostrophes, Thai without
// spaces, combining accents, flags, joined emoji, Hebrew quotes, a word of
// thousands of letters, runs of punctuation), and a query in the middle of
// megabytes reads a few kilobytes.
TEST_F(AccessibilityTest, ItemsOnALongLineAreFoundFromTheTextAroundThem) {
    // clang-format off
    const QString pieces[] = {
        U(u"<div class=\"a-b\">"), U(u"it's 3.14, 1,000;x:y "), U(u"\u0E20\u0E32\u0E29\u0E32\u0E44\u0E17\u0E22"),
        U(u"e\u0301te\u0301 "), U(u"\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA\U0001F1EB"),
        U(u"\U0001F469\u200D\U0001F4BB "), U(u"\u05E6\u05D4\"\u05DC "), U(u"((((((((((((((("),
        U(u"a.b(c,d);e.f(g)+h[i]={j:k};"), U(u"&amp;&#160; "), U(u"</div>"), U(u"_x_ ")};
    // clang-format on
    // Long words and numbers, each ending in what may join it to the next.
    const QString joiners[] = {U(u".5"), U(u",5"), U(u";5"),  U(u".x"),    U(u"'s"),
                               U(u":y"), U(u"_z"), U(u"\"q"), U(u"\u0301")};
    std::mt19937 random(5);
    QString line;
    std::vector<int> offsets;
    while (line.size() < 40000) {
        if (random() % 40 == 0) {
            offsets.push_back(int(line.size()) + 1000);
            line += QString(2000, QChar(offsets.size() % 2 ? 'w' : '9')) + QString(30, QChar('9')) +
                    joiners[offsets.size() % std::size(joiners)];
        }
        line += pieces[random() % std::size(pieces)];
    }
    Load(line.toStdString() + "\n");
    QAccessibleTextInterface* text = TextOf();
    const int count = text->characterCount();
    while (offsets.size() < 80)
        offsets.push_back(1 + int(random() % unsigned(count - 2)));
    for (const int offset : offsets) {
        for (int which = -1; which <= 1; ++which) {
            ExpectQtsItem(text, offset, QAccessible::CharBoundary, which);
            ExpectQtsItem(text, offset, QAccessible::WordBoundary, which);
        }
    }

    // Thai, whose words Qt finds with a dictionary over each run of one
    // script. Digits, punctuation and spaces belong to the run before them,
    // or at the start of a text to the run after them: a part cut out of the
    // line must not move them from one run to another. Every offset.
    const QString thai = U(u"\u0E20\u0E32\u0E29\u0E32\u0E44\u0E17\u0E22").repeated(30);
    const QString aroundThai[] = {QString("ab ").repeated(100) + QString(600, '9') + ";5" +
                                      QString(16, '(') + thai + " end",
                                  thai + "((((12 " + QString(600, 'a') + " end"};
    for (const QString& around : aroundThai) {
        Load(around.toStdString() + "\n");
        for (int offset = 1; offset < text->characterCount() - 1; ++offset) {
            for (int which = -1; which <= 1; ++which)
                ExpectQtsItem(text, offset, QAccessible::WordBoundary, which);
        }
    }

    // Four megabytes on one line, read around its middle.
    std::string page;
    while (page.size() < (4u << 20))
        page += "<p class=\"x\">Caf\xC3\xA9 some text</p><script>f(a,b);</script>";
    Load(page);
    const int middle = text->characterCount() / 2;
    const long long before = ScreenReaderBytesRead();
    int start, end;
    for (QAccessible::TextBoundaryType type :
         {QAccessible::CharBoundary, QAccessible::WordBoundary}) {
        EXPECT_FALSE(text->textAtOffset(middle, type, &start, &end).isEmpty());
        EXPECT_FALSE(text->textBeforeOffset(middle, type, &start, &end).isEmpty());
        EXPECT_FALSE(text->textAfterOffset(middle, type, &start, &end).isEmpty());
    }
    text->setCursorPosition(middle);
    text->setSelection(0, middle, middle + 5);
    text->selection(0, &start, &end);
    EXPECT_EQ(text->cursorPosition(), middle + 5);
    Settle();
    // A few pieces of the index and a little text around the offset each,
    // nothing like the line.
    EXPECT_LT(ScreenReaderBytesRead() - before, 256 * 1024);
}

TEST_F(AccessibilityTest, TypingDeletingPastingAndUndoAreReportedWithTheirOffsets) {
    TypeKeys("ab");
    ASSERT_EQ(TextEvents().size(), 2u);
    EXPECT_EQ(TextEvents()[0].type, QAccessible::TextInserted);
    EXPECT_EQ(TextEvents()[0].position, 0);
    EXPECT_EQ(TextEvents()[0].inserted, "a");
    EXPECT_EQ(TextEvents()[1].position, 1);
    EXPECT_EQ(TextEvents()[1].inserted, "b");
    EXPECT_EQ(CaretOffsets(), (std::vector<int>{1, 2}));

    // Every later step: the events, replayed on a copy, give the text.
    QString copy = AllText();
    auto expectReplayed = [&](const char* step) {
        copy = Replay(copy, TextEvents());
        EXPECT_EQ(copy, AllText()) << step;
        reader->Clear();
    };
    reader->Clear();
    TextOf()->setCursorPosition(1);
    TypeKeys(U(u"\u00E9"));
    EXPECT_EQ(TextEvents().at(0).position, 1);
    expectReplayed("typing é");

    QApplication::clipboard()->setText(U(u"\u65E5\u672C") + FromUcs4(0x1F600));
    Command(IDM_PASTE);
    Settle();
    ASSERT_EQ(TextEvents().size(), 1u);
    EXPECT_EQ(TextEvents()[0].position, 2);
    EXPECT_EQ(TextEvents()[0].inserted, U(u"\u65E5\u672C") + FromUcs4(0x1F600));
    EXPECT_EQ(CaretOffsets().back(), 6);
    expectReplayed("paste");

    TypeKeys("x");
    EXPECT_EQ(TextEvents().at(0).position, 6);
    expectReplayed("typing after the emoji");

    Key(Qt::Key_Backspace);
    Key(Qt::Key_Backspace);
    ASSERT_EQ(TextEvents().size(), 2u);
    EXPECT_EQ(TextEvents()[1].type, QAccessible::TextRemoved);
    EXPECT_EQ(TextEvents()[1].position, 4);
    EXPECT_EQ(TextEvents()[1].removed, FromUcs4(0x1F600));
    expectReplayed("backspace over the emoji");

    Command(IDM_UNDO);
    Settle();
    expectReplayed("undo");
    Command(IDM_REDO);
    Settle();
    expectReplayed("redo");
    Command(IDM_UNDO);
    Command(IDM_UNDO);
    Command(IDM_UNDO);
    Settle();
    expectReplayed("three undos");

    // A selection replaced by typing, cut, and pasted back.
    TextOf()->setSelection(0, 1, 3);
    TypeKeys("Z");
    expectReplayed("typing over a selection");
    TextOf()->setSelection(0, 0, 2);
    Command(IDM_CUT);
    Settle();
    ASSERT_FALSE(TextEvents().empty());
    EXPECT_EQ(TextEvents()[0].position, 0);
    expectReplayed("cut");
    Command(IDM_PASTE);
    Settle();
    expectReplayed("paste back");
}

TEST_F(AccessibilityTest, BytesThatJoinOrPartAreReportedAsTheCharactersThatChanged) {
    Load("A\xE6"
         "B");
    ASSERT_EQ(AllText(), U(u"A\uFFFDB"));
    QString copy = AllText();

    // Two trail bytes after the lone lead byte complete 日: the replacement
    // character goes, 日 comes, at offset 1.
    theApp.SendEditor(SCI_GOTOPOS, 2);
    AddText("\x97\xA5");
    Settle();
    EXPECT_EQ(AllText(), U(u"A\u65E5B"));
    copy = Replay(copy, TextEvents());
    EXPECT_EQ(copy, AllText());
    for (const AccessibilityRecord& event : TextEvents())
        EXPECT_EQ(event.position, 1);
    reader->Clear();

    // Taking the middle byte out breaks it into two bytes that are not UTF-8.
    theApp.SendEditor(SCI_DELETERANGE, 2, 1);
    Settle();
    EXPECT_EQ(AllText(), U(u"A\uFFFD\uFFFDB"));
    copy = Replay(copy, TextEvents());
    EXPECT_EQ(copy, AllText());
    reader->Clear();

    // A NUL is one character, shown as the symbol for it.
    theApp.SendEditor(SCI_GOTOPOS, 1);
    AddText(std::string("x\0y", 3));
    Settle();
    ASSERT_EQ(TextEvents().size(), 1u);
    EXPECT_EQ(TextEvents()[0].position, 1);
    EXPECT_EQ(TextEvents()[0].inserted, U(u"x\u2400y"));
}

TEST_F(AccessibilityTest, KeptUpToDateTheIndexAgreesWithOneBuiltAfresh) {
    // Bytes of every kind, so that characters join and part at the edges of
    // the changes and of the index's pieces.
    const std::string kinds[] = {"a",
                                 "xyz ",
                                 "\n",
                                 "\r\n",
                                 "\r",
                                 "\xC3\xA9",
                                 "\xE6\x97\xA5",
                                 "\xF0\x9F\x98\x80",
                                 "\xE9",
                                 "\xFF",
                                 "\x80",
                                 "\xE6\x97",
                                 "\xF0\x9F",
                                 "\xEF\xBF\xBE",
                                 std::string(1, '\0')};
    std::mt19937 random(12);
    auto someBytes = [&](long count) {
        std::string bytes;
        while (long(bytes.size()) < count)
            bytes += kinds[random() % (sizeof kinds / sizeof kinds[0])];
        return bytes;
    };
    auto somewhere = [&](long length) { return long(random() % unsigned(length + 1)); };
    Load(someBytes(40000));
    QString copy = AllText();

    for (int step = 0; step < 400; ++step) {
        const long length = theApp.SendEditor(SCI_GETLENGTH);
        switch (random() % 8) {
        case 0:
        case 1:
        case 2:
            theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(somewhere(length)));
            AddText(someBytes(1 + random() % 8));
            break;
        case 3:
            theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(somewhere(length)));
            AddText(someBytes(4000 + random() % 6000));
            break;
        case 4:
        case 5: {
            const long start = somewhere(length);
            const long count =
                std::min(length - start, long(1 + random() % (random() % 2 ? 8 : 9000)));
            theApp.SendEditor(SCI_DELETERANGE, static_cast<unsigned long>(start), count);
            break;
        }
        case 6:
            Command(IDM_UNDO);
            break;
        default:
            Command(IDM_REDO);
            break;
        }
        // Sometimes the event loop runs between changes, sometimes not.
        if (random() % 3 == 0)
            Settle();
    }
    // A change too large to compare its neighbourhood, with ASCII at its
    // edges so that it joins nothing.
    theApp.SendEditor(SCI_GOTOPOS, 0);
    AddText("<" + someBytes(70000) + ">\n");
    Settle();

    copy = Replay(copy, TextEvents());
    const QString kept = AllText();
    EXPECT_EQ(copy, kept) << "the events do not tell what changed";
    const long length = theApp.SendEditor(SCI_GETLENGTH);
    std::vector<int> offsets;
    for (long position = 0; position <= length; position += 97) {
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
        offsets.push_back(TextOf()->cursorPosition());
    }

    theApp.editorWindow->Accessibility().SetListening(false);
    theApp.editorWindow->Accessibility().SetListening(true);
    EXPECT_EQ(TextOf()->characterCount(), kept.size());
    EXPECT_EQ(AllText(), kept);
    size_t i = 0;
    for (long position = 0; position <= length; position += 97, ++i) {
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
        ASSERT_EQ(TextOf()->cursorPosition(), offsets[i]) << "at byte " << position;
    }
}

TEST_F(AccessibilityTest, CharactersJoiningAnywhereAreCountedRight) {
    // At every position of the first 4300 bytes, and so across an edge of
    // the index's pieces wherever a fresh count puts them, bytes that are not
    // UTF-8 on their own become 日 by an insertion before or after them, or
    // by the deletion of what stood between them. Lines of 97 bytes.
    std::string lines;
    while (lines.size() < 6000)
        lines += std::string(96, 'a') + "\n";
    Load(lines);
    const int total = int(lines.size());
    QAccessibleTextInterface* text = TextOf();
    AccessibilityNotifier& notifier = theApp.editorWindow->Accessibility();
    auto replace = [this](long position, long count, const std::string& bytes) {
        theApp.SendEditor(SCI_DELETERANGE, static_cast<unsigned long>(position), count);
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
        AddText(bytes);
    };
    auto countFresh = [&] {
        notifier.SetListening(false);
        notifier.SetListening(true);
        return text->characterCount();
    };
    for (long position = 1; position < 4300; ++position) {
        if (position % 97 == 0 || position % 97 >= 93)
            continue; // the bytes the three cases change hold no line end
        // The lead byte before the position, its trail bytes inserted there.
        replace(position - 1, 1, "\xE6");
        ASSERT_EQ(countFresh(), total);
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
        AddText("\x97\xA5");
        ASSERT_EQ(text->characterCount(), total) << "trail bytes after a lead at " << position;
        ASSERT_EQ(text->text(int(position) - 1, int(position)), U(u"\u65E5"));
        replace(position - 1, 3, "a");

        // The trail bytes at the position, the lead byte inserted before them.
        replace(position, 2, "\x97\xA5");
        ASSERT_EQ(countFresh(), total);
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
        AddText("\xE6");
        ASSERT_EQ(text->characterCount(), total - 1) << "a lead before trail bytes at " << position;
        replace(position, 3, "aa");

        // A byte between the lead and the trail bytes, then deleted.
        replace(position - 1, 4, "\xE6X\x97\xA5");
        ASSERT_EQ(countFresh(), total);
        theApp.SendEditor(SCI_DELETERANGE, static_cast<unsigned long>(position), 1);
        ASSERT_EQ(text->characterCount(), total - 3) << "joined by a deletion at " << position;
        replace(position - 1, 3, "aaaa");
        ASSERT_EQ(text->characterCount(), total);
    }
}

TEST_F(AccessibilityTest, CaretMovesAndSelectionsAreReported) {
    Load("one\n\xE6\x97\xA5 two\n");
    theApp.editorWindow->setFocus();
    Key(Qt::Key_Down);
    Key(Qt::Key_Right);
    Key(Qt::Key_Right);
    Key(Qt::Key_Home);
    Key(Qt::Key_Left);
    EXPECT_EQ(CaretOffsets(), (std::vector<int>{4, 5, 6, 4, 3}));

    reader->Clear();
    QAccessibleTextInterface* text = TextOf();
    text->setSelection(0, 4, 7);
    Settle();
    EXPECT_EQ(text->selectionCount(), 1);
    int start, end;
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 4);
    EXPECT_EQ(end, 7);
    // In bytes 日 takes three.
    EXPECT_EQ(theApp.SendEditor(SCI_GETSELECTIONSTART), 4);
    EXPECT_EQ(theApp.SendEditor(SCI_GETSELECTIONEND), 9);
    const auto selections = reader->Events({QAccessible::TextSelectionChanged});
    ASSERT_FALSE(selections.empty());
    EXPECT_EQ(selections.back().selectionStart, 4);
    EXPECT_EQ(selections.back().selectionEnd, 7);

    theApp.SendEditor(SCI_SETSEL, 0, 3);
    Settle();
    text->selection(0, &start, &end);
    EXPECT_EQ(end, 3);
    EXPECT_EQ(reader->Events({QAccessible::TextSelectionChanged}).back().selectionEnd, 3);
    text->removeSelection(0);
    EXPECT_EQ(text->selectionCount(), 0);
    text->addSelection(1, 2);
    EXPECT_EQ(text->selectionCount(), 1);
}

TEST_F(AccessibilityTest, ALoadOrNewIsOneTextUpdate) {
    // Three blocks and a bit: the load adds them one by one.
    std::string bytes;
    while (bytes.size() < 3 * 131072 + 100)
        bytes += "<p>line \xE6\x97\xA5</p>\n";
    const std::string path = dir.Path("big.html");
    WriteBytes(path, bytes);

    theApp.LoadFile(path);
    Settle();
    auto changes = TextEvents();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].type, QAccessible::TextInserted);
    EXPECT_EQ(changes[0].position, 0);
    // The event carries the start of the text, not all of it.
    EXPECT_EQ(changes[0].inserted, TextOf()->text(0, 65536));

    reader->Clear();
    theApp.LoadFile(path);
    Settle();
    changes = TextEvents();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].type, QAccessible::TextUpdated);

    const QString before = TextOf()->text(0, 65536);
    reader->Clear();
    Command(IDM_NEW);
    Settle();
    changes = TextEvents();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].type, QAccessible::TextRemoved);
    EXPECT_EQ(changes[0].position, 0);
    EXPECT_EQ(changes[0].removed, before);
    EXPECT_EQ(TextOf()->characterCount(), 0);
}

TEST_F(AccessibilityTest, EditingThroughTheInterfaceUsesTheComponentAndItsUndo) {
    Load("a\xF0\x9F\x98\x80"
         "b");
    QAccessibleEditableTextInterface* edit = EditorInterface()->editableTextInterface();
    ASSERT_NE(edit, nullptr);

    edit->insertText(3, U(u"\u65E5\u672C"));
    EXPECT_EQ(EditorText(), "a\xF0\x9F\x98\x80\xE6\x97\xA5\xE6\x9C\xAC"
                            "b");
    edit->deleteText(1, 3);
    EXPECT_EQ(EditorText(), "a\xE6\x97\xA5\xE6\x9C\xAC"
                            "b");
    edit->replaceText(1, 3, "cd");
    EXPECT_EQ(EditorText(), "acdb");
    EXPECT_TRUE(MenuEnabled(IDM_SAVE));

    Command(IDM_UNDO);
    EXPECT_EQ(EditorText(), "a\xE6\x97\xA5\xE6\x9C\xAC"
                            "b");
    Command(IDM_UNDO);
    Command(IDM_UNDO);
    EXPECT_EQ(EditorText(), "a\xF0\x9F\x98\x80"
                            "b");

    // Offsets past the end write at the end, never beyond it; a read-only
    // document is not changed.
    edit->insertText(1000, "!");
    EXPECT_EQ(EditorText(), "a\xF0\x9F\x98\x80"
                            "b!");
    edit->deleteText(-5, 1);
    EXPECT_EQ(EditorText(), "\xF0\x9F\x98\x80"
                            "b!");
    theApp.SendEditor(SCI_SETREADONLY, 1);
    edit->insertText(0, "x");
    EXPECT_EQ(EditorText(), "\xF0\x9F\x98\x80"
                            "b!");
    EXPECT_TRUE(EditorInterface()->state().readOnly);
    theApp.SendEditor(SCI_SETREADONLY, 0);

    // Events for these edits as for any other.
    Settle();
    EXPECT_FALSE(TextEvents().empty());
}

// The progress window keeps the person's keys away from a long load or save,
// but a screen reader's requests still arrive while it runs.
TEST_F(AccessibilityTest, NothingIsEditedThroughTheInterfaceWhileAFileIsReadOrWritten) {
    std::string bytes;
    while (bytes.size() < 3 * 131072)
        bytes += "<p>line</p>\n";
    const std::string path = dir.Path("page.html");
    WriteBytes(path, bytes);
    QAccessibleEditableTextInterface* edit = EditorInterface()->editableTextInterface();
    std::vector<bool> readOnly;
    desktop.duringProgress = [&] {
        readOnly.push_back(EditorInterface()->state().readOnly);
        edit->insertText(0, "X");
        edit->deleteText(4, 6);
    };
    theApp.LoadFile(path);
    // Compared whole, so that a failure does not print the long text.
    EXPECT_TRUE(EditorText() == bytes) << "an edit got into the loaded text";
    EXPECT_FALSE(theApp.modified);

    TypeText("<!-- -->");
    Command(IDM_SAVE);
    desktop.duringProgress = nullptr;
    EXPECT_TRUE(EditorText() == "<!-- -->" + bytes) << "the document was edited";
    EXPECT_TRUE(ReadBytes(path) == EditorText()) << "the saved file is not the document";
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(desktop.progress.size(), 2u);
    EXPECT_GE(readOnly.size(), 6u);
    EXPECT_EQ(readOnly, std::vector<bool>(readOnly.size(), true));

    // Afterwards the interface edits again.
    edit->insertText(0, "X");
    EXPECT_EQ(EditorText().substr(0, 10), "X<!-- --><");
    EXPECT_FALSE(EditorInterface()->state().readOnly);
}

// A screen reader may move the caret and the selection while a file is read;
// the file's blocks still go in one after the other, whole.
TEST_F(AccessibilityTest, MovingTheCaretWhileAFileIsReadLeavesTheFileWhole) {
    std::string bytes;
    for (int line = 0; bytes.size() < 3 * 131072; ++line)
        bytes += "<p>" + std::to_string(line) + "</p>\n";
    const std::string path = dir.Path("page.html");
    WriteBytes(path, bytes);
    int steps = 0;
    desktop.duringProgress = [&] {
        ++steps;
        TextOf()->setCursorPosition(1);
        TextOf()->setSelection(0, 2, 3);
        TextOf()->addSelection(5, 7);
        TextOf()->removeSelection(0);
    };
    theApp.LoadFile(path);
    desktop.duringProgress = nullptr;
    EXPECT_GE(steps, 3);
    EXPECT_TRUE(EditorText() == bytes) << "the loaded text is not the file";
    EXPECT_EQ(TextOf()->cursorPosition(), 0);

    // Afterwards they move again.
    TextOf()->setSelection(0, 2, 3);
    EXPECT_EQ(theApp.SendEditor(SCI_GETSELECTIONSTART), 2);
    EXPECT_EQ(theApp.SendEditor(SCI_GETSELECTIONEND), 3);
}

TEST_F(AccessibilityTest, AnEditThatWouldPassTheSizeLimitChangesNothing) {
    Load("0123456789");
    theApp.editorWindow->SetSizeLimit(12);
    QAccessibleEditableTextInterface* edit = EditorInterface()->editableTextInterface();
    const auto refusals = [&] {
        Settle();
        return std::count_if(
            desktop.messages.begin(), desktop.messages.end(),
            [](const MessageRecord& m) { return m.text.rfind("The text was not added", 0) == 0; });
    };

    edit->replaceText(2, 4, "abcdef"); // 10 - 2 + 6 > 12
    EXPECT_EQ(EditorText(), "0123456789") << "the replaced text is gone";
    EXPECT_EQ(refusals(), 1);
    edit->insertText(10, "abc");
    EXPECT_EQ(EditorText(), "0123456789");
    EXPECT_EQ(refusals(), 2);
    EXPECT_TRUE(TextEvents().empty());
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(theApp.SendEditor(EM_CANUNDO), 0);

    // What fits goes in whole.
    edit->replaceText(2, 4, "abcd");
    EXPECT_EQ(EditorText(), "01abcd456789");
    EXPECT_EQ(refusals(), 2);
    EXPECT_EQ(Replay("0123456789", TextEvents()), AllText());
}

// At the size limit the component turns a refused insertion into an empty one,
// and the window refuses typed text before the component sees it: neither is
// reported, and the offsets stay those of the text.
TEST_F(AccessibilityTest, ARefusedInsertionIsNotReportedAndLeavesTheOffsetsRight) {
    const std::string bytes = "ab\xC3\xA9\n\xE6\x97\xA5";
    Load(bytes);
    theApp.editorWindow->SetSizeLimit(Position(bytes.size()));
    theApp.SendEditor(SCI_GOTOPOS, 2);
    AddText("x");
    Key(Qt::Key_D, Qt::ControlModifier); // the component duplicates the line
    TypeKeys("y");
    Settle();
    EXPECT_EQ(EditorText(), bytes);
    EXPECT_TRUE(TextEvents().empty());
    EXPECT_EQ(AllText(), U(u"ab\u00E9\n\u65E5"));
    EXPECT_EQ(TextOf()->cursorPosition(), 2);

    // With room made, the next change is reported where it happens.
    const QString before = AllText();
    Key(Qt::Key_Backspace);
    TypeKeys("z");
    EXPECT_EQ(EditorText(), "az\xC3\xA9\n\xE6\x97\xA5");
    EXPECT_EQ(Replay(before, TextEvents()), U(u"az\u00E9\n\u65E5"));
    EXPECT_EQ(TextOf()->cursorPosition(), 2);
    EXPECT_EQ(TextOf()->text(2, 4), U(u"\u00E9\n"));
}

TEST_F(AccessibilityTest, QueriesOutsideTheTextStayInsideTheDocument) {
    Load("ab\n\xFF");
    QAccessibleTextInterface* text = TextOf();
    EXPECT_EQ(text->text(-10, 100), U(u"ab\n\uFFFD"));
    EXPECT_EQ(text->text(3, 2), "");
    int start, end;
    EXPECT_EQ(text->textAtOffset(5, QAccessible::WordBoundary, &start, &end), "");
    EXPECT_EQ(start, -1);
    EXPECT_EQ(text->textAtOffset(-1, QAccessible::LineBoundary, &start, &end), U(u"\uFFFD"));
    EXPECT_EQ(text->textBeforeOffset(0, QAccessible::CharBoundary, &start, &end), "");
    EXPECT_EQ(text->textAfterOffset(4, QAccessible::CharBoundary, &start, &end), "");
    EXPECT_EQ(text->textAfterOffset(3, QAccessible::CharBoundary, &start, &end), "");
    EXPECT_EQ(text->textAtOffset(3, QAccessible::CharBoundary, &start, &end), U(u"\uFFFD"));
    EXPECT_EQ(start, 3);
    EXPECT_EQ(end, 4);
    EXPECT_EQ(text->characterRect(-1), QRect());
    EXPECT_EQ(text->characterRect(99), QRect());
    text->setCursorPosition(99);
    EXPECT_EQ(theApp.SendEditor(SCI_GETCURRENTPOS), 4);
    text->setSelection(0, -3, 99);
    EXPECT_EQ(theApp.SendEditor(SCI_GETSELECTIONEND), 4);

    Load("");
    EXPECT_EQ(text->characterCount(), 0);
    EXPECT_EQ(text->text(0, 1), "");
    EXPECT_EQ(text->textAtOffset(0, QAccessible::LineBoundary, &start, &end), "");
    EXPECT_EQ(text->cursorPosition(), 0);
}

TEST_F(AccessibilityTest, TheEditorSaysWhatItIsAndWhichFileItHolds) {
    QAccessibleInterface* editor = EditorInterface();
    EXPECT_EQ(editor->role(), QAccessible::EditableText);
    EXPECT_EQ(editor->text(QAccessible::Name), "Editor");
    EXPECT_EQ(editor->text(QAccessible::Description), "");
    EXPECT_EQ(editor->text(QAccessible::Value), "");
    const QAccessible::State state = editor->state();
    EXPECT_TRUE(state.editable);
    EXPECT_TRUE(state.multiLine);
    EXPECT_TRUE(state.focusable);
    EXPECT_NE(editor->editableTextInterface(), nullptr);

    Load("<p>x</p>");
    EXPECT_EQ(editor->text(QAccessible::Description),
              QString::fromStdString(dir.Path("page.html")));
}

TEST_F(AccessibilityTest, CharacterRectanglesAndPointsAgree) {
    Load("<p>Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 end</p>\nsecond line\n");
    QAccessibleTextInterface* text = TextOf();
    for (int offset : {0, 3, 6, 8, 11, 16, 20}) {
        const QRect rect = text->characterRect(offset);
        ASSERT_TRUE(rect.isValid()) << offset;
        // Left of the middle: the middle itself is where the component
        // starts to answer with the next character.
        const QPoint inside(rect.left() + rect.width() / 4, rect.center().y());
        EXPECT_EQ(text->offsetAtPoint(inside), offset) << "offset " << offset;
    }
    const QRect first = text->characterRect(0);
    const QRect second = text->characterRect(text->characterCount() - 3);
    EXPECT_GT(second.top(), first.top()) << "the second line is not below the first";
}

TEST_F(AccessibilityTest, QueriesAndEventsAtTheEndOfABigDocumentCostNoMoreThanAtTheStart) {
    // 20 MiB of lines of ordinary length with some multi-byte characters.
    std::string bytes;
    const std::string line = "<p class=\"x\">Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC some text</p>\n";
    bytes.reserve(21u << 20);
    while (bytes.size() < (20u << 20))
        bytes += line;
    Load(bytes);
    QAccessibleTextInterface* text = TextOf();
    const int count = text->characterCount();

    // The same work at both ends: reading around an offset, moving the caret
    // there, and typing a key there with its events.
    auto bytesReadAround = [&](int offset) {
        const long long before = ScreenReaderBytesRead();
        int start, end;
        text->text(offset - 10, offset + 10);
        text->textAtOffset(offset, QAccessible::LineBoundary, &start, &end);
        text->textAtOffset(offset, QAccessible::WordBoundary, &start, &end);
        text->textBeforeOffset(offset, QAccessible::CharBoundary, &start, &end);
        text->setCursorPosition(offset);
        text->cursorPosition();
        text->characterRect(offset);
        TypeKeys("x");
        EXPECT_FALSE(TextEvents().empty());
        reader->Clear();
        return ScreenReaderBytesRead() - before;
    };
    const long long atStart = bytesReadAround(20);
    const long long atEnd = bytesReadAround(count - 20);
    EXPECT_GT(atStart, 0) << "the counting itself does not work";
    // A few pieces of the index at either end, nothing like the document.
    EXPECT_LE(atEnd, 2 * atStart + 8192);
    EXPECT_LT(atEnd, 256 * 1024);
}

// A screen reader that is not there when the editor starts.
using ScreenReaderArrivalTest = EditorTest;

TEST_F(ScreenReaderArrivalTest, AReaderThatArrivesLaterGetsTheFullEditorAtOnce) {
    // Without a reader only the notices before each change (the insertion
    // check, the styler's and the recovery journal's), whose cost does not
    // grow with the document, are asked of the component; a reader follows
    // those same notifications, and none that QScintilla answers by counting.
    const long unread = SC_MOD_INSERTCHECK | SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE;
    EXPECT_EQ(theApp.SendEditor(SCI_GETMODEVENTMASK), unread);
    TypeText("<p>before</p>");
    {
        ActiveAccessibility reader;
        EXPECT_EQ(theApp.SendEditor(SCI_GETMODEVENTMASK), unread);
        ASSERT_NE(TextOf(), nullptr);
        EXPECT_EQ(AllText(), "<p>before</p>");
        QTest::keyClicks(theApp.editorWindow, "!");
        QApplication::processEvents();
        const auto changes = reader.Events(textChanges);
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].position, 13);
        EXPECT_EQ(changes[0].inserted, "!");
    }
    // Gone again: no per-change work left behind.
    EXPECT_EQ(theApp.SendEditor(SCI_GETMODEVENTMASK), unread);
    const long long bytesRead = ScreenReaderBytesRead();
    TypeText("<p>after</p>");
    QApplication::processEvents();
    EXPECT_EQ(ScreenReaderBytesRead(), bytesRead);
}

TEST_F(ScreenReaderArrivalTest, APlainInterfaceQtKeptForTheEditorIsReplaced) {
    // What Qt keeps when something asked for the editor's interface before
    // ours was there to answer.
    QAccessible::registerAccessibleInterface(
        new QAccessibleWidget(theApp.editorWindow, QAccessible::EditableText));
    ASSERT_EQ(TextOf(), nullptr);
    ActiveAccessibility reader;
    ASSERT_NE(TextOf(), nullptr);
    EXPECT_NE(EditorInterface()->editableTextInterface(), nullptr);
    EXPECT_FALSE(reader.Events({QAccessible::ObjectCreated}).empty())
        << "clients are not told about the new interface";
}

TEST_F(ScreenReaderArrivalTest, AReaderActiveBeforeStartUpHearsEachCaretMoveOnce) {
    theApp.ShutDown();
    QApplication::processEvents();
    ActiveAccessibility reader;
    theApp.StartUp(*static_cast<QApplication*>(QApplication::instance()));
    QApplication::processEvents();
    reader.Clear();
    for (QChar key : QString("abc")) {
        QTest::keyClicks(theApp.editorWindow, QString(key));
        QApplication::processEvents();
    }
    std::vector<int> carets;
    for (const AccessibilityRecord& event : reader.Events({QAccessible::TextCaretMoved}))
        carets.push_back(event.position);
    EXPECT_EQ(carets, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(reader.Events(textChanges).size(), 3u);
}

// Menu items are read by their names; the shortcut is their key binding.
using MenuAccessibilityTest = EditorTest;

TEST_F(MenuAccessibilityTest, ItemsAreNamedWithoutTheShortcutWhichIsTheirKeyBinding) {
    // What the menus show is checked with the menu table (StartUpTest).
    const struct {
        unsigned short id;
        const char* name;
        const char* keyBinding;
    } items[] = {
        {IDM_NEW, "New", "Ctrl+N"},    {IDM_OPEN, "Open...", "Ctrl+O"},
        {IDM_SAVE, "Save", "Ctrl+S"},  {IDM_SAVEAS, "Save As...", ""},
        {IDM_EXIT, "Exit", ""},        {IDM_UNDO, "Undo", "Ctrl+Z"},
        {IDM_REDO, "Redo", "Ctrl+Y"},  {IDM_CUT, "Cut", "Ctrl+X"},
        {IDM_COPY, "Copy", "Ctrl+C"},  {IDM_PASTE, "Paste", "Ctrl+V"},
        {IDM_DELETE, "Delete", "Del"}, {IDM_SELECTALL, "Select All", "Ctrl+A"},
    };
    for (const auto& item : items) {
        QAccessibleInterface* itemInterface = AccessibleMenuItem(item.id);
        ASSERT_NE(itemInterface, nullptr) << item.name;
        EXPECT_EQ(itemInterface->text(QAccessible::Name), item.name);
        if (*item.keyBinding) {
            EXPECT_EQ(itemInterface->text(QAccessible::Accelerator), item.keyBinding);
        }
    }
}

} // namespace
