#include "filesys/readers.h"

namespace fs {
bool ReadUdf(ISectorReader&, Listing*, std::string* error)
{
    *error = "no UDF reader yet";
    return false;
}
uint32_t UdfVolumeSectors(ISectorReader&) { return 0; }
}  // namespace fs
