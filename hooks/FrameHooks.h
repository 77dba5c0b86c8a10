#pragma once
// Frame hook plug-ins (the C interface of hooks/ardentix-hook.h): loading a
// plug-in library, the hooks of one task, and the splitting of the "vhook"
// option text into the arguments a plug-in gets.
#include <cstdint>
#include <string>
#include <vector>

#include "hooks/ardentix-hook.h"

// Results of TFrameHookList::Add besides 0.
enum : int {
    kHookCannotLoad = -1,     // the library did not load (the system's reason is logged)
    kHookBadPlugin = -2,      // no arguments, no Process, or arguments without Configure
    kHookNoMemory = -12,
    kHookConfigureFailed = -22,
};

// Most parts a "vhook" text is split into; further parts are dropped.
constexpr int kMaxHookArguments = 63;

// The parts of a "vhook" text: split at "|" when it holds one (so parts may
// hold spaces), else at " "; empty parts are skipped; at most 63 parts.
std::vector<std::string> SplitHookArguments(const std::string& text);

// The plug-in hooks of one task, in the order they were added. Not thread-safe:
// the task's options and its run use it one after the other.
class TFrameHookList {
public:
    TFrameHookList() = default;
    TFrameHookList(const TFrameHookList&) = delete;
    TFrameHookList& operator=(const TFrameHookList&) = delete;
    ~TFrameHookList() { Release(); }

    // Loads the plug-in args[0] (once per process), looks up its entry points,
    // calls its Configure with all the parts and appends it. 0, or one of the
    // results above, with the reason written to the library log.
    int Add(const std::vector<std::string>& args);
    // Every hook's Process on the picture, in order.
    void Process(ArdxHookPicture& picture, int pix_fmt, int width, int height, int64_t pts) const;
    // Every hook's Release (when it has one); the list is empty afterwards.
    void Release();
    bool Empty() const { return hooks_.empty(); }
    size_t Count() const { return hooks_.size(); }

private:
    struct THook {
        ArdxHookConfigure configure = nullptr;
        ArdxHookProcess process = nullptr;
        ArdxHookRelease release = nullptr;
        void* context = nullptr;
    };
    std::vector<THook> hooks_;
};

// The plug-in library at path, loaded once per process and kept until the
// process ends; the libraries it needs that lie in its own folder are loaded
// from there first. None, with the system's reason in error, when it cannot be
// loaded. Thread-safe.
void* LoadHookLibrary(const std::string& path, std::string& error);

// The names of the libraries an ELF file needs (its DT_NEEDED entries), in
// order; empty when the file cannot be read as ELF.
std::vector<std::string> NeededLibraries(const std::string& path);
