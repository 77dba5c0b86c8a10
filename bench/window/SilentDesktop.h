#pragma once
// The desktop of the window's benchmarks: nobody answers. Questions take their
// first answer, messages go to the error output, the rest goes nowhere.
#include <cstdio>
#include <string>
#include <vector>

#include "app/Seams.h"

class TSilentDesktop : public IUserDialogs, public IShutdown {
public:
    void ShowMessage(QWidget*, const std::string& text, const std::string&, TMessageIcon) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    int Ask(QWidget*, const std::string&, const std::string&, const std::vector<std::string>&) override { return 0; }
    void ShowSummary(QWidget*, const std::string&, const std::string&, const std::string&) override {}
    std::vector<std::string> ChooseFiles(QWidget*, const std::string&, const std::string&,
                                         const std::string&) override {
        return {};
    }
    std::string ChooseFolder(QWidget*, const std::string&, const std::string&) override { return {}; }
    bool OpenDocument(const std::string&) override { return true; }
    void Notify(const std::string&, const std::string&) override {}
    void PowerOff() override {}
};
