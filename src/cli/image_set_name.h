// Every command that takes an image set accepts any of its names: the flag
// file (X.flg), the image (X.iso), the import file (X.imp) or the bare name X.
#pragma once
#include <string>

struct ImageSetNames {
    std::string flag;   // X.flg
    std::string image;  // X.iso
};

// A name ending in .flg, .iso or .imp (any case) has that ending replaced;
// any other name, "disc.v1" too, is the bare name and gets the endings added.
ImageSetNames ImageSetFromName(const std::string& name);
