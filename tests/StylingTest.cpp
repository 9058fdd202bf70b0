#include <string>

#include "editor/EditorWindow.h"
#include "tests/TestSupport.h"

namespace {

struct Look {
    long fore;
    long back;
    std::string font;
    int size;
    bool bold;
    bool eolFilled;
};

bool operator==(const Look& a, const Look& b) {
    return a.fore == b.fore && a.back == b.back && a.font == b.font && a.size == b.size &&
           a.bold == b.bold && a.eolFilled == b.eolFilled;
}

std::ostream& operator<<(std::ostream& out, const Look& look) {
    return out << std::hex << "fore " << look.fore << " back " << look.back << std::dec << " "
               << look.font << " " << look.size << (look.bold ? " bold" : "")
               << (look.eolFilled ? " eol-filled" : "");
}

const char sample[] = "<html><body bgcolor=\"white\">plain words<section>x</section>\n"
                      "<script language=\"vbscript\">\n"
                      "Dim total\n"
                      "msg = \"unterminated\n"
                      "</script>\n"
                      "<script language=\"javascript\">\n"
                      "var s = 'open\n"
                      "let t = 1;\n"
                      "</script>\n"
                      "<% var n = 1 %>\n"
                      "</body></html>\n";

class StylingTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        AddText(sample);
        theApp.SendEditor(SCI_COLOURISE, 0, -1);
        text = sample;
    }

    int StyleOf(const std::string& word, size_t skip = 0) {
        const size_t at = text.find(word);
        EXPECT_NE(at, std::string::npos) << word;
        return int(theApp.SendEditor(SCI_GETSTYLEAT, at + skip));
    }

    Look LookOf(int style) {
        char font[128] = {};
        theApp.SendEditor(SCI_STYLEGETFONT, style, font);
        return Look{theApp.SendEditor(SCI_STYLEGETFORE, style),
                    theApp.SendEditor(SCI_STYLEGETBACK, style),
                    font,
                    int(theApp.SendEditor(SCI_STYLEGETSIZE, style)),
                    theApp.SendEditor(SCI_STYLEGETBOLD, style) != 0,
                    theApp.SendEditor(SCI_STYLEGETEOLFILLED, style) != 0};
    }

    std::string text;
};

constexpr long white = RGB(255, 255, 255);
constexpr long black = 0;
constexpr long darkBlue = RGB(0, 0, 128);

TEST_F(StylingTest, MarkupIsColouredWithTheFixedTable) {
    EXPECT_EQ(StyleOf("html", 0), 1);
    EXPECT_EQ(LookOf(1), (Look{darkBlue, white, "Verdana", 11, false, false}));
    EXPECT_EQ(StyleOf("plain words"), 0);
    EXPECT_EQ(LookOf(0), (Look{black, white, "Times New Roman", 11, false, false}));
    EXPECT_EQ(StyleOf("bgcolor"), 3);
    EXPECT_EQ(StyleOf("\"white\""), 6);
    EXPECT_EQ(LookOf(6), (Look{RGB(0, 128, 0), white, "Verdana", 11, false, false}));
    // "section" is no keyword of the HTML list: an unknown tag, in red.
    EXPECT_EQ(StyleOf("section"), 2);
    EXPECT_EQ(LookOf(2).fore, RGB(255, 0, 0));
    EXPECT_EQ(StyleOf("<%"), 15);
    EXPECT_EQ(LookOf(15), (Look{RGB(79, 79, 0), RGB(255, 255, 0), "Verdana", 11, false, false}));
}

TEST_F(StylingTest, ClientVbScriptIsGeorgiaOnLightBlue) {
    EXPECT_EQ(StyleOf("Dim"), 74);
    EXPECT_EQ(LookOf(74), (Look{darkBlue, RGB(166, 202, 240), "Georgia", 11, true, true}));
    EXPECT_EQ(StyleOf("total"), 76);
    // A string still open at the end of its line.
    EXPECT_EQ(StyleOf("unterminated\n", 12), 77);
    EXPECT_EQ(LookOf(77), (Look{black, RGB(127, 127, 255), "Georgia", 11, false, true}));
    EXPECT_EQ(LookOf(72),
              (Look{RGB(0, 128, 0), RGB(166, 202, 240), "Comic Sans MS", 11, false, true}));
}

TEST_F(StylingTest, ClientJavaScriptIsLucidaOnOffWhite) {
    EXPECT_EQ(StyleOf("var s"), 47);
    EXPECT_EQ(LookOf(47),
              (Look{darkBlue, RGB(255, 251, 240), "Lucida Sans Unicode", 11, false, true}));
    // "let" is not in the program's JavaScript list.
    EXPECT_EQ(StyleOf("let"), 46);
    // An unterminated string line, in the default face.
    EXPECT_EQ(StyleOf("'open\n", 5), 51);
    EXPECT_EQ(LookOf(51), (Look{black, RGB(223, 223, 127), "Verdana", 11, false, true}));
}

TEST_F(StylingTest, ServerScriptsHaveTheirOwnBackgrounds) {
    EXPECT_EQ(StyleOf("var n"), 62);
    EXPECT_EQ(LookOf(62),
              (Look{darkBlue, RGB(223, 223, 127), "Lucida Sans Unicode", 11, false, true}));
    EXPECT_EQ(LookOf(66), (Look{black, RGB(0, 175, 95), "Verdana", 11, false, true}));
    EXPECT_EQ(LookOf(84), (Look{darkBlue, RGB(255, 255, 0), "Georgia", 11, true, true}));
    EXPECT_EQ(LookOf(82).font, "Comic Sans MS");
    EXPECT_EQ(LookOf(87), (Look{black, RGB(207, 207, 127), "Georgia", 11, false, true}));
    EXPECT_EQ(LookOf(55), (Look{RGB(128, 128, 0), white, "Verdana", 11, false, false}));
}

TEST_F(StylingTest, StylesNoStepNamesKeepTheDefault) {
    const Look plain{black, white, "Verdana", 11, false, false};
    for (int style : {17, 20, 31, 52, 70, 80})
        EXPECT_EQ(LookOf(style), plain) << "style " << style;
    // Foregrounds never set, fonts set by the script loops.
    EXPECT_EQ(LookOf(87).fore, black);
    EXPECT_EQ(LookOf(77).font, "Georgia");
}

} // namespace
