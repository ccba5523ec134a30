// The command line of `gleanor`: commands, options and their strict parsing.
//
// The parser only turns argv into an Options record; it touches no drive, no
// file and no global. It never crashes on any argv and names the first thing
// that is wrong, so the caller can exit with the usage status.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class Command { None, Help, Version, Drives, Estimate, Eject, Load, Copy, Import, Demo, Mapfile, Files, Extract };

// The command line gives up after an hour without a good read unless --give-up
// says otherwise: a rescue started from a script or a shell must end. (The
// dialog program keeps its own setting.)
constexpr int kCliDefaultGiveUpLevel = 2;  // 1h

// The four sources of a forced volume size, as the Force Volume Size dialog lists them.
enum class ForceSource { None, Drive, Estimate, Flag, Sectors, FileSystem };

struct QuestionAnswer {
    std::string caption;  // one of KnownCaptions()
    int answer = 0;       // kIdYes, kIdNo, kIdOk or kIdCancel
};

struct Options {
    Command command = Command::None;
    std::vector<std::string> sims;   // --sim PROFILE, one simulated device each
    int drive = -1;                  // --drive N; -1: the preselected drive
    int logLevel = 0;                // --log-level 0..4
    bool logLevelSet = false;
    std::string dest;                // --dest DIR
    bool destSet = false;
    std::string image;               // --image PATH
    int giveUpLevel = kCliDefaultGiveUpLevel;  // --give-up, as giveUpLevel 0..4
    bool giveUpSet = false;
    bool cycleTray = false;          // --cycle-tray
    bool noCooldown = false;         // --no-cooldown
    bool ejectOnCompletion = false;  // --eject
    bool carefulOnly = false;        // --strategy careful: the careful passes alone, no sweep first
    ForceSource force = ForceSource::None;
    std::string forceFlagPath;       // --force-size flag:PATH
    uint32_t forceSectors = 0;       // --force-size SECTORS
    bool virtualClock = false;       // --sim-clock virtual
    std::vector<QuestionAnswer> answers;  // --answer 'CAPTION=BUTTON'
    bool yesToAll = false;           // --yes
    std::string importFile;          // import FILE.imp
    std::string mapfile;             // --mapfile MAP: copy writes it, import reads it
    std::string fromImage;           // --from IMAGE: ddrescue's output file
    std::string flagFile;            // mapfile IMAGE.flg
    std::string output;              // -o FILE ("": standard output)
    std::string demoDir;             // demo [DIR]
    std::string filesFlag;           // files FILE.flg
    bool filesAll = false;           // --all
    bool json = false;               // --json: files, drives, and copy's and import's result
    std::string filesSystem;         // --system iso|joliet|udf ("": the best tree)
    std::vector<std::string> extractPaths;  // extract IMAGE [PATH...]: files and folders of the volume
    std::string extractTo;           // --to DIR
    bool extractDamaged = false;     // --damaged
    bool quiet = false;              // -q, --quiet: no log lines, no status block
    Command helpFor = Command::None; // COMMAND --help, help COMMAND
};

// Exit statuses of the program besides a copy's own outcome code (0..12).
constexpr int kExitDone = 0;
constexpr int kExitCouldNot = 1;
constexpr int kExitUsage = 64;
constexpr int kExitInterrupted = 130;

constexpr int kMaxLogLevel = 4;
constexpr int kMaxGiveUpLevel = 4;

// True when argv made sense (Help included); otherwise *error says what is
// wrong. argv[0] is the program's name; null entries are refused, not read.
bool ParseCommandLine(int argc, const char* const* argv, Options* options, std::string* error);

// Strict decimal: digits only, at least one, no sign or blank, not above max.
bool ParseDecimal(const char* text, uint64_t max, uint64_t* value);

// The captions of the engine's questions, which --answer may name.
const std::vector<std::string>& KnownCaptions();

const char* CommandName(Command command);
// The text of --help; for a command, its own usage and options.
std::string UsageText(Command command = Command::None);

// The tables behind the parser, for help texts, the man page and completion.
struct OptionDoc {
    const char* name;        // "--dest"
    const char* shortName;   // "-q", or ""
    const char* value;       // "DIR", "never|10h|1h|10m|1m", or "" for a switch
    const char* help;        // one line or more, '\n' between them
    const char* completion;  // "@file", "@dir", words to offer, or ""
    bool repeatable;
};
struct CommandDoc {
    Command command;
    const char* word;     // "copy"
    const char* args;     // "FILE.imp", or ""
    const char* summary;  // one line
};
const std::vector<OptionDoc>& OptionDocs();
const std::vector<CommandDoc>& CommandDocs();
// Whether the option (by its long name) is one of the command's.
bool OptionAppliesTo(const std::string& name, Command command);
