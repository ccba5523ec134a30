// The main dialog's longer actions: choosing the destination folder, merging
// an import file and forcing the volume size.
#include <windows.h>
#include <shlobj.h>

#include "channel/channel.h"
#include "ui/logic/dialog_rules.h"
#include "ui/logic/files_report.h"
#include "win32/force_size_dlg.h"
#include "win32/main_dlg.h"
#include "win32/resource.h"

namespace {
constexpr char kImportFilter[] = "Import Files (*.imp)|*.imp||";
constexpr char kFlagFilter[] = "Flag Files (*.flg)|*.flg||";

struct ExtractJob {
    std::string flag, image, folder;
    std::shared_ptr<std::atomic<bool>> busy;
};

unsigned RunExtractJob(ExtractJob* job)
{
    ExtractImageSet(job->flag, job->image, job->folder);
    job->busy->store(false);
    delete job;
    return 0;
}
}  // namespace

void CMainDlg::OnChangeFolder()
{
    BROWSEINFOA info{};
    info.hwndOwner = nullptr;
    info.pidlRoot = nullptr;
    info.lpszTitle = "Select Folder";
    info.ulFlags = 0;
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (!item) return;
    char chosen[MAX_PATH] = "";
    if (!SHGetPathFromIDListA(item, chosen)) chosen[0] = '\0';
    std::string path = DestinationFromBrowse(chosen);
    engine.destFolder = path;
    SetItemText(IDC_DEST_FOLDER, path.c_str());
    LogPrintf(0, "%s", path.c_str());
    if (!CRecoveryEngine::IsNtfs(path.c_str())) {
        LogPrintf(0, "No NTFS drive! Does not support files > 4GB");
        LogPrintf(0, "%s", path.c_str());
    }
    IMalloc* shellMalloc = nullptr;
    if (SUCCEEDED(SHGetMalloc(&shellMalloc)) && shellMalloc) {
        shellMalloc->Free(item);
        shellMalloc->Release();
    }
}

void CMainDlg::OnImportFile()
{
    FileChoice choice;
    choice.filter = kImportFilter;
    choice.mustExist = true;
    choice.owner = hwnd_;  // Start and the rest wait until the choice is made
    std::string path;
    // The merge runs on this thread; the dialog answers no messages until it returns.
    if (Prompt().ChooseFile(choice, &path)) engine.ImportMerge(path.c_str());
}

void CMainDlg::OnForceSize()
{
    CForceSizeDlg dialog(engine.drive.reportedLastLba, &engine);
    bool wasForced = engine.sizeForced;
    // While the dialog is open the worker leaves the size alone.
    engine.sizeForced = true;
    if (dialog.DoModal(hwnd_) == IDOK) {
        engine.drive.SetCopySize(dialog.fields.sectors);
        engine.sizeForced = true;
        engine.sourceChanged = true;
        LogPrintf(0, "Disksize changed to \"%s\" (%u Sectors)", dialog.fields.sourceText.c_str(),
                  unsigned(dialog.fields.sectors));
    } else {
        engine.sizeForced = wasForced;
    }
}

// The complete files of the current image set (the last copy's, else a flag
// file chosen) written into a folder, on a thread of their own.
void CMainDlg::OnExtractFiles()
{
    if (extracting_->load()) {
        LogPrintf(0, "Extract Files: still writing the files");
        return;
    }
    std::string flag = engine.flagFile.GetPath(), image = engine.imageFile.GetPath();
    if (flag.empty() || image.empty() || engine.exportMode) {
        FileChoice choice;
        choice.filter = kFlagFilter;
        choice.mustExist = true;
        choice.owner = hwnd_;
        if (!Prompt().ChooseFile(choice, &flag)) return;
        size_t dot = flag.rfind('.');
        image = flag.substr(0, dot == std::string::npos ? flag.size() : dot) + ".iso";
    }
    std::string folder;
    if (!ChooseExtractFolder(hwnd_, &folder)) return;
    LogPrintf(0, "Extract Files: %s", folder.c_str());
    extractThread_.Join();
    extracting_->store(true);
    extractThread_.Start(RunExtractJob, new ExtractJob{flag, image, folder, extracting_});
}
