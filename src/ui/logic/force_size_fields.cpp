#include "ui/logic/force_size_fields.h"

#include <cstdio>

const char* const kSourceNames[kSourceCount] = {"Drive Reported", "Existing Flagfile", "Estimated", "-- Free --"};

uint32_t ParseSizeField(const std::string& text)
{
    uint64_t value = 0;
    for (size_t i = 0; i < text.size() && i < kFieldReadLimit; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') break;
        value = value * 10 + unsigned(c - '0');
        if (value > UINT32_MAX) return UINT32_MAX;
    }
    return uint32_t(value);
}

std::string SizeText(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u", unsigned(value));
    return text;
}

CForceSizeFields::CForceSizeFields(uint32_t initialSectors) : sectors(initialSectors), sourceText(kSourceNames[0]) {}

bool CForceSizeFields::ChooseSource(int index, const SourceQuery& query)
{
    bool editsEnabled = false;
    if (index >= kSourceDriveReported && index <= kSourceEstimated) {
        detail.clear();
        sectors = query(index, &detail);
    } else {
        editsEnabled = true;
    }
    // The dialog shows the new value in both fields next. Were the megabytes
    // field still the master, that update would round the value to whole MB.
    master = MasterEdit::Sectors;
    if (index >= 0 && index < kSourceCount) sourceText = kSourceNames[index];
    return editsEnabled;
}

bool CForceSizeFields::SectorsTextChanged(const std::string& text)
{
    if (master != MasterEdit::Sectors) return false;
    sectors = ParseSizeField(text);
    return true;
}

bool CForceSizeFields::MegabytesTextChanged(const std::string& text)
{
    if (master != MasterEdit::Megabytes) return false;
    uint64_t product = uint64_t(ParseSizeField(text)) * kSectorsPerMB;
    sectors = product > UINT32_MAX ? UINT32_MAX : uint32_t(product);
    return true;
}
