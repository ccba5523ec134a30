// The settings file's storage: the private-profile (INI) calls the program
// needs, behind an interface. Windows uses the system's private-profile
// functions; elsewhere (and in tests) an INI text file stands in, storing a
// record in the same text form the system uses.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class IProfileStore {
public:
    virtual ~IProfileStore() = default;
    // The key's value, or `fallback` when missing; at most `maxChars` characters.
    virtual std::string GetString(const char* section, const char* key, const char* fallback, unsigned maxChars) = 0;
    // Exactly `size` bytes; false when missing, of another length or damaged.
    virtual bool GetStruct(const char* section, const char* key, void* data, unsigned size) = 0;
    // The key's value as a decimal integer, or `fallback` when missing.
    virtual int GetInt(const char* section, const char* key, int fallback) = 0;
    virtual bool WriteString(const char* section, const char* key, const char* value) = 0;
    virtual bool WriteStruct(const char* section, const char* key, const void* data, unsigned size) = 0;
};

// A record's text form: two upper-case hex digits per byte, then two for the
// byte sum modulo 256. Decoding fails on a wrong length, a non-hex digit or a
// sum that does not match.
std::string EncodeStructText(const void* data, unsigned size);
bool DecodeStructText(const std::string& text, void* data, unsigned size);

// An INI file read and rewritten on every call, as the system's functions do.
// Section and key names compare without regard to case.
class CIniTextProfile : public IProfileStore {
public:
    explicit CIniTextProfile(std::string path) : path_(std::move(path)) {}
    std::string GetString(const char* section, const char* key, const char* fallback, unsigned maxChars) override;
    bool GetStruct(const char* section, const char* key, void* data, unsigned size) override;
    int GetInt(const char* section, const char* key, int fallback) override;
    bool WriteString(const char* section, const char* key, const char* value) override;
    bool WriteStruct(const char* section, const char* key, const void* data, unsigned size) override;

private:
    bool Find(const char* section, const char* key, std::string* value) const;
    std::string path_;
};

// The system's private-profile functions on one file (Windows only).
class CPrivateProfile : public IProfileStore {
public:
    explicit CPrivateProfile(std::string path) : path_(std::move(path)) {}
    std::string GetString(const char* section, const char* key, const char* fallback, unsigned maxChars) override;
    bool GetStruct(const char* section, const char* key, void* data, unsigned size) override;
    int GetInt(const char* section, const char* key, int fallback) override;
    bool WriteString(const char* section, const char* key, const char* value) override;
    bool WriteStruct(const char* section, const char* key, const void* data, unsigned size) override;

private:
    std::string path_;
};
