// quorvel-panel-table: writes the window-less panel's built-in definition.
// Run at build time on the build machine: it reads a panel definition built
// into it as a Qt resource (the window's Qt Designer file, with the pictures
// it names) with the window-less reader of that XML, and writes a C++ source
// defining builtInPanelDefinition() (panel_definition.h) that rebuilds the
// very same values without XML or Qt.
//
// Usage: quorvel-panel-table OUTPUT.cpp [NAME=PANEL_ID...]
// (without names: the program's own, Quorvel.uir with panel PANEL).
#include "panel.h"
#include "panel_definition_reader.h"
#include "ui_constants.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A C++ string literal holding exactly `text`: printable ASCII as itself,
// every other byte (and the quote, the backslash and '?') as a three-digit
// octal escape, which can never run into the next character.
std::string literal(const std::string &text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\' && c != '?') {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", c);
            out += escape;
        }
    }
    return out + "\"";
}

// A double exactly, as a hexadecimal floating literal.
std::string number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%a", value);
    return text;
}

const char *flag(bool value)
{
    return value ? "true" : "false";
}

void writeControl(std::FILE *out, int id, const platform::ControlState &c)
{
    std::fprintf(out, "    {\n        ControlState c;\n");
    std::fprintf(out, "        c.kind = static_cast<ControlKind>(%d);\n", static_cast<int>(c.kind));
    std::fprintf(out, "        c.className = %s;\n", literal(c.className).c_str());
    std::fprintf(out, "        c.name = %s;\n", literal(c.name).c_str());
    std::fprintf(out, "        c.callbackName = %s;\n", literal(c.callbackName).c_str());
    std::fprintf(out, "        c.lit = %s;\n", flag(c.lit));
    std::fprintf(out, "        c.number = %d;\n", c.number);
    std::fprintf(out, "        c.reading = %s;\n", number(c.reading).c_str());
    std::fprintf(out, "        c.text = %s;\n", literal(c.text).c_str());
    std::fprintf(out, "        c.log.reset(%s);\n", literal(c.log.text()).c_str());
    std::fprintf(out, "        c.label = %s;\n", literal(c.label).c_str());
    std::fprintf(out, "        c.accessibleName = %s;\n", literal(c.accessibleName).c_str());
    std::fprintf(out, "        c.visible = %s;\n", flag(c.visible));
    std::fprintf(out, "        c.dimmed = %s;\n", flag(c.dimmed));
    std::fprintf(out, "        c.parent = %d;\n", c.parent);
    std::fprintf(out, "        c.textColor = 0x%06X;\n", static_cast<unsigned>(c.textColor));
    std::fprintf(out, "        c.textBold = %s;\n", flag(c.textBold));
    std::fprintf(out, "        c.fillColor = 0x%06X;\n", static_cast<unsigned>(c.fillColor));
    std::fprintf(out, "        c.timerEnabled = %s;\n", flag(c.timerEnabled));
    std::fprintf(out, "        c.interval = %s;\n", number(c.interval).c_str());
    std::fprintf(out, "        c.decimals = %d;\n", c.decimals);
    std::fprintf(out, "        c.minimum = %s;\n", number(c.minimum).c_str());
    std::fprintf(out, "        c.maximum = %s;\n", number(c.maximum).c_str());
    for (const platform::PictureItem &item : c.items)
        std::fprintf(out, "        c.items.push_back(PictureItem{%d, %s});\n", item.value,
                     literal(item.path).c_str());
    std::fprintf(out, "        c.framed = %s;\n", flag(c.framed));
    std::fprintf(out, "        out->controls.emplace_back(%d, std::move(c));\n    }\n", id);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "Usage: quorvel-panel-table OUTPUT.cpp [NAME=PANEL_ID...]\n");
        return 2;
    }
    struct Entry {
        std::string name;
        int panelId;
        platform::PanelDefinition definition;
    };
    std::vector<Entry> entries;
    std::vector<std::string> wanted(argv + 2, argv + argc);
    if (wanted.empty())
        wanted.push_back("Quorvel.uir=" + std::to_string(PANEL));
    for (const std::string &arg : wanted) {
        const std::size_t equals = arg.find('=');
        if (equals == std::string::npos) {
            std::fprintf(stderr, "quorvel-panel-table: %s: NAME=PANEL_ID expected\n", arg.c_str());
            return 2;
        }
        Entry entry{arg.substr(0, equals), std::atoi(arg.c_str() + equals + 1), {}};
        const int rc = platform::readPanelDefinition(entry.name, entry.panelId, &entry.definition);
        if (rc != 0) {
            std::fprintf(stderr, "quorvel-panel-table: %s, panel %d: unreadable (%d)\n",
                         entry.name.c_str(), entry.panelId, rc);
            return 1;
        }
        entries.push_back(std::move(entry));
    }

    const std::string path = argv[1];
    const std::string partial = path + ".part";
    std::FILE *out = std::fopen(partial.c_str(), "w");
    if (!out) {
        std::perror(partial.c_str());
        return 1;
    }
    std::fprintf(out, "// Generated by quorvel-panel-table from the window's panel definition.\n"
                      "// Do not edit: edit ui/Quorvel.ui.\n"
                      "#include \"panel_definition.h\"\n\n#include \"panel.h\"\n\n"
                      "#include <utility>\n\nnamespace platform {\n\nnamespace {\n\n");
    for (std::size_t e = 0; e < entries.size(); ++e) {
        const platform::PanelDefinition &d = entries[e].definition;
        std::fprintf(out, "void definition%zu(PanelDefinition *out)\n{\n", e);
        std::fprintf(out, "    out->panelId = %d;\n", d.panelId);
        std::fprintf(out, "    out->title = %s;\n", literal(d.title).c_str());
        std::fprintf(out, "    out->callbackName = %s;\n", literal(d.callbackName).c_str());
        for (const auto &[id, control] : d.controls)
            writeControl(out, id, control);
        std::fprintf(out, "}\n\n");
    }
    std::fprintf(out, "} // namespace\n\n"
                      "int builtInPanelDefinition(const std::string &name, int panelId, PanelDefinition *out)\n{\n");
    for (std::size_t e = 0; e < entries.size(); ++e) {
        std::fprintf(out, "    if (name == %s) {\n", literal(entries[e].name).c_str());
        std::fprintf(out, "        if (panelId != %d)\n            return kPanelNoSuchPanel;\n", entries[e].panelId);
        std::fprintf(out, "        *out = PanelDefinition{};\n        definition%zu(out);\n        return 0;\n    }\n", e);
    }
    std::fprintf(out, "    return kPanelNotFound;\n}\n\n} // namespace platform\n");
    if (std::fclose(out) != 0 || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    return 0;
}
