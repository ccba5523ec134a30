#include "cli/docgen.h"

#include "cli/options.h"

namespace {

// Text for roff: backslashes and minus signs escaped, no line starting with
// a control character.
std::string Roff(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else if (c == '\n')
            out += "\n";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
    return out;
}

std::string CommandsOf(const OptionDoc& d)
{
    std::string list;
    for (const CommandDoc& c : CommandDocs()) {
        if (c.command == Command::Help || !OptionAppliesTo(d.name, c.command)) continue;
        list += (list.empty() ? "" : ", ") + std::string(c.word);
    }
    return list;
}

std::string ManCommands()
{
    std::string out;
    for (const CommandDoc& c : CommandDocs()) {
        out += ".TP\n";
        if (c.args[0] != '\0')
            out.append(".BI \"").append(Roff(c.word)).append(" \" \"").append(Roff(c.args)).append("\"");
        else
            out.append(".B ").append(Roff(c.word));
        out.append("\n").append(Roff(c.summary)).append(".\n");
    }
    return out;
}

std::string ManOptions()
{
    std::string out;
    for (const OptionDoc& d : OptionDocs()) {
        std::string names = d.shortName[0] != '\0' ? Roff(d.shortName) + ", " + Roff(d.name) : Roff(d.name);
        out += ".TP\n";
        if (d.value[0] != '\0')
            out.append(".BI \"").append(names).append(" \" \"").append(Roff(d.value)).append("\"");
        else
            out.append(".B ").append(names);
        std::string help = d.help;
        for (char& ch : help)
            if (ch == '\n') ch = ' ';
        out.append("\n").append(Roff(help)).append(".\n");
        std::string commands = CommandsOf(d);
        if (OptionAppliesTo(d.name, Command::Help))
            out += "Every command.\n";
        else
            out.append(commands.find(',') == std::string::npos ? "Command: " : "Commands: ").append(Roff(commands)).append(".\n");
    }
    return out;
}

void ReplaceLine(std::string* text, const std::string& marker, const std::string& with)
{
    std::string line = marker + "\n";
    size_t at = text->find(line);
    if (at != std::string::npos) text->replace(at, line.size(), with);
}

std::string Words(const std::string& list)
{
    return list.empty() ? list : list.substr(1);
}

// One branch of a `case`: "        a|b) ACTION" (nothing for no names).
std::string Case(const std::string& names, const std::string& action)
{
    return names.empty() ? "" : "        " + Words(names) + ") " + action + "\n";
}

}  // namespace

std::string ManPage(const std::string& tmpl, const std::string& version)
{
    std::string page = tmpl;
    ReplaceLine(&page, "@COMMANDS@", ManCommands());
    ReplaceLine(&page, "@OPTIONS@", ManOptions());
    for (size_t at; (at = page.find("@VERSION@")) != std::string::npos;) page.replace(at, 9, version);
    return page;
}

std::string BashCompletion()
{
    std::string commands, fileOpts, dirOpts, silentOpts, words;
    for (const CommandDoc& c : CommandDocs()) commands += std::string(" ") + c.word;
    for (const OptionDoc& d : OptionDocs()) {
        if (d.value[0] == '\0') continue;
        std::string how = d.completion;
        if (how == "@file")
            fileOpts += std::string("|") + d.name;
        else if (how == "@dir")
            dirOpts += std::string("|") + d.name;
        else if (how.empty())
            silentOpts += std::string("|") + d.name;
        else
            words += std::string("        ") + d.name + ") COMPREPLY=($(compgen -W \"" + how + "\" -- \"$cur\")); return ;;\n";
    }
    std::string perCommand;
    for (const CommandDoc& c : CommandDocs()) {
        std::string opts;
        for (const OptionDoc& d : OptionDocs()) {
            if (!OptionAppliesTo(d.name, c.command)) continue;
            opts += std::string(" ") + d.name;
            if (d.shortName[0] != '\0') opts += std::string(" ") + d.shortName;
        }
        perCommand += std::string("        ") + c.word + ") opts=\"" + Words(opts) + "\" ;;\n";
    }
    std::string global;
    for (const OptionDoc& d : OptionDocs())
        if (OptionAppliesTo(d.name, Command::Help)) global += std::string(" ") + d.name;
    return "# bash completion for gleanor (made from its option table at build time)\n"
           "_gleanor()\n"
           "{\n"
           "    local cur prev cmd i opts\n"
           "    cur=${COMP_WORDS[COMP_CWORD]}\n"
           "    prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    local commands=\"" + Words(commands) + "\"\n"
           "    cmd=\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case \" $commands \" in *\" ${COMP_WORDS[i]} \"*) cmd=${COMP_WORDS[i]}; break ;; esac\n"
           "    done\n"
           "\n"
           "    case $prev in\n" +
           Case(fileOpts, "COMPREPLY=($(compgen -f -- \"$cur\")); compopt -o filenames 2>/dev/null; return ;;") +
           Case(dirOpts, "COMPREPLY=($(compgen -d -- \"$cur\")); compopt -o filenames 2>/dev/null; return ;;") + words +
           Case(silentOpts, "return ;;") +
           "    esac\n"
           "\n"
           "    case $cmd in\n" +
           perCommand +
           "        *) opts=\"" + Words(global) + "\" ;;\n"
           "    esac\n"
           "    if [[ -z $cmd && $cur != -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
           "    elif [[ $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
           "    elif [[ $cmd == help ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
           "    else\n"
           "        COMPREPLY=($(compgen -f -- \"$cur\")); compopt -o filenames 2>/dev/null\n"
           "    fi\n"
           "}\n"
           "complete -F _gleanor gleanor\n";
}
