// The Windows program's settings reading over an arbitrary settings file:
// never a crash, the log level always one of the five, the folder within its
// 259 characters; and what is written back reads back the same.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "ui/logic/profile_store.h"
#include "ui/logic/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzz::ScratchDir() + "settings.ini";
    static const std::string again = fuzz::ScratchDir() + "again.ini";
    const std::string user = "fuzzer";
    if (!fuzz::WriteFileBytes(path, data, size)) fuzz::Fail("cannot write the settings file");

    CIniTextProfile store(path);
    SettingRecord record;
    std::string folder = ReadSettings(store, user, record);
    int level = record.debugLevel.load();
    fuzz::Check(level >= 0 && level <= 4, "the log level has no name");
    fuzz::Check(folder.size() <= kFolderValueMax, "the folder is longer than its buffer");

    // The stand-in's record text: a decoded record encodes to the same digits.
    uint8_t bytes[kSettingRecordSize];
    std::string text(reinterpret_cast<const char*>(data), std::min<size_t>(size, 2 * kSettingRecordSize + 2));
    if (DecodeStructText(text, bytes, sizeof bytes)) {
        std::string upper = text;
        for (char& c : upper) c = char(toupper((unsigned char)c));
        fuzz::Check(EncodeStructText(bytes, sizeof bytes) == upper, "a record text does not round-trip");
    }

    fuzz::RemoveFile(again);
    CIniTextProfile fresh(again);
    // A value ends at a NUL, as on Windows, and loses blanks at its ends.
    std::string written = folder.substr(0, strlen(folder.c_str()));
    while (!written.empty() && strchr(" \t\r", written.back())) written.pop_back();
    WriteSettings(fresh, user, written, record);
    SettingRecord back;
    std::string folderBack = ReadSettings(fresh, user, back);
    fuzz::Check(folderBack == written, "the folder does not read back as written");
    fuzz::Check(back.cycleTray.load() == record.cycleTray.load() && back.allowCooldown.load() == record.allowCooldown.load() &&
                    back.ejectOnCompletion.load() == record.ejectOnCompletion.load() && back.spare.load() == record.spare.load(),
                "the record does not read back as written");
    fuzz::Check(back.debugLevel.load() == std::min(level, kRestoredLevelMax), "the restored level is not clamped to Verbose");
    return 0;
}
