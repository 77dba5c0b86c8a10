#include "binding/FFmpegLoader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <vector>

#include "binding/Exception.h"

TAVCodecEntries avcodec;
TAVDeviceEntries avdevice;
TAVFilterEntries avfilter;
TAVFormatEntries avformat;
TAVUtilEntries avutil;
TSwScaleEntries swscale;
TSwResampleEntries swresample;
TMyUtilEntries myutil;

std::mutex CodecLock;

namespace {

struct TEntrySlot {
    const char* name;
    void* slot;  // address of a function pointer field of a table
};

#define ARDX_SLOT_ENTRY(name) TEntrySlot{#name, static_cast<void*>(&t.name)},

std::vector<TEntrySlot> Slots(TFFmpegLib lib) {
    switch (lib) {
#define ARDX_CASE(LIB, LIST)                          \
    case TFFmpegLib::LIB: {                                  \
        auto& t = LIB;                                     \
        return std::vector<TEntrySlot>{LIST(ARDX_SLOT_ENTRY)}; \
    }
        ARDX_CASE(avcodec, ARDX_AVCODEC_ENTRIES)
        ARDX_CASE(avdevice, ARDX_AVDEVICE_ENTRIES)
        ARDX_CASE(avfilter, ARDX_AVFILTER_ENTRIES)
        ARDX_CASE(avformat, ARDX_AVFORMAT_ENTRIES)
        ARDX_CASE(avutil, ARDX_AVUTIL_ENTRIES)
        ARDX_CASE(swscale, ARDX_SWSCALE_ENTRIES)
        ARDX_CASE(swresample, ARDX_SWRESAMPLE_ENTRIES)
        ARDX_CASE(myutil, ARDX_MYUTIL_ENTRIES)
#undef ARDX_CASE
    }
    return {};
}

void ClearTable(TFFmpegLib lib) {
    switch (lib) {
        case TFFmpegLib::avcodec: avcodec = {}; break;
        case TFFmpegLib::avdevice: avdevice = {}; break;
        case TFFmpegLib::avfilter: avfilter = {}; break;
        case TFFmpegLib::avformat: avformat = {}; break;
        case TFFmpegLib::avutil: avutil = {}; break;
        case TFFmpegLib::swscale: swscale = {}; break;
        case TFFmpegLib::swresample: swresample = {}; break;
        case TFFmpegLib::myutil: myutil = {}; break;
    }
}

// The libraries a library needs in turn, so that a folder's copies are loaded
// before the dependent one and the dynamic linker matches them by name.
std::vector<TFFmpegLib> Dependencies(TFFmpegLib lib) {
    using L = TFFmpegLib;
    switch (lib) {
        case L::avcodec: return {L::avutil, L::swresample};
        case L::avdevice: return {L::avutil, L::swscale, L::swresample, L::avcodec, L::avformat, L::avfilter};
        case L::avfilter: return {L::avutil, L::swscale, L::swresample, L::avcodec, L::avformat};
        case L::avformat: return {L::avutil, L::swresample, L::avcodec};
        case L::swscale:
        case L::swresample: return {L::avutil};
        case L::avutil:
        case L::myutil: return {};
    }
    return {};
}

struct TLibState {
    void* handle = nullptr;
    bool bound = false;
    std::vector<void*> support;  // the folder's copies of the libraries it needs
};

std::array<TLibState, FFmpegLibCount> g_libs;

TLibState& State(TFFmpegLib lib) { return g_libs[static_cast<size_t>(lib)]; }

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The media libraries keep threads, atexit handlers and global state behind their
// handles; unmapping them is a classic source of crashes at exit, so a release only
// forgets them (the tables are cleared all the same).
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

std::string DlError() {
    const char* e = ::dlerror();
    return e ? e : "unknown error";
}

// Loads a library from the folder when the folder holds it, otherwise through the
// system's search by its bare file name.
void* LoadFromFolder(const std::string& folder, TFFmpegLib lib, std::vector<void*>& support) {
    const std::string file = TFFmpegLoader::LibFileName(lib);
    if (!folder.empty() && FileExists(folder + file)) {
        for (TFFmpegLib dep : Dependencies(lib)) {
            const std::string depPath = folder + TFFmpegLoader::LibFileName(dep);
            if (FileExists(depPath)) {
                if (void* h = ::dlopen(depPath.c_str(), kOpenFlags)) support.push_back(h);
            }
        }
        return ::dlopen((folder + file).c_str(), kOpenFlags);
    }
    return ::dlopen(file.c_str(), kOpenFlags);
}

void Bind(TFFmpegLib lib, const std::string& fileName, void* handle) {
    for (const TEntrySlot& entry : Slots(lib)) {
        ::dlerror();
        void* sym = ::dlsym(handle, entry.name);
        if (!sym) {
            const std::string err = DlError();
            ClearTable(lib);
            throw Exception("Load function " + std::string(entry.name) + "@" + fileName + " error: " + err);
        }
        std::memcpy(entry.slot, &sym, sizeof sym);
    }
    if (lib == TFFmpegLib::avdevice) avdevice.avdevice_register_all();
}

void CheckNotEmpty(TFFmpegLibs libs) {
    if (libs.Empty()) throw EAssertionFailed("Assertion failed: the library set is empty");
}

}  // namespace

TFFmpegLoader& FFmpegLoader() {
    static TFFmpegLoader loader;
    return loader;
}

std::string TFFmpegLoader::LibFileName(TFFmpegLib lib) {
    switch (lib) {
        case TFFmpegLib::avcodec: return "libavcodec.so.59";
        case TFFmpegLib::avdevice: return "libavdevice.so.59";
        case TFFmpegLib::avfilter: return "libavfilter.so.8";
        case TFFmpegLib::avformat: return "libavformat.so.59";
        case TFFmpegLib::avutil: return "libavutil.so.57";
        case TFFmpegLib::swscale: return "libswscale.so.6";
        case TFFmpegLib::swresample: return "libswresample.so.4";
        case TFFmpegLib::myutil: return "libc.so.6";
    }
    return {};
}

bool TFFmpegLoader::LoadLib(TFFmpegLib lib) {
    TLibState& st = State(lib);
    const std::string file = LibFileName(lib);
    if (!st.handle) {
        std::string folder = libraryPath_;
        if (!folder.empty() && folder.back() != '/') folder += '/';
        st.handle = LoadFromFolder(folder, lib, st.support);
        if (!st.handle) {
            lastError_ = "Load library " + folder + file + " error: " + DlError();
            UnloadLib(lib);
            return false;
        }
    }
    if (!st.bound) {
        try {
            Bind(lib, file, st.handle);
            st.bound = true;
        } catch (const Exception& e) {
            lastError_ = e.Message;
        }
    }
    if (!st.bound) UnloadLib(lib);
    return st.bound;
}

bool TFFmpegLoader::LoadLibs(TFFmpegLibs libs) {
    CheckNotEmpty(libs);
    for (int i = 0; i < FFmpegLibCount; ++i) {
        auto lib = static_cast<TFFmpegLib>(i);
        if (libs.Contains(lib) && !LoadLib(lib)) {
            UnloadLibs(libs);
            return false;
        }
    }
    return true;
}

bool TFFmpegLoader::LibLoaded(TFFmpegLib lib) const {
    const TLibState& st = g_libs[static_cast<size_t>(lib)];
    return st.handle && st.bound;
}

bool TFFmpegLoader::LibsLoaded(TFFmpegLibs libs) const {
    CheckNotEmpty(libs);
    for (int i = 0; i < FFmpegLibCount; ++i) {
        auto lib = static_cast<TFFmpegLib>(i);
        if (libs.Contains(lib) && !LibLoaded(lib)) return false;
    }
    return true;
}

void TFFmpegLoader::UnloadLib(TFFmpegLib lib) {
    TLibState& st = State(lib);
    if (st.bound) {
        ClearTable(lib);
        st.bound = false;
    }
    if (st.handle) {
        ::dlclose(st.handle);
        st.handle = nullptr;
    }
    for (void* h : st.support) ::dlclose(h);
    st.support.clear();
}

void TFFmpegLoader::UnloadLibs(TFFmpegLibs libs) {
    CheckNotEmpty(libs);
    for (int i = 0; i < FFmpegLibCount; ++i) {
        auto lib = static_cast<TFFmpegLib>(i);
        if (libs.Contains(lib)) UnloadLib(lib);
    }
}
