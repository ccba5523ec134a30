#include "win32/main_dlg.h"

#include <cstring>

#include "app/core/settings.h"
#include "channel/channel.h"
#include "ui/logic/enabling.h"
#include "ui/logic/files_report.h"
#include "ui/logic/selectors.h"
#include "ui/logic/settings_file.h"
#include "win32/about_dlg.h"
#include "win32/resource.h"

namespace {
constexpr int kStringBuffer = 256;
constexpr UINT kSysCommandMask = 0xFFF0;

void Apply(HWND control, Enable change)
{
    if (change != Enable::Unchanged) EnableWindow(control, change == Enable::On ? TRUE : FALSE);
}

unsigned RecoveryThreadEntry(CRecoveryEngine* engine) { return RecoveryThreadProc(engine); }
}  // namespace

CMainDlg::CMainDlg(IProfileStore& profile, IPowerOff& power) : CDialog(IDD_MAIN), profile_(profile), power_(power)
{
    icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CMainDlg::~CMainDlg()
{
    // The worker has ended (or the program leaves this object alive); either
    // way nothing may post to a window that is gone.
    SetPoster(nullptr);
    if (WorkerEnded()) workerThread.Join();
}

BOOL CMainDlg::OnInitDialog()
{
    AddAboutMenuItem();
    SendMessageA(hwnd_, WM_SETICON, ICON_BIG, LPARAM(icon));
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, LPARAM(icon));
    GetWindowTextA(hwnd_, savedTitle, kTitleReadLimit);
    for (int i = 0; i < kStatusControlCount; ++i) statusControls[i] = Item(kStatusControlIds[i]);
    SetUpProgressCanvas();
    barFaceColour = GetSysColor(COLOR_BTNFACE);
    progressMap.Clear();
    RestoreSettings();

    // From here on every report of either thread reaches this window.
    poster_ = std::make_unique<CWindowPoster>(hwnd_);
    SetPoster(poster_.get());

    ScanDrives();
    workerThread.Start(RecoveryThreadEntry, &engine);
    return TRUE;
}

void CMainDlg::AddAboutMenuItem()
{
    HMENU menu = GetSystemMenu(hwnd_, FALSE);
    if (!menu) return;
    char text[kStringBuffer] = "";
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, kStringBuffer) <= 0 || !text[0]) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text);
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_SWEEPFIRST, text, kStringBuffer) > 0 && text[0])
        AppendMenuA(menu, MF_STRING, IDM_SWEEPFIRST, text);
    wchar_t wide[kStringBuffer] = L"";
    if (LoadStringW(GetModuleHandleW(nullptr), IDS_EXTRACTFILES, wide, kStringBuffer) > 0 && wide[0])
        AppendMenuW(menu, MF_STRING, IDM_EXTRACTFILES, wide);
}

// The check mark follows the strategy, which the next copy uses.
void CMainDlg::ShowStrategy()
{
    HMENU menu = GetSystemMenu(hwnd_, FALSE);
    if (!menu) return;
    bool sweep = settings.strategy == kStrategySweep;
    CheckMenuItem(menu, IDM_SWEEPFIRST, MF_BYCOMMAND | (sweep ? MF_CHECKED : MF_UNCHECKED));
}

void CMainDlg::SetUpProgressCanvas()
{
    canvas = Item(IDC_PROGRESS_BAR);
    RECT client{};
    GetClientRect(canvas, &client);
    barRect = BarRectFromClient({int(client.left), int(client.top), int(client.right), int(client.bottom)});
    progressMap.mapCells = MapCellsForBar(barRect);
}

void CMainDlg::RestoreSettings()
{
    char name[kUserNameBuffer] = "";
    DWORD size = kUserNameBuffer;
    if (!GetUserNameA(name, &size)) name[0] = '\0';
    userName = name;
    engine.destFolder = ReadSettings(profile_, userName, settings);
    SetItemText(IDC_DEST_FOLDER, engine.destFolder.Get().c_str());
    SetChecked(IDC_CYCLE_TRAY, settings.cycleTray != 0);
    SetChecked(IDC_ALLOW_COOLDOWN, settings.allowCooldown != 0);
    SetChecked(IDC_EJECT_ON_COMPLETION, settings.ejectOnCompletion != 0);
    ShowStrategy();
    ShowLevelName();
}

void CMainDlg::ScanDrives()
{
    engine.drive.InitAspi();
    if (engine.drive.DriveCount() == 0) AskUser("No drives detected.", "Error No Drives", mb::kOk | mb::kIconWarning);
    int ready = 0;
    for (int i = 0; i < engine.drive.DriveCount(); ++i) {
        SendItem(IDC_SOURCE_LIST, CB_ADDSTRING, 0, LPARAM(engine.drive.DriveName(i)));
        engine.drive.SelectDrive(i);
        if (engine.drive.DrvReady()) ready = i;
    }
    SendItem(IDC_SOURCE_LIST, CB_SETCURSEL, WPARAM(ready));
    engine.selectDriveIndex = ready;
    engine.selectDriveRequested = true;
}

INT_PTR CMainDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool* handled)
{
    *handled = true;
    switch (msg) {
    case WM_SYSCOMMAND:
        if ((wParam & kSysCommandMask) == IDM_ABOUTBOX) {
            CAboutDlg about;
            about.DoModal(hwnd_);
            return TRUE;
        }
        if ((wParam & kSysCommandMask) == IDM_SWEEPFIRST) {
            settings.strategy = settings.strategy == kStrategySweep ? kStrategyCareful : kStrategySweep;
            ShowStrategy();
            return TRUE;
        }
        if ((wParam & kSysCommandMask) == IDM_EXTRACTFILES) {
            OnExtractFiles();
            return TRUE;
        }
        *handled = false;
        return FALSE;
    case WM_PAINT:
        if (IsIconic(hwnd_)) {
            OnPaint();
            return TRUE;
        }
        // The default processing paints; the bar is repainted after it.
        PostMessageA(hwnd_, UM_STATUS_TEXT, kSlotRepaintMap, 0);
        *handled = false;
        return FALSE;
    case WM_QUERYDRAGICON:
        return INT_PTR(icon);
    case WM_DESTROY:
        StopCopyThenExit(engine, [this] { RunExitSequence(); });
        *handled = false;
        return FALSE;
    case UM_LOG_LINE:
        OnLogLine(unsigned(wParam));
        return TRUE;
    case UM_STATUS_TEXT:
        OnStatusText(unsigned(wParam));
        return TRUE;
    case UM_ENGINE_STATE:
        OnEngineState(unsigned(wParam));
        return TRUE;
    default:
        return CDialog::HandleMessage(msg, wParam, lParam, handled);
    }
}

bool CMainDlg::OnCommand(int id, int code)
{
    if (id == IDC_SOURCE_LIST) {
        if (code == CBN_SELCHANGE) {
            engine.selectDriveIndex = int(SendItem(IDC_SOURCE_LIST, CB_GETCURSEL));
            engine.selectDriveRequested = true;
        }
        return true;
    }
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_CLEAR: SendItem(IDC_LOG, LB_RESETCONTENT); break;
    case IDC_EJECT: engine.ejectRequested = true; break;
    case IDC_LOAD: engine.loadRequested = true; break;
    case IDC_START: engine.runRequested = true; break;
    case IDC_PAUSE: engine.runRequested = false; break;
    case IDC_IMPORT: OnImportFile(); break;
    case IDC_LEVEL_DOWN:
        settings.debugLevel = LowerLogLevel(settings.debugLevel);
        ShowLevelName();
        break;
    case IDC_LEVEL_UP:
        settings.debugLevel = RaiseLogLevel(settings.debugLevel);
        ShowLevelName();
        break;
    case IDC_CHANGE: OnChangeFolder(); break;
    case IDC_GIVEUP_LONGER:
        settings.giveUpLevel = LongerGiveUp(settings.giveUpLevel);
        ShowGiveUpName();
        break;
    case IDC_GIVEUP_SHORTER:
        settings.giveUpLevel = ShorterGiveUp(settings.giveUpLevel);
        ShowGiveUpName();
        break;
    case IDC_EJECT_ON_COMPLETION: settings.ejectOnCompletion = IsChecked(id) ? 1 : 0; break;
    case IDC_SHUTDOWN: engine.shutdownOnCompletion = IsChecked(id); break;
    case IDC_CYCLE_TRAY: settings.cycleTray = IsChecked(id) ? 1 : 0; break;
    case IDC_ALLOW_COOLDOWN: settings.allowCooldown = IsChecked(id) ? 1 : 0; break;
    case IDC_FORCE_SIZE: OnForceSize(); break;
    default: return false;
    }
    return true;
}

void CMainDlg::ShowLevelName() { SetItemText(IDC_LEVEL_NAME, LevelName(settings.debugLevel)); }

void CMainDlg::ShowGiveUpName() { SetItemText(IDC_GIVEUP_NAME, GiveUpText(settings.giveUpLevel)); }

void CMainDlg::OnLogLine(unsigned slot)
{
    char text[kTextSlotSize];
    CopyLogSlot(int(slot), text);
    SendItem(IDC_LOG, LB_ADDSTRING, 0, LPARAM(text));
    LRESULT count = SendItem(IDC_LOG, LB_GETCOUNT);
    SendItem(IDC_LOG, LB_SETTOPINDEX, WPARAM(count - 1));
}

void CMainDlg::OnStatusText(unsigned slot)
{
    char text[kTextSlotSize];
    switch (ActionForSlot(slot)) {
    case SlotAction::ControlText:
        CopyStatusSlot(int(slot), text);
        SetWindowTextA(statusControls[slot], text);
        break;
    case SlotAction::WindowTitle:
        CopyStatusSlot(int(slot), text);
        SetWindowTextA(hwnd_, text);
        break;
    case SlotAction::DestFolder: SetItemText(IDC_DEST_FOLDER, engine.destFolder.Get().c_str()); break;
    case SlotAction::RepaintMap: PaintProgressBar(); break;
    case SlotAction::RestoreTitle: SetWindowTextA(hwnd_, savedTitle); break;
    case SlotAction::Nothing: break;
    }
}

void CMainDlg::OnEngineState(unsigned state)
{
    if (state == ENGINE_COPYING) copying_ = true;
    if (copying_ && (state == ENGINE_IDLE || state == ENGINE_SHUTDOWN)) {
        copying_ = false;
        // What the image holds of the volume's files; an import file has no volume to read.
        if (!engine.exportMode && CopyWasRun(engine.OutcomeText()))
            ReportFilesAfterCopy(engine.flagFile.GetPath(), engine.imageFile.GetPath());
    }
    if (state == ENGINE_SHUTDOWN) {
        power_.ShutdownWindows();  // its result is not used
        RunExitSequence();
        return;
    }
    EnablingChange change = EnablingForState(state, engine.sourceReady);
    Apply(Item(IDC_START), change.start);
    Apply(Item(IDC_FORCE_SIZE), change.forceSize);
    Apply(Item(IDC_PAUSE), change.pause);
    for (int id : {IDOK, IDC_CHANGE, IDC_IMPORT, IDC_EJECT, IDC_LOAD, IDC_SOURCE_LIST})
        Apply(Item(id), change.configuration);
}

void CMainDlg::OnPaint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    SendMessageA(hwnd_, WM_ICONERASEBKGND, WPARAM(dc), 0);
    RECT client;
    GetClientRect(hwnd_, &client);
    int x = CentredIconOffset(client.right - client.left, GetSystemMetrics(SM_CXICON));
    int y = CentredIconOffset(client.bottom - client.top, GetSystemMetrics(SM_CYICON));
    DrawIcon(dc, x, y, icon);
    EndPaint(hwnd_, &ps);
}

void CMainDlg::PaintProgressBar()
{
    HDC dc = GetDC(canvas);
    if (!dc) return;
    HGDIOBJ brush = GetStockObject(DC_BRUSH);
    uint32_t columns = PaintedColumns(progressMap.mapCells);
    uint32_t current = progressMap.mapCurrentCell;
    for (uint32_t i = 0; i < columns; ++i) {
        uint32_t colour;
        if (!ColumnColour(i, progressMap.Cell(i), current, barFaceColour, &colour)) continue;
        RECT column{LONG(barRect.left + int(i)), barRect.top, LONG(barRect.left + int(i) + 1), barRect.bottom};
        SetDCBrushColor(dc, colour);
        FillRect(dc, &column, HBRUSH(brush));
    }
    ReleaseDC(canvas, dc);
}

void CMainDlg::RunExitSequence()
{
    WriteSettings(profile_, userName, engine.destFolder.Get(), settings);
    if (!RequestWorkerEnd(engine)) MessageBoxA(hwnd_, "Cannot kill main task.", "On Exit:", MB_OK | MB_ICONERROR);
    EndDialog(hwnd_, IDOK);
}
