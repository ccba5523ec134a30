// The compiled dialog resources against the dialogs' tables: every dialog's
// size, title, font and style, and every control's ID, class, text, position
// and key styles. Reads the .res that windres makes from the program's .rc.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

// Window style bits used below (the Win32 values).
constexpr uint32_t kWsPopup = 0x80000000, kWsCaption = 0x00C00000, kWsSysMenu = 0x00080000,
                   kWsMinimizeBox = 0x00020000, kWsThickFrame = 0x00040000, kWsDisabled = 0x08000000,
                   kWsVScroll = 0x00200000, kWsBorder = 0x00800000, kDsModalFrame = 0x80, kDsSetFont = 0x40,
                   kWsExAppWindow = 0x00040000;
constexpr uint32_t kBsDefPushButton = 1, kBsAutoCheckBox = 3, kBsGroupBox = 7, kBsTypeMask = 0xF;
constexpr uint32_t kSsCenter = 1, kSsIcon = 3, kSsLeftNoWordWrap = 0xC, kSsEtchedFrame = 0x12,
                   kSsNoPrefix = 0x80, kSsTypeMask = 0x1F;
constexpr uint32_t kCbsDropDownList = 3, kCbsSort = 0x100;
constexpr uint32_t kLbsNotify = 1, kLbsSort = 2, kLbsNoIntegralHeight = 0x100, kLbsNoSel = 0x4000;
constexpr uint32_t kEsRight = 2, kEsNumber = 0x2000;
constexpr uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kListBox = 0x83, kComboBox = 0x85;
constexpr uint16_t kRtDialog = 5;
constexpr int kNoId = 0xFFFF;

struct Item {
    uint32_t style = 0;
    int id = 0;
    uint16_t cls = 0;
    std::string text;
    int x = 0, y = 0, cx = 0, cy = 0;
};

struct Dialog {
    uint32_t style = 0, exStyle = 0;
    int cx = 0, cy = 0;
    std::string title, font;
    int pointSize = 0;
    std::vector<Item> items;
};

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    uint16_t U16()
    {
        if (!Ok(2)) return 0;
        uint16_t v = uint16_t(p_[pos_] | p_[pos_ + 1] << 8);
        pos_ += 2;
        return v;
    }
    uint32_t U32() { return uint32_t(U16()) | uint32_t(U16()) << 16; }
    std::string WideString()
    {
        std::string s;
        for (uint16_t c; (c = U16()) != 0;) s += char(c);
        return s;
    }
    // A name or an ordinal: 0xFFFF then a number, else a string.
    std::string NameOrOrdinal(uint16_t* ordinal)
    {
        *ordinal = 0;
        if (Ok(2) && p_[pos_] == 0xFF && p_[pos_ + 1] == 0xFF) {
            U16();
            *ordinal = U16();
            return "";
        }
        return WideString();
    }
    void Align4() { pos_ = (pos_ + 3) & ~size_t(3); }
    size_t pos_ = 0;
    bool failed = false;

private:
    bool Ok(size_t k)
    {
        if (pos_ + k <= n_) return true;
        failed = true;
        return false;
    }
    const uint8_t* p_;
    size_t n_;
};

// A control class given by name ("ListBox" in a CONTROL statement) as its ordinal.
uint16_t ClassOrdinal(std::string name)
{
    for (char& c : name) c = char(std::tolower((unsigned char)c));
    static const std::map<std::string, uint16_t> ordinals = {
        {"button", kButton}, {"edit", kEdit}, {"static", kStatic}, {"listbox", kListBox}, {"combobox", kComboBox}};
    auto it = ordinals.find(name);
    return it == ordinals.end() ? 0 : it->second;
}

Dialog ParseDialogEx(const uint8_t* data, size_t size)
{
    Reader r(data, size);
    Dialog d;
    EXPECT_EQ(1, r.U16());       // dlgVer
    EXPECT_EQ(0xFFFF, r.U16());  // signature of the extended template
    r.U32();                     // helpID
    d.exStyle = r.U32();
    d.style = r.U32();
    int count = r.U16();
    r.U16(), r.U16();
    d.cx = int16_t(r.U16());
    d.cy = int16_t(r.U16());
    uint16_t ord;
    r.NameOrOrdinal(&ord);  // menu
    r.NameOrOrdinal(&ord);  // class
    d.title = r.WideString();
    if (d.style & kDsSetFont) {
        d.pointSize = r.U16();
        r.U16();
        r.U16();  // italic, charset
        d.font = r.WideString();
    }
    for (int i = 0; i < count && !r.failed; ++i) {
        r.Align4();
        Item it;
        r.U32();  // helpID
        r.U32();  // exStyle
        it.style = r.U32();
        it.x = int16_t(r.U16());
        it.y = int16_t(r.U16());
        it.cx = int16_t(r.U16());
        it.cy = int16_t(r.U16());
        it.id = int(r.U32() & 0xFFFF);
        std::string className = r.NameOrOrdinal(&it.cls);
        if (!it.cls) it.cls = ClassOrdinal(className);
        uint16_t textOrdinal;
        it.text = r.NameOrOrdinal(&textOrdinal);
        if (textOrdinal) it.text = std::string("#").append(std::to_string(textOrdinal));
        uint16_t extra = r.U16();
        r.pos_ += extra;
        d.items.push_back(it);
    }
    EXPECT_FALSE(r.failed);
    return d;
}

// All RT_DIALOG resources of a .res file, by number.
std::map<int, Dialog> LoadDialogs(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    std::map<int, Dialog> dialogs;
    size_t pos = 0;
    while (pos + 8 <= file.size()) {
        Reader r(file.data() + pos, file.size() - pos);
        uint32_t dataSize = r.U32(), headerSize = r.U32();
        uint16_t type, name;
        r.NameOrOrdinal(&type);
        r.NameOrOrdinal(&name);
        if (type == kRtDialog && pos + headerSize + dataSize <= file.size())
            dialogs[name] = ParseDialogEx(file.data() + pos + headerSize, dataSize);
        pos += (headerSize + dataSize + 3) & ~size_t(3);
    }
    return dialogs;
}

struct Want {
    int id;
    uint16_t cls;
    const char* text;
    int x, y, cx, cy;
    uint32_t styleBits;          // must be set
    uint32_t typeValue = ~0u;    // button or static type, when given
    uint32_t absentBits = 0;     // must be clear
};

void ExpectItems(const Dialog& d, const std::vector<Want>& wants)
{
    ASSERT_EQ(wants.size(), d.items.size());
    for (size_t i = 0; i < wants.size(); ++i) {
        const Want& w = wants[i];
        const Item& it = d.items[i];
        SCOPED_TRACE("item " + std::to_string(i) + " \"" + w.text + "\" id " + std::to_string(w.id));
        EXPECT_EQ(w.id, it.id);
        EXPECT_EQ(w.cls, it.cls);
        EXPECT_EQ(w.text, it.text);
        EXPECT_EQ(w.x, it.x);
        EXPECT_EQ(w.y, it.y);
        EXPECT_EQ(w.cx, it.cx);
        EXPECT_EQ(w.cy, it.cy);
        EXPECT_EQ(w.styleBits, it.style & w.styleBits);
        EXPECT_EQ(0u, it.style & w.absentBits);
        if (w.typeValue != ~0u) {
            uint32_t mask = w.cls == kStatic ? kSsTypeMask : kBsTypeMask;
            EXPECT_EQ(w.typeValue, it.style & mask);
        }
    }
}

class Resources : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifndef GLEANOR_RES_FILE
        GTEST_SKIP() << "no resource compiler in this build";
#else
        dialogs = LoadDialogs(GLEANOR_RES_FILE);
        ASSERT_EQ(4u, dialogs.size());
#endif
    }
    void ExpectFrame(const Dialog& d, int cx, int cy, const char* title)
    {
        EXPECT_EQ(cx, d.cx);
        EXPECT_EQ(cy, d.cy);
        EXPECT_EQ(title, d.title);
        EXPECT_EQ("MS Sans Serif", d.font);
        EXPECT_EQ(8, d.pointSize);
        uint32_t frame = kDsModalFrame | kWsCaption | kWsSysMenu;
        EXPECT_EQ(frame, d.style & frame);
        EXPECT_EQ(0u, d.style & kWsThickFrame);  // not resizable
    }
    std::map<int, Dialog> dialogs;
};

TEST_F(Resources, MainDialog)
{
    const Dialog& d = dialogs[102];
    ExpectFrame(d, 308, 222, "Gleanor 1.6");
    EXPECT_EQ(kWsPopup | kWsMinimizeBox, d.style & (kWsPopup | kWsMinimizeBox));
    EXPECT_EQ(kWsExAppWindow, d.exStyle & kWsExAppWindow);
    const uint32_t off = kWsDisabled;
    ExpectItems(d, {
        {1030, kButton, "Source", 8, 5, 192, 49, 0, kBsGroupBox},
        {1006, kComboBox, "", 18, 18, 174, 80, kCbsDropDownList, ~0u, kCbsSort},
        {1012, kButton, "Ld", 18, 33, 15, 14, 0, 0, off},
        {1013, kButton, "Ej", 33, 33, 15, 14, 0, 0, off},
        {1055, kButton, "Force Size", 61, 33, 40, 14, off, 0},
        {1001, kButton, "Import File", 152, 33, 40, 14, 0, 0, off},
        {1031, kButton, "Destination", 8, 57, 192, 30, 0, kBsGroupBox},
        {1033, kStatic, "", 14, 69, 137, 10, 0, kSsLeftNoWordWrap},
        {1021, kButton, "Change", 152, 67, 40, 14, 0, 0, off},
        {1017, kButton, "Start", 17, 95, 40, 14, off, 0},
        {1015, kButton, "Pause", 61, 95, 40, 14, off, 0},
        {1, kButton, "Exit", 152, 94, 40, 14, 0, kBsDefPushButton, off},
        {1046, kStatic, "", 8, 114, 192, 10, 0, kSsEtchedFrame},
        {1016, kListBox, "", 8, 129, 192, 85, kWsVScroll | kWsBorder | kLbsNoIntegralHeight | kLbsNoSel | kLbsNotify,
         ~0u, kLbsSort},
        {kNoId, kButton, "Progress", 208, 5, 92, 85, 0, kBsGroupBox},
        {1020, kStatic, "Sectors:", 214, 14, 77, 8, 0},
        {1022, kStatic, "Current:", 214, 23, 77, 8, 0},
        {1023, kStatic, "Read:", 214, 32, 77, 8, 0},
        {1024, kStatic, "Missing:", 214, 41, 77, 8, 0},
        {1025, kStatic, "K/Sec:", 214, 50, 77, 8, 0},
        {1027, kStatic, "Errors:", 214, 59, 77, 8, 0},
        {1028, kStatic, "Failure:", 214, 68, 77, 8, 0},
        {1029, kStatic, "Total:", 214, 77, 77, 8, 0},
        {kNoId, kButton, "Log Window", 208, 93, 92, 30, 0, kBsGroupBox},
        {1037, kButton, "+", 216, 103, 8, 8, 0},
        {1038, kButton, "-", 216, 111, 8, 8, 0},
        {1036, kStatic, "Normal", 228, 107, 26, 10, 0},
        {1000, kButton, "Clear", 258, 105, 31, 12, 0},
        {kNoId, kButton, "On Permanent Failure", 208, 127, 92, 51, 0, kBsGroupBox},
        {1053, kButton, "Cycle Tray", 216, 136, 72, 10, 0, kBsAutoCheckBox},
        {1054, kButton, "Allow Cooldown", 216, 147, 72, 10, 0, kBsAutoCheckBox},
        {1040, kButton, "+", 216, 158, 8, 8, 0},
        {1041, kButton, "-", 216, 166, 8, 8, 0},
        {1039, kStatic, "Never Give Up", 228, 162, 63, 10, 0, kSsLeftNoWordWrap},
        {kNoId, kButton, "On Completion", 208, 181, 92, 33, 0, kBsGroupBox},
        {1051, kButton, "Eject", 216, 191, 62, 8, 0, kBsAutoCheckBox},
        {1019, kButton, "Shutdown", 216, 201, 45, 10, 0, kBsAutoCheckBox},
    });
}

TEST_F(Resources, AboutDialog)
{
    const Dialog& d = dialogs[100];
    ExpectFrame(d, 210, 116, "About Gleanor");
    ExpectItems(d, {
        {kNoId, kStatic, "#128", 13, 12, 20, 20, 0, kSsIcon},
        {kNoId, kStatic, "Gleanor Version 1.6", 40, 10, 134, 8, kSsNoPrefix, kSsCenter},
        {1017, kButton, "View ReadMe.txt", 36, 40, 138, 11, 0},
        {1053, kButton, "Visit my homepage", 36, 55, 138, 11, 0},
        {1052, kButton, "Send Email: gleanor@example.org", 36, 70, 138, 11, 0},
        {1, kButton, "OK", 36, 85, 138, 11, 0, kBsDefPushButton},
    });
    EXPECT_EQ("#128", d.items[0].text);
}

TEST_F(Resources, ReadMeDialog)
{
    const Dialog& d = dialogs[131];
    ExpectFrame(d, 308, 222, "Gleanor ReadMe");
    ExpectItems(d, {
        {1045, kListBox, "", 7, 7, 294, 191, kWsVScroll | kWsBorder | kLbsNoIntegralHeight, ~0u, kLbsSort},
        {1, kButton, "OK", 130, 201, 50, 14, 0, kBsDefPushButton},
    });
}

TEST_F(Resources, ForceSizeDialog)
{
    const Dialog& d = dialogs[135];
    ExpectFrame(d, 146, 95, "Force Volume Size");
    ExpectItems(d, {
        {1, kButton, "OK", 76, 74, 50, 14, 0, kBsDefPushButton},
        {2, kButton, "Cancel", 20, 74, 50, 14, 0, 0},
        {1054, kComboBox, "", 20, 21, 106, 102, kCbsDropDownList, ~0u, kCbsSort},
        {1056, kEdit, "", 20, 50, 36, 12, kEsNumber | kEsRight | kWsDisabled},
        {1057, kEdit, "", 88, 50, 24, 12, kEsNumber | kEsRight | kWsDisabled},
        {kNoId, kStatic, "Sectors =", 56, 50, 30, 12, 0, kSsCenter},
        {kNoId, kStatic, "MB", 112, 50, 13, 12, 0, kSsCenter},
        {1058, kStatic, "Static", 20, 36, 106, 12, 0},
        {kNoId, kStatic, "! Warning - Do not change !", 20, 4, 106, 12, 0, kSsCenter},
    });
}

}  // namespace
