// robot.exe: operates another program's dialogs from outside, from a script of
// one command a line, and fails at the first expectation not met.
//
//   robot.exe SCRIPT
//
// Every command acts on the "current" window (set by `main` or `use`) and
// names controls by their dialog IDs. Waits take milliseconds. Quoted
// arguments may hold spaces. The exit code is 0 when every line passed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "robot_windows.h"

namespace {

constexpr DWORD kDefaultWaitMs = 10000;
constexpr size_t kMaxArgs = 6;
// A click is posted, so what it changes shows a moment later: expectations
// about a control's state are met when they hold within this time.
constexpr DWORD kSettleMs = 2000;
constexpr DWORD kPollMs = 50;
constexpr int kLogListId = 1016;
constexpr int kMessageTextId = 0xFFFF;
constexpr int kOpenNameCombo = 1148;  // cmb13: the file name of the Open dialog
constexpr int kOpenNameEdit = 1152;   // edt1: the same in older dialogs

struct Context {
    HWND main = nullptr;
    HWND current = nullptr;
    std::string error;
};

using Args = std::vector<std::string>;

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        if (line[i] == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) word += line[i];
            ++i;
        } else {
            for (; i < line.size() && line[i] != ' ' && line[i] != '\t'; ++i) word += line[i];
        }
        words.push_back(word);
    }
    return words;
}

int Number(const std::string& s) { return int(std::strtol(s.c_str(), nullptr, 0)); }
DWORD WaitArg(const Args& a, size_t i) { return a.size() > i && !a[i].empty() ? DWORD(Number(a[i])) : kDefaultWaitMs; }

bool Fail(Context& c, const std::string& what)
{
    c.error = what;
    return false;
}

HWND Control(Context& c, const std::string& id) { return GetDlgItem(c.current, Number(id)); }

// Polls `test` until it holds or `ms` pass.
template <class Test>
bool WaitFor(DWORD ms, Test test)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (test()) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(kPollMs);
    }
}

bool HasLine(HWND list, const std::string& sub)
{
    for (const auto& line : ListLines(list))
        if (line.find(sub) != std::string::npos) return true;
    return false;
}

int ButtonId(const std::string& word)
{
    static const std::map<std::string, int> ids = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
    auto it = ids.find(word);
    return it == ids.end() ? 0 : it->second;
}

bool CmdAnswer(Context& c, const Args& a)
{
    // answer CAPTION BUTTON [TEXT-PART|-] [MS]
    HWND box = WaitTopWindow(a[1], false, WaitArg(a, 4));
    if (!box) return Fail(c, "no box \"" + a[1] + "\"");
    Settle(box);
    if (!a[3].empty() && a[3] != "-") {
        std::string text = WindowText(GetDlgItem(box, kMessageTextId));
        if (text.find(a[3]) == std::string::npos) return Fail(c, "box text is \"" + text + "\"");
    }
    if (!Click(GetDlgItem(box, ButtonId(a[2])))) return Fail(c, "box has no usable button " + a[2]);
    if (!WaitFor(kDefaultWaitMs, [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
        return Fail(c, "box stayed open");
    return true;
}

// The first window of class `cls` below `parent`, at any depth (the name
// field sits in a combo box inside an extended combo box).
HWND FindDescendant(HWND parent, const wchar_t* cls)
{
    for (HWND child = FindWindowExW(parent, nullptr, nullptr, nullptr); child;
         child = FindWindowExW(parent, child, nullptr, nullptr)) {
        wchar_t name[64] = L"";
        GetClassNameW(child, name, 64);
        if (lstrcmpiW(name, cls) == 0) return child;
        if (HWND inner = FindDescendant(child, cls)) return inner;
    }
    return nullptr;
}

bool CmdOpenFile(Context& c, const Args& a)
{
    // open-file CAPTION PATH [MS]: types the path into the Open dialog and confirms.
    HWND dialog = WaitTopWindow(a[1], false, WaitArg(a, 3));
    if (!dialog) return Fail(c, "no file dialog \"" + a[1] + "\"");
    Settle(dialog);
    HWND name = nullptr;
    // The dialog's title comes before its controls: wait for the name field.
    WaitFor(kDefaultWaitMs, [&] {
        if (HWND combo = GetDlgItem(dialog, kOpenNameCombo)) name = FindDescendant(combo, L"Edit");
        if (!name) name = GetDlgItem(dialog, kOpenNameEdit);
        return name != nullptr && IsWindowVisible(name);
    });
    if (!name) return Fail(c, "file dialog has no name field");
    SetWindowTextTo(name, a[2]);
    if (!Click(GetDlgItem(dialog, IDOK))) return Fail(c, "file dialog's Open is not usable");
    if (!WaitFor(kDefaultWaitMs, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
        return Fail(c, "file dialog stayed open");
    return true;
}

bool CmdCloseWindow(Context& c, const Args& a)
{
    // cancel-window CAPTION [MS]: presses the window's Cancel button.
    HWND w = WaitTopWindow(a[1], false, WaitArg(a, 2));
    if (!w) return Fail(c, "no window \"" + a[1] + "\"");
    if (!Click(GetDlgItem(w, IDCANCEL))) return Fail(c, "no usable Cancel");
    return WaitFor(kDefaultWaitMs, [&] { return !IsWindow(w) || !IsWindowVisible(w); }) || Fail(c, "stayed open");
}

bool CmdRect(Context& c, const Args& a)
{
    RECT r{};
    HWND control = Control(c, a[1]);
    if (!control) return Fail(c, "no control " + a[1]);
    GetClientRect(control, &r);
    MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&r), 2);
    std::FILE* f = std::fopen(a[2].c_str(), "w");
    if (!f) return Fail(c, "cannot write " + a[2]);
    std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    std::fclose(f);
    return true;
}

bool CmdText(Context& c, const Args& a, bool exact)
{
    HWND control = Control(c, a[1]);
    std::string text;
    bool ok = WaitFor(kSettleMs, [&] {
        text = WindowText(control);
        return exact ? text == a[2] : text.find(a[2]) != std::string::npos;
    });
    return ok || Fail(c, "control " + a[1] + " reads \"" + text + "\"");
}

bool CmdEnabled(Context& c, const Args& a, bool wanted, DWORD ms)
{
    HWND control = Control(c, a[1]);
    if (!control) return Fail(c, "no control " + a[1]);
    bool ok = WaitFor(ms, [&] {
        Settle(c.current);
        return (IsWindowEnabled(control) != 0) == wanted;
    });
    return ok || Fail(c, "control " + a[1] + (wanted ? " is disabled" : " is enabled"));
}

BOOL CALLBACK PrintChild(HWND child, LPARAM)
{
    wchar_t cls[64] = L"";
    GetClassNameW(child, cls, 64);
    std::printf("%p id %d parent %p class %ls text \"%s\"\n", (void*)child, GetDlgCtrlID(child), (void*)GetParent(child),
                cls, WindowText(child).c_str());
    return TRUE;
}

bool Run(Context& c, const Args& a)
{
    const std::string& cmd = a[0];
    if (cmd == "main") {
        c.main = c.current = WaitTopWindow(a[1], true, WaitArg(a, 2));
        return c.main || Fail(c, "no main window \"" + a[1] + "\"");
    }
    if (cmd == "use") {
        c.current = WaitTopWindow(a[1], false, WaitArg(a, 2));
        return c.current || Fail(c, "no window \"" + a[1] + "\"");
    }
    if (cmd == "use-main") return (c.current = c.main) != nullptr || Fail(c, "no main window");
    if (cmd == "sleep") return Sleep(DWORD(Number(a[1]))), true;
    if (cmd == "text") return CmdText(c, a, true);
    if (cmd == "text-has") return CmdText(c, a, false);
    if (cmd == "wait-text") {
        HWND control = Control(c, a[1]);
        return WaitFor(WaitArg(a, 3), [&] { return WindowText(control).find(a[2]) != std::string::npos; }) ||
               Fail(c, "control " + a[1] + " reads \"" + WindowText(control) + "\"");
    }
    if (cmd == "wait-number") {
        // wait-number ID MIN [MS]: the number at the end of the control's text reaches MIN.
        HWND control = Control(c, a[1]);
        auto value = [&] {
            std::string t = WindowText(control);
            size_t end = t.find_last_of("0123456789");
            if (end == std::string::npos) return -1L;
            size_t begin = t.find_last_not_of("0123456789", end);
            return std::strtol(t.c_str() + (begin == std::string::npos ? 0 : begin + 1), nullptr, 10);
        };
        return WaitFor(WaitArg(a, 3), [&] { return value() >= Number(a[2]); }) ||
               Fail(c, "control " + a[1] + " reads \"" + WindowText(control) + "\"");
    }
    if (cmd == "wait-change") {
        // wait-change ID [MS]: the control's text changes from what it reads now.
        HWND control = Control(c, a[1]);
        std::string before = WindowText(control);
        return WaitFor(WaitArg(a, 2), [&] { return WindowText(control) != before; }) ||
               Fail(c, "control " + a[1] + " stays \"" + before + "\"");
    }
    if (cmd == "title-has" || cmd == "wait-title") {
        DWORD ms = cmd == "title-has" ? 0 : WaitArg(a, 2);
        return WaitFor(ms, [&] { return WindowText(c.current).find(a[1]) != std::string::npos; }) ||
               Fail(c, "title is \"" + WindowText(c.current) + "\"");
    }
    if (cmd == "click") return Click(Control(c, a[1])) || Fail(c, "control " + a[1] + " cannot be clicked");
    if (cmd == "try-click") {
        // try-click ID: clicks when a person could, and goes on either way.
        std::printf("try-click %s: %s\n", a[1].c_str(), Click(Control(c, a[1])) ? "clicked" : "not clickable");
        return true;
    }
    if (cmd == "blocked") {
        HWND control = Control(c, a[1]);
        Settle(c.current);
        return (control && !Clickable(control)) || Fail(c, "control " + a[1] + " can be clicked");
    }
    if (cmd == "enabled") return CmdEnabled(c, a, true, kSettleMs);
    if (cmd == "disabled") return CmdEnabled(c, a, false, kSettleMs);
    if (cmd == "wait-enabled") return CmdEnabled(c, a, true, WaitArg(a, 2));
    if (cmd == "wait-disabled") return CmdEnabled(c, a, false, WaitArg(a, 2));
    if (cmd == "checked") {
        HWND box = Control(c, a[1]);
        bool wanted = Number(a[2]) != 0;
        return WaitFor(kSettleMs, [&] { return IsChecked(box) == wanted; }) ||
               Fail(c, "box " + a[1] + (wanted ? " is clear" : " is ticked"));
    }
    if (cmd == "tick") {
        HWND box = Control(c, a[1]);
        if (IsChecked(box) == (Number(a[2]) != 0)) return true;
        if (!Click(box)) return Fail(c, "box " + a[1] + " cannot be clicked");
        return WaitFor(kSettleMs, [&] { return IsChecked(box) == (Number(a[2]) != 0); }) ||
               Fail(c, "box " + a[1] + " did not change");
    }
    if (cmd == "choose") return ChooseComboEntry(Control(c, a[1]), Number(a[2])) || Fail(c, "cannot choose");
    if (cmd == "combo") {
        HWND combo = Control(c, a[1]);
        size_t n = ComboLines(combo).size();
        int sel = ComboSelection(combo);
        return (int(n) == Number(a[2]) && sel == Number(a[3])) ||
               Fail(c, "combo has " + std::to_string(n) + " lines, selection " + std::to_string(sel));
    }
    if (cmd == "combo-line") {
        auto lines = ComboLines(Control(c, a[1]));
        size_t i = size_t(Number(a[2]));
        return (i < lines.size() && lines[i].find(a[3]) != std::string::npos) ||
               Fail(c, "combo line " + a[2] + " is \"" + (i < lines.size() ? lines[i] : "") + "\"");
    }
    // A click is posted: the list may change a moment after it.
    if (cmd == "lines") {
        HWND list = Control(c, a[1]);
        size_t n = 0;
        return WaitFor(kSettleMs, [&] { return int(n = ListLines(list).size()) == Number(a[2]); }) ||
               Fail(c, "list has " + std::to_string(n) + " lines");
    }
    if (cmd == "line") {
        HWND list = Control(c, a[1]);
        size_t i = size_t(Number(a[2]));
        std::vector<std::string> lines;
        return WaitFor(kSettleMs, [&] { return (lines = ListLines(list)).size() > i && lines[i] == a[3]; }) ||
               Fail(c, "line " + a[2] + " is \"" + (i < lines.size() ? lines[i] : "") + "\"");
    }
    if (cmd == "wait-log" || cmd == "log-has") {
        HWND list = GetDlgItem(c.main, kLogListId);
        DWORD ms = cmd == "log-has" ? 0 : WaitArg(a, 2);
        return WaitFor(ms, [&] { return HasLine(list, a[1]); }) || Fail(c, "no log line with \"" + a[1] + "\"");
    }
    if (cmd == "log-lacks") {
        Settle(c.main);
        return !HasLine(GetDlgItem(c.main, kLogListId), a[1]) || Fail(c, "log has \"" + a[1] + "\"");
    }
    if (cmd == "answer") return CmdAnswer(c, a);
    if (cmd == "open-file") return CmdOpenFile(c, a);
    if (cmd == "cancel-window") return CmdCloseWindow(c, a);
    if (cmd == "no-window") {
        bool appeared = WaitFor(WaitArg(a, 2), [&] { return FindTopWindow(a[1], false) != nullptr; });
        return !appeared || Fail(c, "window \"" + a[1] + "\" appeared");
    }
    if (cmd == "gone") {
        return WaitFor(WaitArg(a, 2), [&] { return FindTopWindow(a[1], true) == nullptr; }) ||
               Fail(c, "window \"" + a[1] + "\" is still there");
    }
    if (cmd == "sysmenu") return PostMessageW(c.current, WM_SYSCOMMAND, WPARAM(Number(a[1])), 0) != 0;
    if (cmd == "key") {
        WPARAM vk = WPARAM(Number(a[1]));
        PostMessageW(c.current, WM_KEYDOWN, vk, 1);
        return PostMessageW(c.current, WM_KEYUP, vk, 1) != 0;
    }
    if (cmd == "alt-key") {
        // alt-key VK: the key pressed with Alt held (bit 29 of lParam: the context code).
        WPARAM vk = WPARAM(Number(a[1]));
        constexpr LPARAM kAltDown = LPARAM(1) << 29;
        PostMessageW(c.current, WM_SYSKEYDOWN, vk, kAltDown | 1);
        return PostMessageW(c.current, WM_SYSKEYUP, vk, kAltDown | 1) != 0;
    }
    if (cmd == "settext") return SetWindowTextTo(Control(c, a[1]), a[2]);
    if (cmd == "focus") return SendMessageW(Control(c, a[1]), WM_SETFOCUS, 0, 0), true;
    if (cmd == "rect") return CmdRect(c, a);
    if (cmd == "children") {
        // children CAPTION: lists the window's descendants (for writing scripts).
        HWND w = WaitTopWindow(a[1], false, WaitArg(a, 2));
        EnumChildWindows(w, PrintChild, 0);
        return w != nullptr || Fail(c, "no window");
    }
    if (cmd == "where") {
        // where CAPTION: the window's screen rectangle (for writing scripts).
        HWND w = WaitTopWindow(a[1], false, WaitArg(a, 2));
        RECT r{};
        GetWindowRect(w, &r);
        std::printf("%s: %ld %ld %ld %ld visible %d\n", a[1].c_str(), r.left, r.top, r.right, r.bottom,
                    w ? IsWindowVisible(w) : 0);
        return w != nullptr || Fail(c, "no window");
    }
    if (cmd == "print") {
        std::printf("%s\n", WindowText(Control(c, a[1])).c_str());
        return true;
    }
    return Fail(c, "unknown command " + cmd);
}

void DumpLog(const Context& c)
{
    if (!c.main || !IsWindow(c.main)) return;
    std::printf("robot: the log window holds:\n");
    for (const auto& line : ListLines(GetDlgItem(c.main, kLogListId))) std::printf("  | %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: robot SCRIPT\n");
        return 2;
    }
    std::ifstream script(argv[1]);
    if (!script) {
        std::fprintf(stderr, "robot: cannot read %s\n", argv[1]);
        return 2;
    }
    Context c;
    std::string line;
    for (int number = 1; std::getline(script, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Args args = Split(line);
        if (args.empty()) continue;
        // Missing arguments read as empty words.
        while (args.size() < kMaxArgs) args.push_back("");
        if (!Run(c, args)) {
            std::printf("robot: %s:%d: %s: %s\n", argv[1], number, line.c_str(), c.error.c_str());
            DumpLog(c);
            std::fflush(stdout);
            return 1;
        }
    }
    return 0;
}
