// DataGen - turns the installer's text data into a C++ source file.
//
//   setup_datagen <out.cpp> msg:<TABLE>=<file> ... eula:<POINTER>=<file> ...
//                 tpl:<POINTER>=<file> ... alias:<POINTER>=<file>
//
// A message file holds one entry per line, "<index><TAB><text>", with the
// indexes 0 to 70 in order; the text is written with the escapes \n, \t,
// \\ and \" and nothing else. An agreement file is plain UTF-8 text printed
// as it stands; its trailing line ends are dropped so that the question at
// its end stays on the line where the user answers. A script template is
// text as it stands, except that a template of one line loses its line end
// (it is the first line of a script, which the writer ends itself); longer
// templates keep every line end. A template line "@include <file> [<word>]"
// stands for the lines of that file (a path beside the template), each "@1"
// in them replaced by word: blocks that several scripts share are written
// once, and the scripts come out as if each held its own copy. An alias table is the catalog's trans.conf
// without its comment and blank lines, so that the installer and the suite's
// tools choose languages from one source.
//
// Every fault in the data (a missing or extra entry, a bad escape, an
// unreadable file) stops the build with a message naming file and line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kMessages = 71;

[[noreturn]] void die(const std::string &what) {
    std::fprintf(stderr, "setup_datagen: %s\n", what.c_str());
    std::exit(1);
}

bool readFile(const std::string &path, std::string &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

// Writes text as a C++ string literal, cut into source lines after each
// newline; bytes outside printable ASCII become three-digit octal escapes so
// that the generated file is plain ASCII whatever the language.
void emitLiteral(std::string &out, const std::string &text) {
    out += "    \"";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
            if (i + 1 < text.size()) out += "\"\n    \"";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '?') {
            out += "\\?"; // never part of a trigraph-like sequence
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\%03o", c);
            out += esc;
        }
    }
    out += "\"";
}

// The template at path with its "@include" lines replaced by the blocks they
// name (blocks include no further blocks).
std::string expandTemplate(const std::string &path, const std::string &text) {
    const std::string dir = path.substr(0, path.rfind('/') + 1);
    std::string out;
    std::istringstream lines(text);
    std::string line;
    for (int lineNo = 1; std::getline(lines, line); ++lineNo) {
        const bool hadEnd = !lines.eof();
        if (line.rfind("@include ", 0) != 0) {
            out += line;
            if (hadEnd) out += '\n';
            continue;
        }
        std::istringstream words(line.substr(9));
        std::string file, word;
        words >> file >> word;
        std::string block;
        if (file.empty() || !readFile(dir + file, block))
            die(path + ":" + std::to_string(lineNo) + ": cannot include '" + file + "'");
        for (size_t at = 0; (at = block.find("@1", at)) != std::string::npos;) {
            if (word.empty())
                die(path + ":" + std::to_string(lineNo) + ": " + file + " needs a word for @1");
            block.replace(at, 2, word);
            at += word.size();
        }
        out += block;
    }
    return out;
}

// Reads a message file into its 71 texts, the escapes resolved.
std::vector<std::string> readMessages(const std::string &path) {
    std::string data;
    if (!readFile(path, data)) die("cannot read " + path);
    std::vector<std::string> msgs;
    std::istringstream lines(data);
    std::string line;
    int lineNo = 0;
    while (std::getline(lines, line)) {
        ++lineNo;
        const std::string where = path + ":" + std::to_string(lineNo);
        if (!line.empty() && line.back() == '\r') die(where + ": carriage return in message file");
        size_t tab = line.find('\t');
        if (tab == std::string::npos) die(where + ": expected <index><TAB><text>");
        std::string idx = line.substr(0, tab);
        if (idx.empty() || idx.find_first_not_of("0123456789") != std::string::npos ||
            std::atoi(idx.c_str()) != static_cast<int>(msgs.size()))
            die(where + ": expected index " + std::to_string(msgs.size()));
        std::string text;
        for (size_t i = tab + 1; i < line.size(); ++i) {
            if (line[i] != '\\') {
                text += line[i];
                continue;
            }
            if (++i >= line.size()) die(where + ": backslash at the end of the line");
            switch (line[i]) {
            case 'n':
                text += '\n';
                break;
            case 't':
                text += '\t';
                break;
            case '\\':
                text += '\\';
                break;
            case '"':
                text += '"';
                break;
            default:
                die(where + ": unknown escape \\" + std::string(1, line[i]));
            }
        }
        msgs.push_back(text);
    }
    if (static_cast<int>(msgs.size()) != kMessages)
        die(path + ": " + std::to_string(msgs.size()) + " entries, expected " +
            std::to_string(kMessages));
    return msgs;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2)
        die("usage: setup_datagen <out.cpp> msg:<TABLE>=<file>... eula:<NAME>=<file>... "
            "tpl:<NAME>=<file>...");
    std::string out = "// Generated by setup_datagen from installer/nls, installer/eula,\n"
                      "// installer/templates and nls/catalog/trans.conf.\n"
                      "// Edit the text files, not this file.\n"
                      "#include \"setup.h\"\n\n";
    for (int a = 2; a < argc; ++a) {
        std::string arg = argv[a];
        size_t colon = arg.find(':'), eq = arg.find('=');
        if (colon == std::string::npos || eq == std::string::npos || eq < colon)
            die("bad argument " + arg);
        std::string kind = arg.substr(0, colon);
        std::string name = arg.substr(colon + 1, eq - colon - 1);
        std::string path = arg.substr(eq + 1);
        if (name.empty() ||
            name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "0123456789_") != std::string::npos ||
            (name[0] >= '0' && name[0] <= '9'))
            die(path + ": " + name + " is not a C++ name");
        if (kind == "msg") {
            std::vector<std::string> msgs = readMessages(path);
            out += "const char *const " + name + "[NLS_MSG_COUNT] = {\n";
            for (const std::string &m : msgs) {
                emitLiteral(out, m);
                out += ",\n";
            }
            out += "};\n\n";
        } else if (kind == "eula") {
            std::string text;
            if (!readFile(path, text)) die("cannot read " + path);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            if (text.empty()) die(path + ": empty agreement");
            out += "static const char " + name + "_text[] =\n";
            emitLiteral(out, text);
            out += ";\nconst char *" + name + " = " + name + "_text;\n\n";
        } else if (kind == "tpl") {
            std::string text;
            if (!readFile(path, text)) die("cannot read " + path);
            text = expandTemplate(path, text);
            if (text.find('\r') != std::string::npos)
                die(path + ": carriage return in a script template");
            if (text.find('\0') != std::string::npos) die(path + ": NUL byte in a script template");
            if (std::count(text.begin(), text.end(), '\n') == 1 && text.back() == '\n')
                text.pop_back();
            out += "const char *" + name + " =\n";
            emitLiteral(out, text);
            out += ";\n\n";
        } else if (kind == "alias") {
            std::string text, table, line;
            if (!readFile(path, text)) die("cannot read " + path);
            std::istringstream lines(text);
            while (std::getline(lines, line))
                if (!line.empty() && line[0] != '#') table += line + "\n";
            if (table.empty()) die(path + ": no alias lines");
            out += "const char *" + name + " =\n";
            emitLiteral(out, table);
            out += ";\n\n";
        } else {
            die("unknown kind " + kind);
        }
    }
    std::ofstream of(argv[1], std::ios::binary | std::ios::trunc);
    if (!of || !(of << out) || !of.flush()) die(std::string("cannot write ") + argv[1]);
    return 0;
}
