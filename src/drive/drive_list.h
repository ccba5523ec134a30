// The drive list as the front ends show it at start-up.
#pragma once
#include <functional>

#include "drive/cd_drive.h"

// Hands every drive's name to `addToList` in table order, selecting and
// testing each; returns the index to preselect: the last drive that answered
// ready, else 0. The front end then hands that index to the worker.
int PreselectDrive(CCdDrive& drive, const std::function<void(const char* name)>& addToList);
