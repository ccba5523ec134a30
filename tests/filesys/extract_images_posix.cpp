// `gleanor extract` against the tools' own extraction: xorriso's for ISO 9660
// volumes, udfclient's for UDF; under damage through the flag file, and with
// hostile names written into a volume's Rock Ridge entries.
#include <cstring>
#include <sstream>

#include "cli/extract_command.h"
#include "filesys/extract.h"
#include "filesys/image_tools.h"

namespace {

// Folders ten deep, names of 200 bytes, an empty folder, files of many sizes
// with times of past years.
void MakeDeepTree(const std::string& root, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string deep = "deep";
    for (int i = 1; i < 10; ++i) deep += "/level " + std::to_string(i);
    const std::string dirs[] = {"DCIM/100CANON", deep, "docs/" + std::string(200, 'n'), "Übersicht"};
    for (const std::string& d : dirs) Shell("mkdir -p '" + root + d + "' '" + root + "empty/inner'");
    for (int i = 0; i < 30; ++i) {
        uint32_t size = i % 9 == 0 ? 0 : i % 5 == 0 ? 2048 * (1 + rng() % 20) : rng() % 150000;
        std::string name = root + dirs[i % 4] + "/" + (i % 7 == 0 ? std::string(180, 'L') + "_" : "file ") +
                           std::to_string(i) + ".jpg";
        std::string bytes(size, '\0');
        for (char& c : bytes) c = char(rng());
        std::ofstream(name, std::ios::binary).write(bytes.data(), std::streamsize(size));
        Shell("touch -d '@" + std::to_string(1000000000 + i * 86461) + "' '" + name + "'");
    }
}

// Every entry below `dir`: its type, and for a file its size and modification time.
std::map<std::string, std::string> TreeOf(const std::string& dir)
{
    std::map<std::string, std::string> tree;
    std::istringstream lines(Shell("cd '" + dir + "' && find . -mindepth 1 -printf '%P\\t%y %s %T@\\n'"));
    std::string line;
    while (std::getline(lines, line)) {
        size_t tab = line.find('\t');
        std::string what = line.substr(tab + 1);
        if (what[0] == 'd') what = "d";
        tree[line.substr(0, tab)] = what;
    }
    return tree;
}

std::string Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Outcome {
    int status = -1;
    std::string out;
};

Outcome Extract(const std::string& flag, const std::string& image, const std::string& to,
            std::vector<std::string> extra = {})
{
    Options o;
    o.command = Command::Extract;
    o.filesFlag = flag;
    o.image = image;
    o.extractTo = to;
    for (const std::string& e : extra) {
        if (e == "--damaged") o.extractDamaged = true;
        else if (e == "udf") o.filesSystem = e;
        else o.extractPaths.push_back(e);
    }
    CTempDir io;
    CliIo cli;
    cli.out = std::fopen(io.File("out").c_str(), "w");
    cli.err = std::fopen(io.File("err").c_str(), "w");
    Outcome r;
    r.status = RunExtract(o, cli);
    std::fclose(cli.out);
    std::fclose(cli.err);
    r.out = Bytes(io.File("out")) + Bytes(io.File("err"));
    return r;
}

// The file's bytes as a damaged extraction writes them: missing sectors filled.
std::string Filled(std::string bytes, const FileRecord& f, const std::set<uint32_t>& missing)
{
    uint64_t offset = 0;
    for (const FileExtent& e : f.extents) {
        for (uint64_t k = 0; k * kFsSectorSize < e.bytes; ++k)
            if (missing.count(uint32_t(e.lba + k)))
                for (uint64_t i = 0; i < kFsSectorSize && offset + k * kFsSectorSize + i < bytes.size(); ++i)
                    bytes[offset + k * kFsSectorSize + i] = kMissingFill[i % sizeof kMissingFill];
        offset += e.bytes;
    }
    return bytes;
}

// Damaged extraction and a later complete one, checked file by file against
// the oracle's tree `oracle` (relative paths without the leading '/').
void CheckUnderDamage(const std::string& flag, const std::string& image, const std::string& oracle, bool udf,
                      uint32_t first, uint32_t seed)
{
    uint32_t sectors = ImageSectors(image);
    std::mt19937 rng(seed);
    std::vector<std::string> system = udf ? std::vector<std::string>{"udf"} : std::vector<std::string>{};
    for (int pattern = 0; pattern < 3; ++pattern) {
        CTempDir out;
        std::string to = out.File("x");
        std::set<uint32_t> missing = {first};
        for (int r = 0; r < 4; ++r) {
            uint32_t start = first + rng() % (sectors - first), length = 1 + rng() % 40;
            for (uint32_t s = start; s < start + length && s < sectors; ++s) missing.insert(s);
        }
        WriteFlagFile(flag, sectors, missing);
        bool ok = false;
        Listing l = ListSet(flag, image, udf ? FsChoice::Udf : FsChoice::Any, &ok);
        ASSERT_TRUE(ok);
        auto damaged = DamagedOf(l);
        ASSERT_FALSE(damaged.empty());
        std::string why = "seed " + std::to_string(seed) + " pattern " + std::to_string(pattern);
        Outcome r = Extract(flag, image, to, system);
        EXPECT_EQ(r.status, 1) << r.out;
        auto oracleTree = TreeOf(oracle), tree = TreeOf(to);
        for (const FileRecord& f : l.files) {
            std::string rel = f.path.substr(1);
            if (damaged.count(f.path)) {
                EXPECT_EQ(tree.count(rel), 0u) << rel << " " << why;
                EXPECT_NE(r.out.find("left out: " + f.path + "  missing "), std::string::npos) << r.out;
                continue;
            }
            EXPECT_EQ(tree[rel], oracleTree[rel]) << rel << " " << why;
            EXPECT_EQ(Bytes(to + "/" + rel), Bytes(oracle + "/" + rel)) << rel << " " << why;
        }
        // Asked for, the damaged files come marked, their holes filled.
        r = Extract(flag, image, to, {"--damaged", system.empty() ? "/" : "udf"});
        EXPECT_EQ(r.status, 1) << r.out;
        for (const FileRecord& f : l.files) {
            if (!damaged.count(f.path)) continue;
            std::string rel = f.path.substr(1);
            EXPECT_EQ(Bytes(to + "/" + rel + ".damaged"), Filled(Bytes(oracle + "/" + rel), f, missing)) << rel;
        }
        // Every sector read at last: the next run completes the tree and keeps what it wrote.
        WriteFlagFile(flag, sectors, {});
        r = Extract(flag, image, to, system);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("extracted: " + std::to_string(damaged.size()) + " written, " +
                             std::to_string(l.files.size() - damaged.size()) + " already there, 0 left out"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(TreeOf(to), TreeOf(oracle)) << why;
    }
}

uint32_t FirstDataSector(const Listing& l)
{
    uint32_t first = UINT32_MAX;
    for (const FileRecord& f : l.files)
        for (const FileExtent& e : f.extents) first = std::min(first, e.lba);
    return first;
}

TEST(ExtractIso, EqualsXorrisosExtractionWholeAndUnderDamage)
{
    REQUIRE_TOOL("xorriso");
    CTempDir dir;
    MakeDeepTree(dir.File("tree/"), 11);
    std::string image = dir.File("v.iso"), flag = dir.File("v.flg"), oracle = dir.File("oracle");
    int status = 0;
    Shell("xorriso -as mkisofs -quiet -J -R -o '" + image + "' '" + dir.File("tree") + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    Shell("xorriso -osirrox on -indev '" + image + "' -extract / '" + oracle + "' >/dev/null 2>&1", &status);
    ASSERT_EQ(status, 0);
    WriteFlagFile(flag, ImageSectors(image), {});
    // The bare name, the .iso and the .flg name the same image set.
    Outcome r = Extract(dir.File("v"), "", dir.File("out"));
    EXPECT_EQ(r.status, 0) << r.out;
    auto tree = TreeOf(dir.File("out"));
    EXPECT_EQ(tree, TreeOf(oracle));
    EXPECT_EQ(tree.count("empty/inner"), 1u);
    EXPECT_EQ(tree.count("deep/level 1/level 2/level 3/level 4/level 5/level 6/level 7/level 8/level 9/file 1.jpg"), 1u);
    Shell("diff -r '" + oracle + "' '" + dir.File("out") + "'", &status);
    EXPECT_EQ(status, 0);
    // Named paths: only those.
    r = Extract(image, "", dir.File("part"), {"DCIM", "/docs/"});
    EXPECT_EQ(r.status, 0) << r.out;
    for (const auto& e : TreeOf(dir.File("part")))
        EXPECT_TRUE(e.first.compare(0, 4, "DCIM") == 0 || e.first.compare(0, 4, "docs") == 0) << e.first;
    EXPECT_EQ(Extract(image, "", dir.File("none"), {"/nothing"}).status, 2);

    bool ok = false;
    Listing l = ListSet(flag, image, FsChoice::Any, &ok);
    ASSERT_TRUE(ok);
    CheckUnderDamage(flag, image, oracle, false, FirstDataSector(l), uint32_t(std::random_device{}()));
}

TEST(ExtractUdf, EqualsUdfclientsExtraction)
{
    REQUIRE_TOOL("genisoimage");
    REQUIRE_TOOL("mkudffs");
    REQUIRE_TOOL("udfclient");
    CTempDir dir;
    MakeDeepTree(dir.File("tree/"), 12);
    Shell("rm -rf '" + dir.File("tree/deep") + "' '" + dir.File("tree/docs") + "'");  // udfclient's names stay short
    // Small enough for udfclient to hold in its entry.
    Shell("head -c 100 /dev/urandom >'" + dir.File("tree/DCIM/in entry.bin") + "' && touch -d @1500000000 '" +
          dir.File("tree/DCIM/in entry.bin") + "'");
    std::string mk = dir.File("m.udf"), gen = dir.File("g.iso");
    const std::string uid = "0123456789abcdef", set = uid + "LinuxUDF:GLEANOR:GLEANOR:LinuxUDF";
    int status = 0;
    Shell("truncate -s 60M '" + mk + "' && mkudffs --media-type=hd --udfrev=2.01 -b 2048 --label=GLEANOR --uuid=" + uid +
              " '" + mk + "' >/dev/null 2>&1",
          &status);
    ASSERT_EQ(status, 0);
    std::ofstream(dir.File("put.txt")) << "cd " << set << "\nlcd " << dir.File("tree")
                                       << "\nmput DCIM empty Übersicht\nsync\nquit\n";
    Shell("timeout 300 udfclient -W -b 2048 '" + mk + "' <'" + dir.File("put.txt") + "' >/dev/null 2>&1", &status);
    ASSERT_EQ(status, 0);
    Shell("genisoimage -quiet -udf -o '" + gen + "' '" + dir.File("tree") + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    for (const std::string& image : {mk, gen}) {
        // udfclient does not take genisoimage's volume: its oracle is the tree it was made of.
        std::string oracle = image == mk ? image + ".oracle" : dir.File("tree");
        std::string out = image + ".out", flag = image + ".flg";
        if (image == mk) {
            Shell("mkdir '" + oracle + "'");
            std::ofstream(dir.File("get.txt")) << "cd " << set << "\nlcd " << oracle << "\nmget DCIM empty Übersicht\nquit\n";
            Shell("timeout 300 udfclient -b 2048 '" + image + "' <'" + dir.File("get.txt") + "' >/dev/null 2>&1", &status);
            ASSERT_EQ(status, 0);
        }
        ASSERT_EQ(TreeOf(oracle).count("DCIM/100CANON"), 1u) << image;
        WriteFlagFile(flag, ImageSectors(image), {});
        Outcome r = Extract(flag, image, out, {"udf"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(TreeOf(out), TreeOf(oracle)) << image;
        Shell("diff -r '" + oracle + "' '" + out + "'", &status);
        EXPECT_EQ(status, 0) << image;
        bool ok = false;
        Listing l = ListSet(flag, image, FsChoice::Udf, &ok);
        ASSERT_TRUE(ok);
        CheckUnderDamage(flag, image, oracle, true, FirstDataSector(l), uint32_t(std::random_device{}()));
    }
}

// Rock Ridge names written over placeholders of the same length.
void RenameInImage(const std::string& image, const std::string& placeholder, const std::string& name)
{
    std::string bytes = Bytes(image);
    std::string nm = std::string("NM") + char(5 + placeholder.size()) + '\x01' + '\0' + placeholder;
    size_t at = bytes.find(nm);
    ASSERT_NE(at, std::string::npos) << placeholder;
    bytes.replace(at + 5, name.size(), name);
    std::ofstream(image, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(ExtractNames, HostileNamesStayInsideTheFolder)
{
    REQUIRE_TOOL("xorriso");
    CTempDir dir;
    Shell("mkdir -p '" + dir.File("tree/sub") + "' && cd '" + dir.File("tree") +
          "' && echo 1 > QQQQQQQ && echo 2 > sub/RRR && echo 3 > sub/SSS && echo 4 > sub/TT && echo 5 > sub/tt");
    std::string image = dir.File("h.iso"), flag = dir.File("h.flg");
    int status = 0;
    Shell("xorriso -as mkisofs -quiet -R -o '" + image + "' '" + dir.File("tree") + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    RenameInImage(image, "QQQQQQQ", "../../x");
    RenameInImage(image, "RRR", "a/b");
    RenameInImage(image, "SSS", std::string("n\0l", 3));
    RenameInImage(image, "TT", "..");
    WriteFlagFile(flag, ImageSectors(image), {});
    std::string to = dir.File("a/b/out");
    Outcome r = Extract(flag, image, to);
    EXPECT_EQ(r.status, 0) << r.out;
    // Nothing beside the folder; inside, every file once, the NUL replaced and said.
    auto all = TreeOf(dir.Path());
    for (const auto& e : all)
        EXPECT_TRUE(e.first.compare(0, 5, "tree/") == 0 || e.first.compare(0, 4, "h.is") == 0 ||
                    e.first.compare(0, 4, "h.fl") == 0 || e.first.compare(0, 8, "a/b/out/") == 0 ||
                    e.first == "tree" || e.first == "a" || e.first == "a/b" || e.first == "a/b/out")
            << e.first;
    auto tree = TreeOf(to);
    size_t files = 0;
    for (const auto& e : tree) files += e.second[0] == 'f';
    EXPECT_EQ(files, 5u);
    EXPECT_EQ(tree.count("sub/n_l"), 1u);
    EXPECT_NE(r.out.find("renamed: /sub/n?l  written as /sub/n_l (the name cannot be stored here)"), std::string::npos)
        << r.out;
    EXPECT_EQ(tree.count("sub/tt"), 1u);
    // Names the reader itself replaces are said too.
    for (const char* said : {"note: the name \"../../x\" in / cannot be a file name: listed as (record ",
                             "note: the name \"a/b\" in /sub cannot be a file name: listed as (record ",
                             "note: the name \"..\" in /sub cannot be a file name: listed as (record "})
        EXPECT_NE(r.out.find(said), std::string::npos) << said << "\n" << r.out;

    EXPECT_EQ(SafeName(".."), "__");
    EXPECT_EQ(SafeName(std::string(300, 'x') + "\xC3\xBC").size(), 255u);
    EXPECT_EQ(SafeName(std::string(254, 'x') + "\xC3\xBC").size(), 254u);
}

}  // namespace
