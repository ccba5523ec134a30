// The settings file: where it lies, its keys, and what is read at start-up
// and written at exit.
//
// Section "Gleanor"; per-user keys "<user>Folder" (the destination folder) and
// "<user>Setting" (the 8-byte settings record), "<user>Strategy" (1: sweep
// first, 0 or missing: the careful passes alone); "DebugLevel", shared by all
// users and set only by hand, overrides the restored log level.
#pragma once
#include <string>

#include "app/core/settings.h"
#include "ui/logic/profile_store.h"

constexpr char kProfileSection[] = "Gleanor";
constexpr char kFolderKeySuffix[] = "Folder";
constexpr char kSettingKeySuffix[] = "Setting";
constexpr char kStrategyKeySuffix[] = "Strategy";
constexpr char kDebugLevelKey[] = "DebugLevel";
constexpr char kDefaultFolder[] = "C:\\";
constexpr char kIniExtension[] = ".ini";
constexpr unsigned kUserNameMax = 256;   // characters of the user name used in a key
constexpr unsigned kFolderValueMax = 259;
// A level saved above "Verbose" comes back as "Verbose".
constexpr int kRestoredLevelMax = 1;

// The settings file beside the program: the executable's folder (up to and
// including its last separator), the module name and ".ini".
// "D:\Tools\Gleanor.exe" -> "D:\Tools\Gleanor.ini".
std::string IniPathFromModule(const std::string& modulePath);

// User name + suffix; an empty user name gives the bare suffix.
std::string UserKey(const std::string& user, const char* suffix);

// Start-up reading, in order: the folder (default "C:\", unchanged otherwise),
// the record into `record` (defaults when it cannot be read; spare kept), the
// level clamped to 0..1, then "DebugLevel" with that default. A "DebugLevel"
// outside 0..4 is clamped to 0..4 so that the level always has a name.
// Last the strategy: 1 is the sweep, anything else the careful passes alone.
// Returns the folder.
std::string ReadSettings(IProfileStore& store, const std::string& user, SettingRecord& record);

// Exit: the folder, then the 8 bytes of the record as they are now, then the strategy.
void WriteSettings(IProfileStore& store, const std::string& user, const std::string& folder,
                   const SettingRecord& record);
