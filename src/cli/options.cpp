#include "cli/options.h"

#include <cstring>

#include "platform/prompt.h"

namespace {

// Which commands accept an option: one bit per Command value.
using CommandSet = unsigned;
constexpr CommandSet Bit(Command c) { return 1u << unsigned(c); }
constexpr CommandSet kDriveCommands = Bit(Command::Estimate) | Bit(Command::Eject) | Bit(Command::Load);
constexpr CommandSet kSimCommands = Bit(Command::Drives) | kDriveCommands | Bit(Command::Copy);
constexpr CommandSet kAllCommands = ~0u;

constexpr uint64_t kMaxDriveIndex = 255;  // beyond any table; the count check comes later
constexpr uint64_t kMaxSectors = 0xFFFFFFFFu;
constexpr const char kFlagPrefix[] = "flag:";

struct OptionSpec {
    OptionDoc doc;
    CommandSet commands;
    // Applies the value; false with *error set when it does not fit.
    bool (*apply)(Options* o, const std::string& value, std::string* error);
};

bool Fail(std::string* error, const std::string& text)
{
    *error = text;
    return false;
}

bool ApplySim(Options* o, const std::string& v, std::string* error)
{
    if (v.empty()) return Fail(error, "--sim needs a profile file");
    o->sims.push_back(v);
    return true;
}

bool ApplyDrive(Options* o, const std::string& v, std::string* error)
{
    uint64_t n;
    if (!ParseDecimal(v.c_str(), kMaxDriveIndex, &n)) return Fail(error, "--drive: not a drive index: '" + v + "'");
    o->drive = int(n);
    return true;
}

bool ApplyLogLevel(Options* o, const std::string& v, std::string* error)
{
    uint64_t n;
    if (!ParseDecimal(v.c_str(), kMaxLogLevel, &n)) return Fail(error, "--log-level: expected 0..4, got '" + v + "'");
    o->logLevel = int(n);
    o->logLevelSet = true;
    return true;
}

bool ApplyDest(Options* o, const std::string& v, std::string* error)
{
    if (v.empty()) return Fail(error, "--dest needs a folder");
    o->dest = v;
    o->destSet = true;
    return true;
}

bool ApplyImage(Options* o, const std::string& v, std::string* error)
{
    if (v.empty()) return Fail(error, "--image needs a file name");
    o->image = v;
    return true;
}

bool ApplyGiveUp(Options* o, const std::string& v, std::string* error)
{
    static const char* const kWords[kMaxGiveUpLevel + 1] = {"never", "10h", "1h", "10m", "1m"};
    for (int level = 0; level <= kMaxGiveUpLevel; ++level) {
        if (v == kWords[level]) {
            o->giveUpLevel = level;
            o->giveUpSet = true;
            return true;
        }
    }
    return Fail(error, "--give-up: expected never, 10h, 1h, 10m or 1m, got '" + v + "'");
}

bool ApplyFlagOnly(bool Options::*field, Options* o)
{
    o->*field = true;
    return true;
}

bool ApplyCycleTray(Options* o, const std::string&, std::string*) { return ApplyFlagOnly(&Options::cycleTray, o); }
bool ApplyNoCooldown(Options* o, const std::string&, std::string*) { return ApplyFlagOnly(&Options::noCooldown, o); }
bool ApplyEject(Options* o, const std::string&, std::string*) { return ApplyFlagOnly(&Options::ejectOnCompletion, o); }
bool ApplyYes(Options* o, const std::string&, std::string*) { return ApplyFlagOnly(&Options::yesToAll, o); }
bool ApplyAll(Options* o, const std::string&, std::string*) { return ApplyFlagOnly(&Options::filesAll, o); }
bool ApplyDamaged(Options* o, const std::string&, std::string*) { return ApplyFlagOnly(&Options::extractDamaged, o); }
bool ApplyJson(Options* o, const std::string&, std::string*) { return ApplyFlagOnly(&Options::json, o); }

bool ApplySystem(Options* o, const std::string& v, std::string* error)
{
    if (v != "iso" && v != "joliet" && v != "udf")
        return Fail(error, "--system: expected iso, joliet or udf, got '" + v + "'");
    o->filesSystem = v;
    return true;
}

bool ApplyPath(std::string Options::*field, const char* what, Options* o, const std::string& v, std::string* error)
{
    if (v.empty()) return Fail(error, std::string(what) + " needs a file name");
    o->*field = v;
    return true;
}

bool ApplyMapfile(Options* o, const std::string& v, std::string* e)
{
    return ApplyPath(&Options::mapfile, "--mapfile", o, v, e);
}
bool ApplyFrom(Options* o, const std::string& v, std::string* e) { return ApplyPath(&Options::fromImage, "--from", o, v, e); }
bool ApplyOutput(Options* o, const std::string& v, std::string* e) { return ApplyPath(&Options::output, "-o", o, v, e); }
bool ApplyTo(Options* o, const std::string& v, std::string* e) { return ApplyPath(&Options::extractTo, "--to", o, v, e); }

bool ApplyForceSize(Options* o, const std::string& v, std::string* error)
{
    uint64_t n;
    if (v == "drive") {
        o->force = ForceSource::Drive;
    } else if (v == "estimate") {
        o->force = ForceSource::Estimate;
    } else if (v == "filesystem") {
        o->force = ForceSource::FileSystem;
    } else if (v.compare(0, std::strlen(kFlagPrefix), kFlagPrefix) == 0) {
        o->forceFlagPath = v.substr(std::strlen(kFlagPrefix));
        if (o->forceFlagPath.empty()) return Fail(error, "--force-size flag: needs the flag file's path");
        o->force = ForceSource::Flag;
    } else if (ParseDecimal(v.c_str(), kMaxSectors, &n)) {
        o->force = ForceSource::Sectors;
        o->forceSectors = uint32_t(n);
    } else {
        return Fail(error, "--force-size: expected drive, estimate, filesystem, flag:PATH or a sector count (0..4294967295), got '" +
                               v + "'");
    }
    return true;
}

bool ApplySimClock(Options* o, const std::string& v, std::string* error)
{
    if (v != "virtual") return Fail(error, "--sim-clock: the only clock is 'virtual', got '" + v + "'");
    o->virtualClock = true;
    return true;
}

bool ApplyStrategy(Options* o, const std::string& v, std::string* error)
{
    if (v != "sweep" && v != "careful") return Fail(error, "--strategy: expected sweep or careful, got '" + v + "'");
    o->carefulOnly = v == "careful";
    return true;
}

bool ApplyAnswer(Options* o, const std::string& v, std::string* error)
{
    // Split at the last '=': a button word never holds one.
    size_t eq = v.rfind('=');
    if (eq == std::string::npos) return Fail(error, "--answer: expected 'CAPTION=BUTTON', got '" + v + "'");
    QuestionAnswer a;
    a.caption = v.substr(0, eq);
    a.answer = AnswerFromWord(v.substr(eq + 1));
    if (a.answer == kIdFailed)
        return Fail(error, "--answer: the button must be yes, no, ok or cancel, got '" + v.substr(eq + 1) + "'");
    bool known = false;
    for (const std::string& c : KnownCaptions()) known = known || c == a.caption;
    if (!known) {
        std::string list;
        for (const std::string& c : KnownCaptions()) list += (list.empty() ? "'" : ", '") + c + "'";
        return Fail(error, "--answer: no question has the caption '" + a.caption + "' (captions: " + list + ")");
    }
    for (const QuestionAnswer& other : o->answers)
        if (other.caption == a.caption) return Fail(error, "--answer: '" + a.caption + "' answered twice");
    o->answers.push_back(a);
    return true;
}

bool ApplyQuiet(Options* o, const std::string&, std::string*) { return ApplyFlagOnly(&Options::quiet, o); }
// --help and --version are read before the command is known (Tokenize).
bool ApplyNothing(Options*, const std::string&, std::string*) { return true; }

constexpr CommandSet kJsonCommands = Bit(Command::Files) | Bit(Command::Drives) | Bit(Command::Copy) | Bit(Command::Import);

// The one table of options: the parser, --help, the man page and the bash
// completion all come from it.
const OptionSpec kOptions[] = {
    {{"--sim", "", "PROFILE", "a simulated drive instead of real ones (repeatable)", "@file", true}, kSimCommands, ApplySim},
    {{"--sim-clock", "", "virtual", "simulated time: hours of rescue run in seconds (with --sim)", "virtual", false},
     kSimCommands, ApplySimClock},
    {{"--drive", "", "N", "the drive to use (default: the last one with a ready disc)", "", false},
     kDriveCommands | Bit(Command::Copy), ApplyDrive},
    {{"--log-level", "", "0..4", "log lines up to this level on standard error (default 0)", "0 1 2 3 4", false},
     kAllCommands, ApplyLogLevel},
    {{"--quiet", "-q", "", "no log lines and no status block: only results, errors and questions", "", false},
     kAllCommands, ApplyQuiet},
    {{"--dest", "", "DIR", "destination folder (default: the current folder)", "@dir", false},
     Bit(Command::Copy) | Bit(Command::Import), ApplyDest},
    {{"--image", "", "PATH", "image file, relative to --dest (default: the volume label .iso)", "@file", false},
     Bit(Command::Copy) | Bit(Command::Import) | Bit(Command::Files) | Bit(Command::Extract), ApplyImage},
    {{"--give-up", "", "never|10h|1h|10m|1m", "give up after this long without a good read (default 1h)",
      "never 10h 1h 10m 1m", false},
     Bit(Command::Copy), ApplyGiveUp},
    {{"--strategy", "", "sweep|careful",
      "sweep: read what reads and the edges of the damage first,\nthen the careful passes (default); careful: the "
      "careful passes alone",
      "sweep careful", false},
     Bit(Command::Copy), ApplyStrategy},
    {{"--cycle-tray", "", "", "let drive care open and close the tray", "", false}, Bit(Command::Copy), ApplyCycleTray},
    {{"--no-cooldown", "", "", "no long cooldown pauses", "", false}, Bit(Command::Copy), ApplyNoCooldown},
    {{"--eject", "", "", "open the tray when the copy has finished", "", false}, Bit(Command::Copy), ApplyEject},
    {{"--force-size", "", "drive|estimate|filesystem|flag:PATH|SECTORS", "force the volume size",
      "drive estimate filesystem flag:", false},
     Bit(Command::Copy), ApplyForceSize},
    {{"--answer", "", "'CAPTION=BUTTON'", "answer one question (yes, no, ok, cancel; repeatable)", "", true},
     Bit(Command::Copy), ApplyAnswer},
    {{"--yes", "", "", "answer Yes or OK to every other question", "", false}, Bit(Command::Copy), ApplyYes},
    {{"--mapfile", "", "FILE", "copy: keep FILE a ddrescue mapfile of the set; import: the map", "@file", false},
     Bit(Command::Copy) | Bit(Command::Import), ApplyMapfile},
    {{"--from", "", "IMAGE", "import: ddrescue's output file, read at the map's positions", "@file", false},
     Bit(Command::Import), ApplyFrom},
    {{"-o", "", "FILE", "mapfile: write to FILE (default: standard output)", "@file", false}, Bit(Command::Mapfile),
     ApplyOutput},
    {{"--all", "", "", "files: list every file, not only the damaged ones", "", false}, Bit(Command::Files), ApplyAll},
    {{"--json", "", "",
      "files, drives: the result as JSON; copy, import: one JSON object\nwith the result on standard output at the end",
      "", false},
     kJsonCommands, ApplyJson},
    {{"--system", "", "iso|joliet|udf", "files, extract: the tree to read (default: the best one)", "iso joliet udf",
      false},
     Bit(Command::Files) | Bit(Command::Extract), ApplySystem},
    {{"--to", "", "DIR", "extract: the folder to write the files into", "@dir", false}, Bit(Command::Extract), ApplyTo},
    {{"--damaged", "", "", "extract: write damaged files too, as NAME.damaged, their holes filled", "", false},
     Bit(Command::Extract), ApplyDamaged},
    {{"--help", "-h", "", "print this summary; after a command, that command's", "", false}, kAllCommands,
     ApplyNothing},
    {{"--version", "-V", "", "print the version", "", false}, kAllCommands, ApplyNothing},
};

bool IsHelp(const OptionSpec& def) { return std::strcmp(def.doc.name, "--help") == 0; }
bool IsVersion(const OptionSpec& def) { return std::strcmp(def.doc.name, "--version") == 0; }

// Options that may be given more than once.
bool Repeatable(const OptionSpec& def)
{
    return def.doc.repeatable;
}

const OptionSpec* FindOption(const std::string& name)
{
    for (const OptionSpec& def : kOptions)
        if (name == def.doc.name || (def.doc.shortName[0] != '\0' && name == def.doc.shortName)) return &def;
    return nullptr;
}

const CommandDoc kCommands[] = {
    {Command::Drives, "drives", "", "list the drives, marking the preselected one"},
    {Command::Estimate, "estimate", "", "estimate the last readable sector of the disc"},
    {Command::Eject, "eject", "", "open the tray of the drive"},
    {Command::Load, "load", "", "close the tray of the drive"},
    {Command::Copy, "copy", "", "rescue the disc into an image set (pause with Ctrl-C)"},
    {Command::Import, "import", "FILE.imp | --mapfile MAP --from IMAGE",
     "merge an import file, or what ddrescue rescued, into the image set in --dest"},
    {Command::Mapfile, "mapfile", "IMAGE.flg", "write the image set's map as a GNU ddrescue mapfile"},
    {Command::Demo, "demo", "[DIR]", "rescue the bundled scratched disc (simulated) into DIR"},
    {Command::Files, "files", "IMAGE.flg", "list the files that the copy lacks sectors of"},
    {Command::Extract, "extract", "IMAGE.flg --to DIR [PATH...]", "write the complete files of the volume into DIR"},
    {Command::Help, "help", "[COMMAND]", "print this summary, or a command's"},
};

Command CommandFromWord(const std::string& word)
{
    for (const CommandDoc& c : kCommands)
        if (word == c.word) return c.command;
    return Command::None;
}

// One option as written: the def and its value (split from "--name=value" or
// taken from the next argument).
struct GivenOption {
    const OptionSpec* def;
    std::string value;
};

// First pass: sort argv into options and positional words, without knowing
// the command yet (options may come before it).
bool Tokenize(int argc, const char* const* argv, std::vector<GivenOption>* given, std::vector<std::string>* words,
              bool* help, bool* version, std::string* error)
{
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) return Fail(error, "argument " + std::to_string(i) + " is missing");
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            words->push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        size_t eq = arg.find('=');
        std::string name = arg.substr(0, eq);
        const OptionSpec* def = FindOption(name);
        if (def == nullptr) return Fail(error, "unknown option '" + name + "' (see gleanor --help)");
        if (IsHelp(*def) || IsVersion(*def)) {
            *(IsHelp(*def) ? help : version) = true;
            continue;
        }
        GivenOption g{def, ""};
        if (def->doc.value[0] == '\0') {
            if (eq != std::string::npos) return Fail(error, name + " takes no value");
        } else if (eq != std::string::npos) {
            g.value = arg.substr(eq + 1);
        } else if (i + 1 < argc && argv[i + 1] != nullptr) {
            g.value = argv[++i];
        } else {
            return Fail(error, name + " needs a value");
        }
        given->push_back(g);
    }
    return true;
}

bool TakePositionals(Options* o, const std::vector<std::string>& words, std::string* error)
{
    // words[0] is the command itself.
    size_t extra = words.size() - 1;
    if (o->command == Command::Extract) {
        if (extra == 0 || words[1].empty())
            return Fail(error, "extract needs the image set (gleanor extract IMAGE.flg --to DIR [PATH...])");
        if (o->extractTo.empty()) return Fail(error, "extract needs --to DIR, the folder to write the files into");
        o->filesFlag = words[1];
        o->extractPaths.assign(words.begin() + 2, words.end());
        return true;
    }
    bool mapImport = o->command == Command::Import && !o->mapfile.empty();
    size_t allowed = (o->command == Command::Import || o->command == Command::Demo || o->command == Command::Mapfile ||
                      o->command == Command::Files) &&
                     !mapImport;
    if (extra > allowed) return Fail(error, std::string("unexpected argument '") + words[allowed + 1] + "'");
    if (o->command == Command::Import && (mapImport || !o->fromImage.empty())) {
        if (o->mapfile.empty() || o->fromImage.empty())
            return Fail(error, "import --mapfile MAP needs --from IMAGE, ddrescue's output file, and the other way round");
        return true;
    }
    if (o->command == Command::Import && !o->image.empty())
        return Fail(error, "--image is an option of 'import --mapfile' (an import file names its own image set)");
    if (o->command == Command::Mapfile) {
        if (extra == 0 || words[1].empty()) return Fail(error, "mapfile needs the flag file (gleanor mapfile IMAGE.flg)");
        o->flagFile = words[1];
    }
    if (o->command == Command::Import) {
        if (extra == 0) return Fail(error, "import needs the import file (gleanor import FILE.imp)");
        if (words[1].empty()) return Fail(error, "import: the import file's name is empty");
        o->importFile = words[1];
    }
    if (o->command == Command::Files) {
        if (extra == 0 || words[1].empty()) return Fail(error, "files needs the flag file (gleanor files IMAGE.flg)");
        o->filesFlag = words[1];
    }
    if (o->command == Command::Demo && extra == 1) {
        if (words[1].empty()) return Fail(error, "demo: the folder's name is empty");
        o->demoDir = words[1];
    }
    return true;
}

}  // namespace

bool ParseDecimal(const char* text, uint64_t max, uint64_t* value)
{
    if (text == nullptr || *text == '\0') return false;
    uint64_t n = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        unsigned digit = unsigned(*p - '0');
        if (digit > max || n > (max - digit) / 10) return false;  // n * 10 + digit would pass max
        n = n * 10 + digit;
    }
    *value = n;
    return true;
}

const std::vector<std::string>& KnownCaptions()
{
    static const std::vector<std::string> captions = {
        "Low Disk Space !",      "Failed Header Check!",  "Volumesize Modified !",
        "Unexpected Sectorsize!", "Sectornumber Mismatch !",
    };
    return captions;
}

const char* CommandName(Command command)
{
    for (const CommandDoc& c : kCommands)
        if (c.command == command) return c.word;
    return "";
}

bool ParseCommandLine(int argc, const char* const* argv, Options* options, std::string* error)
{
    *options = Options();
    error->clear();
    if (argc < 1 || argv == nullptr) return Fail(error, "no arguments");

    std::vector<GivenOption> given;
    std::vector<std::string> words;
    bool help = false, version = false;
    bool ok = Tokenize(argc, argv, &given, &words, &help, &version, error);
    if (help || version) {
        options->command = help ? Command::Help : Command::Version;
        // `gleanor copy --help`: copy's own summary.
        if (help && !words.empty()) options->helpFor = CommandFromWord(words[0]);
        error->clear();
        return true;
    }
    if (!ok) return false;
    if (words.empty()) return Fail(error, "no command given (see gleanor --help)");
    options->command = CommandFromWord(words[0]);
    if (options->command == Command::None) return Fail(error, "unknown command '" + words[0] + "' (see gleanor --help)");
    if (options->command == Command::Help) {
        if (words.size() > 1) {
            options->helpFor = CommandFromWord(words[1]);
            if (options->helpFor == Command::None) return Fail(error, "help: unknown command '" + words[1] + "'");
        }
        return true;
    }

    for (const GivenOption& g : given) {
        if (!(g.def->commands & Bit(options->command)))
            return Fail(error, std::string(g.def->doc.name) + " is not an option of '" + words[0] + "'");
        if (!Repeatable(*g.def)) {
            int count = 0;
            for (const GivenOption& other : given) count += other.def == g.def;
            if (count > 1) return Fail(error, std::string(g.def->doc.name) + " given more than once");
        }
        if (!g.def->apply(options, g.value, error)) return false;
    }
    if (options->virtualClock && options->sims.empty())
        return Fail(error, "--sim-clock virtual needs --sim (real drives keep real time)");
    return TakePositionals(options, words, error);
}

const std::vector<OptionDoc>& OptionDocs()
{
    static const std::vector<OptionDoc> docs = [] {
        std::vector<OptionDoc> v;
        for (const OptionSpec& def : kOptions) v.push_back(def.doc);
        return v;
    }();
    return docs;
}

const std::vector<CommandDoc>& CommandDocs()
{
    static const std::vector<CommandDoc> docs(std::begin(kCommands), std::end(kCommands));
    return docs;
}

bool OptionAppliesTo(const std::string& name, Command command)
{
    const OptionSpec* def = FindOption(name);
    return def != nullptr && (def->commands & Bit(command)) != 0;
}
