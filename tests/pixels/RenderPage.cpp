// Renders text with Varne's styling, offscreen, into PNG files: the same
// program is built once against the packaged QScintilla and once against the
// copy Varne builds, so that same-pixels.sh can compare what each shows.
//
//   render-page page FILE PREFIX   the file's text
//   render-page long-line PREFIX   a page minified to one line of about 400 KiB
//   render-page compare A B        prints how many pixels of two images differ;
//                                  fails unless none do
//
// Each page is shown at its start, its middle and its end, before and after a
// character typed there, in PREFIX-1.png, PREFIX-2.png and so on.
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <Qsci/qsciscintillabase.h>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "app/EditorApp.h"
#include "editor/EditorWindow.h"

namespace {

QsciScintillaBase* component = nullptr;

// One line of markup with runs of every length the layout makes: words,
// attributes, scripts, and comments of 270 bytes (more than 8 bits can count)
// and of 350 (which the layout cuts in pieces).
std::string LongLine() {
    std::mt19937 random(11);
    const char* words[] = {"lorem", "ipsum", "dolor", "sit", "amet", "&amp;", "elit", "sed"};
    std::string line = "<!DOCTYPE html><html><head><title>One line</title></head><body>";
    for (int i = 0; line.size() < 400 * 1024; ++i) {
        const std::string n = std::to_string(i);
        line += "<div class=\"section s" + n + "\" id=\"d" + n + "\"><p>";
        for (int w = 0; w < 12; ++w)
            line += std::string(words[random() % 8]) + " ";
        line += "<a href=\"page" + n + ".html?x=1&amp;y=2\">link</a></p>";
        line += "<!-- " + std::string(i % 3 == 0 ? 340 : 260, char('a' + i % 26)) + " -->";
        if (i % 2 == 0)
            line += "<script>function f" + n + "(a) { var s = 'text'; return a * 2; }</script>";
        else
            line += "<% Dim total: total = " + std::to_string(random()) + " %>";
        line += "</div>";
    }
    return line + "</body></html>\n";
}

// A key press, so that the line is laid out before it is styled again, as
// when typing.
void TypeX(QWidget& editor) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(&editor, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(&editor, &release);
}

QImage Render() {
    QApplication::processEvents();
    return component->grab().toImage();
}

int RenderViews(const std::string& text, const std::string& prefix) {
    QsciScintillaBase editor;
    component = &editor;
    EditorApp styling;
    styling.ConfigureEditor();
    editor.SendScintilla(SCI_SETLAYOUTCACHE, EditorWindow::layoutCache);
    editor.SendScintilla(SCI_SETPOSITIONCACHE, EditorWindow::positionCacheEntries);
    editor.SendScintilla(SCI_SETCARETPERIOD, 0UL);
    editor.resize(1280, 800);
    editor.show();
    editor.SendScintilla(SCI_ADDTEXT, text.size(), text.data());
    editor.SendScintilla(SCI_EMPTYUNDOBUFFER);

    const long length = long(text.size());
    int written = 0;
    for (const long position : {0L, length / 2, length - 1}) {
        editor.SendScintilla(SCI_GOTOPOS, static_cast<unsigned long>(position));
        for (const bool typed : {false, true}) {
            if (typed)
                TypeX(editor);
            const std::string path = prefix + "-" + std::to_string(++written) + ".png";
            if (!Render().save(QString::fromStdString(path))) {
                std::fprintf(stderr, "render-page: cannot write %s\n", path.c_str());
                return 1;
            }
        }
    }
    return 0;
}

int Compare(const char* first, const char* second) {
    const QImage a = QImage(QString::fromLocal8Bit(first)).convertToFormat(QImage::Format_RGB32);
    const QImage b = QImage(QString::fromLocal8Bit(second)).convertToFormat(QImage::Format_RGB32);
    if (a.isNull() || b.isNull() || a.size() != b.size()) {
        std::printf("%s and %s: not two images of one size\n", first, second);
        return 1;
    }
    long differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            differing += a.pixel(x, y) != b.pixel(x, y);
    std::printf("%s: %ld differing pixels\n", first, differing);
    return differing == 0 ? 0 : 1;
}

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace

// Styling sends its messages here, straight to the component.
Position EditorApp::SendEditor(unsigned int message, unsigned long wParam, Position lParam) {
    return component->SendScintilla(message, wParam, lParam);
}

Position EditorApp::SendEditor(unsigned int message, unsigned long wParam, const void* lParam) {
    return SendEditor(message, wParam, reinterpret_cast<Position>(lParam));
}

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "compare" && argc == 4)
        return Compare(argv[2], argv[3]);
    QApplication application(argc, argv);
    if (mode == "page" && argc == 4)
        return RenderViews(ReadFile(argv[2]), argv[3]);
    if (mode == "long-line" && argc == 3)
        return RenderViews(LongLine(), argv[2]);
    std::fprintf(stderr, "usage: render-page page FILE PREFIX | long-line PREFIX | compare A B\n");
    return 2;
}
