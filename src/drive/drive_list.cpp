#include "drive/drive_list.h"

int PreselectDrive(CCdDrive& drive, const std::function<void(const char* name)>& addToList)
{
    int chosen = 0;
    for (int i = 0; i < drive.DriveCount(); ++i) {
        if (addToList) addToList(drive.DriveName(i));
        drive.SelectDrive(i);
        if (drive.DrvReady()) chosen = i;
    }
    return chosen;
}
