// The text of --help, made from the option and command tables.
#include <string>

#include "cli/options.h"

namespace {

constexpr size_t kHelpColumn = 25;

// "  --name VALUE           help", continuation lines under the help column.
std::string OptionLines(const OptionDoc& d)
{
    std::string head = "  ";
    if (d.shortName[0] != '\0') head += std::string(d.shortName) + ", ";
    head += d.name;
    if (d.value[0] != '\0') head += std::string(" ") + d.value;
    head += head.size() + 1 < kHelpColumn ? std::string(kHelpColumn - head.size(), ' ') : "   ";
    std::string out;
    std::string help = d.help;
    size_t start = 0;
    for (bool first = true;; first = false) {
        size_t nl = help.find('\n', start);
        out += (first ? head : std::string(kHelpColumn, ' ')) + help.substr(start, nl - start) + "\n";
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return out;
}

const char kExitStatusText[] =
    "Exit status: 0 done, 1 could not, 64 usage error, 130 after a second Ctrl-C;\n"
    "a copy exits with its outcome code (0 Ok, 3 User Break, 7 Give Up: ended normally\n"
    "with sectors missing, ...);\n"
    "files exits 0 when no file is damaged, 1 when some are, 2 when it cannot read the file system;\n"
    "extract exits 0 when every file was written whole, 1 when some were left out or written\n"
    "damaged, 2 when it cannot read the file system or write a file.\n";

}  // namespace

std::string UsageText(Command command)
{
    const CommandDoc* doc = nullptr;
    for (const CommandDoc& c : CommandDocs())
        if (c.command == command) doc = &c;
    std::string text;
    if (doc == nullptr || command == Command::Help) {
        text = "Usage: gleanor COMMAND [OPTIONS]   (gleanor COMMAND --help: that command's options)\n\nCommands:\n";
        for (const CommandDoc& c : CommandDocs()) {
            std::string head = std::string("  ") + c.word + (c.args[0] ? std::string(" ") + c.args : "");
            head += head.size() + 1 < kHelpColumn ? std::string(kHelpColumn - head.size(), ' ') : "\n" + std::string(kHelpColumn, ' ');
            text += head + c.summary + "\n";
        }
        text += "\nOptions:\n";
        for (const OptionDoc& d : OptionDocs()) text += OptionLines(d);
        return text + "\n" + kExitStatusText;
    }
    text = std::string("Usage: gleanor ") + doc->word + (doc->args[0] ? std::string(" ") + doc->args : "") +
           " [OPTIONS]\n" + doc->summary + "\n\nOptions:\n";
    for (const OptionDoc& d : OptionDocs())
        if (OptionAppliesTo(d.name, command)) text += OptionLines(d);
    if (command == Command::Copy)
        text += "\nThe copy gives up after an hour without a good read unless --give-up says\n"
                "otherwise. Exit status: the copy's outcome code (0 Ok, 3 User Break, 5 Disk Full,\n"
                "7 Give Up: ended normally with sectors missing, 2 a file could not be opened, ...).\n";
    else if (command == Command::Files)
        text += "\nExit status: 0 no file damaged, 1 some damaged or unknown, 2 the file system cannot be read.\n";
    else if (command == Command::Extract)
        text += "\nOnly complete files are written unless --damaged is given; a later run writes what\n"
                "it left out and leaves written files alone. Exit status: 0 every file written whole,\n"
                "1 some left out or written damaged, 2 the file system cannot be read or a file\n"
                "cannot be written.\n";
    return text;
}
