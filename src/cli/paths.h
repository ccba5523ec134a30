// Where the program finds its bundled files and makes its scratch folders.
#pragma once
#include <string>

// The folder of the running executable, with the separator; "" when unknown.
std::string ExecutableDir();
// A new empty folder under the system's temporary folder, with the separator; "" on failure.
std::string MakeTempFolder(const std::string& prefix);
// A path that names its folder: "x.flg" becomes "./x.flg", others stay as given.
std::string PathWithFolder(const std::string& path);
// The first of `relative` found under PREFIX/share/doc/gleanor of an installed
// program (PREFIX/bin/gleanor), the compiled-in source tree,
// $GLEANOR_SOURCE_DIR, or the executable's folder and its parents; "" when none.
std::string FindBundledFile(const std::string& relative);
