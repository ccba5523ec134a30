// What a newcomer meets first: README's examples end, the help and the docs
// hold every option, failures say which file and why, and the JSON outputs
// parse with a real parser.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/image_set_name.h"
#include "cli/options.h"
#include "cli/text.h"
#include "process.h"
#include "support/fakes.h"

namespace fs = std::filesystem;

namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ChildRun Gleanor(const std::vector<std::string>& args, const ChildControl& control = ChildControl())
{
    return RunChild(GleanorPath(), args, control);
}

// python3's json module reads `text` and prints what `expr` gives of it
// (the parsed value is `v`); the status is not 0 when it does not parse.
ChildRun PythonJson(const std::string& text, const std::string& expr, const CTempDir& dir)
{
    std::string file = dir.File("out.json");
    std::ofstream(file, std::ios::binary) << text;
    return RunChild("/usr/bin/python3",
                    {"-c", "import json,sys\nv = json.load(open(sys.argv[1], encoding='utf-8'))\nprint(" + expr + ")",
                     file});
}

// The command lines of the first ``` block after `heading` in a document of
// the tree: those that start with `prefix`, without it and their comments.
std::vector<std::string> ExampleLines(const std::string& doc, const std::string& heading, const std::string& prefix)
{
    std::string text = ReadText(SourceDir() + "/" + doc);
    size_t block = text.find("```", text.find(heading));
    size_t body = text.find('\n', block) + 1;
    std::vector<std::string> lines;
    std::istringstream in(text.substr(body, text.find("```", body) - body));
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size(), line.find('#') - prefix.size()));
    return lines;
}

// Shell words: blanks split them, '...' quotes.
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::string w;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '\'') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) words.push_back(w);
            w.clear();
            any = false;
        } else {
            w += c;
            any = true;
        }
    }
    if (any) words.push_back(w);
    return words;
}

// The example's folders (/tmp/rescue, /srv/files, ...) as folders of `dir`
// ("DIR/tmp-rescue"), so that the examples write nothing outside the test's.
std::string MovedInto(std::string line, const std::string& dir)
{
    for (const char* top : {"tmp", "srv", "media"})
        for (const char* sub : {"rescue", "stick", "files"}) {
            std::string from = std::string("/") + top + "/" + sub, to = dir + top + "-" + sub;
            for (size_t at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size()))
                line.replace(at, from.size(), to);
        }
    return line;
}

bool HasSgDevices()
{
    for (const auto& e : fs::directory_iterator("/dev"))
        if (e.path().filename().string().rfind("sg", 0) == 0) return true;
    return false;
}

}  // namespace

// Every example of README's "Try it" and of docs/cli.md runs as written, with
// its folders moved into a temporary one, and ends: the simulated lines with
// their statuses, the real-drive lines, on a machine without drives, with a
// message and status 1 (2 for files and extract, whose set the real copy
// never made).
TEST(FrontDoor, EveryExampleEnds)
{
    CTempDir dir;
    std::vector<std::string> readme = ExampleLines("README.md", "## Try it", "$g ");
    std::vector<std::string> docs = ExampleLines("docs/cli.md", "## Examples", "gleanor ");
    ASSERT_GE(readme.size(), 7u) << "README's Try it block changed shape";
    ASSERT_GE(docs.size(), 10u) << "docs/cli.md's examples changed shape";
    std::vector<std::string> lines = readme;
    lines.insert(lines.end(), docs.begin(), docs.end());
    bool real = HasSgDevices();
    int simulated = 0;
    for (const std::string& line : lines) {
        std::string moved = MovedInto(line, dir.Path());
        std::vector<std::string> args = Words(moved);
        ChildControl c;
        c.limit = std::chrono::seconds(600);
        c.workDir = SourceDir();
        ChildRun r = Gleanor(args, c);
        ASSERT_FALSE(r.timedOut) << line << " did not end within 10 minutes";
        if (Has(line, "--sim") || args[0] == "demo") {
            ++simulated;
            // A copy of the scratched disc gives up (7) on its zones that never read.
            EXPECT_EQ(args[0] == "copy" ? 7 : 0, r.status) << line << "\n" << r.err;
        } else if ((args[0] == "files" || args[0] == "extract") && fs::exists(args[1])) {
            // The set an earlier simulated copy made: some of its files are damaged.
            EXPECT_EQ(1, r.status) << line << "\n" << r.err;
        } else if (!real) {
            EXPECT_EQ(args[0] == "files" || args[0] == "extract" ? 2 : 1, r.status) << line << "\n" << r.err;
            EXPECT_TRUE(Has(r.err, "gleanor: ") || Has(r.err, "No drives detected.")) << line << "\n" << r.err;
            // No drive, no copy: the destination is not made.
            EXPECT_FALSE(fs::exists(dir.File("srv-rescue"))) << line;
        }
    }
    EXPECT_EQ(8, simulated);
}

// `gleanor COMMAND --help` lists that command's options; docs/cli.md names
// every command and option, so neither can fall behind the parser.
TEST(FrontDoor, HelpAndDocsHoldEveryOption)
{
    std::string copy = UsageText(Command::Copy), files = UsageText(Command::Files), all = UsageText();
    EXPECT_TRUE(Has(copy, "--give-up") && !Has(copy, "--system")) << copy;
    EXPECT_TRUE(Has(files, "--system") && !Has(files, "--give-up")) << files;
    EXPECT_TRUE(Has(files, "2 the file system cannot be read")) << files;
    std::string docs = ReadText(SourceDir() + "/docs/cli.md");
    for (const OptionDoc& d : OptionDocs()) {
        EXPECT_TRUE(Has(all, std::string(d.name) + " ") || Has(all, std::string(d.name) + "\n")) << d.name;
        EXPECT_TRUE(Has(docs, std::string("`") + d.name)) << d.name << " is not in docs/cli.md";
    }
    for (const CommandDoc& c : CommandDocs()) EXPECT_TRUE(Has(docs, std::string("`") + c.word)) << c.word;

    ChildRun help = Gleanor({"copy", "--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(copy, help.out);
    ChildRun version = Gleanor({"-V"});
    EXPECT_TRUE(Has(version.out, "gleanor ")) << version.out;
}

TEST(FrontDoor, AnyNameOfAnImageSet)
{
    for (const char* name : {"dir/X.flg", "dir/X.iso", "dir/X.IMP", "dir/X"}) {
        ImageSetNames set = ImageSetFromName(name);
        EXPECT_EQ("dir/X.flg", set.flag) << name;
        EXPECT_EQ("dir/X.iso", set.image) << name;
    }
    // A dot inside a bare name is not an ending.
    EXPECT_EQ("disc.v1.flg", ImageSetFromName("disc.v1").flag);
}

// Names from a disc are bytes: what is not UTF-8 is escaped, what is stays.
TEST(FrontDoor, JsonStringsParseWhateverTheBytes)
{
    CTempDir dir;
    const std::vector<std::string> names = {
        "caf\xe9.txt",          // Latin-1
        "\xc3\xa9t\xc3\xa9",    // UTF-8 "été"
        "\xe2\x82\xac \xf0\x9f\x92\xbf",  // euro sign, a four-byte character
        "\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80",  // overlong, surrogate, above U+10FFFF
        "tab\tquote\"back\\slash\x7f", "cut\xe2\x82",
    };
    std::string json = "[";
    for (const std::string& n : names) json += (json.size() > 1 ? ", " : "") + JsonString(n);
    json += "]";
    ChildRun r = PythonJson(json, "'|'.join(s.encode('unicode_escape').decode() for s in v)", dir);
    ASSERT_EQ(0, r.status) << json << r.err;
    EXPECT_EQ("caf\\xe9.txt|\\xe9t\\xe9|\\u20ac \\U0001f4bf|\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80|"
              "tab\\tquote\"back\\\\slash\\x7f|cut\\xe2\\x82\n",
              r.out);
}

// A set that another gleanor holds, and a file the system will not open:
// the path and the reason come before the outcome line.
TEST(FrontDoor, OpenFailuresNameTheFileAndTheReason)
{
    CTempDir dir;
    std::string sim = dir.File("d.sim");
    std::ofstream(sim) << "sectors 2000\nlabel HELD\n";
    ASSERT_EQ(0, Gleanor({"copy", "--sim", sim, "--sim-clock", "virtual", "--dest", dir.Path(), "-q"}).status);
    // Held as a running gleanor holds them: both files locked.
    int flg = open(dir.File("HELD.flg").c_str(), O_RDWR), iso = open(dir.File("HELD.iso").c_str(), O_RDWR);
    ASSERT_TRUE(flg >= 0 && iso >= 0);
    ASSERT_EQ(0, flock(flg, LOCK_EX | LOCK_NB));
    ASSERT_EQ(0, flock(iso, LOCK_EX | LOCK_NB));
    ChildRun held = Gleanor({"copy", "--sim", sim, "--sim-clock", "virtual", "--dest", dir.Path()});
    // Quiet hides the log, not the reason.
    ChildRun quiet = Gleanor({"copy", "-q", "--sim", sim, "--sim-clock", "virtual", "--dest", dir.Path()});
    close(flg);
    close(iso);
    std::string reason = dir.File("HELD.flg") + ": in use by another gleanor\n" + dir.File("HELD.iso") +
                         ": in use by another gleanor\nExit 0x2: FOpen *.Iso\n";
    EXPECT_EQ(2, held.status);
    EXPECT_TRUE(Has(held.err, reason)) << held.err;
    EXPECT_EQ(reason, quiet.err);

    fs::remove(dir.File("HELD.iso"));
    fs::create_directory(dir.File("HELD.iso"));  // no program can open a folder for writing
    ChildRun folder = Gleanor({"copy", "--sim", sim, "--sim-clock", "virtual", "--dest", dir.Path()});
    EXPECT_EQ(2, folder.status);
    EXPECT_TRUE(Has(folder.err, dir.File("HELD.iso") + ": Is a directory\nExit 0x2: FOpen *.Iso")) << folder.err;

    // A map whose folder does not exist is refused before anything is made.
    ChildRun map = Gleanor({"copy", "--sim", sim, "--dest", dir.File("new"), "--mapfile", dir.File("gone/m.map")});
    EXPECT_EQ(64, map.status);
    EXPECT_TRUE(Has(map.err, "does not exist")) << map.err;
    EXPECT_FALSE(fs::exists(dir.File("new")));
}

// The results for scripts: drives, and the one object a copy ends with,
// read by a real JSON parser; -q leaves standard error empty.
TEST(FrontDoor, JsonResultsForScripts)
{
    CTempDir dir;
    std::string sim = dir.File("d.sim");
    std::ofstream(sim) << "sectors 3000\nlabel JSONDISC\nbad 100-131\nerror_ms 10\n";
    ChildRun drives = Gleanor({"drives", "--json", "-q", "--sim", sim});
    ASSERT_EQ(0, drives.status);
    EXPECT_EQ("", drives.err);
    ChildRun d = PythonJson(drives.out, "v[0]['label'], v[0]['ready'], v[0]['preselected']", dir);
    EXPECT_EQ("JSONDISC True True\n", d.out) << drives.out << d.err;

    ChildRun copy = Gleanor({"copy", "--json", "-q", "--sim", sim, "--sim-clock", "virtual", "--give-up", "1m",
                             "--dest", dir.Path()});
    EXPECT_EQ(7, copy.status);
    EXPECT_EQ("", copy.err);
    ChildRun c = PythonJson(copy.out, "v['outcome'], v['outcome_text'], v['sectors'], v['read'], v['missing']", dir);
    EXPECT_EQ("7 Give Up 2999 2967 32\n", c.out) << copy.out << c.err;
    // The same set named by its image, for files and mapfile alike.
    EXPECT_EQ(Gleanor({"mapfile", dir.File("JSONDISC.flg")}).out, Gleanor({"mapfile", dir.File("JSONDISC.iso")}).out);
    EXPECT_EQ(Gleanor({"files", dir.File("JSONDISC.flg")}).err, Gleanor({"files", dir.File("JSONDISC")}).err);
}

// A Latin-1 Rock Ridge name, rescued and listed: `files --json` still parses,
// the byte coming back as U+00E9.
TEST(FrontDoor, FilesJsonParsesWithALatin1Name)
{
    if (!fs::exists("/usr/bin/xorriso")) GTEST_SKIP() << "xorriso is not installed";
    CTempDir dir;
    fs::create_directories(dir.File("src"));
    std::ofstream(dir.File("src/caf\xe9.txt")) << "bytes";
    ChildControl quiet;
    quiet.env = {"LC_ALL=C"};  // names go in byte for byte
    ChildRun iso = RunChild("/usr/bin/xorriso", {"-as", "mkisofs", "-R", "-V", "LATIN", "-o", dir.File("x.iso"),
                                                 dir.File("src")}, quiet);
    ASSERT_EQ(0, iso.status) << iso.err;
    std::ofstream(dir.File("x.sim")) << "image x.iso\nlabel LATIN\n";
    ASSERT_EQ(0, Gleanor({"copy", "-q", "--sim", dir.File("x.sim"), "--sim-clock", "virtual", "--dest",
                          dir.File("out")}).status);
    ChildRun files = Gleanor({"files", dir.File("out/LATIN"), "--json", "--all"});
    EXPECT_EQ(0, files.status) << files.err;
    ChildRun names = PythonJson(files.out, "[f['path'] for f in v['files']] == ['/caf\\u00e9.txt']", dir);
    EXPECT_EQ("True\n", names.out) << files.out << names.err;
}
