#include "ui/logic/settings_file.h"

#include "platform/rawio.h"
#include "channel/channel.h"

std::string IniPathFromModule(const std::string& modulePath)
{
    size_t sep = modulePath.find_last_of(rawio::kSep);
    std::string folder = sep == std::string::npos ? "" : modulePath.substr(0, sep + 1);
    std::string name = sep == std::string::npos ? modulePath : modulePath.substr(sep + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.resize(dot);
    return folder + name + kIniExtension;
}

std::string UserKey(const std::string& user, const char* suffix)
{
    return user.substr(0, kUserNameMax) + suffix;
}

std::string ReadSettings(IProfileStore& store, const std::string& user, SettingRecord& record)
{
    std::string folder =
        store.GetString(kProfileSection, UserKey(user, kFolderKeySuffix).c_str(), kDefaultFolder, kFolderValueMax);

    uint8_t bytes[kSettingRecordSize];
    if (store.GetStruct(kProfileSection, UserKey(user, kSettingKeySuffix).c_str(), bytes, sizeof bytes))
        record.FromBytes(bytes);
    else
        record.SetDefaults();

    int level = record.debugLevel.load(std::memory_order_relaxed);
    if (level < 0) level = 0;
    if (level > kRestoredLevelMax) level = kRestoredLevelMax;
    level = store.GetInt(kProfileSection, kDebugLevelKey, level);
    if (level < 0) level = 0;
    if (level > kLogLevels - 1) level = kLogLevels - 1;
    record.debugLevel.store(level, std::memory_order_relaxed);
    int strategy = store.GetInt(kProfileSection, UserKey(user, kStrategyKeySuffix).c_str(), kStrategyCareful);
    record.strategy.store(strategy == kStrategySweep ? kStrategySweep : kStrategyCareful, std::memory_order_relaxed);
    return folder;
}

void WriteSettings(IProfileStore& store, const std::string& user, const std::string& folder,
                   const SettingRecord& record)
{
    store.WriteString(kProfileSection, UserKey(user, kFolderKeySuffix).c_str(), folder.c_str());
    uint8_t bytes[kSettingRecordSize];
    record.ToBytes(bytes);
    store.WriteStruct(kProfileSection, UserKey(user, kSettingKeySuffix).c_str(), bytes, sizeof bytes);
    const char* strategy = record.strategy.load(std::memory_order_relaxed) == kStrategySweep ? "1" : "0";
    store.WriteString(kProfileSection, UserKey(user, kStrategyKeySuffix).c_str(), strategy);
}
