// The reader of dialog templates: what a template says, and the line it stops at when it cannot be read.
#include "platform/win/WinControls.h"
#include "platform/win/WinDialogTemplate.h"
#include "platform/win/WinDialogs.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using WinDialogTemplate::Parse;
using WinDialogTemplate::Template;

TEST(DialogTemplate, ReadsEveryLineOfAWholeTemplate) {
    const std::string text = "# a comment\r\n"
                             "dialog 0x3EC\n"
                             "\n"
                             "size 320 200\n"
                             "font 9 DejaVu Sans\n"
                             "caption Print \\\"photos\\\\\" now\n"
                             "style WS_POPUP|WS_CAPTION|0x80\n"
                             "control Button 1 WS_VISIBLE|WS_TABSTOP|BS_DEFPUSHBUTTON 10 -20 80 24 OK\n"
                             "control msctls_progress32 -1 0 0 0 0 0\n"
                             "control Static 65535 0x10000000 -32768 32767 32767 0 tab\\there\n";
    Template dialog;
    std::string error;
    // The caption line holds an unknown escape (\") and must fail; the same template without it reads.
    EXPECT_FALSE(Parse(text, dialog, error));
    EXPECT_EQ(error, "6: unknown escape \\\"");

    std::string fixed = text;
    fixed.replace(fixed.find("caption"), fixed.find('\n', fixed.find("caption")) - fixed.find("caption"),
                  "caption Print \\\\photos now");
    ASSERT_TRUE(Parse(fixed, dialog, error)) << error;
    EXPECT_EQ(dialog.id, 1004);
    EXPECT_EQ(dialog.width, 320);
    EXPECT_EQ(dialog.height, 200);
    EXPECT_EQ(dialog.fontPoints, 9);
    EXPECT_EQ(dialog.fontFace, "DejaVu Sans");
    EXPECT_EQ(dialog.caption, "Print \\photos now");
    EXPECT_EQ(dialog.style, 0x80000000u | 0x00C00000u | 0x80u);
    ASSERT_EQ(dialog.controls.size(), 3u);
    const auto& ok = dialog.controls[0];
    EXPECT_EQ(ok.className, "Button");
    EXPECT_EQ(ok.id, 1);
    EXPECT_EQ(ok.style, 0x10000000u | 0x00010000u | 0x1u);
    EXPECT_EQ(ok.x, 10);
    EXPECT_EQ(ok.y, -20);
    EXPECT_EQ(ok.width, 80);
    EXPECT_EQ(ok.height, 24);
    EXPECT_EQ(ok.text, "OK");
    EXPECT_EQ(dialog.controls[1].id, 0xFFFF) << "-1 names no control";
    EXPECT_EQ(dialog.controls[1].text, "");
    EXPECT_EQ(dialog.controls[2].id, 0xFFFF);
    EXPECT_EQ(dialog.controls[2].x, -32768);
    EXPECT_EQ(dialog.controls[2].y, 32767);
    EXPECT_EQ(dialog.controls[2].text, "tab\there");
}

TEST(DialogTemplate, AMinimalTemplateIsAPopUpWithoutControls) {
    Template dialog;
    std::string error;
    ASSERT_TRUE(Parse("dialog 7\nsize 0 0", dialog, error)) << error;
    EXPECT_EQ(dialog.id, 7);
    EXPECT_EQ(dialog.style, WS_POPUP);
    EXPECT_EQ(dialog.fontPoints, 0);
    EXPECT_TRUE(dialog.caption.empty());
    EXPECT_TRUE(dialog.controls.empty());
}

TEST(DialogTemplate, NamesTheFirstLineItCannotRead) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"", "1: no dialog line"},
        {"size 10 10\n", "1: a template starts with its dialog line"},
        {"dialog 5\n", "2: no size line"},
        {"dialog 0\nsize 1 1\n", "1: the dialog needs an id from 1 to 65534"},
        {"dialog 65535\nsize 1 1\n", "1: the dialog needs an id from 1 to 65534"},
        {"dialog 70000\nsize 1 1\n", "1: the dialog needs an id from 1 to 65534"},
        {"dialog 5 6\nsize 1 1\n", "1: unexpected words at the end of the line"},
        {"dialog 5\ndialog 5\n", "2: dialog is given twice"},
        {"dialog 5\nsize 10\n", "2: size needs a width and a height from 0 to 32767"},
        {"dialog 5\nsize 10 -1\n", "2: size needs a width and a height from 0 to 32767"},
        {"dialog 5\nsize 10 32768\n", "2: size needs a width and a height from 0 to 32767"},
        {"dialog 5\nsize 1 1\nsize 1 1\n", "3: size is given twice"},
        {"dialog 5\nsize 1 1\nfont 0 Sans\n", "3: font needs a size from 1 to 400 points"},
        {"dialog 5\nsize 1 1\nfont 401 Sans\n", "3: font needs a size from 1 to 400 points"},
        {"dialog 5\nsize 1 1\nfont 9\n", "3: font needs a face"},
        {"dialog 5\nsize 1 1\nstyle WS_POPUP|WS_NOSUCH\n", "3: unknown style"},
        {"dialog 5\nsize 1 1\nstyle WS_POPUP||WS_VISIBLE\n", "3: unknown style"},
        {"dialog 5\nsize 1 1\ncaption a\\\n", "3: a text ends in a lone backslash"},
        {"dialog 5\nsize 1 1\nmenu 4\n", "3: unknown line \"menu\""},
        {"dialog 5\nsize 1 1\ncontrol\n", "3: a control needs a class name"},
        {"dialog 5\nsize 1 1\ncontrol Button 65536 0 0 0 1 1\n",
         "3: a control needs an id from 0 to 65535, or -1"},
        {"dialog 5\nsize 1 1\ncontrol Button -2 0 0 0 1 1\n",
         "3: a control needs an id from 0 to 65535, or -1"},
        {"dialog 5\nsize 1 1\ncontrol Button 1 BS_ROUND 0 0 1 1\n", "3: unknown style"},
        {"dialog 5\nsize 1 1\ncontrol Button 1 0 0 0 1\n", "3: a control needs x, y, width and height"},
        {"dialog 5\nsize 1 1\ncontrol Button 1 0 0 0 -1 1\n", "3: a control needs x, y, width and height"},
        {"dialog 5\nsize 1 1\ncontrol Button 1 0 -32769 0 1 1\n",
         "3: a control needs x, y, width and height"},
    };
    for (const auto& c : cases) {
        Template dialog;
        std::string error;
        EXPECT_FALSE(Parse(c.text, dialog, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(DialogTemplate, RefusesTextsAndControlListsPastTheirLimits) {
    const std::string head = "dialog 5\nsize 1 1\n";
    Template dialog;
    std::string error;
    EXPECT_TRUE(Parse(head + "caption " + std::string(4096, 'x') + "\n", dialog, error)) << error;
    EXPECT_FALSE(Parse(head + "caption " + std::string(4097, 'x') + "\n", dialog, error));
    EXPECT_EQ(error, "3: a text is longer than 4096 bytes");

    std::string controls;
    for (int i = 0; i < 1024; ++i)
        controls += "control Static -1 0 0 0 1 1\n";
    EXPECT_TRUE(Parse(head + controls, dialog, error)) << error;
    EXPECT_EQ(dialog.controls.size(), 1024u);
    EXPECT_FALSE(Parse(head + controls + "control Static -1 0 0 0 1 1\n", dialog, error));
    EXPECT_EQ(error, "1027: more than 1024 controls");
}

} // namespace
