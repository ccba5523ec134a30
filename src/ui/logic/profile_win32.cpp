#include <windows.h>

#include <vector>

#include "ui/logic/profile_store.h"

std::string CPrivateProfile::GetString(const char* section, const char* key, const char* fallback, unsigned maxChars)
{
    std::vector<char> buffer(maxChars + 1, '\0');
    DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), DWORD(buffer.size()), path_.c_str());
    return std::string(buffer.data(), n);
}

bool CPrivateProfile::GetStruct(const char* section, const char* key, void* data, unsigned size)
{
    return GetPrivateProfileStructA(section, key, data, size, path_.c_str()) != 0;
}

int CPrivateProfile::GetInt(const char* section, const char* key, int fallback)
{
    return int(GetPrivateProfileIntA(section, key, fallback, path_.c_str()));
}

bool CPrivateProfile::WriteString(const char* section, const char* key, const char* value)
{
    return WritePrivateProfileStringA(section, key, value, path_.c_str()) != 0;
}

bool CPrivateProfile::WriteStruct(const char* section, const char* key, const void* data, unsigned size)
{
    return WritePrivateProfileStructA(section, key, const_cast<void*>(data), size, path_.c_str()) != 0;
}
