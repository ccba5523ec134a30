// gleanor_docgen: writes the man page and the bash completion at build time.
//   gleanor_docgen man TEMPLATE OUT VERSION
//   gleanor_docgen completion OUT
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/docgen.h"

int main(int argc, char** argv)
{
    std::string what = argc > 1 ? argv[1] : "";
    std::string text;
    const char* out = nullptr;
    if (what == "man" && argc == 5) {
        std::ifstream in(argv[2]);
        std::stringstream tmpl;
        tmpl << in.rdbuf();
        if (!in) {
            std::cerr << "gleanor_docgen: cannot read " << argv[2] << "\n";
            return 1;
        }
        text = ManPage(tmpl.str(), argv[4]);
        out = argv[3];
    } else if (what == "completion" && argc == 3) {
        text = BashCompletion();
        out = argv[2];
    } else {
        std::cerr << "usage: gleanor_docgen man TEMPLATE OUT VERSION | completion OUT\n";
        return 64;
    }
    std::ofstream file(out, std::ios::binary);
    file << text;
    file.close();
    if (!file) {
        std::cerr << "gleanor_docgen: cannot write " << out << "\n";
        return 1;
    }
    return 0;
}
