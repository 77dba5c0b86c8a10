#pragma once
// The option vocabulary described for people: one entry per row of the option
// table, in lookup order, for the faces' listings. Needs no libraries loaded;
// callable from any thread.
#include <string>
#include <vector>

struct TOptionInfo {
    std::string name;
    std::string value;        // the kind of value with its range or choices: "int 1..2", "codec|copy", "none"
    std::string description;  // one line
};

std::vector<TOptionInfo> OptionInfo();
