// Writes the corpus of the dialog-template fuzz target: templates of a few shapes written line by line in
// the templates' text form (WinDialogTemplate.h). Usage: dialog_template_corpus <folder>.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct ControlLine {
    const char* className;
    int id;
    const char* style;
    int x, y, width, height;
    const char* text;
};

struct Shape {
    const char* name;
    int id;
    int width, height;
    const char* font;    // null: none
    const char* caption; // null: none
    const char* style;   // null: none
    std::vector<ControlLine> controls;
};

std::string Write(const Shape& shape) {
    std::string out = "# " + std::string(shape.name) + "\n";
    out += "dialog " + std::to_string(shape.id) + "\n";
    out += "size " + std::to_string(shape.width) + " " + std::to_string(shape.height) + "\n";
    if (shape.font)
        out += std::string("font ") + shape.font + "\n";
    if (shape.caption)
        out += std::string("caption ") + shape.caption + "\n";
    if (shape.style)
        out += std::string("style ") + shape.style + "\n";
    for (const ControlLine& c : shape.controls) {
        out += std::string("control ") + c.className + " " + std::to_string(c.id) + " " + c.style + " " +
               std::to_string(c.x) + " " + std::to_string(c.y) + " " + std::to_string(c.width) + " " +
               std::to_string(c.height);
        if (c.text[0])
            out += std::string(" ") + c.text;
        out += "\n";
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    const std::vector<Shape> shapes = {
        {"minimal", 1, 0, 0, nullptr, nullptr, nullptr, {}},
        {"buttons",
         1004,
         320,
         200,
         "9 Sans",
         "Print",
         "WS_POPUP|WS_CAPTION|DS_MODALFRAME",
         {{"Button", 1, "WS_VISIBLE|WS_TABSTOP|BS_DEFPUSHBUTTON", 120, 160, 80, 24, "OK"},
          {"Button", 2, "WS_VISIBLE|WS_TABSTOP", 210, 160, 80, 24, "Cancel"}}},
        {"every-control",
         2000,
         400,
         300,
         "12 DejaVu Sans",
         "Tab\\there",
         "0x80C00000",
         {{"Static", -1, "WS_VISIBLE|SS_CENTER", -10, -10, 100, 20, "Caf\xC3\xA9"},
          {"Edit", 1005, "WS_VISIBLE|ES_READONLY", 0, 30, 100, 20, "line\\nbreak"},
          {"Button", 1001, "WS_VISIBLE|BS_AUTOCHECKBOX", 0, 60, 100, 20, "Check"},
          {"Button", 1003, "BS_OWNERDRAW", 0, 90, 100, 20, ""},
          {"ComboBox", 1007, "WS_VISIBLE|CBS_DROPDOWNLIST", 0, 120, 100, 20, ""},
          {"msctls_progress32", 1011, "0x50000000", 0, 150, 100, 16, ""},
          {"msctls_trackbar32", 1009, "WS_VISIBLE|TBS_VERT", 0, 170, 20, 100, ""},
          {"msctls_updown32", 65535, "WS_VISIBLE|UDS_HORZ", 32767, 32767, 0, 0, ""}}},
        {"progress",
         1005,
         300,
         140,
         nullptr,
         "Working",
         "WS_POPUP|WS_VISIBLE|WS_CAPTION",
         {{"Static", 1027, "WS_VISIBLE", 10, 10, 280, 20, ""},
          {"Static", 1028, "WS_VISIBLE", 10, 35, 280, 20, ""},
          {"msctls_progress32", 1011, "WS_VISIBLE", 10, 60, 280, 16, ""},
          {"msctls_progress32", 1009, "WS_VISIBLE", 10, 85, 280, 16, ""},
          {"Button", 2, "WS_VISIBLE|WS_TABSTOP", 110, 108, 80, 24, "Cancel"}}},
    };
    for (const Shape& shape : shapes) {
        const std::string text = Write(shape);
        std::ofstream(folder / (std::string(shape.name) + ".dlg"), std::ios::binary) << text;
        // The same template cut in the middle of a line.
        std::ofstream(folder / (std::string(shape.name) + "-cut.dlg"), std::ios::binary)
            << text.substr(0, text.size() * 2 / 3);
    }
    std::printf("%zu templates in %s\n", shapes.size() * 2, folder.c_str());
    return 0;
}
